// Reading 10 holding registers from a libmodbus TCP server on loopback, the
// same server in the same run: through the sample Modbus TCP master driver
// (a host's block through TransferData, the whole road), and through a
// libmodbus client (modbus_read_registers). The driver should stay within
// 1.2 times the libmodbus client.
#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ModbusBench.h"
#include "kelvara/Kelvara.h"
#include "support/LibmodbusServer.h"

// The sample driver's factory, linked into this program.
extern "C" CProtocol* KelvaraCreateDriver();

namespace {

using modbusbench::kCount;
using modbusbench::kFirstValue;

testsupport::LibmodbusServer& Server() {
    static testsupport::LibmodbusServer server;
    static const bool bStarted = [] {
        for (int i = 0; i < kCount; ++i) {
            server.SetHoldingRegister(i, static_cast<std::uint16_t>(kFirstValue + i));
        }
        return server.Start();
    }();
    (void)bStarted;
    return server;
}

void BM_SampleDriverReads10Registers(benchmark::State& state) {
    testsupport::LibmodbusServer& server = Server();
    if (server.Port() == 0) {
        state.SkipWithError("no server");
        return;
    }
    std::unique_ptr<CProtocol> driver(KelvaraCreateDriver());
    modbusbench::ReadThroughDriver(
        state, *driver, "TCPIP.PortNumber=", "TCPIP.PortNumber=" + std::to_string(server.Port()));
}
BENCHMARK(BM_SampleDriverReads10Registers)->UseRealTime();

void BM_LibmodbusClientReads10Registers(benchmark::State& state) {
    modbusbench::ReadThroughLibmodbus(state, modbus_new_tcp("127.0.0.1", Server().Port()));
}
BENCHMARK(BM_LibmodbusClientReads10Registers)->UseRealTime();

}  // namespace
