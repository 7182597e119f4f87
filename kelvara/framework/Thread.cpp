#include "kelvara/framework/Thread.h"

#include <system_error>

IMPLEMENT_DYNAMIC(CWinThread, CObject)

CWinThread::~CWinThread() {
    if (!m_thread.joinable()) {
        return;
    }
    if (IsCurrentThread()) {
        // Deleted by its own thread: nobody can wait for it any more.
        m_thread.detach();
    } else {
        m_thread.join();
    }
}

BOOL CWinThread::CreateThread() {
    if (m_thread.joinable()) {
        return FALSE;
    }
    m_bRunning.store(true, std::memory_order_release);
    try {
        m_thread = std::thread(&CWinThread::ThreadMain, this);
    } catch (const std::system_error&) {
        m_bRunning.store(false, std::memory_order_release);
        return FALSE;
    }
    return TRUE;
}

int CWinThread::WaitForExit() {
    if (!m_thread.joinable() || IsCurrentThread()) {
        return -1;
    }
    m_thread.join();
    return m_nExitCode;
}

BOOL CWinThread::IsCurrentThread() const {
    return m_threadId.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void CWinThread::ThreadMain() {
    m_threadId.store(std::this_thread::get_id(), std::memory_order_release);
    m_nExitCode = InitInstance() ? Run() : ExitInstance();
    m_threadId.store(std::thread::id(), std::memory_order_release);
    m_bRunning.store(false, std::memory_order_release);
}
