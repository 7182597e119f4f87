#include "kelvara/transport/tcpip/SlaveListenThread.h"

#include "kelvara/platform/Socket.h"
#include "kelvara/platform/SystemError.h"

namespace platform = kelvara::platform;

namespace {

constexpr int kListenBacklog = 5;
constexpr std::uint32_t kAnyAddress = 0;

}  // namespace

CSlaveListenThread::~CSlaveListenThread() {
    // Run uses this class's members: the thread must end before they go.
    StopThread();
    CloseListenSocket();
}

void CSlaveListenThread::CloseListenSocket() {
    std::lock_guard<std::mutex> guard(m_listenSocketLock);
    const TCPIPSocket hSocket = m_ListenSocket.exchange(TCPIP_INVALID_SOCKET);
    if (hSocket != TCPIP_INVALID_SOCKET) {
        platform::CloseSocket(hSocket);
    }
}

int CSlaveListenThread::StartListen(int nInterval, CTCPIPPort* pPort) {
    // 1. Start from nothing. A listening socket still held (StartListen
    //    called twice) is closed rather than leaked.
    m_bSocketsStarted.store(0, std::memory_order_release);
    m_bConnected.store(0, std::memory_order_release);
    CloseListenSocket();
    m_pPort.store(pPort, std::memory_order_release);
    if (pPort == nullptr) {
        return 0;
    }
    // 2. The socket layer.
    if (const int nStartup = platform::StartSockets(); nStartup != 0) {
        return nStartup;
    }
    m_bSocketsStarted.store(1, std::memory_order_release);
    // 3.-4. A listening socket on any local address, the port's TCP port.
    if (const int nError = OpenListenSocket(pPort); nError != 0) {
        return nError;
    }
    // 5. Run.
    m_nSleepAfterWork.store(nInterval, std::memory_order_relaxed);
    StartThread(1);
    return 0;
}

int CSlaveListenThread::OpenListenSocket(CTCPIPPort* pPort) {
    // A non-blocking stream socket that reuses its address, bound to any
    // local address and the port's TCP port. On failure nothing is kept.
    const TCPIPSocket hSocket = platform::CreateStreamSocket();
    if (hSocket == TCPIP_INVALID_SOCKET) {
        return platform::LastSystemError();
    }
    const auto nPort = static_cast<std::uint16_t>(pPort->GetTCPIPPortNumber());
    if (!platform::SetReuseAddress(hSocket) || !platform::SetNonBlocking(hSocket) ||
        !platform::Bind(hSocket, kAnyAddress, nPort) ||
        !platform::Listen(hSocket, kListenBacklog)) {
        const int nError = platform::LastSystemError();
        platform::CloseSocket(hSocket);
        platform::SetLastSystemError(nError);
        return nError;
    }
    // Another thread may have listened meanwhile (ListenAgain against the
    // loop's retry): keep the newest socket, close the other.
    std::lock_guard<std::mutex> guard(m_listenSocketLock);
    const TCPIPSocket hOld = m_ListenSocket.exchange(hSocket);
    if (hOld != TCPIP_INVALID_SOCKET) {
        platform::CloseSocket(hOld);
    }
    return 0;
}

void CSlaveListenThread::RetryListen() {
    CTCPIPPort* pPort = m_pPort.load(std::memory_order_acquire);
    if (pPort != nullptr && OpenListenSocket(pPort) == 0) {
        m_bListenFailed.store(0, std::memory_order_release);
    }
}

int CSlaveListenThread::Run() {
    if (ShouldTerminate()) {
        return 0;
    }
    do {
        CCriticalSection* pLock = NotifyWorking();
        if (!m_bConnected.load(std::memory_order_acquire)) {
            if (m_bListenFailed.load(std::memory_order_acquire)) {
                RetryListen();
            }
            ListenForMsg();
        }
        NotifyFinishedWork(pLock);
        ThreadSleepAfterWork();
    } while (!ShouldTerminate());
    return 0;
}

int CSlaveListenThread::ListenForMsg() {
    // 1. Nothing to listen with, or nowhere to hand a master: the port may
    //    still hold one from before a StopListen, and its socket must not
    //    be overwritten.
    CTCPIPPort* pPort = m_pPort.load(std::memory_order_acquire);
    if (!m_bSocketsStarted.load(std::memory_order_acquire) || pPort == nullptr ||
        pPort->IsConnected()) {
        return 0;
    }
    // 2. One accept on the non-blocking socket.
    TCPIPSocket hAccepted = TCPIP_INVALID_SOCKET;
    {
        std::lock_guard<std::mutex> guard(m_listenSocketLock);
        const TCPIPSocket hListen = m_ListenSocket.load(std::memory_order_acquire);
        if (hListen != TCPIP_INVALID_SOCKET) {
            hAccepted = platform::Accept(hListen);
        }
    }
    // 3. No master waiting.
    if (hAccepted == TCPIP_INVALID_SOCKET) {
        return -1;
    }
    // 4. Hand it over; the port becomes connected and tells its protocol.
    //    A port that still holds a socket keeps it: the accepted one
    //    would replace it unclosed.
    if (!pPort->TakeAcceptedSocket(hAccepted)) {
        platform::CloseSocket(hAccepted);
        return -1;
    }
    m_bConnected.store(1, std::memory_order_release);
    pPort->OnConnect();
    return 0;
}

void CSlaveListenThread::StopListen() {
    CloseListenSocket();
    if (m_bSocketsStarted.load(std::memory_order_acquire)) {
        m_bSocketsStarted.store(0, std::memory_order_release);
        m_bConnected.store(0, std::memory_order_release);
    }
    StopThread();
}

void CSlaveListenThread::ListenAgain() {
    CloseListenSocket();
    // The address may still be busy for a moment (a child process started
    // just now can hold a copy of the old socket): the loop then keeps
    // trying on each pass rather than leaving the slave deaf for good.
    const int nError = StartListen(m_nSleepAfterWork.load(std::memory_order_relaxed),
                                   m_pPort.load(std::memory_order_acquire));
    m_bListenFailed.store(nError != 0 ? 1 : 0, std::memory_order_release);
}
