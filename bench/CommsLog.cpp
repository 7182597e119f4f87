// Cost of the comms log on the communication path: one AddToCommsLog per
// frame in hex and text mode, the inactive log, the counters, and a
// transport thread filling the log while the host drains it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "kelvara/Kelvara.h"

namespace {

CByteArray Frame(int nBytes) {
    CByteArray frame;
    for (int i = 0; i < nBytes; ++i) {
        frame.Add(static_cast<BYTE>(i * 37));
    }
    return frame;
}

// The log has no bound; start it afresh now and then so memory stays flat.
constexpr int kDrainEvery = 4096;

void AddFrames(benchmark::State& state, bool bHex) {
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.LogAsHex(bHex);
    const CByteArray frame = Frame(static_cast<int>(state.range(0)));
    int n = 0;
    for (auto _ : state) {
        stats.AddToCommsLog(&frame, true);
        if (++n == kDrainEvery) {
            stats.ActivateCommsLog(true);
            n = 0;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetItemsProcessed(state.iterations());
}

void BM_AddToCommsLogHex(benchmark::State& state) {
    AddFrames(state, true);
}
BENCHMARK(BM_AddToCommsLogHex)->Arg(8)->Arg(64)->Arg(256);

void BM_AddToCommsLogText(benchmark::State& state) {
    AddFrames(state, false);
}
BENCHMARK(BM_AddToCommsLogText)->Arg(8)->Arg(64)->Arg(256);

void BM_AddToCommsLogInactive(benchmark::State& state) {
    CCommsStats stats;
    const CByteArray frame = Frame(64);
    for (auto _ : state) {
        stats.AddToCommsLog(&frame, true);
    }
}
BENCHMARK(BM_AddToCommsLogInactive);

void BM_CountersPerExchange(benchmark::State& state) {
    CCommsStats stats;
    for (auto _ : state) {
        stats.AddBytesOut(8);
        stats.AddBytesIn(29);
        stats.AddBlockExecutionTime(3);
    }
    benchmark::DoNotOptimize(stats.GetBytesPerSecond());
}
BENCHMARK(BM_CountersPerExchange);

// A transport thread logs kLines frames while this thread drains them.
void BM_FillAndDrain(benchmark::State& state) {
    constexpr int kLines = 20000;
    const CByteArray frame = Frame(static_cast<int>(state.range(0)));
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.LogAsHex(true);
    for (auto _ : state) {
        std::thread producer([&] {
            for (int i = 0; i < kLines; ++i) {
                stats.AddToCommsLog(&frame, (i & 1) != 0);
            }
        });
        int taken = 0;
        CString line;
        while (taken < kLines) {
            if (stats.GetCommsLogCount() > 0) {
                stats.GetFromCommsLog(&line);
                ++taken;
            }
        }
        producer.join();
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_FillAndDrain)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
