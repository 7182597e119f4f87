#include "kelvara/protocol/CommsStats.h"

#include <utility>

namespace {

// A rate as the statistics keep it: computed in double precision from
// unsigned operands and truncated toward zero. Past 2^32 the value keeps
// its low 32 bits, as every counter here wraps.
DWORD Rate(DWORD dwAmount, DWORD dwTotalTime) {
    const double rate = static_cast<double>(dwAmount) * 1000.0 / static_cast<double>(dwTotalTime);
    return static_cast<DWORD>(static_cast<ULONGLONG>(rate));
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

CCommsStats::CCommsStats() {
    ClearAllStatistics();
}

CCommsStats::CCommsStats(const CCommsStats& other) {
    Set(m_dwBlockCount, other.GetBlockCount());
    Set(m_dwTotalBlockExecutionTime, other.GetTotalBlockExecutionTime());
    Set(m_dwAverageBlockExecutionTime, other.GetAverageBlockExecutionTime());
    Set(m_dwBlocksPerSecond, other.GetBlocksPerSecond());
    Set(m_dwBytesPerSecond, other.GetBytesPerSecond());
    Set(m_dwTotalBytesIn, other.GetTotalBytesIn());
    Set(m_dwTotalBytesOut, other.GetTotalBytesOut());
    Set(m_dwStandardErrors, other.GetNumberStandardErrors());
    Set(m_dwDeviceErrors, other.GetNumberDeviceErrors());
    Set(m_dwCRCErrors, other.GetNumberCRCErrors());
    Set(m_dwTimeoutErrors, other.GetNumberTimeoutErrors());
    Set(m_dwRetries, other.GetNumberOfRetries());
    m_strLastError = other.GetLastErrorString();
}

CCommsStats::~CCommsStats() {
    std::lock_guard<CCriticalSection> guard(m_LogLock);
    m_CommsLog.RemoveAll();
}

void CCommsStats::ClearAllStatistics() {
    for (Counter* p : {&m_dwBlockCount, &m_dwTotalBlockExecutionTime,
                       &m_dwAverageBlockExecutionTime, &m_dwBlocksPerSecond, &m_dwBytesPerSecond,
                       &m_dwTotalBytesIn, &m_dwTotalBytesOut, &m_dwStandardErrors,
                       &m_dwDeviceErrors, &m_dwCRCErrors, &m_dwTimeoutErrors, &m_dwRetries}) {
        Set(*p, 0);
    }
    std::lock_guard<std::mutex> guard(m_lastErrorLock);
    m_strLastError.Empty();
}

void CCommsStats::AddBlockExecutionTime(DWORD dwMilliseconds) {
    const DWORD dwCount = m_dwBlockCount.fetch_add(1, std::memory_order_relaxed) + 1;
    const DWORD dwTotal =
        m_dwTotalBlockExecutionTime.fetch_add(dwMilliseconds, std::memory_order_relaxed) +
        dwMilliseconds;
    if (dwCount != 0) {
        Set(m_dwAverageBlockExecutionTime, dwTotal / dwCount);
    }
    if (dwTotal != 0) {
        Set(m_dwBlocksPerSecond, Rate(dwCount, dwTotal));
        UpdateBytesPerSecond(dwTotal);
    }
}

void CCommsStats::AddBytesIn(DWORD dwCount) {
    m_dwTotalBytesIn.fetch_add(dwCount, std::memory_order_relaxed);
    const DWORD dwTotal = GetTotalBlockExecutionTime();
    if (dwTotal != 0) {
        UpdateBytesPerSecond(dwTotal);
    }
}

void CCommsStats::AddBytesOut(DWORD dwCount) {
    m_dwTotalBytesOut.fetch_add(dwCount, std::memory_order_relaxed);
    const DWORD dwTotal = GetTotalBlockExecutionTime();
    if (dwTotal != 0) {
        UpdateBytesPerSecond(dwTotal);
    }
}

void CCommsStats::UpdateBytesPerSecond(DWORD dwTotalTime) {
    // The sum wraps in 32 bits before it is scaled.
    const DWORD dwBytes = static_cast<DWORD>(GetTotalBytesIn() + GetTotalBytesOut());
    Set(m_dwBytesPerSecond, Rate(dwBytes, dwTotalTime));
}

void CCommsStats::IncrementStandardErrors() {
    Increment(m_dwStandardErrors);
}

void CCommsStats::IncrementDeviceErrors() {
    Increment(m_dwDeviceErrors);
}

void CCommsStats::IncrementCRCErrors() {
    Increment(m_dwCRCErrors);
}

void CCommsStats::IncrementRetryCount() {
    Increment(m_dwRetries);
}

void CCommsStats::IncrementTimeoutErrors() {
    Increment(m_dwTimeoutErrors);
    if (IsCommsLogActive()) {
        AppendLine(CString("NR"));
    }
}

void CCommsStats::SetLastError(const char* pszError) {
    CString strError(pszError);
    std::lock_guard<std::mutex> guard(m_lastErrorLock);
    m_strLastError = std::move(strError);
}

CString CCommsStats::GetLastErrorString() const {
    std::lock_guard<std::mutex> guard(m_lastErrorLock);
    return m_strLastError;
}

void CCommsStats::AddToCommsLog(const CByteArray* pData, bool bReceived) {
    if (!IsCommsLogActive() || pData == nullptr || pData->IsEmpty()) {
        return;
    }
    const bool bHex = IsLogAsHex();
    const int nBytes = pData->GetSize();
    std::string line;
    line.reserve(2 + static_cast<size_t>(nBytes) * (bHex ? 3 : 1));
    line += bReceived ? "RX" : "TX";
    for (const BYTE by : *pData) {
        if (bHex) {
            line += kHexDigits[by >> 4];
            line += kHexDigits[by & 0x0F];
            line += ' ';
        } else {
            // isprint of the default locale, without asking the locale.
            line += (by >= 0x20 && by <= 0x7E) ? static_cast<char>(by) : '.';
        }
    }
    AppendLine(CString(std::move(line)));
}

void CCommsStats::AppendLine(CString&& strLine) {
    std::lock_guard<CCriticalSection> guard(m_LogLock);
    m_CommsLog.AddTail(strLine);
}

void CCommsStats::GetFromCommsLog(CString* pLine) {
    if (!IsCommsLogActive() || pLine == nullptr) {
        return;
    }
    std::lock_guard<CCriticalSection> guard(m_LogLock);
    if (!m_CommsLog.IsEmpty()) {
        *pLine = m_CommsLog.RemoveHead();
    }
}

void CCommsStats::ActivateCommsLog(bool bActive) {
    m_bLogActive.store(bActive, std::memory_order_relaxed);
    std::lock_guard<CCriticalSection> guard(m_LogLock);
    m_CommsLog.RemoveAll();
}

int CCommsStats::GetCommsLogCount() {
    std::lock_guard<CCriticalSection> guard(m_LogLock);
    return m_CommsLog.GetCount();
}

void CCommsStats::LogAsHex(bool bHex) {
    m_bLogAsHex.store(bHex, std::memory_order_relaxed);
}
