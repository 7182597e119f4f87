#include "kelvara/transport/arcnet/ReceiveThread.h"

#include <algorithm>

#include "kelvara/buffer/Combuf.h"
#include "kelvara/platform/ArcnetDriver.h"
#include "kelvara/platform/DeviceIo.h"
#include "kelvara/platform/Event.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/transport/arcnet/NetPort.h"

namespace platform = kelvara::platform;
namespace arcnet = kelvara::platform::arcnet;

IMPLEMENT_DYNCREATE(CReceiveThread, CWinThreadPlus)

namespace {

constexpr DWORD kReceiveEventFired = platform::kWaitObject0;

// The oldest packet waiting in the driver; a request that fails reads as
// "nothing waiting".
arcnet::ReceiveRecord FetchRecord(DWORD hDriver) {
    arcnet::ReceiveBuffer buffer{};
    std::uint32_t nReturned = 0;
    if (!platform::DeviceIoControl(hDriver, arcnet::kReceivePacket, nullptr, 0, buffer.data(),
                                   static_cast<std::uint32_t>(buffer.size()), &nReturned)) {
        return arcnet::ReceiveRecord{};
    }
    return arcnet::ReceiveRecord::Decode(buffer);
}

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
        const DWORD dwWait = WaitForPacketsOrClose();
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

DWORD CReceiveThread::WaitForPacketsOrClose() {
    const platform::Handle handles[2] = {m_pPort->m_hRxEvent.load(), m_pPort->m_hCloseEvent.load()};
    return platform::WaitForObjects(handles, 2, platform::kWaitInfinite);
}

void CReceiveThread::TakeWaitingPackets() {
    const DWORD hDriver = m_pPort->m_hDriver;
    arcnet::ReceiveRecord record = FetchRecord(hDriver);
    if (record.dwWaiting < 2) {
        platform::ResetEvent(m_pPort->m_hRxEvent);
    }
    while (record.dwWaiting != 0) {
        // A length beyond the record's data area is the driver's mistake;
        // only the bytes that exist are taken.
        const DWORD dwLength = std::min<DWORD>(record.dwLength, arcnet::kMaxDataLength);
        if (m_pPort->m_pStats != nullptr) {
            m_pPort->m_pStats->AddBytesIn(dwLength);
        }
        QueuePacket(record.dwSource, record.dwDestination, record.data.data(), dwLength);
        record = FetchRecord(hDriver);
    }
}

void CReceiveThread::QueuePacket(DWORD dwSource, DWORD dwDestination, const BYTE* pData,
                                 DWORD dwLength) {
    const int nNodeId = m_pPort->m_nNodeId;
    if (nNodeId != 0 && dwDestination != static_cast<BYTE>(nNodeId)) {
        return;
    }
    auto* pPacket = new CCombuf;
    pPacket->SetSize(static_cast<int>(dwLength));
    std::copy(pData, pData + dwLength, pPacket->GetData());
    {
        CNetPort::CListLock lock(m_pPort->m_pPacketListMutex);
        if (lock.IsLocked() && m_pPort->m_PacketList.GetCount() < NETPORT_MAX_QUEUED_PACKETS) {
            m_pPort->m_PacketList.AddTail(pPacket);
            m_pPort->m_nLastSourceNode.store(static_cast<BYTE>(dwSource),
                                             std::memory_order_relaxed);
            return;
        }
    }
    delete pPacket;
}
