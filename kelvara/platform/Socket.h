/** \addtogroup platform
 @{ */
// IPv4 stream sockets for the TCP/IP transport.
//
// The transport was shaped around the Winsock calls; each function here is
// the POSIX call that does what the transport needs of its Winsock
// counterpart, including where the two systems behave differently:
//
// - a non-blocking connect that has not finished is Started, whatever
//   number the system reports for it;
// - a connecting socket whose connect failed polls writable on POSIX, with
//   the failure as its pending error; WaitWritable does not count it as
//   writable, as select's write set would not on Winsock;
// - after a failed connect POSIX needs one connect call to take the failure
//   and another to start over: RestartConnect makes both;
// - an accepted socket does not inherit the listener's non-blocking mode;
//   Accept sets it;
// - Send never raises SIGPIPE on a connection the peer has closed.
//
// Functions that fail leave the reason as the last system error
// (SystemError.h): a call with nothing to do on a non-blocking socket fails
// as WouldBlock. Every socket is close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

/// The system's socket: a descriptor on POSIX, a SOCKET on Windows.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};  ///< No socket.

/// How a connect ended: at once, under way (non-blocking), or failed.
enum class ConnectResult { Connected, Started, Failed };

/// What inet_addr answers for a text that is not an address.
constexpr std::uint32_t kNoIpv4Address = 0xFFFFFFFFu;

/// Start-up of the socket layer: 0 on success, else the error number. POSIX
/// needs none, so it always succeeds.
KELVARA_API int StartSockets();

/// A new IPv4 stream socket, or kInvalidSocket.
KELVARA_API SocketHandle CreateStreamSocket();
/// Lets a listener bind a port that a closed connection still holds.
KELVARA_API bool SetReuseAddress(SocketHandle hSocket);
/// Makes every later call on the socket return at once.
KELVARA_API bool SetNonBlocking(SocketHandle hSocket);

/// The address in network byte order, read as inet_addr reads it (dotted
/// forms, with octal and hexadecimal parts); kNoIpv4Address for a null or
/// malformed text.
KELVARA_API std::uint32_t Ipv4AddressFromText(const char* pszAddress);

/// Address in network byte order, port in host byte order. On a non-blocking
/// socket a connect that has not finished yet is Started.
KELVARA_API ConnectResult Connect(SocketHandle hSocket, std::uint32_t nAddress,
                                  std::uint16_t nPort);
/// Connects again on a socket whose earlier connect failed; the result is as
/// for Connect.
KELVARA_API ConnectResult RestartConnect(SocketHandle hSocket, std::uint32_t nAddress,
                                         std::uint16_t nPort);
/// Binds to an address (network byte order) and port (host byte order).
KELVARA_API bool Bind(SocketHandle hSocket, std::uint32_t nAddress, std::uint16_t nPort);
/// Starts listening, with up to nBacklog connections waiting.
KELVARA_API bool Listen(SocketHandle hSocket, int nBacklog);
/// The port (host byte order) the socket is bound to, 0 when it is not or
/// the call failed: what the system picked for a bind to port 0.
KELVARA_API std::uint16_t LocalPort(SocketHandle hSocket);
/// The next waiting connection, non-blocking, or kInvalidSocket when none
/// waits or the call failed.
KELVARA_API SocketHandle Accept(SocketHandle hListener);

/// 1 when the socket can be read (data, the peer's close or an error waits),
/// 0 when nothing came within nTimeoutMs, -1 when the wait failed.
KELVARA_API int WaitReadable(SocketHandle hSocket, int nTimeoutMs);
/// 1 when the socket is connected and can take data, 0 when not (yet, or its
/// connect failed: see PendingError), -1 when the wait failed.
KELVARA_API int WaitWritable(SocketHandle hSocket, int nTimeoutMs);
/// The socket's pending system error number (0 when none; ErrorCategoryOf
/// tells its category); reading it clears it.
KELVARA_API int PendingError(SocketHandle hSocket);

/// Bytes received, 0 when the peer has closed, -1 on error.
KELVARA_API std::ptrdiff_t Receive(SocketHandle hSocket, void* pBuffer, std::size_t nLength);
/// Bytes sent, -1 on error.
KELVARA_API std::ptrdiff_t Send(SocketHandle hSocket, const void* pBuffer, std::size_t nLength);
/// Turns on keepalive probes: the first after nIdleSeconds without traffic,
/// then one every nIntervalSeconds; after nProbes unanswered ones the
/// connection fails as a lost one, so a peer that vanished without closing
/// is found. ErrorCategory::None, or the failure's category (the last system
/// error holds its number).
KELVARA_API ErrorCategory SetKeepAlive(SocketHandle hSocket, int nIdleSeconds, int nIntervalSeconds,
                                       int nProbes);
/// Shuts down both directions.
KELVARA_API bool Shutdown(SocketHandle hSocket);
/// Closes the socket; the handle is no longer valid after.
KELVARA_API bool CloseSocket(SocketHandle hSocket);

}  // namespace kelvara::platform
/** @} */
