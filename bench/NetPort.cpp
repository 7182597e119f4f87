// The ARCNET port's poll passes on the virtual segment, with 1, 10 and 100
// poll items, each answered by a simulated station of its own.
//
// The poll thread's after-work sleep (100 ms by design) is set to 0, so the
// passes run back to back and one iteration is one pass: its time is what
// the library spends on the pass. That still includes the 1 ms pause that
// every transmission makes before it waits for the transmit event, so the
// "item" figure (time per item per pass) is bounded below by about 1 ms;
// "cpu_us_per_item" is the process's CPU time per item per pass (the poll
// and receive threads and the simulated stations), which the pauses do not
// inflate beyond what a pause itself costs. Write alone is measured too,
// with and without the acknowledgement poll, and the bare pause as the
// floor of both.
#include <benchmark/benchmark.h>
#include <kelvara/Kelvara.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "support/HeaderEchoDriver.h"

namespace {

constexpr int kPortNode = 1;
constexpr int kFirstStation = 2;

int StationOf(int nItem) {
    return kFirstStation + nItem;
}

// Counts passes by the first item's poll.
class CBenchDriver : public testsupport::CHeaderEchoDriver {
public:
    // Waits until pass nPass has started; false after a generous deadline.
    bool WaitForPass(long nPass) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_passStarted.wait_for(lock, std::chrono::seconds(30),
                                      [&] { return m_nPasses >= nPass; });
    }

protected:
    void OnRequest(BYTE byType, const CPollListItem& item) override {
        if (item.m_dwBlockId == 0 && byType == NETMSG_POLL_REQUEST) {
            std::lock_guard<std::mutex> guard(m_lock);
            ++m_nPasses;
            m_passStarted.notify_all();
        }
    }

private:
    std::mutex m_lock;
    std::condition_variable m_passStarted;
    long m_nPasses = 0;
};

bool AllItemsAnswered(CNetPort& port, const CPollProperties& poll) {
    CNetPort::CListLock lock(port.GetPollListMutex());
    for (int i = 0; i < poll.m_PollList.GetSize(); ++i) {
        const CPollListItem* pItem = poll.m_PollList.GetAt(i);
        if (!pItem->m_bDataValid || pItem->m_Data.GetSize() != 4) {
            return false;
        }
    }
    return true;
}

void BM_PollPass(benchmark::State& state) {
    const int nItems = static_cast<int>(state.range(0));
    CVirtualArcnetSegment segment;
    segment.Install();
    CBenchDriver driver;
    CPollProperties poll;
    CCommsStats stats;
    for (int i = 0; i < nItems; ++i) {
        segment.AddStation(
            static_cast<BYTE>(StationOf(i)),
            CVirtualArcnetSegment::EchoHeader(CBenchDriver::kHeaderLength,
                                              testsupport::Bytes("\x12\x34\x56\x78")));
        poll.AddItem(static_cast<DWORD>(i), static_cast<BYTE>(StationOf(i)));
    }
    CNetPort port(&poll, driver.GetTimeoutProperties(), &stats, kPortNode, &driver);
    if (port.Open() != 0) {
        state.SkipWithError("the port did not open on the virtual segment");
        return;
    }
    port.GetPollThread()->m_nSleepAfterWork = 0;
    // The first pass may still be followed by the designed sleep; from the
    // third on, every pass runs straight after the one before.
    long nPass = 3;
    if (!driver.WaitForPass(nPass)) {
        state.SkipWithError("the poll thread did not pass");
        port.Close();
        return;
    }
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        if (!driver.WaitForPass(++nPass)) {
            state.SkipWithError("the poll thread stopped passing");
            break;
        }
    }
    const double dCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const bool bAnswered = AllItemsAnswered(port, poll);
    port.Close();
    if (!bAnswered) {
        state.SkipWithError("not every item had its reply");
        return;
    }
    state.counters["item"] = benchmark::Counter(
        nItems, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["cpu_us_per_item"] =
        dCpuSeconds * 1e6 / (static_cast<double>(state.iterations()) * nItems);
}
BENCHMARK(BM_PollPass)->Arg(1)->Arg(10)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

// One transmission from the driver's thread, on a port whose poll thread
// has nothing to send.
void BM_Write(benchmark::State& state) {
    const int nWaitForAck = static_cast<int>(state.range(0));
    CVirtualArcnetSegment segment;
    segment.Install();
    segment.AddStation(static_cast<BYTE>(kFirstStation));
    CPollProperties poll;
    CCommsStats stats;
    CNetPort port(&poll, nullptr, &stats, kPortNode, nullptr);
    if (port.Open() != 0) {
        state.SkipWithError("the port did not open on the virtual segment");
        return;
    }
    CCombuf buffer;
    buffer.SetSize(64);
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        if (port.Write(static_cast<BYTE>(kFirstStation), &buffer, &stats, nWaitForAck) != 0) {
            state.SkipWithError("a transmission failed");
            break;
        }
    }
    const double dCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    port.Close();
    state.counters["cpu_us"] = dCpuSeconds * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The floor under every transmission: the bare 1 ms pause, as this machine
// sleeps it.
void BM_PauseFloor(benchmark::State& state) {
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double dCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    state.counters["cpu_us"] = dCpuSeconds * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PauseFloor)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
