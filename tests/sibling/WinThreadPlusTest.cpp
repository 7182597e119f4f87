// CWinThreadPlus: the work-bracket loop, start and stop, and sleeps that
// StopThread cuts short.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "kelvara/Kelvara.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;
constexpr int kOneDay = 24 * 60 * 60 * 1000;

// Counts its passes; the after-work sleep is a day, so only StopThread can
// end it.
class CountingThread : public CWinThreadPlus {
public:
    ~CountingThread() override { StopThread(); }

    std::atomic<int> m_nPasses{0};
    std::atomic<bool> m_bWorkingSeen{false};
    std::promise<void> m_firstPass;
    std::mutex m_idsLock;
    std::set<std::thread::id> m_ids;

protected:
    void DoWork() override {
        m_bWorkingSeen = IsWorking() != FALSE;
        {
            std::lock_guard<std::mutex> guard(m_idsLock);
            m_ids.insert(std::this_thread::get_id());
        }
        if (m_nPasses.fetch_add(1) == 0) {
            m_firstPass.set_value();
        }
    }
};

// Blocks in ThreadSleep for a day once it has said so.
class SleepingThread : public CWinThreadPlus {
public:
    ~SleepingThread() override { StopThread(); }
    std::promise<void> m_aboutToSleep;
    std::atomic<bool> m_bRunReturned{false};

    int Run() override {
        m_aboutToSleep.set_value();
        ThreadSleep(kOneDay);
        m_bRunReturned = true;
        return 0;
    }
};

bool StopsWithinDeadline(CWinThreadPlus& thread) {
    auto stopping = std::async(std::launch::async, [&] { thread.StopThread(); });
    return stopping.wait_for(kDeadline) == std::future_status::ready;
}

TEST(WinThreadPlus, StopThreadCutsAPendingSleepShort) {
    SleepingThread thread;
    ASSERT_TRUE(thread.StartThread(1));
    ASSERT_EQ(thread.m_aboutToSleep.get_future().wait_for(kDeadline), std::future_status::ready);
    ASSERT_TRUE(StopsWithinDeadline(thread));
    EXPECT_TRUE(thread.m_bRunReturned);
    EXPECT_TRUE(thread.ShouldTerminate());
    EXPECT_FALSE(thread.IsThreadRunning());
}

TEST(WinThreadPlus, LoopBracketsEachPassAndSleepsTheAfterWorkInterval) {
    CountingThread thread;
    thread.m_nSleepAfterWork = kOneDay;
    ASSERT_TRUE(thread.StartThread(1));
    ASSERT_EQ(thread.m_firstPass.get_future().wait_for(kDeadline), std::future_status::ready);
    ASSERT_TRUE(StopsWithinDeadline(thread));
    // The after-work sleep held the loop to one pass until the stop.
    EXPECT_EQ(thread.m_nPasses, 1);
    EXPECT_TRUE(thread.m_bWorkingSeen);
    EXPECT_FALSE(thread.IsWorking());
}

TEST(WinThreadPlus, StartingARunningThreadSucceedsWithoutASecondThread) {
    CountingThread thread;
    thread.m_nSleepAfterWork = 0;
    ASSERT_TRUE(thread.StartThread(1));
    ASSERT_EQ(thread.m_firstPass.get_future().wait_for(kDeadline), std::future_status::ready);
    EXPECT_TRUE(thread.StartThread(1));
    ASSERT_TRUE(StopsWithinDeadline(thread));
    {
        std::lock_guard<std::mutex> guard(thread.m_idsLock);
        EXPECT_EQ(thread.m_ids.size(), 1u);
    }

    // A stopped thread starts afresh.
    const int nBefore = thread.m_nPasses;
    ASSERT_TRUE(thread.StartThread(1));
    EXPECT_FALSE(thread.ShouldTerminate());
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (thread.m_nPasses == nBefore && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_GT(thread.m_nPasses, nBefore);
    ASSERT_TRUE(StopsWithinDeadline(thread));
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

TEST(WinThreadPlus, AfterAStopWithoutStartSleepsReturnAtOnce) {
    CountingThread thread;
    ASSERT_TRUE(StopsWithinDeadline(thread));
    auto sleeping = std::async(std::launch::async, [&] { thread.ThreadSleep(kOneDay); });
    EXPECT_EQ(sleeping.wait_for(kDeadline), std::future_status::ready);
    EXPECT_EQ(thread.m_nPasses, 0);
}

}  // namespace
