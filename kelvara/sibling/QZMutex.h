/** \addtogroup sibling
 @{ */
// CQZMutex: a mutex named system-wide, shared by every thread of every
// process that uses the same name.
//
// Lock hands out a lock handle that goes back to Unlock. The holding thread
// may lock again (each Lock needs its Unlock). A holder that dies does not
// leave the mutex locked: the next Lock takes it.
#pragma once

#include <memory>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

namespace kelvara::platform {
class NamedMutex;
}

/// A mutex named system-wide; see the file's description.
class KELVARA_API CQZMutex {
public:
    /// What Lock hands out; only ever compared, never looked into.
    class CLock;

    /// Opens or creates the mutex of that name.
    explicit CQZMutex(const char* pszName);
    ~CQZMutex();
    CQZMutex(const CQZMutex&) = delete;
    CQZMutex& operator=(const CQZMutex&) = delete;

    /// Waits up to dwTimeout ms (INFINITE: no limit) for the mutex. The lock
    /// handle, or nullptr when the time ran out or the system mutex could not
    /// be opened.
    CLock* Lock(DWORD dwTimeout = INFINITE);
    /// Releases a hold taken with Lock; FALSE for a handle of another mutex,
    /// or when the calling thread holds none.
    BOOL Unlock(CLock* pLock);

    /// FALSE when the system mutex could not be opened; Lock then fails.
    BOOL IsValid() const { return m_pMutex != nullptr; }
    /// The name.
    const CString& GetName() const { return m_strName; }
    /// TRUE when the last successful Lock found the mutex abandoned by a
    /// holder that died.
    BOOL WasAbandoned() const { return m_bAbandoned; }

private:
    CLock* Handle() { return reinterpret_cast<CLock*>(this); }

    CString m_strName;
    std::shared_ptr<kelvara::platform::NamedMutex> m_pMutex;
    BOOL m_bAbandoned = FALSE;
};
/** @} */
