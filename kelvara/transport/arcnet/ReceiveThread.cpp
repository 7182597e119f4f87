#include "kelvara/transport/arcnet/ReceiveThread.h"

#include <algorithm>

#include "kelvara/buffer/Combuf.h"
#include "kelvara/platform/ArcnetDriver.h"
#include "kelvara/platform/Event.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/transport/arcnet/NetPort.h"

namespace platform = kelvara::platform;
namespace arcnet = kelvara::platform::arcnet;

IMPLEMENT_DYNCREATE(CReceiveThread, CWinThreadPlus)

namespace {

constexpr DWORD kReceiveEventFired = platform::kWaitObject0;

}  // namespace

CReceiveThread::~CReceiveThread() {
    StopThread();
}

int CReceiveThread::Run() {
    if (ShouldTerminate()) {
        return 0;
    }
    do {
        CCriticalSection* pLock = NotifyWorking();
        if (m_pPort == nullptr) {
            NotifyFinishedWork(pLock);
            ThreadSleep(1);
            continue;
        }
        const DWORD dwWait = m_pPort->WaitForPacketsOrClose();
        if (dwWait == kReceiveEventFired) {
            TakeWaitingPackets();
        }
        NotifyFinishedWork(pLock);
        if (dwWait != kReceiveEventFired) {
            // The close event fired, or the wait failed because the port
            // has closed the events it waits on: nothing more will come,
            // and another wait would only fail again at once. The thread
            // ends here; the port still stops it and waits for it.
            return 0;
        }
        ThreadSleepAfterWork();
    } while (!ShouldTerminate());
    return 0;
}

void CReceiveThread::TakeWaitingPackets() {
    arcnet::ReceiveRecord record = m_pPort->FetchReceiveRecord();
    if (record.dwWaiting < 2) {
        m_pPort->ResetReceiveEvent();
    }
    while (record.dwWaiting != 0) {
        // A length beyond the record's data area is the driver's mistake;
        // only the bytes that exist are taken.
        const DWORD dwLength = std::min<DWORD>(record.dwLength, arcnet::kMaxDataLength);
        if (CCommsStats* pStats = m_pPort->GetStats(); pStats != nullptr) {
            pStats->AddBytesIn(dwLength);
        }
        QueuePacket(record.dwSource, record.dwDestination, record.data.data(), dwLength);
        record = m_pPort->FetchReceiveRecord();
    }
}

void CReceiveThread::QueuePacket(DWORD dwSource, DWORD dwDestination, const BYTE* pData,
                                 DWORD dwLength) {
    const int nNodeId = m_pPort->GetNodeId();
    if (nNodeId != 0 && dwDestination != static_cast<BYTE>(nNodeId)) {
        return;
    }
    auto* pPacket = new CCombuf;
    pPacket->SetSize(static_cast<int>(dwLength));
    std::copy(pData, pData + dwLength, pPacket->GetData());
    m_pPort->QueuePacket(pPacket, static_cast<BYTE>(dwSource));
}
