#include "kelvara/transport/arcnet/PollThread.h"

#include <algorithm>
#include <limits>

#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/protocol/NetworkProtocol.h"
#include "kelvara/sibling/PollListItem.h"
#include "kelvara/sibling/PollProperties.h"
#include "kelvara/sibling/SystemUtility.h"
#include "kelvara/transport/arcnet/NetPort.h"

IMPLEMENT_DYNCREATE(CPollThread, CWinThreadPlus)

namespace {

constexpr int kBufferSize = 253;
// File-time units (100 ns) per millisecond.
constexpr ULONGLONG kFileTimePerMs = 10000;

ULONGLONG Now() {
    FILETIME ft;
    GetCurrentFileTime(ft);
    return FileTimeToULongLong(ft);
}

int PollCount(const CPollProperties* pPoll) {
    return pPoll != nullptr ? pPoll->m_PollList.GetSize() : 0;
}

}  // namespace

CPollThread::CPollThread() {
    m_TxBuffer.SetSize(kBufferSize);
    m_RxBuffer.SetSize(kBufferSize);
}

CPollThread::~CPollThread() {
    StopThread();
}

void CPollThread::Attach(CNetPort* pPort, CQZMutex* pPollListMutex, DWORD dwTimeout) {
    m_pPort = pPort;
    m_pPollListMutex = pPollListMutex;
    m_dwTimeout = dwTimeout;
    m_pNetworkProtocol =
        pPort != nullptr ? dynamic_cast<CNetworkProtocol*>(pPort->GetProtocol()) : nullptr;
}

int CPollThread::Run() {
    if (m_pPort != nullptr) {
        m_pPort->Clear();
    }
    if (ShouldTerminate()) {
        return 0;
    }
    do {
        CCriticalSection* pLock = NotifyWorking();
        const ULONGLONG ullPassStart = Now();
        if (m_pPort != nullptr) {
            TakeReplies();
            MarkOverdueReplies();
            SendPolls();
            SendWrites();
            AddPollTime(ullPassStart);
        }
        NotifyFinishedWork(pLock);
        ThreadSleepAfterWork();
    } while (!ShouldTerminate());
    return 0;
}

void CPollThread::TakeReplies() {
    while (m_pPort->Read(&m_RxBuffer) == SE_NO_ERROR) {
        const FILETIME ftReceived = MakeFileTime(Now());
        CNetPort::CListLock lock(m_pPollListMutex);
        if (!lock.IsLocked()) {
            continue;
        }
        const CPollProperties* pPoll = m_pPort->GetPollProperties();
        for (int i = 0; i < PollCount(pPoll); ++i) {
            CPollListItem* pItem = pPoll->m_PollList.GetAt(i);
            if (pItem == nullptr || pItem->m_dwBlockId != BlockIdOf(m_RxBuffer)) {
                continue;
            }
            pItem->m_ftReceived = ftReceived;
            pItem->m_bDataValid = 1;
            pItem->m_dwError = SE_NO_ERROR;
            const int nOffset = static_cast<int>(
                std::min<DWORD>(DataOffset(), static_cast<DWORD>(m_RxBuffer.GetSize())));
            pItem->m_Data.SetSize(m_RxBuffer.GetSize() - nOffset);
            std::copy(m_RxBuffer.begin() + nOffset, m_RxBuffer.end(), pItem->m_Data.begin());
        }
    }
}

void CPollThread::MarkOverdueReplies() {
    CNetPort::CListLock lock(m_pPollListMutex);
    if (!lock.IsLocked()) {
        return;
    }
    const ULONGLONG ullTimeout = static_cast<ULONGLONG>(m_dwTimeout) * kFileTimePerMs;
    const CPollProperties* pPoll = m_pPort->GetPollProperties();
    for (int i = 0; i < PollCount(pPoll); ++i) {
        CPollListItem* pItem = pPoll->m_PollList.GetAt(i);
        if (pItem == nullptr) {
            continue;
        }
        const ULONGLONG ullSent = FileTimeToULongLong(pItem->m_ftSent);
        const ULONGLONG ullReceived = FileTimeToULongLong(pItem->m_ftReceived);
        if (ullSent > ullReceived && ullSent - ullReceived > ullTimeout) {
            pItem->m_bDataValid = 0;
            pItem->m_dwError = SE_TIMEOUT;
        }
    }
}

void CPollThread::SendPolls() {
    CNetPort::CListLock lock(m_pPollListMutex);
    if (!lock.IsLocked()) {
        return;
    }
    const CPollProperties* pPoll = m_pPort->GetPollProperties();
    for (int i = 0; i < PollCount(pPoll); ++i) {
        CPollListItem* pItem = pPoll->m_PollList.GetAt(i);
        if (pItem == nullptr) {
            continue;
        }
        FormatRequest(pItem, NETMSG_POLL_REQUEST);
        const DWORD dwResult = Transmit(pItem);
        GetCurrentFileTime(pItem->m_ftSent);
        if (dwResult != SE_NO_ERROR) {
            pItem->m_bDataValid = 0;
            pItem->m_dwError = dwResult;
        }
    }
}

void CPollThread::SendWrites() {
    CNetPort::CListLock lock(m_pPort->GetWriteListMutex());
    if (!lock.IsLocked()) {
        return;
    }
    CTypedPtrArray<CPtrArray, CPollListItem*>& writes = m_pPort->m_WriteList;
    for (int i = 0; i < writes.GetSize(); ++i) {
        CPollListItem* pItem = writes.GetAt(i);
        if (pItem == nullptr || FileTimeToULongLong(pItem->m_ftSent) != 0) {
            continue;
        }
        FormatRequest(pItem, NETMSG_WRITE_REQUEST);
        const DWORD dwResult = Transmit(pItem);
        GetCurrentFileTime(pItem->m_ftSent);
        pItem->m_dwError = dwResult;
        pItem->m_bDataValid = 1;
    }
}

void CPollThread::AddPollTime(ULONGLONG ullPassStart) {
    CNetPort::CListLock lock(m_pPollListMutex);
    const CPollProperties* pPoll = m_pPort->GetPollProperties();
    if (!lock.IsLocked() || PollCount(pPoll) == 0 || pPoll->m_PollList.GetAt(0) == nullptr) {
        return;
    }
    // A wall clock set back during the pass gives no negative duration.
    const ULONGLONG ullNow = Now();
    const ULONGLONG ullPass = ullNow > ullPassStart ? ullNow - ullPassStart : 0;
    const double dPollTime = std::min(static_cast<double>(ullPass) * 0.001,
                                      static_cast<double>(std::numeric_limits<DWORD>::max()));
    pPoll->m_PollList.GetAt(0)->m_dwPollTime += static_cast<DWORD>(dPollTime);
}

DWORD CPollThread::BlockIdOf(const CCombuf& packet) {
    return m_pNetworkProtocol != nullptr ? m_pNetworkProtocol->GetBlockIdFromPacket(&packet) : 0;
}

DWORD CPollThread::DataOffset() {
    return m_pNetworkProtocol != nullptr ? m_pNetworkProtocol->GetDataOffsetInPacket() : 0;
}

void CPollThread::FormatRequest(CPollListItem* pItem, BYTE byMessageType) {
    if (m_pNetworkProtocol != nullptr) {
        m_pNetworkProtocol->FormatTxMessage(&m_TxBuffer, pItem, byMessageType);
    }
}

DWORD CPollThread::Transmit(const CPollListItem* pItem) {
    return m_pPort->Write(pItem->m_byNode, &m_TxBuffer, m_pPort->GetStats(), 0);
}
