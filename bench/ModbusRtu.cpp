// Reading 10 holding registers over Modbus RTU on a pseudo-terminal pair,
// from a libmodbus RTU server on a thread that holds the pair's master end:
// through the sample Modbus RTU master driver (a host's block through
// TransferData, the whole road), and through a libmodbus RTU client, both on
// the pair's slave end, against the same server in the same run. The
// driver should stay within 1.2 times the libmodbus client.
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "ModbusBench.h"
#include "kelvara/Kelvara.h"
#include "support/PtyPair.h"

// The sample driver's factory, linked into this program.
extern "C" CProtocol* KelvaraCreateDriver();

namespace {

using modbusbench::kCount;
using modbusbench::kFirstValue;
constexpr int kNode = 1;
constexpr WORD kComPort = 61;

// libmodbus answering as node 1 on the master end of a pseudo-terminal
// pair, from its own thread.
class RtuServer {
public:
    RtuServer() : m_mapping(modbus_mapping_new(0, 0, 100, 0)) {
        // The device name is not opened: the server is given the pair's
        // master end instead.
        m_ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
        if (!m_pty.IsOpen() || m_ctx == nullptr || m_mapping == nullptr || pipe(m_wake) != 0) {
            return;
        }
        for (int i = 0; i < kCount; ++i) {
            m_mapping->tab_registers[i] = static_cast<std::uint16_t>(kFirstValue + i);
        }
        modbus_set_slave(m_ctx, kNode);
        modbus_set_socket(m_ctx, m_pty.Master());
        m_thread = std::thread([this] { Serve(); });
    }
    ~RtuServer() {
        if (m_thread.joinable()) {
            const char byte = 0;
            (void)!write(m_wake[1], &byte, 1);
            m_thread.join();
        }
        for (const int fd : m_wake) {
            if (fd >= 0) {
                close(fd);
            }
        }
        // The pair closes its own ends.
        if (m_ctx != nullptr) {
            modbus_set_socket(m_ctx, -1);
            modbus_free(m_ctx);
        }
        modbus_mapping_free(m_mapping);
    }
    RtuServer(const RtuServer&) = delete;
    RtuServer& operator=(const RtuServer&) = delete;

    bool IsRunning() const { return m_thread.joinable(); }
    const std::string& DevicePath() const { return m_pty.SlavePath(); }

private:
    void Serve() {
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        for (;;) {
            pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_pty.Master(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                continue;
            }
            if (fds[0].revents != 0) {
                return;
            }
            const int n = modbus_receive(m_ctx, query);
            if (n > 0) {
                modbus_reply(m_ctx, query, n, m_mapping);
            }
        }
    }

    testsupport::PtyPair m_pty;
    modbus_mapping_t* m_mapping;
    modbus_t* m_ctx = nullptr;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

void BM_SampleDriverReads10Registers(benchmark::State& state) {
    RtuServer server;
    if (!server.IsRunning()) {
        state.SkipWithError("no server");
        return;
    }
    CComPort::MapDevice(kComPort, server.DevicePath().c_str());
    std::unique_ptr<CProtocol> driver(KelvaraCreateDriver());
    modbusbench::ReadThroughDriver(
        state, *driver, "Port.PortNumber=", "Port.PortNumber=" + std::to_string(kComPort));
}
BENCHMARK(BM_SampleDriverReads10Registers)->UseRealTime();

void BM_LibmodbusClientReads10Registers(benchmark::State& state) {
    RtuServer server;
    if (!server.IsRunning()) {
        state.SkipWithError("no server");
        return;
    }
    modbus_t* ctx = modbus_new_rtu(server.DevicePath().c_str(), 19200, 'N', 8, 1);
    if (ctx != nullptr) {
        modbus_set_slave(ctx, kNode);
    }
    modbusbench::ReadThroughLibmodbus(state, ctx);
}
BENCHMARK(BM_LibmodbusClientReads10Registers)->UseRealTime();

}  // namespace
