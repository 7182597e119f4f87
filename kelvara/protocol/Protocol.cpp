#include "kelvara/protocol/Protocol.h"

#include "kelvara/block/ComBlock.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/resources/StringTable.h"
#include "kelvara/sibling/QZLog.h"
#include "kelvara/sibling/Utility.h"

namespace {

constexpr UINT IDS_PROPERTY_SHEET_CAPTION = 13000;
constexpr UINT IDS_BASE_TABLE_NAME = 13001;
// The sheet caption is loaded into a buffer of 299 characters.
constexpr int kMaxCaptionLength = 298;

}  // namespace

CProtocol::CProtocol() : CProtocol(nullptr, nullptr) {}

CProtocol::CProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat)
    : CQZObject(2),
      m_PropertySheet(0, "", nullptr, 0),
      m_EDFFormatRemote(pszRemoteFormat ? pszRemoteFormat : "", ""),
      m_EDFFormatDevice(pszDeviceFormat ? pszDeviceFormat : "", "") {
    CString caption;
    ModuleLoadString(&caption, IDS_PROPERTY_SHEET_CAPTION, AfxGetResourceHandle());
    m_PropertySheet.SetCaption(caption.Left(kMaxCaptionLength));
    m_CommsStats.ClearAllStatistics();
    // Construction is not finished: this is the base class's own text.
    m_GeneralProperties.m_strVersion = CProtocol::GetVersionInfo();
    m_PropertySheet.AddPage(m_GeneralProperties.GetPropertyPage());
}

CProtocol::~CProtocol() = default;

DWORD CProtocol::StartProtocol() {
    if (m_bStarted) {
        return SE_PROTOCOL_RESTART;
    }
    m_bStarted = 1;
    return SE_NO_ERROR;
}

DWORD CProtocol::StopProtocol() {
    if (!m_bStarted) {
        return SE_PROTOCOL_NOT_STARTED;
    }
    m_bStarted = 0;
    return SE_NO_ERROR;
}

DWORD CProtocol::CountBlock(CComBlock* pBlock, DWORD dwResult) {
    if (pBlock == nullptr) {
        return SE_INVALID_BLOCK;
    }
    m_CommsStats.AddBlockExecutionTime(pBlock->GetComTime());
    return dwResult;
}

DWORD CProtocol::TransferData(CComBlock* pBlock) {
    return CountBlock(pBlock, SE_NO_ERROR);
}

DWORD CProtocol::TransferDeviceData(CComBlock* pBlock) {
    return CountBlock(pBlock, SE_NOT_IMPLEMENTED);
}

CString CProtocol::GetVersionInfo() {
    return "Protocol version string not implemented!";
}

WORD CProtocol::GetPortNumber() {
    return 0xFFFF;
}

DWORD CProtocol::DisplayModalPropertySheet() {
    return m_PropertySheet.DoModal() == 0 ? SE_PROPERTY_SHEET_FAILED : SE_NO_ERROR;
}

void CProtocol::SerializeProperties(CArchive& ar) {
    m_GeneralProperties.Serialize(ar);
}

bool CProtocol::PackedFileConvertProperties(CPortData*, int) {
    return true;
}

CString CProtocol::GetPortName() {
    return m_strPortName;
}

void CProtocol::SetPortName(CString* pPortName) {
    m_strPortName = pPortName ? *pPortName : CString();
}

WORD CProtocol::GetFirstDevice() {
    return m_wFirstDevice;
}

void CProtocol::SetFirstDevice(WORD wFirstDevice) {
    m_wFirstDevice = wFirstDevice;
}

CProtocol::ProtocolType CProtocol::GetProtocolType() {
    return m_eProtocolType;
}

CProtocol::ProtocolStyle CProtocol::GetProtocolStyle() {
    return m_eProtocolStyle;
}

void CProtocol::InterBlockDelay() {}

WORD CProtocol::GetSpecialDataFormat() {
    return m_wSpecialDataFormat;
}

bool CProtocol::DumpToStringList(CStringList&) {
    return false;
}

bool CProtocol::UpdateFromStringList(CStringList*) {
    return false;
}

void CProtocol::SetUpProtocolProperties(CString*, CString*) {}

void CProtocol::MasterConnected() {}

void CProtocol::MasterDisconnected() {}

DWORD CProtocol::GetBlockCount() {
    return m_CommsStats.GetBlockCount();
}

DWORD CProtocol::GetTotalCommsTime() {
    return m_CommsStats.GetTotalBlockExecutionTime();
}

DWORD CProtocol::GetAveBlockExecutionTime() {
    return m_CommsStats.GetAverageBlockExecutionTime();
}

DWORD CProtocol::GetBlocksPerSecond() {
    return m_CommsStats.GetBlocksPerSecond();
}

DWORD CProtocol::GetBytesPerSecond() {
    return m_CommsStats.GetBytesPerSecond();
}

DWORD CProtocol::GetTotalBytesIn() {
    return m_CommsStats.GetTotalBytesIn();
}

DWORD CProtocol::GetTotalBytesOut() {
    return m_CommsStats.GetTotalBytesOut();
}

DWORD CProtocol::GetNumberStandardErrors() {
    return m_CommsStats.GetNumberStandardErrors();
}

DWORD CProtocol::GetNumberDeviceErrors() {
    return m_CommsStats.GetNumberDeviceErrors();
}

DWORD CProtocol::GetNumberCRCErrors() {
    return m_CommsStats.GetNumberCRCErrors();
}

DWORD CProtocol::GetNumberTimeoutErrors() {
    return m_CommsStats.GetNumberTimeoutErrors();
}

DWORD CProtocol::GetNumberOfRetries() {
    return m_CommsStats.GetNumberOfRetries();
}

CString CProtocol::GetLastErrorString() {
    return m_CommsStats.GetLastErrorString();
}

void CProtocol::ResetStatistics() {
    m_CommsStats.ClearAllStatistics();
}

void CProtocol::AddToCommsLog(CByteArray* pData, bool bReceived) {
    m_CommsStats.AddToCommsLog(pData, bReceived);
}

void CProtocol::GetFromCommsLog(CString* pLine) {
    m_CommsStats.GetFromCommsLog(pLine);
}

void CProtocol::ActivateCommsLog(bool bActive) {
    m_CommsStats.ActivateCommsLog(bActive);
}

int CProtocol::GetCommsLogCount() {
    return m_CommsStats.GetCommsLogCount();
}

void CProtocol::LogAsHex(bool bHex) {
    m_CommsStats.LogAsHex(bHex);
}

BOOL CProtocol::BitOffsetActive() {
    return 0;
}

BOOL CProtocol::DeviceAddressActive() {
    return 0;
}

BOOL CProtocol::OffsetStyleActive() {
    return 0;
}

BOOL CProtocol::StringLengthActive() {
    return 0;
}

DWORD CProtocol::LoadSubProtocol(CString* pSubProtocol) {
    m_strSubProtocol = pSubProtocol ? *pSubProtocol : CString();
    return SE_NO_ERROR;
}

void CProtocol::AddIPAddress(const char*, const char*) {}

void CProtocol::GetFirstIPAddress(CString&) {}

BOOL CProtocol::IsNetworkProtocol() {
    return 0;
}

BOOL CProtocol::IsNoPortProtocol() {
    return 0;
}

BOOL CProtocol::IsSerialProtocol() {
    return 0;
}

BOOL CProtocol::IsNextPoint(CRemoteAddress*, CRemoteAddress*) {
    return 0;
}

BOOL CProtocol::IsBetweenPoints(CRemoteAddress*, CRemoteAddress*, CRemoteAddress*) {
    return 0;
}

DWORD CProtocol::GetNextRemoteAddress(CRemoteAddress* pCurrent, CRemoteAddress& rNext) {
    if (pCurrent == nullptr) {
        return SE_NO_NEXT_ADDRESS;
    }
    if (pCurrent->m_strAddress.IsEmpty()) {
        rNext = *pCurrent;
    }
    if (!pCurrent->IsAutoIncrementable()) {
        return SE_NO_NEXT_ADDRESS;
    }
    return static_cast<DWORD>(pCurrent->GetNextAddress(rNext));
}

DWORD CProtocol::GetNextDeviceAddress(CRemoteAddress* pCurrent, CRemoteAddress& rNext) {
    GetNextRemoteAddress(pCurrent, rNext);
    return SE_NO_ERROR;
}

DWORD CProtocol::ValidateRemoteAddress(CRemoteAddress* pAddress) {
    return pAddress ? static_cast<DWORD>(pAddress->Validate()) : static_cast<DWORD>(EDF_FAILED);
}

DWORD CProtocol::ValidateDeviceAddress(CRemoteAddress* pAddress) {
    return pAddress ? static_cast<DWORD>(pAddress->Validate()) : static_cast<DWORD>(EDF_FAILED);
}

DWORD CProtocol::ValidateAdditionalParameters(CRemoteAddress*, WORD, int, int) {
    return SE_NO_ERROR;
}

DWORD CProtocol::GetMaxBlockSize(CRemoteAddress*) {
    return 0;
}

CEDFFormat* CProtocol::GetEDFFormatRemote() {
    return &m_EDFFormatRemote;
}

CEDFFormat* CProtocol::GetEDFFormatDevice() {
    return &m_EDFFormatDevice;
}

CString CProtocol::TableName() {
    CString name("XXXX");
    ModuleLoadString(&name, IDS_BASE_TABLE_NAME, AfxGetResourceHandle());
    return name;
}

void CProtocol::GetProtocolTables(CStringArray* pTables) {
    if (pTables) {
        pTables->Add(TableName());
    }
}

CString CProtocol::GetTableFromAddress(CRemoteAddress*) {
    return TableName();
}

void CProtocol::SendLogMessage(CString* pText, DWORD dwLevel) {
    QZLogMessage(dwLevel, pText ? pText->GetString() : "");
}
