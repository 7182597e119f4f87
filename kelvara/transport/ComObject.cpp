#include "kelvara/transport/ComObject.h"

#include "kelvara/platform/SystemError.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/protocol/Protocol.h"
#include "kelvara/resources/StringTable.h"
#include "kelvara/sibling/QZLog.h"
#include "kelvara/sibling/Utility.h"

CComObject::CComObject(WORD wPortNumber, CProtocol* pProtocol)
    : m_wPortNumber(wPortNumber), m_pProtocol(pProtocol) {}

CComObject::~CComObject() = default;

DWORD CComObject::Open() {
    return COMOBJECT_NOT_IMPLEMENTED;
}

DWORD CComObject::Close() {
    return COMOBJECT_NOT_IMPLEMENTED;
}

DWORD CComObject::Read(CByteArray*, DWORD) {
    return COMOBJECT_NOT_IMPLEMENTED;
}

DWORD CComObject::Write(CByteArray*) {
    return COMOBJECT_NOT_IMPLEMENTED;
}

void CComObject::OutputSystemMessage() {
    const int nError = kelvara::platform::LastSystemError();
    if (m_pProtocol == nullptr) {
        return;
    }
    const std::string strSystemText = kelvara::platform::SystemErrorText(nError);
    CString strFormat;
    ModuleLoadString(&strFormat, IDS_SYSTEM_ERROR_FORMAT, AfxGetResourceHandle());
    const CString strPortName = m_pProtocol->GetPortName();
    CString strMessage;
    strMessage.Format(strFormat, strPortName.GetString(), nError, strSystemText.c_str());
    m_pProtocol->SendLogMessage(&strMessage, QZLOG_LEVEL_SYSTEM_ERROR);
}
