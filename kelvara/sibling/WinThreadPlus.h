/** \addtogroup sibling
 @{ */
/// CWinThreadPlus: the worker-thread base of the library's threads.
///
/// A worker's Run follows one loop: return at once when ShouldTerminate;
/// otherwise repeat { NotifyWorking; one pass of work; NotifyFinishedWork;
/// ThreadSleepAfterWork } until ShouldTerminate. The default Run is that
/// loop around DoWork.
///
/// Every sleep of the worker wakes as soon as StopThread is called, so
/// stopping never waits out a sleep: it waits only for the pass in hand.
///
/// A derived class whose Run uses its own members calls StopThread in its
/// destructor: by the time this base's destructor stops the thread, the
/// derived part is gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Sync.h"
#include "kelvara/framework/Thread.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CWinThreadPlus : public CWinThread {
    DECLARE_DYNAMIC(CWinThreadPlus)

public:
    /// Constructs with the defaults of the class.
    CWinThreadPlus() = default;
    ~CWinThreadPlus() override;

    /// Starts the thread. The argument is accepted for the callers' sake;
    /// every value starts it. Nonzero when the thread runs afterwards,
    /// including when it was already running; a thread that had stopped, or
    /// been told to stop, is waited for and started afresh.
    BOOL StartThread(int nStart);
    /// Tells Run to end, wakes any sleep of the worker and waits until the
    /// thread has ended. Called on the worker thread itself it only tells.
    void StopThread();

    /// TRUE once StopThread has been called, until the next start.
    BOOL ShouldTerminate() const { return m_bTerminate.load(std::memory_order_acquire); }

    ///@{
    /// Bracket one pass of work: NotifyWorking takes the work lock and hands
    /// it out, NotifyFinishedWork(lock) releases it.
    CCriticalSection* NotifyWorking();
    void NotifyFinishedWork(CCriticalSection* pLock);
    ///@}
    /// TRUE while the worker is inside a pass.
    BOOL IsWorking() const { return m_bWorking.load(std::memory_order_acquire); }

    ///@{
    /// Sleeps the after-work interval; ThreadSleep sleeps the time given
    /// (negative counts as 0). Both return early when the thread is told to
    /// stop.
    void ThreadSleepAfterWork();
    void ThreadSleep(int nMilliseconds);
    ///@}

    int Run() override;

    /// Milliseconds to sleep after each pass; set before StartThread (it may
    /// also be changed while the thread runs).
    std::atomic<int> m_nSleepAfterWork{0};

protected:
    /// One pass of the default Run; does nothing.
    virtual void DoWork() {}

private:
    void RequestTermination();

    std::mutex m_controlLock;  // serialises StartThread and StopThread
    std::mutex m_sleepLock;
    std::condition_variable m_wake;
    std::atomic<bool> m_bTerminate{false};
    std::atomic<bool> m_bWorking{false};
    CCriticalSection m_workLock;
};
/** @} */
