// What the Modbus driver tests share: loading a driver plug-in as a host
// does, setting its properties through string lists, blocks, and the
// checks every peer goes through.
#pragma once

#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/LibmodbusServer.h"
#include "support/PeerProcess.h"

namespace modbustest {

// Every peer holds 100 points of each kind, from address 0:
//   coil i = i % 2, discrete input i = (i / 2) % 2,
//   input register i = 3000 + i, holding register i = 4000 + i.
constexpr int kTableSize = 100;

// A Modbus device as the test sees it from behind, not through the driver.
class Peer {
public:
    virtual ~Peer() = default;
    // The writable areas: pszArea is co or hr.
    virtual int Get(const char* pszArea, int nAddress) = 0;
    virtual void Set(const char* pszArea, int nAddress, int nValue) = 0;
    virtual void StopAnswering() = 0;
    virtual void AnswerAgain() = 0;
};

// A pymodbus device in its own process: TCP on a free port, or RTU on a
// serial device.
class PymodbusPeer : public Peer {
public:
    // pszKind "tcp" (pszWhere: a port, "0" for any) or "rtu" (a device).
    PymodbusPeer(const char* pszKind, const std::string& strWhere, int nUnit);
    bool IsReady() const { return m_bReady; }
    int Port() const { return m_nPort; }
    int Get(const char* pszArea, int nAddress) override;
    void Set(const char* pszArea, int nAddress, int nValue) override;
    void StopAnswering() override { m_Process.Pause(); }
    void AnswerAgain() override { m_Process.Resume(); }
    void Kill() { m_Process.Kill(); }

private:
    testsupport::PeerProcess m_Process;
    bool m_bReady = false;
    int m_nPort = 0;
};

// The libmodbus server in this process, filled as every peer is.
class LibmodbusPeer : public Peer {
public:
    LibmodbusPeer();
    testsupport::LibmodbusServer& Server() { return m_Server; }
    int Get(const char* pszArea, int nAddress) override;
    void Set(const char* pszArea, int nAddress, int nValue) override;
    void StopAnswering() override { m_Server.SetSilent(true); }
    void AnswerAgain() override { m_Server.SetSilent(false); }

private:
    testsupport::LibmodbusServer m_Server;
};

// A driver from a plug-in, created as a host creates it; the driver goes
// before its library.
class LoadedDriver {
public:
    explicit LoadedDriver(const char* pszPath);
    ~LoadedDriver();
    CProtocol* operator->() const { return m_pDriver.get(); }
    CProtocol& operator*() const { return *m_pDriver; }
    bool IsLoaded() const { return m_pDriver != nullptr; }
    CString Error() const { return m_Library.GetLastError(); }

private:
    CDriverLibrary m_Library;
    std::unique_ptr<CProtocol> m_pDriver;
};

// Dumps the driver's settings, replaces the named lines ("Timing.Timeout"
// and so on) and loads them back; false when a name is not in the dump or
// the driver refuses the list.
bool Configure(CProtocol& driver, const std::map<std::string, std::string>& settings);

// A block for count points from the address, checked by the driver.
std::unique_ptr<CComBlock> MakeBlock(CProtocol& driver, const char* pszAddress, DWORD dwCount);
// The same block made a write of the values (registers, or coils as 0/1).
std::unique_ptr<CComBlock> MakeWrite(CProtocol& driver, const char* pszAddress,
                                     const std::vector<int>& values);
// The values of a good block: registers when bRegisters, else 0/1 per bit.
std::vector<int> Values(CComBlock& block, bool bRegisters);

// The checks every peer goes through, on a started driver.
void ExpectValuesBothWays(CProtocol& driver, Peer& peer);
void ExpectExceptionReply(CProtocol& driver);
// Needs Timing.RetryCount 1.
void ExpectTimeoutWithRetries(CProtocol& driver, Peer& peer);

// The comms log drained, one string per line.
std::vector<std::string> DrainLog(CProtocol& driver);

}  // namespace modbustest
