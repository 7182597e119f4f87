#include "kelvara/transport/tcpip/TCPIPPort.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "kelvara/buffer/Combuf.h"
#include "kelvara/framework/String.h"
#include "kelvara/platform/Socket.h"
#include "kelvara/platform/SystemError.h"
#include "kelvara/protocol/CommsStats.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/protocol/Protocol.h"
#include "kelvara/sibling/TCPIPProperties.h"
#include "kelvara/transport/tcpip/SlaveListenThread.h"

namespace platform = kelvara::platform;

static_assert(std::is_same_v<TCPIPSocket, platform::SocketHandle>);
static_assert(TCPIP_INVALID_SOCKET == platform::kInvalidSocket);

namespace {

// How long Read waits for the first byte.
constexpr int kReadWaitMs = 1000;
// The after-work interval the listening thread is started with.
constexpr int kListenIntervalMs = 100;
// Clear stops after this many bytes even when more keep coming, so a peer
// that never stops sending cannot hold the driver's thread: what arrives
// while clearing belongs to the next exchange anyway.
constexpr std::size_t kClearLimit = 1 << 20;

}  // namespace

CTCPIPPort::CTCPIPPort(const CTCPIPProperties* pProperties, CProtocol* pProtocol)
    : CComObject(0, pProtocol), m_pProperties(pProperties) {
    CreateListeningThread();
}

CTCPIPPort::~CTCPIPPort() {
    if (m_pListenThread != nullptr) {
        m_pListenThread->StopListen();
        delete m_pListenThread;
        m_pListenThread = nullptr;
    }
    // With the thread gone nothing else can hand over a socket.
    ReleaseSocket();
}

BOOL CTCPIPPort::IsMaster() const {
    return m_pProtocol == nullptr || m_pProtocol->GetProtocolStyle() == 0;
}

void CTCPIPPort::ReleaseSocket() {
    const TCPIPSocket hSocket = m_Socket.exchange(TCPIP_INVALID_SOCKET);
    if (hSocket != TCPIP_INVALID_SOCKET) {
        platform::Shutdown(hSocket);
        platform::CloseSocket(hSocket);
    }
}

DWORD CTCPIPPort::Open() {
    // 1. Not connected; a slave is opened by its listening thread.
    m_bConnected.store(0, std::memory_order_release);
    m_bConnectPending = 0;
    if (!IsMaster()) {
        return SE_NO_ERROR;
    }
    // 2. No socket yet (one still held from a failed attempt is closed
    //    rather than leaked); start the socket layer.
    ReleaseSocket();
    if (platform::StartSockets() != 0) {
        return SE_TCPIP_SOCKET_ERROR;
    }
    // 3. A stream socket, 4. reusing its address and non-blocking.
    const TCPIPSocket hSocket = platform::CreateStreamSocket();
    if (hSocket == TCPIP_INVALID_SOCKET) {
        return SE_TCPIP_SOCKET_ERROR;
    }
    m_Socket.store(hSocket, std::memory_order_relaxed);
    if (!platform::SetReuseAddress(hSocket) || !platform::SetNonBlocking(hSocket)) {
        ReleaseSocket();
        return SE_TCPIP_SOCKET_ERROR;
    }
    // 5. Connect to the protocol's first address at the configured port.
    CString strAddress;
    if (m_pProtocol != nullptr) {
        m_pProtocol->GetFirstIPAddress(strAddress);
    }
    m_dwAddress = platform::Ipv4AddressFromText(strAddress.GetString());
    m_wTCPPort = static_cast<WORD>(GetTCPIPPortNumber());
    if (platform::Connect(hSocket, m_dwAddress, m_wTCPPort) == platform::ConnectResult::Failed) {
        ReleaseSocket();
        return SE_TCPIP_SOCKET_ERROR;
    }
    // 6. The connect completes in the background; TestConnection sees it.
    m_bConnectPending = 1;
    return SE_NO_ERROR;
}

DWORD CTCPIPPort::Close() {
    std::lock_guard<std::mutex> guard(m_connectionLock);
    m_bConnected.store(0, std::memory_order_release);
    m_bConnectPending = 0;
    ReleaseSocket();
    return SE_NO_ERROR;
}

int CTCPIPPort::TestConnection() {
    // 1. Nothing pending: a master starts a new attempt.
    if (!m_bConnectPending) {
        if (IsMaster()) {
            Open();
        }
        return 0;
    }
    // 2. Has the pending connect completed?
    const TCPIPSocket hSocket = m_Socket.load(std::memory_order_relaxed);
    switch (platform::WaitWritable(hSocket, 0)) {
        case 1:
            m_bConnectPending = 0;
            m_bConnected.store(1, std::memory_order_release);
            return 1;
        case -1:
            m_bConnectPending = 0;
            m_bConnected.store(0, std::memory_order_release);
            return 0;
        default:
            break;
    }
    m_bConnected.store(0, std::memory_order_release);
    if (platform::ErrorCategoryOf(platform::PendingError(hSocket)) ==
        platform::ErrorCategory::Refused) {
        platform::RestartConnect(hSocket, m_dwAddress, m_wTCPPort);
    }
    return 0;
}

BOOL CTCPIPPort::ConnectedOrTested() {
    return m_bConnected.load(std::memory_order_acquire) || TestConnection();
}

BOOL CTCPIPPort::ConnectedOrRestarted() {
    if (ConnectedOrTested()) {
        return 1;
    }
    if (IsMaster()) {
        OnDisconnect();
    }
    return 0;
}

DWORD CTCPIPPort::WaitForData(TCPIPSocket hSocket) {
    const int nReady = platform::WaitReadable(hSocket, kReadWaitMs);
    if (nReady == 0) {
        return SE_TIMEOUT;
    }
    if (nReady < 0) {
        OnDisconnect();
        return SE_TCPIP_SOCKET_ERROR;
    }
    return SE_NO_ERROR;
}

DWORD CTCPIPPort::TransferFailed(std::ptrdiff_t nMoved) {
    if (nMoved < 0 && platform::LastErrorCategory() == platform::ErrorCategory::WouldBlock) {
        return SE_TCPIP_WOULD_BLOCK;
    }
    // The peer closed (0 bytes) or the connection failed.
    OnDisconnect();
    return SE_TCPIP_SOCKET_ERROR;
}

DWORD CTCPIPPort::Read(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats) {
    if (pBuffer == nullptr) {
        return SE_INTERNAL_ERROR;
    }
    // 1. Not connected and no connect completed: a master starts over.
    if (!ConnectedOrRestarted()) {
        return SE_TCPIP_NOT_CONNECTED;
    }
    // 2. The buffer holds dwCount bytes whatever arrives.
    const int nCount = static_cast<int>(std::min<DWORD>(dwCount, 0x7FFFFFFF));
    pBuffer->SetSize(nCount);
    // 3. Wait up to a second for something to read.
    const TCPIPSocket hSocket = m_Socket.load(std::memory_order_relaxed);
    if (const DWORD dwWait = WaitForData(hSocket); dwWait != SE_NO_ERROR) {
        return dwWait;
    }
    // 4. One receive. Asked for nothing it would find 0 bytes, which means
    //    a closed connection, so it is not made.
    std::ptrdiff_t nReceived = 0;
    if (nCount > 0) {
        nReceived = platform::Receive(hSocket, pBuffer->GetData(), static_cast<size_t>(nCount));
        if (nReceived <= 0) {
            return TransferFailed(nReceived);
        }
    }
    // 5. Short is a time-out; 6. count what came, log the whole buffer.
    if (pStats != nullptr) {
        pStats->AddBytesIn(static_cast<DWORD>(nReceived));
        pStats->AddToCommsLog(pBuffer, true);
    }
    return nReceived < nCount ? SE_TIMEOUT : SE_NO_ERROR;
}

DWORD CTCPIPPort::Write(CCombuf* pBuffer, CCommsStats* pStats) {
    if (pBuffer == nullptr) {
        return SE_INTERNAL_ERROR;
    }
    // 1. As for Read.
    if (!ConnectedOrRestarted()) {
        return SE_TCPIP_NOT_CONNECTED;
    }
    // 2. One send. An empty buffer sends nothing, and its 0 bytes are not
    //    taken for a lost connection.
    const std::size_t nSize = static_cast<std::size_t>(pBuffer->GetSize());
    if (nSize == 0) {
        return SE_NO_ERROR;
    }
    const TCPIPSocket hSocket = m_Socket.load(std::memory_order_relaxed);
    const std::ptrdiff_t nSent = platform::Send(hSocket, pBuffer->GetData(), nSize);
    if (nSent <= 0) {
        return TransferFailed(nSent);
    }
    // 3. Part of it is a time-out; count what went, log the whole buffer.
    if (pStats != nullptr) {
        pStats->AddBytesOut(static_cast<DWORD>(nSent));
        pStats->AddToCommsLog(pBuffer, false);
    }
    return static_cast<std::size_t>(nSent) < nSize ? SE_TIMEOUT : SE_NO_ERROR;
}

DWORD CTCPIPPort::Clear() {
    // 1. Not connected: no reconnect from here.
    if (!ConnectedOrTested()) {
        return SE_TCPIP_NOT_CONNECTED;
    }
    // 2. Receive until nothing more waits.
    const TCPIPSocket hSocket = m_Socket.load(std::memory_order_relaxed);
    unsigned char discard[512];
    std::size_t nDiscarded = 0;
    while (nDiscarded < kClearLimit) {
        const std::ptrdiff_t nReceived = platform::Receive(hSocket, discard, sizeof discard);
        if (nReceived > 0) {
            nDiscarded += static_cast<std::size_t>(nReceived);
            continue;
        }
        if (nReceived < 0 && platform::LastErrorCategory() == platform::ErrorCategory::WouldBlock) {
            return SE_NO_ERROR;
        }
        OnDisconnect();
        return SE_TCPIP_SOCKET_ERROR;
    }
    return SE_NO_ERROR;
}

BOOL CTCPIPPort::TakeAcceptedSocket(TCPIPSocket hAccepted) {
    TCPIPSocket hNone = TCPIP_INVALID_SOCKET;
    return m_Socket.compare_exchange_strong(hNone, hAccepted) ? 1 : 0;
}

void CTCPIPPort::OnConnect() {
    {
        std::lock_guard<std::mutex> guard(m_connectionLock);
        // A Close on the driver's thread may have taken the socket between
        // the accept and now: a port without a socket is not connected.
        if (m_Socket.load(std::memory_order_relaxed) == TCPIP_INVALID_SOCKET) {
            return;
        }
        m_bConnected.store(1, std::memory_order_release);
    }
    if (m_pProtocol != nullptr) {
        m_pProtocol->MasterConnected();
    }
}

void CTCPIPPort::OnDisconnect() {
    if (!IsMaster()) {
        // 1. Neither connected nor connecting, and 2. (slave) the lost
        //    connection's socket goes; then listen afresh and tell the
        //    protocol.
        {
            std::lock_guard<std::mutex> guard(m_connectionLock);
            m_bConnected.store(0, std::memory_order_release);
            m_bConnectPending = 0;
            ReleaseSocket();
        }
        if (m_pListenThread != nullptr) {
            m_pListenThread->ListenAgain();
        }
        if (m_pProtocol != nullptr) {
            m_pProtocol->MasterDisconnected();
        }
        return;
    }
    // 1. and 3. Master: a new connect at once.
    Close();
    Open();
}

void CTCPIPPort::CreateListeningThread() {
    if (m_pListenThread != nullptr) {
        m_pListenThread->StopListen();
        delete m_pListenThread;
    }
    m_pListenThread = new CSlaveListenThread;
}

DWORD CTCPIPPort::StartListen() {
    if (m_pListenThread == nullptr) {
        return SE_TCPIP_LISTEN_NOT_RUNNING;
    }
    if (m_pListenThread->StartListen(kListenIntervalMs, this) != 0) {
        return SE_TCPIP_SOCKET_ERROR;
    }
    return SE_NO_ERROR;
}

DWORD CTCPIPPort::StopListen() {
    if (m_pListenThread == nullptr) {
        return SE_TCPIP_LISTEN_NOT_RUNNING;
    }
    m_pListenThread->StopListen();
    return SE_NO_ERROR;
}

int CTCPIPPort::UseTCPIP() const {
    return m_pProperties != nullptr ? m_pProperties->UseTCPIP() : 0;
}

int CTCPIPPort::GetTCPIPPortNumber() const {
    return m_pProperties != nullptr ? m_pProperties->m_nPortNumber : 0;
}
