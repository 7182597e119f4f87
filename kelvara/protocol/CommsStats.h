/** \addtogroup protocol
 @{ */
/// CCommsStats: a driver's statistics and its comms log.
///
/// The counters are updated on the communication path without a lock (as
/// relaxed atomics: a reader may see a rate computed from a slightly older
/// total, but never a torn value). The comms log, a queue of one-line texts
/// oldest first, has its own critical section, so a transport can fill it on
/// one thread while the host drains it on another.
#pragma once

#include <atomic>
#include <mutex>

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Sync.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CCommsStats {
public:
    /// Constructs with the defaults of the class.
    CCommsStats();
    /// Copies the counters and the last error text; the copy's log is empty,
    /// inactive and in text mode, with its own lock.
    CCommsStats(const CCommsStats& other);
    CCommsStats& operator=(const CCommsStats&) = delete;
    ~CCommsStats();

    /// Zeroes the twelve counters and empties the last error text; the log
    /// and its two flags stay as they are.
    void ClearAllStatistics();

    /// Counts one executed block of dwMilliseconds and updates the average
    /// and both rates (the rates only while the total time is not 0).
    void AddBlockExecutionTime(DWORD dwMilliseconds);
    ///@{
    /// Counts bytes received or sent.
    void AddBytesIn(DWORD dwCount);
    void AddBytesOut(DWORD dwCount);
    ///@}

    ///@{
    /// Counts one error or retry.
    void IncrementStandardErrors();
    void IncrementDeviceErrors();
    void IncrementCRCErrors();
    void IncrementRetryCount();
    ///@}
    /// Also logs "NR" (no reply) while the log is active.
    void IncrementTimeoutErrors();

    /// Stores the text of the last error.
    void SetLastError(const char* pszError);
    /// See SetLastError.
    CString GetLastErrorString() const;

    /// Appends "RX" (received) or "TX" and the bytes, in hex ("0D " per byte)
    /// or as text (printable characters, else '.'), while the log is active;
    /// an empty or null array adds nothing.
    void AddToCommsLog(const CByteArray* pData, bool bReceived);
    /// Takes the oldest line into *pLine while the log is active; *pLine is
    /// left as it was when there is none.
    void GetFromCommsLog(CString* pLine);
    /// Switches the log on or off; either way it starts empty.
    void ActivateCommsLog(bool bActive);
    /// Number of lines in the log.
    int GetCommsLogCount();
    /// Logs data as hex instead of text.
    void LogAsHex(bool bHex);

    /// See ActivateCommsLog.
    BOOL IsCommsLogActive() const { return m_bLogActive.load(std::memory_order_relaxed); }
    /// See LogAsHex.
    BOOL IsLogAsHex() const { return m_bLogAsHex.load(std::memory_order_relaxed); }

    ///@{
    /// The counters and rates.
    DWORD GetBlockCount() const { return Get(m_dwBlockCount); }
    DWORD GetTotalBlockExecutionTime() const { return Get(m_dwTotalBlockExecutionTime); }
    DWORD GetAverageBlockExecutionTime() const { return Get(m_dwAverageBlockExecutionTime); }
    DWORD GetBlocksPerSecond() const { return Get(m_dwBlocksPerSecond); }
    DWORD GetBytesPerSecond() const { return Get(m_dwBytesPerSecond); }
    DWORD GetTotalBytesIn() const { return Get(m_dwTotalBytesIn); }
    DWORD GetTotalBytesOut() const { return Get(m_dwTotalBytesOut); }
    DWORD GetNumberStandardErrors() const { return Get(m_dwStandardErrors); }
    DWORD GetNumberDeviceErrors() const { return Get(m_dwDeviceErrors); }
    DWORD GetNumberCRCErrors() const { return Get(m_dwCRCErrors); }
    DWORD GetNumberTimeoutErrors() const { return Get(m_dwTimeoutErrors); }
    DWORD GetNumberOfRetries() const { return Get(m_dwRetries); }
    ///@}

    /// Set to 1 at construction; the class gives it no other meaning.
    LONG m_nLeadingWord = 1;

private:
    using Counter = std::atomic<DWORD>;

    static DWORD Get(const Counter& c) { return c.load(std::memory_order_relaxed); }
    static void Set(Counter& c, DWORD v) { c.store(v, std::memory_order_relaxed); }
    static void Increment(Counter& c) { c.fetch_add(1, std::memory_order_relaxed); }
    void UpdateBytesPerSecond(DWORD dwTotalTime);
    void AppendLine(CString&& strLine);

    Counter m_dwBlockCount{0};
    Counter m_dwTotalBlockExecutionTime{0};
    Counter m_dwAverageBlockExecutionTime{0};
    Counter m_dwBlocksPerSecond{0};
    Counter m_dwBytesPerSecond{0};
    Counter m_dwTotalBytesIn{0};
    Counter m_dwTotalBytesOut{0};
    Counter m_dwStandardErrors{0};
    Counter m_dwDeviceErrors{0};
    Counter m_dwCRCErrors{0};
    Counter m_dwTimeoutErrors{0};
    Counter m_dwRetries{0};

    // A text cannot be replaced atomically, so it gets a lock of its own,
    // never held with the log's.
    mutable std::mutex m_lastErrorLock;
    CString m_strLastError;

    std::atomic<bool> m_bLogActive{false};
    std::atomic<bool> m_bLogAsHex{false};
    CStringList m_CommsLog{10};
    CCriticalSection m_LogLock;
};
/** @} */
