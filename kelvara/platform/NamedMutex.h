/** \addtogroup platform
 @{ */
// A mutex named system-wide: every thread of every process that opens the
// same name shares it. It is recursive for the thread that holds it, and a
// holder that dies (thread or whole process) does not leave it locked: the
// next locker gets it, told that it was abandoned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// A mutex named system-wide; see the file's description.
class KELVARA_API NamedMutex {
public:
    /// How a lock ended: taken, taken from a holder that died, timed out, or failed.
    enum class LockResult { Acquired, Abandoned, TimedOut, Failed };
    /// A wait without a time limit.
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    virtual ~NamedMutex() = default;

    /// Waits up to nTimeoutMs (kInfinite: no limit). Abandoned also means
    /// acquired: the previous holder died, so what it guarded may be half
    /// done.
    virtual LockResult Lock(std::uint32_t nTimeoutMs) = 0;
    /// Releases one level of the caller's hold; false when it holds none.
    virtual bool Unlock() = 0;
};

/// The process's handle on the named mutex, creating the mutex when no
/// process has it yet. One process shares one handle per name. nullptr when
/// the system refused; the reason is then the last system error.
KELVARA_API std::shared_ptr<NamedMutex> OpenNamedMutex(const std::string& strName);

/// Forgets the name system-wide, so that the next open creates a fresh
/// mutex; handles already open keep working on the old one. For tests and
/// tools: the library itself never removes a name.
KELVARA_API bool RemoveNamedMutex(const std::string& strName);

/// Puts the names this process opens or removes from now on into a scope:
/// a name then stands for a mutex shared only with processes that use the
/// same scope. The empty scope, the default, is the system-wide one; handles
/// already open keep their mutex. For test programs that run beside each
/// other and hold such mutexes for long: the library itself never sets a
/// scope.
KELVARA_API void SetNamedMutexScope(const std::string& strScope);

}  // namespace kelvara::platform
/** @} */
