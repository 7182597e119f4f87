#include "kelvara/sibling/QZObject.h"

IMPLEMENT_DYNAMIC(CQZObject, CObject)

void CQZObject::Serialize(CArchive& ar) {
    CObject::Serialize(ar);
    if (ar.IsStoring()) {
        ar << static_cast<LONG>(m_nVersion) << m_dwIdentifier;
    } else {
        LONG nVersion = 0;
        ar >> nVersion >> m_dwIdentifier;
        m_nVersion = nVersion;
    }
}
