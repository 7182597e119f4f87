#include "kelvara/transport/serial/ComPort.h"

#include "kelvara/buffer/Combuf.h"
#include "kelvara/framework/Ui.h"
#include "kelvara/platform/SerialDevice.h"
#include "kelvara/platform/SystemError.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/sibling/FlowProperties.h"
#include "kelvara/sibling/PortProperties.h"
#include "kelvara/sibling/TimingProperties.h"

using kelvara::platform::CommSettings;
using kelvara::platform::CommStopBits;
using kelvara::platform::CommTimeouts;
using kelvara::platform::DtrControl;
using kelvara::platform::LineParity;
using kelvara::platform::RtsControl;

namespace {

constexpr DWORD kInputQueueSize = 400;
constexpr DWORD kOutputQueueSize = 4096;
constexpr DWORD kWriteTimeoutMs = 1000;
constexpr DWORD kPurgeAll = kelvara::platform::kPurgeTxAbort | kelvara::platform::kPurgeRxAbort |
                            kelvara::platform::kPurgeTxClear | kelvara::platform::kPurgeRxClear;

// The rates the port runs; with each, the text that reports a line running
// it against a record that says otherwise.
struct BaudRate {
    DWORD dwRate;
    const char* pszChanged;
};

constexpr BaudRate kBaudRates[] = {
    {110, "Baud rate has changed from %d to 110"},
    {300, "Baud rate has changed from %d to 300"},
    {600, "Baud rate has changed from %d to 600"},
    {1200, "Baud rate has changed from %d to 1200"},
    {2400, "Baud rate has changed from %d to 2400"},
    {4800, "Baud rate has changed from %d to 4800"},
    {9600, "Baud rate has changed from %d to 9600"},
    {14400, "Baud rate has changed from %d to 14400"},
    {19200, "Baud rate has changed from %d to 19200"},
    {38400, "Baud rate has changed from %d to 38400"},
    {56000, "Baud rate has changed from %d to 56000"},
    {57600, "Baud rate has changed from %d to 57600"},
    {115200, "Baud rate has changed from %d to 115200"},
    {128000, "Baud rate has changed from %d to 128000"},
    {256000, "Baud rate has changed from %d to 256000"},
};

const BaudRate* FindBaudRate(DWORD dwRate) {
    for (const BaudRate& rate : kBaudRates) {
        if (rate.dwRate == dwRate) {
            return &rate;
        }
    }
    return nullptr;
}

DWORD SupportedBaudRate(DWORD dwRate) {
    return FindBaudRate(dwRate) ? dwRate : 9600;
}

DtrControl DtrFromRecord(LONG nDtr) {
    switch (nDtr) {
        case CFlowProperties::DTR_ENABLE:
            return DtrControl::Enable;
        case CFlowProperties::DTR_HANDSHAKE:
            return DtrControl::Handshake;
        default:
            return DtrControl::Disable;
    }
}

RtsControl RtsFromRecord(LONG nRts) {
    switch (nRts) {
        case CFlowProperties::RTS_ENABLE:
            return RtsControl::Enable;
        case CFlowProperties::RTS_HANDSHAKE:
            return RtsControl::Handshake;
        case CFlowProperties::RTS_TOGGLE:
            return RtsControl::Toggle;
        default:
            return RtsControl::Disable;
    }
}

LineParity ParityFromRecord(LONG nParity) {
    switch (nParity) {
        case CPortProperties::PARITY_EVEN:
            return LineParity::Even;
        case CPortProperties::PARITY_ODD:
            return LineParity::Odd;
        default:
            return LineParity::None;
    }
}

// The read and write time-outs the port runs with; the read total constant
// is the one setting that varies.
CommTimeouts PortTimeouts(DWORD dwReadTimeout) {
    CommTimeouts t;
    t.dwReadInterval = 0;
    t.dwReadTotalMultiplier = 0;
    t.dwReadTotalConstant = dwReadTimeout;
    t.dwWriteTotalMultiplier = 0;
    t.dwWriteTotalConstant = kWriteTimeoutMs;
    return t;
}

}  // namespace

CComPort::CComPort(const CPortProperties* pPortProperties, const CFlowProperties* pFlowProperties,
                   const CTimingProperties* pTimingProperties, CProtocol* pProtocol)
    : CComObject(pPortProperties ? pPortProperties->m_wPortNumber : 0, pProtocol),
      m_pPortProperties(pPortProperties),
      m_pFlowProperties(pFlowProperties),
      m_pTimingProperties(pTimingProperties) {}

CComPort::~CComPort() = default;

void CComPort::AssertValid() const {}

// ---------------------------------------------------------------- Open

DWORD CComPort::Open() {
    m_bConnected.store(0, std::memory_order_relaxed);
    if (m_pPortProperties == nullptr) {
        // No system call failed: there is no reason of the system to log.
        return SE_COM_OPEN_FAILED;
    }
    m_strDevicePath.Format("\\\\.\\COM%d", static_cast<int>(m_pPortProperties->m_wPortNumber));
    // A device left open by an earlier Open would otherwise lock this one out.
    m_hComm.reset();
    m_hComm = kelvara::platform::OpenSerialDevice(m_strDevicePath.GetString());
    if (m_hComm && m_hComm->SetEventMask(kelvara::platform::kEventRxChar) &&
        m_hComm->SetQueueSizes(kInputQueueSize, kOutputQueueSize)) {
        m_bConnected.store(1, std::memory_order_relaxed);
        GetControlLineState(COMPORT_SET_DTR);
    }
    if (IsConnected()) {
        return SE_NO_ERROR;
    }
    OutputSystemMessage();
    return SE_COM_OPEN_FAILED;
}

// ---------------------------------------------------------------- Init

DWORD CComPort::Init() {
    if (m_pPortProperties == nullptr || m_pFlowProperties == nullptr) {
        return SE_COM_INIT_FAILED;
    }
    SetInitialTimeouts();
    if (!ApplyLineSettings()) {
        OutputSystemMessage();
        return SE_COM_INIT_FAILED;
    }
    PurgeBothDirections();
    if (m_pFlowProperties->m_bFlowControlEnabled) {
        GetControlLineState(COMPORT_SET_RTS);
    }
    return SE_NO_ERROR;
}

// Like a failed call, a missing timing record leaves the time-outs as they
// were; Init goes on either way.
bool CComPort::SetInitialTimeouts() {
    return m_hComm && m_pTimingProperties &&
           m_hComm->SetTimeouts(PortTimeouts(m_pTimingProperties->m_dwTimeout));
}

bool CComPort::HasDevice() const {
    if (!m_hComm) {
        return kelvara::platform::FailWith(kelvara::platform::ErrorCategory::BadHandle);
    }
    return true;
}

// Reads the settings in force, changes those the records decide and leaves
// the rest as read.
bool CComPort::ApplyLineSettings() {
    CommSettings s;
    if (!HasDevice() || !m_hComm->GetSettings(&s)) {
        return false;
    }
    s.dwBaudRate = SupportedBaudRate(m_pPortProperties->m_dwBaudRate);
    s.bBinary = true;
    s.bParity = (m_pPortProperties->m_bParityEnabled & 1) != 0;
    s.bOutxCtsFlow = (m_pFlowProperties->m_bFlowControlEnabled & 1) != 0;
    s.bOutxDsrFlow = false;
    s.dtrControl = DtrFromRecord(m_pFlowProperties->m_DTRControl);
    s.rtsControl = RtsFromRecord(m_pFlowProperties->m_RTSControl);
    s.bOutX = false;
    s.bInX = false;
    s.bAbortOnError = true;
    s.wXonLim = 100;
    s.wXoffLim = 100;
    s.byByteSize = static_cast<std::uint8_t>(m_pPortProperties->m_wDataBits & 0xFF);
    s.parity = ParityFromRecord(m_pPortProperties->m_Parity);
    s.stopBits = m_pPortProperties->m_StopBits == CPortProperties::STOPBITS_TWO ? CommStopBits::Two
                                                                                : CommStopBits::One;
    s.byXonChar = 0x11;
    s.byXoffChar = 0x13;
    return m_hComm->SetSettings(s);
}

void CComPort::PurgeBothDirections() {
    if (m_hComm) {
        m_hComm->Purge(kPurgeAll);
    }
}

// ---------------------------------------------------------------- Read

DWORD CComPort::Read(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats) {
    if (!IsConnected() || !m_hComm) {
        return SE_COM_NOT_CONNECTED;
    }
    if (pBuffer == nullptr || dwCount > COMPORT_MAX_READ_COUNT) {
        return SE_COM_READ_FAILED;
    }
    pBuffer->SetSize(static_cast<int>(dwCount));
    std::uint32_t dwErrors = 0;
    m_hComm->ClearError(&dwErrors);
    std::uint32_t dwRead = 0;
    const bool bReadOk = m_hComm->Read(pBuffer->GetData(), dwCount, &dwRead);
    const DWORD dwResult = ReadResult(bReadOk, dwRead, dwCount);
    if (pStats) {
        pStats->AddBytesIn(dwRead);
        if (dwRead > 0) {
            pStats->AddToCommsLog(pBuffer, true);
        }
    }
    return dwResult;
}

DWORD CComPort::ReadResult(bool bReadOk, DWORD dwRead, DWORD dwCount) const {
    if (bReadOk) {
        return dwRead == dwCount ? SE_NO_ERROR : SE_TIMEOUT;
    }
    return kelvara::platform::LastErrorCategory() == kelvara::platform::ErrorCategory::TimedOut
               ? SE_TIMEOUT
               : SE_COM_READ_FAILED;
}

// ---------------------------------------------------------------- Write

DWORD CComPort::Write(CCombuf* pBuffer, CCommsStats* pStats) {
    DWORD dwResult = SE_NO_ERROR;
    std::uint32_t dwWritten = 0;
    if (!IsConnected() || !m_hComm) {
        dwResult = SE_COM_NOT_CONNECTED;
    } else if (pBuffer == nullptr) {
        dwResult = SE_COM_WRITE_FAILED;
    } else if (!m_hComm->Write(pBuffer->GetData(), static_cast<DWORD>(pBuffer->GetSize()),
                               &dwWritten)) {
        std::uint32_t dwErrors = 0;
        m_hComm->ClearError(&dwErrors);
        dwResult = SE_COM_WRITE_FAILED;
    }
    if (pStats) {
        pStats->AddBytesOut(dwWritten);
        if (dwWritten > 0) {
            pStats->AddToCommsLog(pBuffer, false);
        }
    }
    return dwResult;
}

// ---------------------------------------------------------------- Poll

DWORD CComPort::Poll(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats, DWORD dwTimeout) {
    SetPollTimeout(dwTimeout);
    return Read(pBuffer, dwCount, pStats);
}

void CComPort::SetPollTimeout(DWORD dwTimeout) {
    if (!m_hComm) {
        return;
    }
    CommTimeouts current;
    m_hComm->GetTimeouts(&current);
    if (current.dwReadTotalConstant != dwTimeout) {
        m_hComm->SetTimeouts(PortTimeouts(dwTimeout));
    }
}

// ---------------------------------------------------------------- Clear, Hangup

DWORD CComPort::Clear() {
    if (m_hComm) {
        std::uint32_t dwErrors = 0;
        m_hComm->ClearError(&dwErrors);
    }
    PurgeBothDirections();
    return SE_NO_ERROR;
}

DWORD CComPort::Hangup() {
    Clear();
    if (m_pFlowProperties && m_pFlowProperties->m_bFlowControlEnabled &&
        GetControlLineState(COMPORT_CLEAR_RTS) != SE_NO_ERROR) {
        return SE_COM_HANGUP_FAILED;
    }
    return SE_NO_ERROR;
}

// ---------------------------------------------------------------- Control lines

DWORD CComPort::GetControlLineState(DWORD dwFunction) {
    CommSettings s;
    if (!HasDevice() || !m_hComm->GetSettings(&s)) {
        OutputSystemMessage();
        return SE_COM_CONTROL_LINE_FAILED;
    }
    if (!m_hComm->ExtendedFunction(dwFunction)) {
        OutputSystemMessage();
        return SE_COM_CONTROL_LINE_FAILED;
    }
    return SE_NO_ERROR;
}

// ---------------------------------------------------------------- Close

DWORD CComPort::Close() {
    m_bConnected.store(0, std::memory_order_relaxed);
    if (m_hComm) {
        m_hComm->SetEventMask(0);
    }
    GetControlLineState(COMPORT_CLEAR_DTR);
    PurgeBothDirections();
    const bool bClosed = HasDevice() && m_hComm->Close();
    if (!bClosed) {
        OutputSystemMessage();
    }
    m_hComm.reset();
    return bClosed ? SE_NO_ERROR : SE_COM_CLOSE_FAILED;
}

// ---------------------------------------------------------------- Settings confirmation

namespace {

// Shows one difference; the checks go on after it.
class SettingsReport {
public:
    void Show(const char* pszText) {
        AfxMessageBox(pszText, MB_OK, 0);
        m_bAgreed = false;
    }
    BOOL Agreed() const { return m_bAgreed ? 1 : 0; }

private:
    bool m_bAgreed = true;
};

void CheckTimeout(SettingsReport& r, DWORD dwRecord, DWORD dwLine) {
    if (dwLine != dwRecord) {
        r.Show(FormatString("Timeout has changed from %d to %d", static_cast<int>(dwRecord),
                            static_cast<int>(dwLine)));
    }
}

void CheckParityEnabled(SettingsReport& r, BOOL bRecord, bool bLine) {
    if ((bLine ? 1 : 0) != bRecord) {
        r.Show("Parity enabled setting has changed");
    }
}

void CheckBaudRate(SettingsReport& r, DWORD dwRecord, DWORD dwLine) {
    const BaudRate* pLine = FindBaudRate(dwLine);
    if (pLine && dwRecord != dwLine) {
        r.Show(FormatString(pLine->pszChanged, static_cast<int>(dwRecord)));
    }
}

const char* ParityChange(LONG nRecord, LineParity line) {
    switch (line) {
        case LineParity::None:
            if (nRecord == CPortProperties::PARITY_EVEN) {
                return "Parity has changed from even to none";
            }
            if (nRecord == CPortProperties::PARITY_ODD) {
                return "Parity has changed from odd to none";
            }
            return nullptr;
        case LineParity::Odd:
            if (nRecord == CPortProperties::PARITY_NONE) {
                return "Parity has changed from none to odd";
            }
            if (nRecord == CPortProperties::PARITY_EVEN) {
                return "Parity has changed from even to odd";
            }
            return nullptr;
        case LineParity::Even:
            if (nRecord == CPortProperties::PARITY_NONE) {
                return "Parity has changed from none to even";
            }
            if (nRecord == CPortProperties::PARITY_ODD) {
                return "Parity has changed from odd to even";
            }
            return nullptr;
        default:
            return nullptr;
    }
}

void CheckParity(SettingsReport& r, LONG nRecord, LineParity line) {
    if (const char* pszText = ParityChange(nRecord, line)) {
        r.Show(pszText);
    }
}

void CheckStopBits(SettingsReport& r, LONG nRecord, CommStopBits line) {
    if (line == CommStopBits::One && nRecord != CPortProperties::STOPBITS_ONE) {
        r.Show("Stop bits has changed from 2 to 1");
    } else if (line == CommStopBits::Two && nRecord != CPortProperties::STOPBITS_TWO) {
        r.Show("Stop bits has changed from 1 to 2");
    }
}

void CheckDataBits(SettingsReport& r, WORD wRecord, std::uint8_t byLine) {
    if ((wRecord & 0xFF) != byLine) {
        r.Show(FormatString("Data bits has changed from %d to %d", static_cast<int>(wRecord),
                            static_cast<int>(byLine)));
    }
}

void CheckFlowControl(SettingsReport& r, BOOL bRecord, bool bLine) {
    if ((bLine ? 1 : 0) != bRecord) {
        r.Show("Flow control enabled setting has changed");
    }
}

// Indexed [line mode][record mode]; the diagonal agrees.
constexpr const char* kRtsChanges[4][4] = {
    {nullptr, "RTS control setting has changed from enable to disable",
     "RTS control setting has changed from handshake to disable",
     "RTS control setting has changed from toggle to disable"},
    {"RTS control setting has changed from disable to enable", nullptr,
     "RTS control setting has changed from handshake to enable",
     "RTS control setting has changed from toggle to enable"},
    {"RTS control setting has changed from disable to handshake",
     "RTS control setting has changed from enable to handshake", nullptr,
     "RTS control setting has changed from toggle to handshake"},
    {"RTS control setting has changed from disable to toggle",
     "RTS control setting has changed from enable to toggle",
     "RTS control setting has changed from handshake to toggle", nullptr},
};

constexpr const char* kDtrChanges[3][3] = {
    {nullptr, "DTR control setting has changed from enable to disable",
     "DTR control setting has changed from handshake to disable"},
    {"DTR control setting has changed from disable to enable", nullptr,
     "DTR control setting has changed from handshake to enable"},
    {"DTR control setting has changed from disable to handshake",
     "DTR control setting has changed from enable to handshake", nullptr},
};

void CheckRtsControl(SettingsReport& r, LONG nRecord, RtsControl line) {
    const auto nLine = static_cast<int>(line);
    if (nRecord >= 0 && nRecord <= 3 && nLine <= 3 && kRtsChanges[nLine][nRecord]) {
        r.Show(kRtsChanges[nLine][nRecord]);
    }
}

void CheckDtrControl(SettingsReport& r, LONG nRecord, DtrControl line) {
    const auto nLine = static_cast<int>(line);
    if (nRecord >= 0 && nRecord <= 2 && nLine <= 2 && kDtrChanges[nLine][nRecord]) {
        r.Show(kDtrChanges[nLine][nRecord]);
    }
}

}  // namespace

BOOL CComPort::ConfirmPortSettings() {
    if (m_pPortProperties == nullptr || m_pFlowProperties == nullptr ||
        m_pTimingProperties == nullptr) {
        // Nothing to compare the line with: nothing is confirmed.
        return 0;
    }
    CommTimeouts timeouts;
    CommSettings line;
    if (m_hComm) {
        m_hComm->GetTimeouts(&timeouts);
        m_hComm->GetSettings(&line);
    }
    const CPortProperties& port = *m_pPortProperties;
    const CFlowProperties& flow = *m_pFlowProperties;
    SettingsReport report;
    CheckTimeout(report, m_pTimingProperties->m_dwTimeout, timeouts.dwReadTotalConstant);
    CheckParityEnabled(report, port.m_bParityEnabled, line.bParity);
    CheckBaudRate(report, port.m_dwBaudRate, line.dwBaudRate);
    CheckParity(report, port.m_Parity, line.parity);
    CheckStopBits(report, port.m_StopBits, line.stopBits);
    CheckDataBits(report, port.m_wDataBits, line.byByteSize);
    CheckFlowControl(report, flow.m_bFlowControlEnabled, line.bOutxCtsFlow);
    CheckRtsControl(report, flow.m_RTSControl, line.rtsControl);
    CheckDtrControl(report, flow.m_DTRControl, line.dtrControl);
    return report.Agreed();
}

// ---------------------------------------------------------------- Device mapping

void CComPort::MapDevice(WORD wPortNumber, const char* pszDevice) {
    if (pszDevice == nullptr) {
        kelvara::platform::RestoreComPortDefault(wPortNumber);
    } else if (*pszDevice == '\0') {
        kelvara::platform::UnmapComPort(wPortNumber);
    } else {
        kelvara::platform::MapComPort(wPortNumber, pszDevice);
    }
}

CString CComPort::GetMappedDevice(WORD wPortNumber) {
    const std::optional<std::string> device = kelvara::platform::ComPortDevice(wPortNumber);
    return device ? CString(device->c_str()) : CString();
}
