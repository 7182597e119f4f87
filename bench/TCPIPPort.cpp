// A master's round trip through CTCPIPPort (Write of 12 bytes, Read of the
// 29-byte reply) against a plain blocking-socket ping-pong of the same
// sizes, each with a loopback responder thread of its own. The port should
// stay within 1.3 times the plain exchange.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "kelvara/Kelvara.h"
#include "support/LoopbackPeer.h"

namespace {

using testsupport::RawConnection;

constexpr std::size_t kRequestSize = 12;
constexpr std::size_t kReplySize = 29;
constexpr auto kConnectDeadline = std::chrono::seconds(5);

// Answers every 12-byte request with 29 bytes, one connection at a time.
class Responder {
public:
    Responder() : m_thread([this] { Serve(); }) {}
    ~Responder() {
        // Wakes the blocked accept.
        ::shutdown(m_listener.Fd(), SHUT_RDWR);
        m_thread.join();
    }
    int Port() const { return m_listener.Port(); }

private:
    void Serve() {
        for (;;) {
            RawConnection connection(::accept(m_listener.Fd(), nullptr, nullptr));
            if (!connection.IsValid()) {
                return;
            }
            unsigned char request[kRequestSize];
            unsigned char reply[kReplySize] = {0x01, 0x03, 0x1A};
            while (connection.ReceiveExactly(request, sizeof request)) {
                ::send(connection.Fd(), reply, sizeof reply, MSG_NOSIGNAL);
            }
        }
    }

    testsupport::RawListener m_listener{0};
    std::thread m_thread;
};

void BM_TCPIPPortRoundTrip(benchmark::State& state) {
    Responder responder;
    testsupport::TestProtocol protocol(CProtocol::PROTOCOL_STYLE_MASTER);
    CTCPIPProperties properties;
    properties.m_nPortNumber = responder.Port();
    CTCPIPPort port(&properties, &protocol);
    CCommsStats stats;
    CCombuf request;
    request.SetSize(kRequestSize);
    CCombuf reply;
    // The responder listens already, so the connect completes at once on
    // loopback; a few seconds without it mean something is wrong.
    if (port.Open() != 0 ||
        !testsupport::WaitUntil([&] { return port.TestConnection() == 1; }, kConnectDeadline)) {
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
    RawConnection connection = RawConnection::ConnectTo(responder.Port());
    if (!connection.IsValid()) {
        state.SkipWithError("connect failed");
    }
    unsigned char request[kRequestSize] = {};
    unsigned char reply[kReplySize];
    for (auto _ : state) {
        if (::send(connection.Fd(), request, sizeof request, MSG_NOSIGNAL) != sizeof request ||
            !connection.ReceiveExactly(reply, sizeof reply)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_RawSocketRoundTrip)->UseRealTime();

}  // namespace
