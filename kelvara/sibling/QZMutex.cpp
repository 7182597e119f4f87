#include "kelvara/sibling/QZMutex.h"

#include "kelvara/platform/NamedMutex.h"

using kelvara::platform::NamedMutex;

CQZMutex::CQZMutex(const char* pszName)
    : m_strName(pszName), m_pMutex(kelvara::platform::OpenNamedMutex(m_strName.str())) {}

CQZMutex::~CQZMutex() = default;

CQZMutex::CLock* CQZMutex::Lock(DWORD dwTimeout) {
    if (!m_pMutex) {
        return nullptr;
    }
    switch (m_pMutex->Lock(dwTimeout == INFINITE ? NamedMutex::kInfinite : dwTimeout)) {
        case NamedMutex::LockResult::Acquired:
            m_bAbandoned = FALSE;
            return Handle();
        case NamedMutex::LockResult::Abandoned:
            m_bAbandoned = TRUE;
            return Handle();
        default:
            return nullptr;
    }
}

BOOL CQZMutex::Unlock(CLock* pLock) {
    if (pLock != Handle() || !m_pMutex) {
        return FALSE;
    }
    return m_pMutex->Unlock() ? TRUE : FALSE;
}
