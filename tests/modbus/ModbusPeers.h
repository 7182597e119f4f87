// The Modbus devices the master drivers are tested against, each also seen
// from behind: pymodbus in a process of its own (RTU behind a socat pty
// pair, or TCP), and the libmodbus server on a thread of this process.
#pragma once

#include <chrono>
#include <cstdlib>
#include <optional>

#include "support/DriverPlugin.h"
#include "support/LibmodbusServer.h"
#include "support/PeerProcess.h"
#include "support/PtyPair.h"
#include "support/Wait.h"

namespace modbustest {

// Every peer answers unit 17 and holds 100 points of each kind from 0:
//   coil i = i % 2, discrete input i = (i / 2) % 2,
//   input register i = 3000 + i, holding register i = 4000 + i.
constexpr int kTableSize = 100;
constexpr int kUnit = 17;
// The serial port number an RTU peer's line is mapped to; never a real one.
constexpr WORD kRtuPort = 61;

class Peer {
public:
    virtual ~Peer() = default;
    virtual bool IsReady() const = 0;
    // The settings that point a master driver at the peer.
    virtual std::map<std::string, std::string> Where() const = 0;
    // The writable areas: pszArea is co or hr.
    virtual int Get(const char* pszArea, int nAddress) = 0;
    virtual void Set(const char* pszArea, int nAddress, int nValue) = 0;
    virtual void StopAnswering() = 0;
    virtual void AnswerAgain() = 0;
    // Gone with its connections; then back on the same port.
    virtual void GoDown() = 0;
    virtual bool ComeBack() = 0;
};

class PymodbusPeer : public Peer {
public:
    // pszKind "tcp" (a free port) or "rtu" (the line mapped to kRtuPort).
    explicit PymodbusPeer(const char* pszKind) : m_strKind(pszKind) {
        if (m_strKind == "rtu") {
            m_Line.emplace();
            if (!m_Line->IsRunning()) {
                return;
            }
            CComPort::MapDevice(kRtuPort, m_Line->End(0).c_str());
        }
        ComeBack();
    }
    ~PymodbusPeer() override {
        if (m_Line) {
            CComPort::MapDevice(kRtuPort, nullptr);
        }
    }
    bool IsReady() const override { return m_Process.has_value(); }
    std::map<std::string, std::string> Where() const override {
        if (m_Line) {
            return {{"Port.PortNumber", std::to_string(kRtuPort)}};
        }
        return {{"TCPIP.PortNumber", std::to_string(m_nPort)}, {"Modbus.Host", "127.0.0.1"}};
    }
    int Get(const char* pszArea, int nAddress) override {
        const std::string answer =
            m_Process->Command(std::string("get ") + pszArea + " " + std::to_string(nAddress));
        EXPECT_EQ(answer.compare(0, 6, "value "), 0) << answer;
        return answer.size() > 6 ? std::atoi(answer.c_str() + 6) : -1;
    }
    void Set(const char* pszArea, int nAddress, int nValue) override {
        EXPECT_EQ(m_Process->Command(std::string("set ") + pszArea + " " +
                                     std::to_string(nAddress) + " " + std::to_string(nValue)),
                  "ok");
    }
    void StopAnswering() override { m_Process->Pause(); }
    void AnswerAgain() override { m_Process->Resume(); }
    void GoDown() override { m_Process.reset(); }
    bool ComeBack() override {
        m_Process.emplace(std::vector<std::string>{
            "/usr/bin/python3", KELVARA_MODBUS_PEER_SCRIPT, m_strKind,
            m_Line ? m_Line->End(1) : std::to_string(m_nPort), std::to_string(kUnit)});
        // Python and pymodbus take a while to load, more so on a busy machine.
        const std::string line = m_Process->WaitForLine("ready", std::chrono::seconds(30));
        if (line.empty()) {
            m_Process.reset();
        } else if (m_nPort == 0 && line.size() > 6) {
            m_nPort = std::atoi(line.c_str() + 6);
        }
        return IsReady();
    }

private:
    std::string m_strKind;
    int m_nPort = 0;
    std::optional<testsupport::SocatPty> m_Line;  // outlives the process on it
    std::optional<testsupport::PeerProcess> m_Process;
};

class LibmodbusPeer : public Peer {
public:
    LibmodbusPeer() : m_Server(kTableSize, kTableSize, kTableSize, kTableSize) {
        m_Server.With([](modbus_mapping_t& m) {
            for (int i = 0; i < kTableSize; ++i) {
                m.tab_bits[i] = static_cast<std::uint8_t>(i % 2);
                m.tab_input_bits[i] = static_cast<std::uint8_t>(i / 2 % 2);
                m.tab_input_registers[i] = static_cast<std::uint16_t>(3000 + i);
                m.tab_registers[i] = static_cast<std::uint16_t>(4000 + i);
            }
        });
        m_bReady = m_Server.Start();
    }
    bool IsReady() const override { return m_bReady; }
    std::map<std::string, std::string> Where() const override {
        return {{"TCPIP.PortNumber", std::to_string(m_Server.Port())},
                {"Modbus.Host", "127.0.0.1"}};
    }
    int Get(const char* pszArea, int nAddress) override {
        int value = 0;
        m_Server.With([&](modbus_mapping_t& m) {
            value = pszArea[0] == 'c' ? m.tab_bits[nAddress] : m.tab_registers[nAddress];
        });
        return value;
    }
    void Set(const char* pszArea, int nAddress, int nValue) override {
        m_Server.With([&](modbus_mapping_t& m) {
            if (pszArea[0] == 'c') {
                m.tab_bits[nAddress] = static_cast<std::uint8_t>(nValue != 0);
            } else {
                m.tab_registers[nAddress] = static_cast<std::uint16_t>(nValue);
            }
        });
    }
    void StopAnswering() override { m_Server.SetSilent(true); }
    void AnswerAgain() override { m_Server.SetSilent(false); }
    void GoDown() override { m_Server.Stop(); }
    bool ComeBack() override { return m_Server.Start(m_Server.Port()); }

private:
    testsupport::LibmodbusServer m_Server;
    bool m_bReady = false;
};

// Bytes per point in a block's data at a Modbus address.
inline int PointBytes(const char* pszAddress) {
    return pszAddress[1] == 'R' ? 2 : 1;
}

}  // namespace modbustest
