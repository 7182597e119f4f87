// The replay player standing in for a device, against the live device it
// recorded, same run, same exchanges: reading 10 holding registers through
// the sample Modbus masters (loaded as plug-ins, as a host loads them).
//
// - TCP master: the sample slave driver on loopback, then the player's
//   TcpReplayServer answering a recording of that very session.
// - RTU master: a libmodbus RTU server on a pseudo-terminal pair, then the
//   player's SerialReplayServer (a pseudo-terminal of its own) answering a
//   recording of it.
//
// The replay side must not be the slower one. Each recording is made in
// the benchmark's own set-up from the live device, so both sides exchange
// the same bytes. The TCP master numbers its requests, so its recording
// holds exactly one request per iteration and the replay runs that many.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "ModbusBench.h"
#include "kelvara/Kelvara.h"
#include "support/LibmodbusServer.h"
#include "support/PtyPair.h"

namespace {

using kelvara::replay::Exchange;
using kelvara::replay::Recording;

constexpr int kTcpExchanges = 4000;
constexpr unsigned kRtuPort = 62;

// A plug-in's driver, which goes before its library.
class Plugin {
public:
    explicit Plugin(const char* pszPath) {
        if (m_library.Load(pszPath)) {
            m_pDriver.reset(m_library.CreateDriver());
        }
    }
    ~Plugin() { m_pDriver.reset(); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    bool IsLoaded() const { return m_pDriver != nullptr; }
    CProtocol& operator*() const { return *m_pDriver; }
    CProtocol* operator->() const { return m_pDriver.get(); }

private:
    CDriverLibrary m_library;
    std::unique_ptr<CProtocol> m_pDriver;
};

std::unique_ptr<CComBlock> Registers(CProtocol& driver) {
    CRemoteAddress first("HR:0", driver.GetEDFFormatRemote()->m_strFormat, nullptr);
    return std::make_unique<CComBlock>(&first, 2, 1, modbusbench::kCount, 2);
}

bool Set(CProtocol& driver, const char* pszKey, const std::string& value) {
    return modbusbench::Configure(driver, pszKey, std::string(pszKey) + "=" + value);
}

std::vector<std::uint8_t> LogBytes(const std::string& line) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i + 1 < line.size(); i += 3) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The master's traffic over nBlocks reads, from its comms log, as a
// recording: each TX line a request, the RX lines after it its reply.
Recording RecordReads(CProtocol& master, int nBlocks) {
    Recording recording;
    auto block = Registers(master);
    master.ActivateCommsLog(true);
    master.LogAsHex(true);
    for (int i = 0; i < nBlocks; ++i) {
        master.TransferData(block.get());
        for (const std::string& line : testsupport::DrainCommsLog(master)) {
            if (line.rfind("TX", 0) == 0) {
                recording.m_exchanges.push_back({LogBytes(line), {}, true, 0, 0});
            } else if (line.rfind("RX", 0) == 0 && !recording.m_exchanges.empty()) {
                auto& reply = recording.m_exchanges.back().reply;
                const auto bytes = LogBytes(line);
                reply.insert(reply.end(), bytes.begin(), bytes.end());
            }
        }
    }
    master.ActivateCommsLog(false);
    return recording;
}

void ReadLoop(benchmark::State& state, CProtocol& master) {
    auto block = Registers(master);
    for (auto _ : state) {
        if (master.TransferData(block.get()) != SE_NO_ERROR) {
            state.SkipWithError("a block failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// The sample slave driver, listening on a free loopback port with the
// registers seeded.
struct LiveSlave {
    Plugin slave{KELVARA_BENCH_TCP_SLAVE};
    bool Start() {
        if (!slave.IsLoaded() || !Set(*slave, "TCPIP.PortNumber", "0") ||
            slave->StartProtocol() != SE_NO_ERROR) {
            return false;
        }
        CByteArray values;
        for (int i = 0; i < modbusbench::kCount; ++i) {
            values.Add(static_cast<BYTE>((modbusbench::kFirstValue + i) & 0xFF));
            values.Add(static_cast<BYTE>((modbusbench::kFirstValue + i) >> 8));
        }
        auto seed = Registers(*slave);
        seed->FillWriteBuffer(&values);
        return slave->TransferData(seed.get()) == SE_NO_ERROR;
    }
    ~LiveSlave() {
        if (slave.IsLoaded()) {
            slave->StopProtocol();
        }
    }
};

bool StartTcpMaster(CProtocol& master, int nPort) {
    return Set(master, "TCPIP.PortNumber", std::to_string(nPort)) &&
           master.StartProtocol() == SE_NO_ERROR;
}

void BM_TcpMaster_LiveSlave(benchmark::State& state) {
    LiveSlave live;
    Plugin master(KELVARA_BENCH_TCP_MASTER);
    if (!live.Start() || !master.IsLoaded() ||
        !StartTcpMaster(*master, live.slave->GetPortNumber())) {
        state.SkipWithError("no live slave");
        return;
    }
    ReadLoop(state, *master);
    master->StopProtocol();
}

void BM_TcpMaster_Replay(benchmark::State& state) {
    Recording recording;
    {
        LiveSlave live;
        Plugin recorder(KELVARA_BENCH_TCP_MASTER);
        if (!live.Start() || !recorder.IsLoaded() ||
            !StartTcpMaster(*recorder, live.slave->GetPortNumber())) {
            state.SkipWithError("no live slave to record");
            return;
        }
        recording = RecordReads(*recorder, kTcpExchanges);
        recorder->StopProtocol();
    }
    kelvara::replay::ReplayDevice player(recording);
    kelvara::replay::TcpReplayServer server(player);
    Plugin master(KELVARA_BENCH_TCP_MASTER);
    if (recording.m_exchanges.size() != kTcpExchanges || !server.Start() ||
        !StartTcpMaster(*master, server.Port())) {
        state.SkipWithError("no replay server");
        return;
    }
    ReadLoop(state, *master);
    master->StopProtocol();
    if (player.MismatchCount() != 0) {
        state.SkipWithError("the replay saw a mismatch");
    }
}

bool StartRtuMaster(CProtocol& master, const std::string& device) {
    CComPort::MapDevice(kRtuPort, device.c_str());
    return Set(master, "Port.PortNumber", std::to_string(kRtuPort)) &&
           master.StartProtocol() == SE_NO_ERROR;
}

struct LiveRtu {
    testsupport::PtyPair line;
    testsupport::LibmodbusServer server;
    bool Start() {
        if (!line.IsOpen() || !server.StartRtu(line.Master(), 1)) {
            return false;
        }
        for (int i = 0; i < modbusbench::kCount; ++i) {
            server.SetHoldingRegister(i, static_cast<std::uint16_t>(modbusbench::kFirstValue + i));
        }
        return true;
    }
};

void BM_RtuMaster_LibmodbusServer(benchmark::State& state) {
    LiveRtu live;
    Plugin master(KELVARA_BENCH_RTU_MASTER);
    if (!live.Start() || !master.IsLoaded() || !StartRtuMaster(*master, live.line.SlavePath())) {
        state.SkipWithError("no live RTU server");
        return;
    }
    ReadLoop(state, *master);
    master->StopProtocol();
}

void BM_RtuMaster_Replay(benchmark::State& state) {
    Recording recording;
    {
        LiveRtu live;
        Plugin recorder(KELVARA_BENCH_RTU_MASTER);
        if (!live.Start() || !recorder.IsLoaded() ||
            !StartRtuMaster(*recorder, live.line.SlavePath())) {
            state.SkipWithError("no live RTU server to record");
            return;
        }
        recording = RecordReads(*recorder, 1);
        recorder->StopProtocol();
    }
    // RTU requests carry no number: one exchange, played again and again.
    kelvara::replay::ReplayDevice player(recording);
    player.SetLoop(true);
    kelvara::replay::SerialReplayServer server(player);
    Plugin master(KELVARA_BENCH_RTU_MASTER);
    if (recording.m_exchanges.size() != 1 ||
        server.Start() != kelvara::platform::ErrorCategory::None ||
        !StartRtuMaster(*master, server.DevicePath())) {
        state.SkipWithError("no replay server");
        return;
    }
    ReadLoop(state, *master);
    master->StopProtocol();
    if (player.MismatchCount() != 0) {
        state.SkipWithError("the replay saw a mismatch");
    }
}

}  // namespace

BENCHMARK(BM_TcpMaster_LiveSlave)->Iterations(kTcpExchanges)->Repetitions(3);
BENCHMARK(BM_TcpMaster_Replay)->Iterations(kTcpExchanges)->Repetitions(3);
BENCHMARK(BM_RtuMaster_LibmodbusServer)->Iterations(3000)->Repetitions(3);
BENCHMARK(BM_RtuMaster_Replay)->Iterations(3000)->Repetitions(3);
