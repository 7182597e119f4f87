#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

#include "kelvara/platform/Socket.h"

namespace kelvara::platform {

namespace {

// The socket handle holds the descriptor; kInvalidSocket is -1 converted.
int Fd(SocketHandle hSocket) {
    return static_cast<int>(static_cast<std::intptr_t>(hSocket));
}

SocketHandle Handle(int fd) {
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

sockaddr_in MakeAddress(std::uint32_t nAddress, std::uint16_t nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = nAddress;
    address.sin_port = htons(nPort);
    return address;
}

// poll for one socket, carrying on after a signal with the time that is
// left. The revents, 0 on time-out, -1 on failure.
int PollOne(SocketHandle hSocket, short nEvents, int nTimeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        pollfd entry{Fd(hSocket), nEvents, 0};
        const int nResult = ::poll(&entry, 1, nTimeoutMs);
        if (nResult > 0) {
            if (entry.revents & POLLNVAL) {
                errno = EBADF;
                return -1;
            }
            return entry.revents;
        }
        if (nResult == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
        if (nTimeoutMs < 0) {
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        nTimeoutMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
}

}  // namespace

int StartSockets() {
    return 0;
}

SocketHandle CreateStreamSocket() {
    return Handle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

bool SetReuseAddress(SocketHandle hSocket) {
    const int nOn = 1;
    return ::setsockopt(Fd(hSocket), SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn) == 0;
}

bool SetNonBlocking(SocketHandle hSocket) {
    const int nFlags = ::fcntl(Fd(hSocket), F_GETFL);
    return nFlags != -1 && ::fcntl(Fd(hSocket), F_SETFL, nFlags | O_NONBLOCK) == 0;
}

std::uint32_t Ipv4AddressFromText(const char* pszAddress) {
    if (pszAddress == nullptr) {
        return kNoIpv4Address;
    }
    in_addr address{};
    return ::inet_aton(pszAddress, &address) != 0 ? address.s_addr : kNoIpv4Address;
}

ConnectResult Connect(SocketHandle hSocket, std::uint32_t nAddress, std::uint16_t nPort) {
    const sockaddr_in address = MakeAddress(nAddress, nPort);
    if (::connect(Fd(hSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return ConnectResult::Connected;
    }
    // EAGAIN from a TCP connect means the system ran out of local ports or
    // routes: a failure, not a connect under way.
    return errno == EINPROGRESS ? ConnectResult::Started : ConnectResult::Failed;
}

ConnectResult RestartConnect(SocketHandle hSocket, std::uint32_t nAddress, std::uint16_t nPort) {
    const ConnectResult result = Connect(hSocket, nAddress, nPort);
    // Linux answers the first connect after a failed one with that failure
    // (or ECONNABORTED once it has been read) and only resets the socket.
    if (result != ConnectResult::Failed || (errno != ECONNABORTED && errno != ECONNREFUSED)) {
        return result;
    }
    return Connect(hSocket, nAddress, nPort);
}

bool Bind(SocketHandle hSocket, std::uint32_t nAddress, std::uint16_t nPort) {
    const sockaddr_in address = MakeAddress(nAddress, nPort);
    return ::bind(Fd(hSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(SocketHandle hSocket, int nBacklog) {
    return ::listen(Fd(hSocket), nBacklog) == 0;
}

std::uint16_t LocalPort(SocketHandle hSocket) {
    sockaddr_in address{};
    socklen_t nLength = sizeof address;
    if (::getsockname(Fd(hSocket), reinterpret_cast<sockaddr*>(&address), &nLength) != 0 ||
        address.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(address.sin_port);
}

SocketHandle Accept(SocketHandle hListener) {
    for (;;) {
        const int fd = ::accept4(Fd(hListener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd != -1 || errno != EINTR) {
            return Handle(fd);
        }
    }
}

int WaitReadable(SocketHandle hSocket, int nTimeoutMs) {
    const int nEvents = PollOne(hSocket, POLLIN, nTimeoutMs);
    if (nEvents <= 0) {
        return nEvents;
    }
    // A closed or failed connection counts as readable, as for select: the
    // receive that follows tells which.
    return (nEvents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

int WaitWritable(SocketHandle hSocket, int nTimeoutMs) {
    const int nEvents = PollOne(hSocket, POLLOUT, nTimeoutMs);
    if (nEvents <= 0) {
        return nEvents;
    }
    return ((nEvents & POLLOUT) && !(nEvents & (POLLERR | POLLHUP))) ? 1 : 0;
}

int PendingError(SocketHandle hSocket) {
    int nError = 0;
    socklen_t nLength = sizeof nError;
    if (::getsockopt(Fd(hSocket), SOL_SOCKET, SO_ERROR, &nError, &nLength) != 0) {
        return errno;
    }
    return nError;
}

std::ptrdiff_t Receive(SocketHandle hSocket, void* pBuffer, std::size_t nLength) {
    for (;;) {
        const ssize_t nResult = ::recv(Fd(hSocket), pBuffer, nLength, 0);
        if (nResult != -1 || errno != EINTR) {
            return nResult;
        }
    }
}

std::ptrdiff_t Send(SocketHandle hSocket, const void* pBuffer, std::size_t nLength) {
    for (;;) {
        const ssize_t nResult = ::send(Fd(hSocket), pBuffer, nLength, MSG_NOSIGNAL);
        if (nResult != -1 || errno != EINTR) {
            return nResult;
        }
    }
}

ErrorCategory SetKeepAlive(SocketHandle hSocket, int nIdleSeconds, int nIntervalSeconds,
                           int nProbes) {
    const int nOn = 1;
    const int fd = Fd(hSocket);
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &nOn, sizeof nOn) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &nIdleSeconds, sizeof nIdleSeconds) != 0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &nIntervalSeconds, sizeof nIntervalSeconds) !=
            0 ||
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &nProbes, sizeof nProbes) != 0) {
        return ErrorCategoryOf(errno);
    }
    return ErrorCategory::None;
}

bool Shutdown(SocketHandle hSocket) {
    return ::shutdown(Fd(hSocket), SHUT_RDWR) == 0;
}

bool CloseSocket(SocketHandle hSocket) {
    // The descriptor is released even when close reports an error (EINTR
    // included), so it is never closed again.
    return ::close(Fd(hSocket)) == 0;
}

}  // namespace kelvara::platform
