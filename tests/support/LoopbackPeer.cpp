#include "support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

namespace testsupport {

namespace {

sockaddr_in Loopback(int nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    return address;
}

}  // namespace

int FreePort() {
    return RawListener(0).Port();
}

int CountOpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

bool BecomesReadable(int fd, std::chrono::milliseconds deadline) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(deadline.count())) == 1;
}

RawConnection& RawConnection::operator=(RawConnection&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.Release();
    }
    return *this;
}

RawConnection RawConnection::ConnectTo(int nPort) {
    RawConnection connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(nPort);
    if (::connect(connection.m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) {
        connection.Close();
    }
    return connection;
}

void RawConnection::Send(const std::string& bytes) {
    ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

bool RawConnection::ReceiveExactly(unsigned char* pBytes, std::size_t nCount) {
    for (std::size_t nGot = 0; nGot < nCount;) {
        const ssize_t n = ::recv(m_fd, pBytes + nGot, nCount - nGot, 0);
        if (n <= 0) {
            return false;
        }
        nGot += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawConnection::Receive(std::size_t n, std::chrono::milliseconds deadline) {
    std::string bytes;
    char chunk[512];
    while (bytes.size() < n && BecomesReadable(m_fd, deadline)) {
        const ssize_t nGot = ::recv(m_fd, chunk, std::min(sizeof chunk, n - bytes.size()), 0);
        if (nGot <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(nGot));
    }
    return bytes;
}

bool RawConnection::SeesClose(std::chrono::milliseconds deadline) {
    char byte;
    while (BecomesReadable(m_fd, deadline)) {
        if (::recv(m_fd, &byte, 1, 0) <= 0) {
            return true;
        }
    }
    return false;
}

void RawConnection::Close() {
    if (m_fd >= 0) {
        ::close(Release());
    }
}

RawListener::RawListener(int nPort) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int nOn = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
    sockaddr_in address = Loopback(nPort);
    socklen_t nLength = sizeof address;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(m_fd, 5) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0) {
        m_nPort = ntohs(address.sin_port);
    }
}

RawListener::~RawListener() {
    ::close(m_fd);
}

RawConnection RawListener::Accept(std::chrono::milliseconds deadline) {
    if (!BecomesReadable(m_fd, deadline)) {
        return RawConnection();
    }
    return RawConnection(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace testsupport
