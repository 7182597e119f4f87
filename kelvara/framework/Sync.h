/** \addtogroup framework
 @{ */
/// CCriticalSection: a lock for one process's threads.
#pragma once

#include <mutex>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CCriticalSection {
public:
    /// An unlocked lock.
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    ///@{
    /// Locks or unlocks; always TRUE.
    BOOL Lock() {
        m_mutex.lock();
        return TRUE;
    }
    BOOL Unlock() {
        m_mutex.unlock();
        return TRUE;
    }
    ///@}
    /// For std::lock_guard and friends.
    void lock() { m_mutex.lock(); }
    /// See lock.
    void unlock() { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};
/** @} */
