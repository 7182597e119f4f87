#include "kelvara/sibling/PollListItem.h"

IMPLEMENT_SERIAL(CPollListItem, CObject, 1)

CPollListItem::CPollListItem(const CPollListItem& other) : CObject() {
    *this = other;
}

CPollListItem& CPollListItem::operator=(const CPollListItem& other) {
    if (this != &other) {
        m_dwBlockId = other.m_dwBlockId;
        m_byNode = other.m_byNode;
        m_Data.Copy(other.m_Data);
        m_ftReceived = other.m_ftReceived;
        m_ftSent = other.m_ftSent;
        m_bDataValid = other.m_bDataValid;
        m_dwError = other.m_dwError;
        m_dwPollTime = other.m_dwPollTime;
    }
    return *this;
}

CPollListItem::~CPollListItem() = default;

void CPollListItem::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_dwBlockId << m_byNode;
        m_Data.Serialize(ar);
        ar << m_ftReceived.dwLowDateTime << m_ftReceived.dwHighDateTime << m_ftSent.dwLowDateTime
           << m_ftSent.dwHighDateTime << m_bDataValid << m_dwError << m_dwPollTime;
        return;
    }
    CPollListItem loaded;
    ar >> loaded.m_dwBlockId >> loaded.m_byNode;
    loaded.m_Data.Serialize(ar);
    ar >> loaded.m_ftReceived.dwLowDateTime >> loaded.m_ftReceived.dwHighDateTime >>
        loaded.m_ftSent.dwLowDateTime >> loaded.m_ftSent.dwHighDateTime >> loaded.m_bDataValid >>
        loaded.m_dwError >> loaded.m_dwPollTime;
    *this = loaded;
}
