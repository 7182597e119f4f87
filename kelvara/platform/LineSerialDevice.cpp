#include "kelvara/platform/LineSerialDevice.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>

#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxTimeout = 0xFFFFFFFFu;

// A point in time that a read or write may not pass; none means no limit.
class Deadline {
public:
    // A limit beyond what the clock can count (multiplier x bytes +
    // constant of the time-out record reaches 2^64 ms) is the clock's last
    // point in time: as good as none, without overflowing on the way.
    static Deadline After(std::uint64_t nMilliseconds) {
        const Clock::time_point now = Clock::now();
        const auto room =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
        Deadline d;
        if (room.count() <= 0 || nMilliseconds >= static_cast<std::uint64_t>(room.count())) {
            d.m_at = Clock::time_point::max();
        } else {
            d.m_at = now + std::chrono::milliseconds(static_cast<std::int64_t>(nMilliseconds));
        }
        return d;
    }
    static Deadline Never() { return Deadline(); }

    bool IsSet() const { return m_at.has_value(); }
    // Milliseconds left, rounded up, at least 0.
    std::int64_t Left() const {
        const auto left = *m_at - Clock::now();
        if (left <= Clock::duration::zero()) {
            return 0;
        }
        return std::chrono::ceil<std::chrono::milliseconds>(left).count();
    }

private:
    std::optional<Clock::time_point> m_at;
};

// The earlier of two deadlines.
Deadline Earlier(const Deadline& a, const Deadline& b) {
    if (!a.IsSet()) {
        return b;
    }
    if (!b.IsSet()) {
        return a;
    }
    return a.Left() <= b.Left() ? a : b;
}

// A wait for poll(): -1 for no limit, else the milliseconds left, cut to
// what an int holds (*pCut says so: waiting that long is not the end).
int WaitFor(const Deadline& deadline, bool* pCut) {
    *pCut = false;
    if (!deadline.IsSet()) {
        *pCut = true;
        return -1;
    }
    const std::int64_t nLeft = deadline.Left();
    if (nLeft > INT_MAX) {
        *pCut = true;
        return INT_MAX;
    }
    return static_cast<int>(nLeft);
}

// By these the line says it has no such feature (no modem lines, no RS-485
// mode, no error counters), as opposed to a failure.
bool IsUnsupportedFeature() {
    const ErrorCategory category = LastErrorCategory();
    return category == ErrorCategory::NotSupported || category == ErrorCategory::Invalid;
}

// A call that may fail only because the device has no such feature: a line
// without modem lines takes the settings that it can run.
bool Tolerate(bool bResult) {
    return bResult || IsUnsupportedFeature();
}

bool CountsDiffer(const LineErrorCounts& a, const LineErrorCounts& b) {
    return a.dwFrame != b.dwFrame || a.dwOverrun != b.dwOverrun || a.dwParity != b.dwParity ||
           a.dwBreak != b.dwBreak || a.dwBufferOverrun != b.dwBufferOverrun;
}

}  // namespace

LineSerialDevice::LineSerialDevice(std::unique_ptr<SerialLine> pLine) : m_pLine(std::move(pLine)) {
    const int nSaved = LastSystemError();
    if (!m_pLine->GetErrorCounts(&m_lastErrors)) {
        m_bErrorCounts = !IsUnsupportedFeature();
        m_lastErrors = LineErrorCounts();
    }
    SetLastSystemError(nSaved);
}

LineSerialDevice::~LineSerialDevice() = default;

bool LineSerialDevice::Usable() {
    return m_pLine ? true : FailWith(ErrorCategory::BadHandle);
}

bool LineSerialDevice::SetEventMask(std::uint32_t dwMask) {
    return Usable() && m_pLine->SetEventMask(dwMask);
}

bool LineSerialDevice::SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) {
    return Usable() && m_pLine->SetQueueSizes(dwInput, dwOutput);
}

bool LineSerialDevice::GetSettings(CommSettings* pSettings) {
    LineAttributes a;
    if (!Usable() || !m_pLine->GetAttributes(&a)) {
        return false;
    }
    CommSettings s;
    s.dwBaudRate = a.dwBaudRate;
    s.bBinary = true;
    s.bParity = a.bCheckParity;
    s.bOutxCtsFlow = a.bHardwareFlow;
    s.bOutxDsrFlow = false;
    s.dtrControl = m_dtrControl;
    s.rtsControl = RtsControlInForce(a);
    s.bOutX = a.bXonXoffOutput;
    s.bInX = a.bXonXoffInput;
    s.bAbortOnError = m_bAbortOnError;
    s.wXonLim = m_wXonLim;
    s.wXoffLim = m_wXoffLim;
    s.byByteSize = a.byDataBits;
    s.parity = a.parity;
    if (!a.bTwoStopBits) {
        s.stopBits = CommStopBits::One;
    } else {
        s.stopBits = a.byDataBits == 5 ? CommStopBits::OneAndHalf : CommStopBits::Two;
    }
    s.byXonChar = a.byXonChar;
    s.byXoffChar = a.byXoffChar;
    *pSettings = s;
    return true;
}

// The kernel's word first: its RS-485 mode and RTS/CTS flow control drive
// RTS whatever was asked for.
RtsControl LineSerialDevice::RtsControlInForce(const LineAttributes& a) {
    const int nSaved = LastSystemError();
    bool bRs485 = false;
    const bool bKnown = m_pLine->GetRs485(&bRs485);
    SetLastSystemError(nSaved);
    if ((bKnown && bRs485) || m_bToggleRtsOnWrite) {
        return RtsControl::Toggle;
    }
    if (a.bHardwareFlow) {
        return RtsControl::Handshake;
    }
    return m_rtsControl;
}

bool LineSerialDevice::SetSettings(const CommSettings& s) {
    LineAttributes a;
    if (!Usable() || !m_pLine->GetAttributes(&a)) {
        return false;
    }
    a.dwBaudRate = s.dwBaudRate;
    a.byDataBits = s.byByteSize;
    a.parity = s.parity;
    a.bCheckParity = s.bParity;
    a.bTwoStopBits = s.stopBits != CommStopBits::One;
    a.bHardwareFlow = s.bOutxCtsFlow || s.rtsControl == RtsControl::Handshake;
    a.bXonXoffOutput = s.bOutX;
    a.bXonXoffInput = s.bInX;
    a.byXonChar = s.byXonChar;
    a.byXoffChar = s.byXoffChar;
    if (!m_pLine->SetAttributes(a) || !ApplyDtrControl(s.dtrControl) ||
        !ApplyRtsControl(s.rtsControl)) {
        return false;
    }
    m_bAbortOnError = s.bAbortOnError;
    m_wXonLim = s.wXonLim;
    m_wXoffLim = s.wXoffLim;
    return true;
}

// DTR handshake has no counterpart: DTR stays raised, as with enable.
bool LineSerialDevice::ApplyDtrControl(DtrControl control) {
    const bool bRaise = control != DtrControl::Disable;
    if (!Tolerate(m_pLine->SetModemLines(kLineDTR, bRaise))) {
        return false;
    }
    m_dtrControl = bRaise ? DtrControl::Enable : DtrControl::Disable;
    return true;
}

bool LineSerialDevice::ApplyRtsControl(RtsControl control) {
    m_bToggleRtsOnWrite = false;
    if (control == RtsControl::Toggle) {
        if (m_pLine->SetRs485(true)) {
            m_bLineRs485 = true;
            return true;
        }
        if (!IsUnsupportedFeature()) {
            return false;
        }
        // No RS-485 mode: RTS rests low and Write raises it.
        m_bLineRs485 = false;
        m_bToggleRtsOnWrite = true;
        return Tolerate(m_pLine->SetModemLines(kLineRTS, false));
    }
    bool bRs485 = false;
    if (m_pLine->GetRs485(&bRs485) && bRs485 && !m_pLine->SetRs485(false)) {
        return false;
    }
    m_bLineRs485 = false;
    if (control == RtsControl::Handshake) {
        // RTS/CTS flow control (set with the attributes) drives RTS; should
        // the device drop it, RTS stays where the kernel left it.
        m_rtsControl = RtsControl::Enable;
        return true;
    }
    const bool bRaise = control == RtsControl::Enable;
    if (!Tolerate(m_pLine->SetModemLines(kLineRTS, bRaise))) {
        return false;
    }
    m_rtsControl = bRaise ? RtsControl::Enable : RtsControl::Disable;
    return true;
}

bool LineSerialDevice::GetTimeouts(CommTimeouts* pTimeouts) {
    return Usable() && m_pLine->GetTimeouts(pTimeouts);
}

bool LineSerialDevice::SetTimeouts(const CommTimeouts& timeouts) {
    return Usable() && m_pLine->SetTimeouts(timeouts);
}

bool LineSerialDevice::Purge(std::uint32_t dwFlags) {
    return Usable() &&
           m_pLine->Flush((dwFlags & kPurgeRxClear) != 0, (dwFlags & kPurgeTxClear) != 0);
}

bool LineSerialDevice::ClearError(std::uint32_t* pErrors) {
    *pErrors = 0;
    if (!Usable()) {
        return false;
    }
    if (!m_bErrorCounts) {
        return true;
    }
    LineErrorCounts now;
    if (!m_pLine->GetErrorCounts(&now)) {
        if (IsUnsupportedFeature()) {
            m_bErrorCounts = false;
            return true;
        }
        return false;
    }
    if (now.dwBufferOverrun != m_lastErrors.dwBufferOverrun) {
        *pErrors |= kErrorRxOver;
    }
    if (now.dwOverrun != m_lastErrors.dwOverrun) {
        *pErrors |= kErrorOverrun;
    }
    if (now.dwParity != m_lastErrors.dwParity) {
        *pErrors |= kErrorRxParity;
    }
    if (now.dwFrame != m_lastErrors.dwFrame) {
        *pErrors |= kErrorFrame;
    }
    if (now.dwBreak != m_lastErrors.dwBreak) {
        *pErrors |= kErrorBreak;
    }
    m_lastErrors = now;
    return true;
}

// With abort on error, a receive error since the last ClearError stops
// reads and writes.
bool LineSerialDevice::LineErrorPending() {
    if (!m_bAbortOnError || !m_bErrorCounts) {
        return false;
    }
    LineErrorCounts now;
    if (!m_pLine->GetErrorCounts(&now)) {
        m_bErrorCounts = !IsUnsupportedFeature();
        return false;
    }
    return CountsDiffer(now, m_lastErrors);
}

bool LineSerialDevice::Read(void* pData, std::uint32_t dwCount, std::uint32_t* pRead) {
    *pRead = 0;
    CommTimeouts t;
    if (!Usable() || !m_pLine->GetTimeouts(&t)) {
        return false;
    }
    if (LineErrorPending()) {
        return FailWith(ErrorCategory::Aborted);
    }
    const bool bAtOnce = t.dwReadInterval == kMaxTimeout && t.dwReadTotalMultiplier == 0 &&
                         t.dwReadTotalConstant == 0;
    // Any byte ends the read; without one the constant is the limit.
    const bool bFirstByte = t.dwReadInterval == kMaxTimeout &&
                            t.dwReadTotalMultiplier == kMaxTimeout && t.dwReadTotalConstant != 0 &&
                            t.dwReadTotalConstant != kMaxTimeout;
    const bool bInterval = t.dwReadInterval != 0 && t.dwReadInterval != kMaxTimeout;
    Deadline total = Deadline::Never();
    if (bFirstByte) {
        total = Deadline::After(t.dwReadTotalConstant);
    } else if (t.dwReadTotalMultiplier != 0 || t.dwReadTotalConstant != 0) {
        total = Deadline::After(std::uint64_t{t.dwReadTotalMultiplier} * dwCount +
                                t.dwReadTotalConstant);
    }
    Deadline interval = Deadline::Never();

    auto* p = static_cast<std::uint8_t*>(pData);
    std::uint32_t dwDone = 0;
    while (dwDone < dwCount) {
        if (!bAtOnce) {
            bool bCut = false;
            const int nWait = WaitFor(Earlier(total, interval), &bCut);
            if (nWait == 0) {
                break;
            }
            const WaitResult w = m_pLine->WaitReadable(nWait);
            if (w == WaitResult::Failed) {
                *pRead = dwDone;
                return false;
            }
            if (w == WaitResult::TimedOut) {
                if (!bCut) {
                    break;
                }
                continue;
            }
        }
        std::size_t nGot = 0;
        if (!m_pLine->ReadSome(p + dwDone, dwCount - dwDone, &nGot)) {
            *pRead = dwDone;
            return false;
        }
        dwDone += static_cast<std::uint32_t>(nGot);
        if (bAtOnce || (bFirstByte && dwDone > 0)) {
            break;
        }
        if (bInterval && nGot > 0) {
            interval = Deadline::After(t.dwReadInterval);
        }
    }
    *pRead = dwDone;
    return LineErrorPending() ? FailWith(ErrorCategory::Aborted) : true;
}

bool LineSerialDevice::Write(const void* pData, std::uint32_t dwCount, std::uint32_t* pWritten) {
    *pWritten = 0;
    if (!Usable()) {
        return false;
    }
    if (LineErrorPending()) {
        return FailWith(ErrorCategory::Aborted);
    }
    if (dwCount == 0) {
        return true;
    }
    if (!m_bToggleRtsOnWrite) {
        return WriteAll(static_cast<const std::uint8_t*>(pData), dwCount, pWritten);
    }
    // RS-485 without the kernel's help: drive the bus only while the bytes
    // go out, and let go of it even when the write failed.
    if (!Tolerate(m_pLine->SetModemLines(kLineRTS, true))) {
        return false;
    }
    const bool bWritten = WriteAll(static_cast<const std::uint8_t*>(pData), dwCount, pWritten);
    const int nSaved = LastSystemError();
    CommTimeouts t;
    m_pLine->GetTimeouts(&t);
    const std::uint64_t nLimit =
        std::uint64_t{t.dwWriteTotalMultiplier} * dwCount + t.dwWriteTotalConstant;
    m_pLine->Drain(nLimit == 0 || nLimit > INT_MAX ? INT_MAX : static_cast<int>(nLimit));
    const bool bReleased = Tolerate(m_pLine->SetModemLines(kLineRTS, false));
    if (!bWritten) {
        SetLastSystemError(nSaved);
        return false;
    }
    return bReleased;
}

bool LineSerialDevice::WriteAll(const std::uint8_t* p, std::uint32_t dwCount,
                                std::uint32_t* pWritten) {
    CommTimeouts t;
    if (!m_pLine->GetTimeouts(&t)) {
        return false;
    }
    Deadline deadline = Deadline::Never();
    if (t.dwWriteTotalMultiplier != 0 || t.dwWriteTotalConstant != 0) {
        deadline = Deadline::After(std::uint64_t{t.dwWriteTotalMultiplier} * dwCount +
                                   t.dwWriteTotalConstant);
    }
    std::uint32_t dwDone = 0;
    for (;;) {
        std::size_t nPut = 0;
        if (!m_pLine->WriteSome(p + dwDone, dwCount - dwDone, &nPut)) {
            *pWritten = dwDone;
            return false;
        }
        dwDone += static_cast<std::uint32_t>(nPut);
        if (dwDone == dwCount) {
            break;
        }
        bool bCut = false;
        const int nWait = WaitFor(deadline, &bCut);
        if (nWait == 0) {
            break;
        }
        const WaitResult w = m_pLine->WaitWritable(nWait);
        if (w == WaitResult::Failed) {
            *pWritten = dwDone;
            return false;
        }
        if (w == WaitResult::TimedOut && !bCut) {
            break;
        }
    }
    *pWritten = dwDone;
    return true;
}

bool LineSerialDevice::ExtendedFunction(std::uint32_t dwFunction) {
    if (!Usable()) {
        return false;
    }
    switch (dwFunction) {
        case kFunctionSetXoff:
            return m_pLine->SuspendOutput(true);
        case kFunctionSetXon:
            return m_pLine->SuspendOutput(false);
        case kFunctionSetRts:
            return m_pLine->SetModemLines(kLineRTS, true);
        case kFunctionClrRts:
            return m_pLine->SetModemLines(kLineRTS, false);
        case kFunctionSetDtr:
            return m_pLine->SetModemLines(kLineDTR, true);
        case kFunctionClrDtr:
            return m_pLine->SetModemLines(kLineDTR, false);
        case kFunctionResetDev:
            return true;
        case kFunctionSetBreak:
            return m_pLine->SetBreak(true);
        case kFunctionClrBreak:
            return m_pLine->SetBreak(false);
        default:
            return FailWith(ErrorCategory::Invalid);
    }
}

bool LineSerialDevice::Close() {
    if (!Usable()) {
        return false;
    }
    const bool bClosed = m_pLine->Close();
    const int nSaved = LastSystemError();
    m_pLine.reset();
    SetLastSystemError(nSaved);
    return bClosed;
}

}  // namespace kelvara::platform
