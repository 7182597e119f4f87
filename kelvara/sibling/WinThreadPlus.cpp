#include "kelvara/sibling/WinThreadPlus.h"

#include <chrono>

IMPLEMENT_DYNAMIC(CWinThreadPlus, CWinThread)

CWinThreadPlus::~CWinThreadPlus() {
    StopThread();
}

BOOL CWinThreadPlus::StartThread(int) {
    if (IsCurrentThread()) {
        // The worker cannot wait for itself: it may only find itself running.
        return ShouldTerminate() ? FALSE : TRUE;
    }
    std::lock_guard<std::mutex> control(m_controlLock);
    if (IsThreadRunning() && !ShouldTerminate()) {
        return TRUE;
    }
    WaitForExit();
    {
        std::lock_guard<std::mutex> guard(m_sleepLock);
        m_bTerminate.store(false, std::memory_order_release);
    }
    return CreateThread();
}

void CWinThreadPlus::StopThread() {
    if (IsCurrentThread()) {
        // Only tell: the control lock may be held by a thread waiting for
        // this one.
        RequestTermination();
        return;
    }
    std::lock_guard<std::mutex> control(m_controlLock);
    RequestTermination();
    WaitForExit();
}

void CWinThreadPlus::RequestTermination() {
    {
        // Set under the sleep lock so that a worker about to wait cannot
        // miss the wake-up.
        std::lock_guard<std::mutex> guard(m_sleepLock);
        m_bTerminate.store(true, std::memory_order_release);
    }
    m_wake.notify_all();
}

CCriticalSection* CWinThreadPlus::NotifyWorking() {
    m_workLock.Lock();
    m_bWorking.store(true, std::memory_order_release);
    return &m_workLock;
}

void CWinThreadPlus::NotifyFinishedWork(CCriticalSection* pLock) {
    if (pLock != &m_workLock) {
        return;
    }
    m_bWorking.store(false, std::memory_order_release);
    m_workLock.Unlock();
}

void CWinThreadPlus::ThreadSleepAfterWork() {
    ThreadSleep(m_nSleepAfterWork.load(std::memory_order_relaxed));
}

void CWinThreadPlus::ThreadSleep(int nMilliseconds) {
    std::unique_lock<std::mutex> lock(m_sleepLock);
    const auto duration = std::chrono::milliseconds(nMilliseconds > 0 ? nMilliseconds : 0);
    m_wake.wait_for(lock, duration, [this] { return ShouldTerminate() != FALSE; });
}

int CWinThreadPlus::Run() {
    if (ShouldTerminate()) {
        return 0;
    }
    do {
        CCriticalSection* pLock = NotifyWorking();
        DoWork();
        NotifyFinishedWork(pLock);
        ThreadSleepAfterWork();
    } while (!ShouldTerminate());
    return 0;
}
