#include "kelvara/replay/ReplayServer.h"

#include <algorithm>
#include <cmath>

namespace kelvara::replay {

namespace {

// How long one pass waits for input: short, so that Stop is prompt.
constexpr int kPassMs = 10;
constexpr int kSendTimeoutMs = 2000;

// A listening, non-blocking socket, or kInvalidSocket with the reason kept.
platform::SocketHandle Listen(std::uint32_t nAddress, std::uint16_t nPort) {
    namespace p = platform;
    const p::SocketHandle hSocket = p::CreateStreamSocket();
    if (hSocket == p::kInvalidSocket) {
        return hSocket;
    }
    if (p::SetReuseAddress(hSocket) && p::Bind(hSocket, nAddress, nPort) && p::Listen(hSocket, 4) &&
        p::SetNonBlocking(hSocket)) {
        return hSocket;
    }
    const int nError = p::LastSystemError();
    p::CloseSocket(hSocket);
    p::SetLastSystemError(nError);
    return p::kInvalidSocket;
}

}  // namespace

ReplayServer::~ReplayServer() = default;

void ReplayServer::Stop() {
    StopThread();
}

int ReplayServer::Run() {
    while (!ShouldTerminate()) {
        DoWork();
    }
    return 0;
}

void ReplayServer::Take(const std::uint8_t* pData, std::size_t nLength) {
    m_nQuietFor = 0;
    if (m_bDiscarding) {
        return;
    }
    for (const Outcome& outcome : m_player.Receive(pData, nLength)) {
        if (outcome.kind == Outcome::Kind::Mismatch) {
            m_bDiscarding = true;
            return;
        }
        if (outcome.kind == Outcome::Kind::Reply) {
            const double dDelay = outcome.dwDelayMs * m_dDelayScale.load(std::memory_order_relaxed);
            if (dDelay >= 1.0) {
                ThreadSleep(static_cast<int>(std::lround(std::min(dDelay, 600000.0))));
            }
            if (ShouldTerminate() || !Send(outcome.reply.data(), outcome.reply.size())) {
                return;
            }
        }
    }
}

void ReplayServer::QuietLine() {
    m_nQuietFor += kPassMs;
    if (m_nQuietFor >= kQuietMs) {
        m_bDiscarding = false;
        m_player.Quiet();
        m_nQuietFor = 0;
    }
}

// ---------------------------------------------------------------- TCP

TcpReplayServer::~TcpReplayServer() {
    Stop();
}

bool TcpReplayServer::Start(const char* pszAddress, std::uint16_t nPort) {
    namespace p = platform;
    if (m_hListener != p::kInvalidSocket || p::StartSockets() != 0) {
        return p::FailWith(p::ErrorCategory::Busy);
    }
    const std::uint32_t nAddress = p::Ipv4AddressFromText(pszAddress);
    if (nAddress == p::kNoIpv4Address) {
        return p::FailWith(p::ErrorCategory::Invalid);
    }
    m_hListener = Listen(nAddress, nPort);
    if (m_hListener == p::kInvalidSocket) {
        return false;
    }
    // For port 0, the one the system picked.
    m_nPort = p::LocalPort(m_hListener);
    m_nSleepAfterWork = 0;
    return StartThread(0) != 0;
}

void TcpReplayServer::Stop() {
    StopThread();
    CloseClient();
    if (m_hListener != platform::kInvalidSocket) {
        platform::CloseSocket(m_hListener);
        m_hListener = platform::kInvalidSocket;
    }
}

void TcpReplayServer::CloseClient() {
    if (m_hClient != platform::kInvalidSocket) {
        platform::CloseSocket(m_hClient);
        m_hClient = platform::kInvalidSocket;
    }
}

void ReplayServer::StartOver() {
    m_player.Quiet();
    m_bDiscarding = false;
}

void TcpReplayServer::DoWork() {
    namespace p = platform;
    const p::SocketHandle hNew = p::Accept(m_hListener);
    if (hNew != p::kInvalidSocket) {
        CloseClient();
        StartOver();
        m_hClient = hNew;
    }
    if (m_hClient == p::kInvalidSocket) {
        p::WaitReadable(m_hListener, kPassMs);
        return;
    }
    const int nReady = p::WaitReadable(m_hClient, kPassMs);
    if (nReady == 0) {
        QuietLine();
        return;
    }
    std::uint8_t buffer[4096];
    const std::ptrdiff_t nRead = nReady > 0 ? p::Receive(m_hClient, buffer, sizeof buffer) : -1;
    if (nRead > 0) {
        Take(buffer, static_cast<std::size_t>(nRead));
    } else if (nRead == 0 || p::LastErrorCategory() != p::ErrorCategory::WouldBlock) {
        // The master left: what it had begun ends here.
        CloseClient();
        StartOver();
    }
}

bool TcpReplayServer::Send(const std::uint8_t* pData, std::size_t nLength) {
    namespace p = platform;
    for (std::size_t nDone = 0; nDone < nLength;) {
        const std::ptrdiff_t n = p::Send(m_hClient, pData + nDone, nLength - nDone);
        if (n > 0) {
            nDone += static_cast<std::size_t>(n);
        } else if (p::LastErrorCategory() != p::ErrorCategory::WouldBlock ||
                   p::WaitWritable(m_hClient, kSendTimeoutMs) != 1) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------- serial

SerialReplayServer::~SerialReplayServer() {
    Stop();
}

platform::ErrorCategory SerialReplayServer::Start() {
    if (m_pTerminal) {
        return platform::ErrorCategory::Busy;
    }
    platform::ErrorCategory error = platform::ErrorCategory::None;
    m_pTerminal = platform::PseudoTerminal::Open(&error);
    if (!m_pTerminal) {
        return error;
    }
    m_nSleepAfterWork = 0;
    return StartThread(0) != 0 ? platform::ErrorCategory::None : platform::ErrorCategory::Other;
}

std::string SerialReplayServer::DevicePath() const {
    return m_pTerminal ? m_pTerminal->DevicePath() : std::string();
}

void SerialReplayServer::Stop() {
    StopThread();
    m_pTerminal.reset();
}

void SerialReplayServer::DoWork() {
    const int nReady = m_pTerminal->WaitReadable(kPassMs);
    if (nReady == 0) {
        QuietLine();
        return;
    }
    std::uint8_t buffer[4096];
    const std::ptrdiff_t nRead = nReady > 0 ? m_pTerminal->Read(buffer, sizeof buffer) : -1;
    if (nRead > 0) {
        Take(buffer, static_cast<std::size_t>(nRead));
    } else if (nRead < 0) {
        // A terminal that fails keeps failing: do not spin on it.
        ThreadSleep(kPassMs);
    }
}

bool SerialReplayServer::Send(const std::uint8_t* pData, std::size_t nLength) {
    return m_pTerminal->Write(pData, nLength, kSendTimeoutMs);
}

}  // namespace kelvara::replay
