/** \addtogroup transport_tcpip
 @{ */
/// CSlaveListenThread: the listening thread of a TCP/IP port in the slave
/// role.
///
/// It owns a listening socket on the port's configured TCP port and, once
/// per pass of its loop, while no master is connected, accepts one waiting
/// connection, hands the socket to the port and calls the port's OnConnect.
/// While a master is connected further masters wait in the listen queue.
/// When the port loses its master it calls ListenAgain, which listens on a
/// fresh socket (masters waiting on the old one are dropped and must connect
/// again).
///
/// StartListen, StopListen and ListenAgain run on the driver's thread; the
/// loop runs on this thread. The flags and handles they share are atomics
/// without a lock, except that closing the listening socket waits for an
/// accept in progress: POSIX reuses a closed descriptor's number at once.
#pragma once

#include <atomic>
#include <mutex>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/WinThreadPlus.h"
#include "kelvara/transport/tcpip/TCPIPPort.h"

class KELVARA_API CSlaveListenThread : public CWinThreadPlus {
public:
    /// Constructs with the defaults of the class.
    CSlaveListenThread() = default;
    /// Stops the thread and closes the listening socket.
    ~CSlaveListenThread() override;

    /// Listens on the port's TCP port and starts the thread with
    /// nInterval ms between passes. 0 on success (also, doing nothing, for a
    /// null port); else the system error number of the first step that
    /// failed, and the thread is not started.
    int StartListen(int nInterval, CTCPIPPort* pPort);
    /// Closes the listening socket and stops the thread.
    void StopListen();
    /// Closes the listening socket and listens afresh with the same interval
    /// and port. When that fails the loop tries again on each pass until it
    /// listens.
    void ListenAgain();
    /// One accept attempt: 0 when a master was accepted or there is nothing
    /// to listen with, -1 when no connection was waiting. No accept is made
    /// while the port reports itself connected, even when this thread did
    /// not connect it (a master kept over a StopListen and StartListen):
    /// the port's socket is never overwritten. A port that holds a socket
    /// without being connected (a slave's Open forgets the connection, not
    /// its socket; a master's connect under way) keeps it: the accepted
    /// connection is closed and -1 returned.
    int ListenForMsg();

    /// TRUE while a master is connected.
    BOOL IsMasterConnected() const { return m_bConnected.load(std::memory_order_acquire); }

protected:
    int Run() override;

    /// Closes the listening socket.
    void CloseListenSocket();

    /// The listening socket.
    std::atomic<TCPIPSocket> m_ListenSocket{TCPIP_INVALID_SOCKET};
    /// TRUE once the sockets were started.
    std::atomic<BOOL> m_bSocketsStarted{0};
    /// TRUE while a master is connected.
    std::atomic<BOOL> m_bConnected{0};
    /// The port served.
    std::atomic<CTCPIPPort*> m_pPort{nullptr};

private:
    // Creates, binds and listens; 0, or the system error number (nothing
    // is kept then).
    int OpenListenSocket(CTCPIPPort* pPort);
    void RetryListen();

    // Set when ListenAgain could not listen; the loop retries.
    std::atomic<BOOL> m_bListenFailed{0};
    // Held around an accept and around closing the listening socket.
    std::mutex m_listenSocketLock;
};
/** @} */
