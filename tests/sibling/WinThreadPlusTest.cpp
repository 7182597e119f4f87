// CWinThreadPlus: the work-bracket loop, start and stop, and sleeps that
// StopThread cuts short.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "kelvara/Kelvara.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;
constexpr int kOneDay = 24 * 60 * 60 * 1000;

// Counts its passes; the after-work sleep is a day, so only StopThread can end it.
class CountingThread : public CWinThreadPlus {
public:
    CountingThread() { m_nSleepAfterWork = kOneDay; }
    ~CountingThread() override { StopThread(); }

    std::atomic<int> m_nPasses{0};
    std::atomic<bool> m_bWorkingSeen{false};

protected:
    void DoWork() override {
        m_bWorkingSeen = IsWorking() != FALSE;
        ++m_nPasses;
    }
};

// Runs f on another thread; true when it returned within the deadline.
template <class F>
bool ReturnsWithinDeadline(F f) {
    return std::async(std::launch::async, f).wait_for(kDeadline) == std::future_status::ready;
}

TEST(WinThreadPlus, OneThreadWorksOncePerIntervalUntilStopCutsItsSleepShort) {
    CountingThread thread;
    ASSERT_TRUE(thread.StartThread(1));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return thread.m_nPasses > 0; }));
    EXPECT_TRUE(thread.StartThread(1));  // running already: no second thread
    ASSERT_TRUE(ReturnsWithinDeadline([&] { thread.StopThread(); }));
    EXPECT_EQ(thread.m_nPasses, 1);
    EXPECT_TRUE(thread.m_bWorkingSeen);
    EXPECT_FALSE(thread.IsWorking());
    EXPECT_TRUE(thread.ShouldTerminate());
    EXPECT_FALSE(thread.IsThreadRunning());
    // Stopped, its sleeps return at once; started again, it works afresh.
    EXPECT_TRUE(ReturnsWithinDeadline([&] { thread.ThreadSleep(kOneDay); }));
    ASSERT_TRUE(thread.StartThread(1));
    EXPECT_FALSE(thread.ShouldTerminate());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return thread.m_nPasses == 2; }));
    EXPECT_TRUE(ReturnsWithinDeadline([&] { thread.StopThread(); }));
}

TEST(WinThreadPlus, AWorkerMayStopItself) {
    class SelfStopping : public CWinThreadPlus {
    public:
        ~SelfStopping() override { StopThread(); }

    protected:
        void DoWork() override { StopThread(); }
    } thread;
    thread.m_nSleepAfterWork = kOneDay;
    ASSERT_TRUE(thread.StartThread(1));
    auto waiting = std::async(std::launch::async, [&] { return thread.WaitForExit(); });
    ASSERT_EQ(waiting.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
    EXPECT_TRUE(thread.ShouldTerminate());
}

}  // namespace
