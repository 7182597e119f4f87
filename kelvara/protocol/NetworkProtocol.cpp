#include "kelvara/protocol/NetworkProtocol.h"

CNetworkProtocol::CNetworkProtocol() : CProtocol() {
    m_PropertySheet.AddPage(m_TimeoutProperties.GetPropertyPage());
}

CNetworkProtocol::CNetworkProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat)
    : CProtocol(pszDeviceFormat, pszRemoteFormat) {
    m_PropertySheet.AddPage(m_TimeoutProperties.GetPropertyPage());
}

CNetworkProtocol::~CNetworkProtocol() = default;

void CNetworkProtocol::SerializeProperties(CArchive& ar) {
    if (ar.IsStoring()) {
        CProtocol::SerializeProperties(ar);
        m_TimeoutProperties.Serialize(ar);
        return;
    }
    // A load that fails part-way leaves both records as they were. Assignment,
    // unlike a copy, keeps each record's version too.
    CGeneralProperties general;
    general = m_GeneralProperties;
    CTimeoutOnlyProperties timeout;
    timeout = m_TimeoutProperties;
    try {
        CProtocol::SerializeProperties(ar);
        m_TimeoutProperties.Serialize(ar);
    } catch (...) {
        m_GeneralProperties = general;
        m_TimeoutProperties = timeout;
        throw;
    }
}

bool CNetworkProtocol::DumpToStringList(CStringList& list) {
    return m_TimeoutProperties.DumpToStringList(list);
}

bool CNetworkProtocol::UpdateFromStringList(CStringList* pList) {
    if (pList == nullptr) {
        return false;
    }
    return m_TimeoutProperties.UpdateFromStringList(pList);
}

DWORD CNetworkProtocol::GetTimeout() {
    return m_TimeoutProperties.m_dwTimeout;
}

DWORD CNetworkProtocol::GetBlockIdFromPacket(const CCombuf*) {
    return 0;
}

DWORD CNetworkProtocol::GetDataOffsetInPacket() {
    return 0;
}

DWORD CNetworkProtocol::FormatTxMessage(CCombuf*, CPollListItem*, BYTE) {
    return 0;
}

void CNetworkProtocol::SetTimeoutDefaults(DWORD dwTimeout) {
    m_TimeoutProperties.m_dwTimeout = dwTimeout;
}
