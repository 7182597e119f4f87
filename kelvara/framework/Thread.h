/** \addtogroup framework
 @{ */
/// CWinThread: the framework's thread object.
///
/// The thread runs InitInstance, then Run when InitInstance succeeded, else
/// ExitInstance; the value returned is the thread's exit code. The object
/// outlives its thread: the owner waits for the thread (WaitForExit) before
/// it destroys the object, and the destructor waits as a last resort.
#pragma once

#include <atomic>
#include <thread>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CWinThread : public CObject {
    DECLARE_DYNAMIC(CWinThread)

public:
    /// Constructs with the defaults of the class.
    CWinThread() = default;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;
    ~CWinThread() override;

    /// Starts the thread; FALSE when this object's previous thread has not
    /// been waited for, or no thread could be created.
    BOOL CreateThread();
    /// Waits until the thread has ended and returns its exit code; -1 when
    /// there is no thread to wait for or the caller is the thread itself.
    int WaitForExit();

    /// TRUE from CreateThread until the thread's body has returned.
    BOOL IsThreadRunning() const { return m_bRunning.load(std::memory_order_acquire); }
    /// TRUE when the caller runs on this object's thread.
    BOOL IsCurrentThread() const;
    /// TRUE when a thread was started and not yet waited for.
    BOOL HasThread() const { return m_thread.joinable(); }

    /// Runs first on the thread; FALSE skips Run.
    virtual BOOL InitInstance() { return TRUE; }
    /// The thread's body; by default it returns ExitInstance().
    virtual int Run() { return ExitInstance(); }
    /// Runs last on the thread; its value is the exit code.
    virtual int ExitInstance() { return 0; }

private:
    void ThreadMain();

    std::thread m_thread;
    // The running thread's id, readable from any thread (m_thread itself is
    // still being assigned when the new thread starts).
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<bool> m_bRunning{false};
    int m_nExitCode = 0;
};
/** @} */
