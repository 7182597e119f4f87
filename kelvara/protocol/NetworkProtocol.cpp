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
    // The base's general record first; a load that fails part-way leaves
    // both records as they were.
    SerializeRecords(ar, {&m_GeneralProperties, &m_TimeoutProperties});
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
