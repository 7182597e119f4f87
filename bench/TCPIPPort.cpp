// A master's round trip through CTCPIPPort (Write of 12 bytes, Read of the
// 29-byte reply) against a plain blocking-socket ping-pong of the same
// sizes, each with a loopback responder thread of its own. The port should
// stay within 1.3 times the plain exchange.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "kelvara/Kelvara.h"

namespace {

constexpr std::size_t kRequestSize = 12;
constexpr std::size_t kReplySize = 29;
constexpr auto kConnectDeadline = std::chrono::seconds(5);

sockaddr_in Loopback(int nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    return address;
}

bool ReceiveExactly(int fd, unsigned char* pBytes, std::size_t nCount) {
    for (std::size_t nGot = 0; nGot < nCount;) {
        const ssize_t n = ::recv(fd, pBytes + nGot, nCount - nGot, 0);
        if (n <= 0) {
            return false;
        }
        nGot += static_cast<std::size_t>(n);
    }
    return true;
}

// Answers every 12-byte request with 29 bytes, one connection at a time.
class Responder {
public:
    Responder() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = Loopback(0);
        socklen_t nLength = sizeof address;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 5);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Responder() {
        // Wakes the blocked accept.
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_nPort; }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0) {
                return;
            }
            unsigned char request[kRequestSize];
            unsigned char reply[kReplySize] = {0x01, 0x03, 0x1A};
            while (ReceiveExactly(fd, request, sizeof request)) {
                ::send(fd, reply, sizeof reply, MSG_NOSIGNAL);
            }
            ::close(fd);
        }
    }

    int m_listen = -1;
    int m_nPort = 0;
    std::thread m_thread;
};

class MasterProtocol : public CProtocol {
public:
    void GetFirstIPAddress(CString& strAddress) override { strAddress = "127.0.0.1"; }
};

void BM_TCPIPPortRoundTrip(benchmark::State& state) {
    Responder responder;
    MasterProtocol protocol;
    CTCPIPProperties properties;
    properties.m_nPortNumber = responder.Port();
    CTCPIPPort port(&properties, &protocol);
    CCommsStats stats;
    CCombuf request;
    request.SetSize(kRequestSize);
    CCombuf reply;
    // The responder listens already, so the connect completes at once on
    // loopback; a few seconds without it mean something is wrong.
    const auto deadline = std::chrono::steady_clock::now() + kConnectDeadline;
    bool bConnected = port.Open() == 0;
    while (bConnected && port.TestConnection() != 1) {
        if (std::chrono::steady_clock::now() > deadline) {
            bConnected = false;
        }
        std::this_thread::yield();
    }
    if (!bConnected) {
        state.SkipWithError("the port did not connect to the responder");
    }
    for (auto _ : state) {
        if (port.Write(&request, &stats) != 0 || port.Read(&reply, kReplySize, &stats) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    port.Close();
}
BENCHMARK(BM_TCPIPPortRoundTrip)->UseRealTime();

void BM_RawSocketRoundTrip(benchmark::State& state) {
    Responder responder;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(responder.Port());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("connect failed");
    }
    unsigned char request[kRequestSize] = {};
    unsigned char reply[kReplySize];
    for (auto _ : state) {
        if (::send(fd, request, sizeof request, MSG_NOSIGNAL) != sizeof request ||
            !ReceiveExactly(fd, reply, sizeof reply)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    ::close(fd);
}
BENCHMARK(BM_RawSocketRoundTrip)->UseRealTime();

}  // namespace
