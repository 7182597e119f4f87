/** \addtogroup transport_tcpip
 @{ */
// CTCPIPPort: the transport of drivers that talk to their device over TCP.
//
// The owning protocol's style picks the role (without a protocol the port
// is a master, the default style). A master (style 0) connects out to the
// protocol's first IP address and reconnects by itself after any failure: a failed read or write
// closes the socket and starts a new connect at once, and the calls made before that connect
// completes answer 1402. A slave (any other style) waits for a master: its listening thread
// (CSlaveListenThread) accepts one connection at a time and hands it over;
// when that connection is lost the port listens again.
//
// The socket is non-blocking in both roles. Read waits up to one second for
// data and takes what one receive brings; Write sends once. Both count the
// bytes that moved and log the traffic in the caller's CCommsStats.
//
// The port is driven from one thread, the driver's. In the slave role the
// listening thread also writes the socket and the connected flag: it only
// does so while the port has no connection. The reads of both stay
// lock-free; a short lock only makes the listening thread's OnConnect and
// the driver's Close (or a lost slave connection) happen one after the
// other, so that the port is never connected without a socket.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"
#include "kelvara/platform/Socket.h"
#include "kelvara/transport/ComObject.h"

class CCombuf;
class CCommsStats;
class CSlaveListenThread;
class CTCPIPProperties;

/// A socket as the TCP/IP transport holds it: the platform's own handle.
using TCPIPSocket = kelvara::platform::SocketHandle;
/// No socket.
constexpr TCPIPSocket TCPIP_INVALID_SOCKET = kelvara::platform::kInvalidSocket;

/// The TCP/IP port of a driver: a master connecting out, or a slave listening.
class KELVARA_API CTCPIPPort : public CComObject {
public:
    /// Port number 0; the properties and the protocol are not owned. Creates
    /// the listening thread object, which runs only after StartListen.
    CTCPIPPort(const CTCPIPProperties* pProperties, CProtocol* pProtocol);
    /// Stops and destroys the listening thread and closes the socket.
    ~CTCPIPPort() override;

    /// Master: starts a connect (0, or 1400 when it cannot be started).
    /// Slave: nothing to do, 0: the listening thread opens the connection.
    DWORD Open() override;
    /// Closes the connection; always 0.
    DWORD Close() override;

    /// Reads what one receive brings, up to dwCount bytes, waiting up to one
    /// second for the first. 0 when dwCount bytes came, 2001 when fewer or
    /// none came (the buffer keeps dwCount bytes either way), 1402 when not
    /// connected, 1405 would block, 1400 when the connection is lost. With
    /// dwCount 0 it still waits, but makes no receive (that would find 0
    /// bytes, which reads as a closed connection): 0 when the socket became
    /// readable within the second, else 2001; nothing is taken or counted.
    DWORD Read(CCombuf* pBuffer, DWORD dwCount, CCommsStats* pStats);
    /// Sends the buffer once: 0 when all of it went, 2001 when part, 1402,
    /// 1405 or 1400 as for Read. An empty buffer sends nothing and gives 0
    /// (a send of 0 bytes would read as a lost connection); nothing is
    /// counted or logged then.
    DWORD Write(CCombuf* pBuffer, CCommsStats* pStats);
    using CComObject::Read;
    using CComObject::Write;
    /// Discards every byte waiting on the connection: 0, 1402 or 1400. It
    /// receives 512 bytes at a time rather than one, and stops with 0 after
    /// 1 MiB even when more keeps coming, so a peer that never stops sending
    /// cannot hold the driver's thread.
    DWORD Clear();

    /// Sees whether a pending outgoing connect has completed: 1 when it has
    /// (the port is then connected). A master without a pending connect
    /// starts one.
    int TestConnection();
    /// The listening thread's hand-over, first step: the socket of a master
    /// it accepted becomes the port's. FALSE, and nothing changes, while the
    /// port still holds a socket (the caller then closes hAccepted). The
    /// port is not connected yet: OnConnect follows.
    BOOL TakeAcceptedSocket(TCPIPSocket hAccepted);
    /// A master was accepted by the listening thread, which has put its
    /// socket in the port: the port is connected and tells its protocol.
    /// When the socket has gone meanwhile (Close ran on the driver's thread
    /// after the accept) the port stays unconnected and tells nothing.
    void OnConnect();
    /// The connection was lost: a master reconnects at once, a slave listens
    /// afresh and tells its protocol.
    void OnDisconnect();

    /// Starts the listening thread of a slave.
    void CreateListeningThread();
    /// The listening thread, or nullptr.
    CSlaveListenThread* GetListeningThread() const { return m_pListenThread; }
    /// 0, 1401 without a listening thread, 1400 when listening failed.
    DWORD StartListen();
    /// 0, or 1401 without a listening thread.
    DWORD StopListen();

    /// Nonzero when TCP/IP is selected.
    int UseTCPIP() const;
    /// The TCP port.
    int GetTCPIPPortNumber() const;

protected:
    /// TRUE for a master.
    BOOL IsMaster() const;
    /// Shuts down and closes the socket, once: POSIX hands a closed
    /// descriptor's number to the next open at once, so it is forgotten.
    void ReleaseSocket();
    /// The first step of Clear: connected, or a pending connect completed.
    BOOL ConnectedOrTested();
    /// The first step of Read and Write: as ConnectedOrTested, and when
    /// neither, a master starts a new connect.
    BOOL ConnectedOrRestarted();
    /// Waits for data on hSocket; 0 or a standard error code.
    DWORD WaitForData(TCPIPSocket hSocket);
    /// The result of a receive or send that moved nothing (nMoved 0, the
    /// peer closed) or failed (-1): 1405 would block, else the connection
    /// is given up, 1400.
    DWORD TransferFailed(std::ptrdiff_t nMoved);

    /// The TCP settings.
    const CTCPIPProperties* m_pProperties;
    /// The listening thread.
    CSlaveListenThread* m_pListenThread = nullptr;
    ///@{
    /// Written by the listening thread when it accepts; read by the driver's
    /// thread once it has seen the connected flag set.
    std::atomic<TCPIPSocket> m_Socket{TCPIP_INVALID_SOCKET};
    BOOL m_bConnectPending = 0;
    ///@}
    /// Held while the socket and the connected flag change together: in
    /// OnConnect, Close and a slave's OnDisconnect. Never held across a
    /// call into the protocol or the listening thread.
    std::mutex m_connectionLock;

private:
    // Where the master connects to: kept for the retries of TestConnection.
    DWORD m_dwAddress = 0;
    WORD m_wTCPPort = 0;
};
/** @} */
