#include "kelvara/protocol/SerialProtocol.h"

#include "kelvara/sibling/PortData.h"
#include "kelvara/sibling/Utility.h"

CSerialProtocol::CSerialProtocol() : CProtocol() {
    AddRecordPages();
}

CSerialProtocol::CSerialProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat)
    : CProtocol(pszDeviceFormat, pszRemoteFormat) {
    AddRecordPages();
}

CSerialProtocol::~CSerialProtocol() = default;

void CSerialProtocol::AddRecordPages() {
    m_PropertySheet.AddPage(m_PortProperties.GetPropertyPage());
    m_PropertySheet.AddPage(m_FlowProperties.GetPropertyPage());
    m_PropertySheet.AddPage(m_TimingProperties.GetPropertyPage());
}

WORD CSerialProtocol::GetPortNumber() {
    return m_PortProperties.m_wPortNumber;
}

void CSerialProtocol::SerializeProperties(CArchive& ar) {
    // The base's general record first; a load that fails part-way leaves
    // every record as it was.
    SerializeRecords(
        ar, {&m_GeneralProperties, &m_PortProperties, &m_FlowProperties, &m_TimingProperties});
}

bool CSerialProtocol::PackedFileConvertProperties(CPortData* pPortData, int nPortNumber) {
    const bool bResult = CProtocol::PackedFileConvertProperties(pPortData, nPortNumber);
    // The packed record keeps seconds; the driver works in milliseconds. No
    // record, or a time-out that milliseconds cannot hold: nothing changes.
    constexpr DWORD kMillisecondsPerSecond = 1000;
    if (pPortData == nullptr ||
        pPortData->m_TimingProperties.m_dwTimeout > 0xFFFFFFFFu / kMillisecondsPerSecond) {
        return false;
    }
    AssignObjects(&m_PortProperties, &pPortData->m_PortProperties);
    AssignObjects(&m_FlowProperties, &pPortData->m_FlowProperties);
    AssignObjects(&m_TimingProperties, &pPortData->m_TimingProperties);
    m_PortProperties.m_wPortNumber = static_cast<WORD>(nPortNumber);
    m_TimingProperties.m_dwTimeout *= kMillisecondsPerSecond;
    return bResult;
}

bool CSerialProtocol::DumpToStringList(CStringList& list) {
    return m_PortProperties.DumpToStringList(list) && m_FlowProperties.DumpToStringList(list) &&
           m_TimingProperties.DumpToStringList(list);
}

bool CSerialProtocol::UpdateFromStringList(CStringList* pList) {
    return UpdateRecordsFromStringList(pList,
                                       {&m_PortProperties, &m_FlowProperties, &m_TimingProperties});
}

BOOL CSerialProtocol::IsParityEnabled() {
    return m_PortProperties.m_bParityEnabled;
}

DWORD CSerialProtocol::GetBaudRate() {
    return m_PortProperties.m_dwBaudRate;
}

CPortProperties::PARITY_ENUM CSerialProtocol::GetParity() {
    return m_PortProperties.m_Parity;
}

CPortProperties::STOPBITS_ENUM CSerialProtocol::GetStopBits() {
    return m_PortProperties.m_StopBits;
}

WORD CSerialProtocol::GetDataBits() {
    return m_PortProperties.m_wDataBits;
}

CPortProperties::MEDIA_ENUM CSerialProtocol::GetMediaType() {
    return m_PortProperties.m_MediaType;
}

void CSerialProtocol::SetPortDefaults(BOOL bParityEnabled, DWORD dwBaudRate,
                                      CPortProperties::PARITY_ENUM eParity,
                                      CPortProperties::STOPBITS_ENUM eStopBits, WORD wDataBits,
                                      WORD wPortNumber, CPortProperties::MEDIA_ENUM eMediaType) {
    m_PortProperties.m_bParityEnabled = bParityEnabled;
    m_PortProperties.m_dwBaudRate = dwBaudRate;
    m_PortProperties.m_Parity = eParity;
    m_PortProperties.m_StopBits = eStopBits;
    m_PortProperties.m_wDataBits = wDataBits;
    m_PortProperties.m_wPortNumber = wPortNumber;
    m_PortProperties.m_MediaType = eMediaType;
}

BOOL CSerialProtocol::IsFlowControlEnabled() {
    return m_FlowProperties.m_bFlowControlEnabled;
}

DWORD CSerialProtocol::GetRTSCTSDelay() {
    return m_FlowProperties.m_dwRTSCTSDelay;
}

CFlowProperties::DTR_ENUM CSerialProtocol::GetDTRControl() {
    return m_FlowProperties.m_DTRControl;
}

CFlowProperties::RTS_ENUM CSerialProtocol::GetRTSControl() {
    return m_FlowProperties.m_RTSControl;
}

void CSerialProtocol::SetFlowDefaults(BOOL bFlowControlEnabled, DWORD dwRTSCTSDelay,
                                      CFlowProperties::DTR_ENUM eDTRControl,
                                      CFlowProperties::RTS_ENUM eRTSControl) {
    m_FlowProperties.m_bFlowControlEnabled = bFlowControlEnabled;
    m_FlowProperties.m_dwRTSCTSDelay = dwRTSCTSDelay;
    m_FlowProperties.m_DTRControl = eDTRControl;
    m_FlowProperties.m_RTSControl = eRTSControl;
}

DWORD CSerialProtocol::GetRequestMessageDelay() {
    return m_TimingProperties.m_dwRequestMessageDelay;
}

DWORD CSerialProtocol::GetRetryCount() {
    return m_TimingProperties.m_dwRetryCount;
}

DWORD CSerialProtocol::GetTimeout() {
    return m_TimingProperties.m_dwTimeout;
}

void CSerialProtocol::SetTimingDefaults(DWORD dwRequestMessageDelay, DWORD dwRetryCount,
                                        DWORD dwTimeout) {
    m_TimingProperties.m_dwRequestMessageDelay = dwRequestMessageDelay;
    m_TimingProperties.m_dwRetryCount = dwRetryCount;
    m_TimingProperties.m_dwTimeout = dwTimeout;
}
