#include "kelvara/platform/FakeSerialDevice.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

class FakeSerialLine final : public SerialLine {
public:
    explicit FakeSerialLine(std::shared_ptr<FakeSerialDevice> pDevice)
        : m_pDevice(std::move(pDevice)) {}
    ~FakeSerialLine() override {
        if (!m_bClosed) {
            m_pDevice->m_bOpen = false;
        }
    }
    FakeSerialLine(const FakeSerialLine&) = delete;
    FakeSerialLine& operator=(const FakeSerialLine&) = delete;

    bool SetEventMask(std::uint32_t dwMask) override {
        return Enter(Call::SetEventMask) && Store(Device().m_dwEventMask, dwMask);
    }
    bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) override {
        if (!Enter(Call::SetQueueSizes)) {
            return false;
        }
        Device().m_dwInputQueue = dwInput;
        Device().m_dwOutputQueue = dwOutput;
        return true;
    }
    bool GetTimeouts(CommTimeouts* pTimeouts) override {
        return Enter(Call::GetTimeouts) && Store(*pTimeouts, Device().m_timeouts);
    }
    bool SetTimeouts(const CommTimeouts& timeouts) override {
        return Enter(Call::SetTimeouts) && Store(Device().m_timeouts, timeouts);
    }
    bool GetAttributes(LineAttributes* pAttributes) override {
        return Enter(Call::GetAttributes) && Store(*pAttributes, Device().m_attributes);
    }
    bool SetAttributes(const LineAttributes& attributes) override {
        if (!Enter(Call::SetAttributes)) {
            return false;
        }
        if (attributes.dwBaudRate == 0 || attributes.byDataBits < 5 || attributes.byDataBits > 8) {
            return FailWith(ErrorCategory::Invalid);
        }
        FakeSerialDevice& d = Device();
        d.m_attributes = attributes;
        if (d.m_bForceEightBitsNoParity) {
            d.m_attributes.byDataBits = 8;
            d.m_attributes.parity = LineParity::None;
        }
        return true;
    }
    bool SetModemLines(unsigned nLines, bool bRaise) override {
        if (!Enter(Call::SetModemLines)) {
            return false;
        }
        FakeSerialDevice& d = Device();
        if (!d.m_bHasModemLines) {
            return FailWith(ErrorCategory::NotSupported);
        }
        d.m_nModemLines = bRaise ? (d.m_nModemLines | nLines) : (d.m_nModemLines & ~nLines);
        const char* pszSign = bRaise ? "+" : "-";
        if (nLines & kLineRTS) {
            d.m_events.push_back(std::string("RTS") + pszSign);
        }
        if (nLines & kLineDTR) {
            d.m_events.push_back(std::string("DTR") + pszSign);
        }
        return true;
    }
    bool GetRs485(bool* pEnabled) override {
        if (!Enter(Call::GetRs485)) {
            return false;
        }
        if (!Device().m_bHasRs485) {
            return FailWith(ErrorCategory::NotSupported);
        }
        *pEnabled = Device().m_bRs485;
        return true;
    }
    bool SetRs485(bool bEnable) override {
        if (!Enter(Call::SetRs485)) {
            return false;
        }
        if (!Device().m_bHasRs485) {
            return FailWith(ErrorCategory::NotSupported);
        }
        Device().m_bRs485 = bEnable;
        Device().m_events.push_back(bEnable ? "rs485 on" : "rs485 off");
        return true;
    }
    bool SetBreak(bool bOn) override {
        return Enter(Call::SetBreak) && Store(Device().m_bBreak, bOn);
    }
    bool SuspendOutput(bool bSuspend) override {
        return Enter(Call::SuspendOutput) && Store(Device().m_bOutputSuspended, bSuspend);
    }
    bool Flush(bool bInput, bool bOutput) override {
        if (!Enter(Call::Flush)) {
            return false;
        }
        if (bInput) {
            Device().m_input.clear();
            Device().m_events.push_back("flush in");
        }
        if (bOutput) {
            Device().m_events.push_back("flush out");
        }
        return true;
    }
    bool GetErrorCounts(LineErrorCounts* pCounts) override {
        return Enter(Call::GetErrorCounts) && Store(*pCounts, Device().m_errors);
    }

    bool ReadSome(void* pData, std::size_t nSize, std::size_t* pRead) override {
        *pRead = 0;
        if (!Enter(Call::Read)) {
            return false;
        }
        FakeSerialDevice& d = Device();
        const std::size_t n = std::min(nSize, d.m_input.size());
        if (n == 0 && nSize > 0 && d.m_bVanished) {
            return FailWith(ErrorCategory::Other);
        }
        if (n > 0) {
            d.TakePendingErrors();
        }
        std::copy_n(d.m_input.begin(), n, static_cast<std::uint8_t*>(pData));
        d.m_input.erase(d.m_input.begin(), d.m_input.begin() + static_cast<std::ptrdiff_t>(n));
        *pRead = n;
        return true;
    }

    bool WriteSome(const void* pData, std::size_t nSize, std::size_t* pWritten) override {
        *pWritten = 0;
        if (!Enter(Call::Write)) {
            return false;
        }
        FakeSerialDevice& d = Device();
        if (d.m_bVanished) {
            return FailWith(ErrorCategory::Other);
        }
        std::size_t n = nSize;
        if (d.m_nWriteRoom >= 0) {
            n = std::min(n, static_cast<std::size_t>(d.m_nWriteRoom));
            d.m_nWriteRoom -= static_cast<long>(n);
        }
        if (n == 0) {
            return true;
        }
        const auto* p = static_cast<const std::uint8_t*>(pData);
        const std::vector<std::uint8_t> bytes(p, p + n);
        d.m_sent.insert(d.m_sent.end(), bytes.begin(), bytes.end());
        d.m_events.push_back("write " + std::to_string(n));
        if (d.m_responder) {
            d.Receive(d.m_responder(bytes));
        }
        *pWritten = n;
        return true;
    }

    WaitResult WaitReadable(int nTimeoutMs) override {
        if (!Enter(Call::WaitReadable)) {
            return WaitResult::Failed;
        }
        FakeSerialDevice& d = Device();
        if (!d.m_input.empty() || d.m_bVanished) {
            return WaitResult::Ready;
        }
        d.m_readWaits.push_back(nTimeoutMs);
        if (nTimeoutMs < 0 || nTimeoutMs == INT_MAX) {
            FailWith(ErrorCategory::Invalid);
            return WaitResult::Failed;
        }
        return WaitResult::TimedOut;
    }
    WaitResult WaitWritable(int) override {
        if (!Enter(Call::WaitWritable)) {
            return WaitResult::Failed;
        }
        const FakeSerialDevice& d = Device();
        return d.m_nWriteRoom != 0 || d.m_bVanished ? WaitResult::Ready : WaitResult::TimedOut;
    }
    WaitResult Drain(int) override {
        if (!Enter(Call::Drain)) {
            return WaitResult::Failed;
        }
        Device().m_events.push_back("drain");
        return WaitResult::Ready;
    }

    bool Close() override {
        if (m_bClosed) {
            return FailWith(ErrorCategory::BadHandle);
        }
        const bool bResult = m_pDevice->Enter(Call::Close);
        m_bClosed = true;
        m_pDevice->m_bOpen = false;
        return bResult;
    }

private:
    using Call = FakeSerialDevice::Call;

    FakeSerialDevice& Device() { return *m_pDevice; }

    bool Enter(Call call) {
        if (m_bClosed) {
            return FailWith(ErrorCategory::BadHandle);
        }
        return m_pDevice->Enter(call);
    }

    // Keeps a value as the device would, for a call that went through.
    template <typename T>
    static bool Store(T& to, const T& from) {
        to = from;
        return true;
    }

    std::shared_ptr<FakeSerialDevice> m_pDevice;
    bool m_bClosed = false;
};

SerialDeviceOpener FakeSerialDevice::Opener() {
    std::weak_ptr<FakeSerialDevice> weak = weak_from_this();
    return [weak](const std::string& strDevice) -> std::unique_ptr<SerialDevice> {
        const std::shared_ptr<FakeSerialDevice> pDevice = weak.lock();
        if (!pDevice) {
            FailWith(ErrorCategory::NotFound);
            return nullptr;
        }
        if (!pDevice->Enter(Call::Open)) {
            return nullptr;
        }
        if (pDevice->m_bOpen) {
            FailWith(ErrorCategory::Busy);
            return nullptr;
        }
        pDevice->m_bOpen = true;
        pDevice->m_strOpenedDevice = strDevice;
        return std::make_unique<LineSerialDevice>(std::make_unique<FakeSerialLine>(pDevice));
    };
}

void FakeSerialDevice::Fail(Call call, ErrorCategory error, int nSkip, int nCount) {
    m_scripts[call] = Script{error, nSkip, nCount};
}

void FakeSerialDevice::Heal(Call call) {
    m_scripts.erase(call);
}

int FakeSerialDevice::CallCount(Call call) const {
    const auto it = m_calls.find(call);
    return it == m_calls.end() ? 0 : it->second;
}

void FakeSerialDevice::Receive(const std::vector<std::uint8_t>& bytes) {
    m_input.insert(m_input.end(), bytes.begin(), bytes.end());
}

void FakeSerialDevice::SetResponder(
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> fn) {
    m_responder = std::move(fn);
}

namespace {

void Add(LineErrorCounts& to, const LineErrorCounts& counts) {
    to.dwFrame += counts.dwFrame;
    to.dwOverrun += counts.dwOverrun;
    to.dwParity += counts.dwParity;
    to.dwBreak += counts.dwBreak;
    to.dwBufferOverrun += counts.dwBufferOverrun;
}

}  // namespace

void FakeSerialDevice::AddLineErrors(const LineErrorCounts& counts) {
    Add(m_pendingErrors, counts);
}

void FakeSerialDevice::TakePendingErrors() {
    Add(m_errors, m_pendingErrors);
    m_pendingErrors = LineErrorCounts();
}

bool FakeSerialDevice::Enter(Call call) {
    ++m_calls[call];
    const auto it = m_scripts.find(call);
    if (it == m_scripts.end() || it->second.nCount == 0) {
        return true;
    }
    Script& s = it->second;
    if (s.nSkip > 0) {
        --s.nSkip;
        return true;
    }
    if (s.nCount > 0) {
        --s.nCount;
    }
    return FailWith(s.error);
}

}  // namespace kelvara::platform
