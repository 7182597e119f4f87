#include "kelvara/transport/arcnet/NetPort.h"

#include <algorithm>

#include "kelvara/buffer/Combuf.h"
#include "kelvara/platform/ArcnetDriver.h"
#include "kelvara/platform/Clock.h"
#include "kelvara/platform/DeviceIo.h"
#include "kelvara/platform/Event.h"
#include "kelvara/platform/SystemError.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/sibling/PollListItem.h"
#include "kelvara/sibling/TimeoutOnlyProperties.h"
#include "kelvara/transport/arcnet/PollThread.h"
#include "kelvara/transport/arcnet/ReceiveThread.h"

namespace platform = kelvara::platform;
namespace arcnet = kelvara::platform::arcnet;

static_assert(NETPORT_NO_HANDLE == platform::kInvalidHandle);
static_assert(NETPORT_MAX_PACKET == static_cast<int>(arcnet::kMaxDataLength));

namespace {

constexpr int kBusyPauseMs = 10;
constexpr int kPreWaitPauseMs = 1;
constexpr int kPollThreadSleepMs = 100;

bool IsHandle(DWORD h) {
    return h != platform::kNullHandle && h != platform::kInvalidHandle;
}

bool Control(DWORD hDriver, DWORD dwCode, const void* pIn, std::size_t nInSize, void* pOut,
             std::size_t nOutSize) {
    std::uint32_t nReturned = 0;
    return platform::DeviceIoControl(hDriver, dwCode, pIn, static_cast<std::uint32_t>(nInSize),
                                     pOut, static_cast<std::uint32_t>(nOutSize), &nReturned);
}

bool RegisterEvent(DWORD hDriver, DWORD dwCode, DWORD hEvent) {
    const arcnet::EventValue value = arcnet::EncodeEventValue(hEvent);
    return Control(hDriver, dwCode, value.data(), value.size(), nullptr, 0);
}

// Reads the status block; false when the driver did not answer.
bool ReadStatus(DWORD hDriver, arcnet::StatusBuffer& status) {
    status.fill(0);
    return Control(hDriver, arcnet::kReadStatus, nullptr, 0, status.data(), status.size());
}

void Pause(int nMilliseconds) {
    platform::SleepFor(static_cast<std::uint32_t>(nMilliseconds));
}

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

CNetPort::CListLock::CListLock(CQZMutex* pMutex)
    : m_pMutex(pMutex), m_pLock(pMutex != nullptr ? pMutex->Lock(INFINITE) : nullptr) {}

CNetPort::CListLock::~CListLock() {
    if (m_pLock != nullptr) {
        m_pMutex->Unlock(m_pLock);
    }
}

CNetPort::CNetPort(const CPollProperties* pPollProperties,
                   const CTimeoutOnlyProperties* pTimeoutProperties, CCommsStats* pStats,
                   int nNodeId, CProtocol* pProtocol)
    : CComObject(0, pProtocol),
      m_pStats(pStats),
      m_nNodeId(nNodeId),
      m_pPollProperties(pPollProperties),
      m_pTimeoutProperties(pTimeoutProperties),
      m_pPollListMutex(new CQZMutex("ARCQZPollListMutex")),
      m_pWriteListMutex(new CQZMutex("ARCQZWriteListMutex")),
      m_pPacketListMutex(new CQZMutex("ARCQZPacketListMutex")) {}

CNetPort::~CNetPort() {
    // A port destroyed open would leave its threads running on a dead
    // object; stop them first.
    if (m_pPollThread != nullptr || m_pReceiveThread != nullptr) {
        Close();
    }
    CloseDriver();
    DiscardPackets();
    for (int i = 0; i < m_WriteList.GetSize(); ++i) {
        delete m_WriteList.GetAt(i);
    }
    m_WriteList.RemoveAll();
    delete m_pPollListMutex;
    delete m_pWriteListMutex;
    delete m_pPacketListMutex;
}

// ---- Open ----------------------------------------------------------------

DWORD CNetPort::Open() {
    if (IsConnected()) {
        return SE_NO_ERROR;
    }
    DWORD dwResult = OpenDriver();
    if (dwResult == SE_NO_ERROR) {
        dwResult = ConfigureCard();
    }
    if (dwResult == SE_NO_ERROR) {
        dwResult = CreateTransmitEvent();
    }
    if (dwResult == SE_NO_ERROR) {
        dwResult = CreateReceiveEvent();
    }
    if (dwResult == SE_NO_ERROR) {
        dwResult = CreateCloseEvent();
    }
    if (dwResult != SE_NO_ERROR) {
        return dwResult;
    }
    StartReceiveThread();
    StartPollThread();
    m_bConnected.store(TRUE, std::memory_order_relaxed);
    return SE_NO_ERROR;
}

DWORD CNetPort::OpenDriver() {
    // A device left open by an Open that failed later is not carried over.
    CloseDriver();
    m_hDriver = platform::OpenDevice(arcnet::kDeviceName);
    return m_hDriver == platform::kInvalidHandle ? SE_COM_HARDWARE_PROBLEM : SE_NO_ERROR;
}

DWORD CNetPort::ConfigureCard() {
    const arcnet::ConfigurationBlock block = arcnet::MakeConfigurationBlock(m_nNodeId);
    return Control(m_hDriver, arcnet::kConfigure, block.data(), block.size(), nullptr, 0)
               ? SE_NO_ERROR
               : SE_COM_INIT_FAILED;
}

DWORD CNetPort::CreateTransmitEvent() {
    m_hTxEvent = platform::CreateEventHandle(false, false, "VexTx");
    if (IsHandle(m_hTxEvent) && RegisterEvent(m_hDriver, arcnet::kRegisterTxEvent, m_hTxEvent)) {
        return SE_NO_ERROR;
    }
    platform::CloseHandle(m_hTxEvent.exchange(NETPORT_NO_HANDLE));
    return SE_COM_INIT_FAILED;
}

DWORD CNetPort::CreateReceiveEvent() {
    m_hRxEvent = platform::CreateEventHandle(false, false, "VexRx");
    if (IsHandle(m_hRxEvent) && RegisterEvent(m_hDriver, arcnet::kRegisterRxEvent, m_hRxEvent)) {
        return SE_NO_ERROR;
    }
    platform::CloseHandle(m_hRxEvent.exchange(NETPORT_NO_HANDLE));
    platform::CloseHandle(m_hTxEvent.exchange(NETPORT_NO_HANDLE));
    return SE_COM_INIT_FAILED;
}

DWORD CNetPort::CreateCloseEvent() {
    m_hCloseEvent = platform::CreateEventHandle(false, false, "VexClose");
    if (IsHandle(m_hCloseEvent)) {
        return SE_NO_ERROR;
    }
    // Without it the receive thread could never be woken to stop.
    m_hCloseEvent = NETPORT_NO_HANDLE;
    platform::CloseHandle(m_hRxEvent.exchange(NETPORT_NO_HANDLE));
    platform::CloseHandle(m_hTxEvent.exchange(NETPORT_NO_HANDLE));
    return SE_COM_INIT_FAILED;
}

void CNetPort::StartReceiveThread() {
    m_pReceiveThread = new CReceiveThread;
    m_pReceiveThread->m_nSleepAfterWork = 0;
    m_pReceiveThread->Attach(this);
    m_pReceiveThread->StartThread(1);
}

void CNetPort::StartPollThread() {
    m_pPollThread = new CPollThread;
    m_pPollThread->m_nSleepAfterWork = kPollThreadSleepMs;
    m_pPollThread->Attach(this, m_pPollListMutex, PollTimeout());
    m_pPollThread->StartThread(1);
}

DWORD CNetPort::PollTimeout() const {
    return m_pTimeoutProperties != nullptr ? m_pTimeoutProperties->m_dwTimeout
                                           : NETPORT_DEFAULT_POLL_TIMEOUT;
}

// ---- Read ----------------------------------------------------------------

DWORD CNetPort::Read(CCombuf* pBuffer) {
    if (!IsConnected()) {
        return SE_COM_NOT_CONNECTED;
    }
    if (pBuffer == nullptr) {
        return SE_NET_UNKNOWN_ERROR;
    }
    CListLock lock(m_pPacketListMutex);
    if (!lock.IsLocked() || m_PacketList.IsEmpty()) {
        pBuffer->SetSize(0);
        return SE_TIMEOUT;
    }
    CCombuf* pPacket = m_PacketList.RemoveHead();
    *pBuffer = std::move(*pPacket);
    delete pPacket;
    return SE_NO_ERROR;
}

// ---- For the receive thread ----------------------------------------------

DWORD CNetPort::WaitForPacketsOrClose() {
    const platform::Handle handles[2] = {m_hRxEvent.load(), m_hCloseEvent.load()};
    return platform::WaitForObjects(handles, 2, platform::kWaitInfinite);
}

arcnet::ReceiveRecord CNetPort::FetchReceiveRecord() {
    return FetchRecord(m_hDriver);
}

void CNetPort::ResetReceiveEvent() {
    platform::ResetEvent(m_hRxEvent);
}

void CNetPort::QueuePacket(CCombuf* pPacket, BYTE bySource) {
    {
        CListLock lock(m_pPacketListMutex);
        if (lock.IsLocked() && m_PacketList.GetCount() < NETPORT_MAX_QUEUED_PACKETS) {
            m_PacketList.AddTail(pPacket);
            m_nLastSourceNode.store(bySource, std::memory_order_relaxed);
            return;
        }
    }
    delete pPacket;
}

// ---- Write ---------------------------------------------------------------

DWORD CNetPort::Write(BYTE byNode, CCombuf* pBuffer, CCommsStats* pStats, int nWaitForAck) {
    // The card's record has room for 508 bytes: a longer buffer is refused
    // rather than cut short.
    if (pBuffer == nullptr || pBuffer->GetSize() > NETPORT_MAX_PACKET) {
        return SE_NET_UNKNOWN_ERROR;
    }
    DWORD dwResult = SendTransmitRecord(byNode, *pBuffer);
    if (dwResult != SE_NO_ERROR) {
        return dwResult;
    }
    dwResult = AwaitTransmission(nWaitForAck);
    if (dwResult != SE_NO_ERROR) {
        CancelTransmission();
    }
    FinishTransmission(static_cast<DWORD>(pBuffer->GetSize()), pStats);
    return dwResult;
}

DWORD CNetPort::SendTransmitRecord(BYTE byNode, const CCombuf& buffer) {
    arcnet::TransmitRecord record;
    record.dwDestination = byNode;
    record.dwLength = static_cast<std::uint32_t>(buffer.GetSize());
    std::copy(buffer.begin(), buffer.end(), record.data.begin());
    const arcnet::TransmitBuffer bytes = record.Encode();
    if (Control(m_hDriver, arcnet::kTransmitPacket, bytes.data(), bytes.size(), nullptr, 0)) {
        return SE_NO_ERROR;
    }
    if (platform::LastErrorCategory() == platform::ErrorCategory::Busy) {
        Pause(kBusyPauseMs);
        return SE_NET_NOT_SENT;
    }
    return SE_NET_UNKNOWN_ERROR;
}

DWORD CNetPort::AwaitTransmission(int nWaitForAck) {
    const DWORD dwStartTick = platform::TickCount();
    Pause(kPreWaitPauseMs);
    switch (platform::WaitForObject(m_hTxEvent, NETPORT_TRANSMIT_WAIT)) {
        case platform::kWaitObject0:
            return nWaitForAck == 0 ? SE_NO_ERROR : AwaitAcknowledgement(dwStartTick);
        case platform::kWaitTimeout:
            return SE_TIMEOUT;
        default:
            return SE_NET_UNKNOWN_ERROR;
    }
}

DWORD CNetPort::AwaitAcknowledgement(DWORD dwStartTick) {
    // The driver offers no event for the acknowledgement: ask until it
    // comes or the time is up. A driver that stops answering (a closed
    // device) will not acknowledge any more either.
    arcnet::StatusBuffer status{};
    std::uint32_t dwAcknowledged = 0;
    bool bAnswered = true;
    do {
        bAnswered = ReadStatus(m_hDriver, status);
        dwAcknowledged = arcnet::StatusAcknowledged(status);
    } while (dwAcknowledged == 0 && bAnswered &&
             static_cast<DWORD>(platform::TickCount() - dwStartTick) < NETPORT_TRANSMIT_WAIT);
    return dwAcknowledged != 0 ? SE_NO_ERROR : SE_NET_ACK_TIMEOUT;
}

void CNetPort::CancelTransmission() {
    arcnet::StatusBuffer status{};
    ReadStatus(m_hDriver, status);
    Control(m_hDriver, arcnet::kCancelTransmit, nullptr, 0, nullptr, 0);
}

void CNetPort::FinishTransmission(DWORD dwLength, CCommsStats* pStats) {
    platform::ResetEvent(m_hTxEvent);
    if (pStats != nullptr) {
        pStats->AddBytesOut(dwLength);
    }
}

// ---- Clear, Init, Hangup -------------------------------------------------

DWORD CNetPort::Clear() {
    return IsConnected() ? SE_NO_ERROR : SE_COM_NOT_CONNECTED;
}

DWORD CNetPort::Init() {
    return SE_NO_ERROR;
}

DWORD CNetPort::Hangup() {
    return SE_NO_ERROR;
}

// ---- Close ---------------------------------------------------------------

DWORD CNetPort::Close() {
    if (!IsConnected()) {
        return SE_NO_ERROR;
    }
    platform::SetEvent(m_hCloseEvent);
    ReleaseEvent(m_hTxEvent, arcnet::kUnregisterTxEvent);
    ReleaseEvent(m_hRxEvent, arcnet::kUnregisterRxEvent);
    CloseDriver();
    StopThreads();
    DiscardPackets();
    platform::CloseHandle(m_hCloseEvent.exchange(NETPORT_NO_HANDLE));
    m_bConnected.store(FALSE, std::memory_order_relaxed);
    return SE_NO_ERROR;
}

void CNetPort::ReleaseEvent(std::atomic<DWORD>& hEvent, DWORD dwUnregisterCode) {
    if (hEvent == NETPORT_NO_HANDLE) {
        return;
    }
    RegisterEvent(m_hDriver, dwUnregisterCode, hEvent);
    platform::CloseHandle(hEvent.exchange(NETPORT_NO_HANDLE));
}

void CNetPort::CloseDriver() {
    const DWORD hDriver = m_hDriver.exchange(NETPORT_NO_HANDLE);
    if (IsHandle(hDriver)) {
        platform::CloseHandle(hDriver);
    }
}

void CNetPort::StopThreads() {
    if (m_pPollThread != nullptr) {
        m_pPollThread->StopThread();
        delete m_pPollThread;
        m_pPollThread = nullptr;
    }
    if (m_pReceiveThread != nullptr) {
        m_pReceiveThread->StopThread();
        delete m_pReceiveThread;
        m_pReceiveThread = nullptr;
    }
}

void CNetPort::DiscardPackets() {
    CListLock lock(m_pPacketListMutex);
    while (!m_PacketList.IsEmpty()) {
        delete m_PacketList.RemoveHead();
    }
}
