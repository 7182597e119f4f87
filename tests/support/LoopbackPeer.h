// Peers for the TCP/IP port's tests and benchmarks, on 127.0.0.1: raw
// blocking sockets, a protocol that records its notifications, and a port
// whose socket the tests can see.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <utility>

#include "kelvara/Kelvara.h"
#include "support/BufferText.h"
#include "support/Wait.h"

namespace testsupport {

using namespace std::chrono_literals;
constexpr auto kDeadline = 20s;

// A TCP port that nothing listened on a moment ago.
int FreePort();
int CountOpenDescriptors();
// Data (or the peer's close) waits on the socket.
bool BecomesReadable(int fd, std::chrono::milliseconds deadline = kDeadline);

// One end of a connection, blocking, closed by the destructor.
class RawConnection {
public:
    RawConnection() = default;
    explicit RawConnection(int fd) : m_fd(fd) {}
    RawConnection(RawConnection&& other) noexcept : m_fd(other.Release()) {}
    RawConnection& operator=(RawConnection&& other) noexcept;
    ~RawConnection() { Close(); }
    // Connects to the port; invalid when refused.
    static RawConnection ConnectTo(int nPort);

    bool IsValid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Send(const std::string& bytes);
    // Blocks, without a deadline, until exactly nCount bytes have come:
    // false when the peer closed first. For peers stopped by a shutdown.
    bool ReceiveExactly(unsigned char* pBytes, std::size_t nCount);
    // Exactly n bytes, or what came before the peer closed or the deadline.
    std::string Receive(std::size_t n, std::chrono::milliseconds deadline = kDeadline);
    // True when the peer closes (or resets) before the deadline.
    bool SeesClose(std::chrono::milliseconds deadline = kDeadline);
    void Close();
    // Gives up the descriptor without closing it.
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

class RawListener {
public:
    // nPort 0: any free port.
    explicit RawListener(int nPort);
    ~RawListener();
    int Port() const { return m_nPort; }
    int Fd() const { return m_fd; }
    // The next connection; invalid when none came before the deadline.
    RawConnection Accept(std::chrono::milliseconds deadline = kDeadline);

private:
    int m_fd = -1;
    int m_nPort = 0;
};

class TestProtocol : public CProtocol {
public:
    explicit TestProtocol(ProtocolStyle eStyle, const char* pszAddress = "127.0.0.1")
        : m_strAddress(pszAddress) {
        m_eProtocolStyle = eStyle;
    }
    void GetFirstIPAddress(CString& strAddress) override { strAddress = m_strAddress; }
    void MasterConnected() override { ++m_nConnected; }
    void MasterDisconnected() override { ++m_nDisconnected; }

    CString m_strAddress;
    std::atomic<int> m_nConnected{0};
    std::atomic<int> m_nDisconnected{0};
};

class ProbedPort : public CTCPIPPort {
public:
    using CTCPIPPort::CTCPIPPort;
    TCPIPSocket Socket() const { return m_Socket.load(); }
};

}  // namespace testsupport
