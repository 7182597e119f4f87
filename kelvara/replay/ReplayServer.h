/** \addtogroup replay
 @{ */
// The replay player served on a real transport, on a thread of its own:
// on a TCP port of this machine (a driver's TCP/IP port connects to it) or
// on a pseudo-terminal (a driver's serial port opens its path). Replies go
// out after their recorded delays, scaled by SetDelayScale. When the line
// has been quiet for kQuietMs, a request begun there is reported as cut
// short, and bytes that follow a mismatch until then are dropped with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/PseudoTerminal.h"
#include "kelvara/platform/Socket.h"
#include "kelvara/platform/SystemError.h"
#include "kelvara/replay/ReplayDevice.h"
#include "kelvara/sibling/WinThreadPlus.h"

namespace kelvara::replay {

/// What the servers share: the player, the delay scale and the quiet rule.
class KELVARA_API ReplayServer : public CWinThreadPlus {
public:
    /// Milliseconds of silence that end a request.
    static constexpr int kQuietMs = 50;

    /// The player must outlive the server.
    explicit ReplayServer(ReplayDevice& player) : m_player(player) {}
    ~ReplayServer() override;

    /// Recorded delays times this factor (1 by default; 0 answers at once).
    void SetDelayScale(double dScale) { m_dDelayScale.store(dScale, std::memory_order_relaxed); }
    /// Stops serving; the transport closes.
    virtual void Stop();
    /// Serves until stopped: a pass after another, with no sleep between, as
    /// each pass already waits for input (briefly, so that Stop is prompt).
    int Run() override;

protected:
    /// Feeds bytes read to the player and sends its replies through Send.
    void Take(const std::uint8_t* pData, std::size_t nLength);
    /// Called when nothing came for kQuietMs.
    void QuietLine();
    /// A master came or went: a request it had begun is forgotten.
    void StartOver();
    /// Sends bytes to the driver; false when the line or connection failed.
    virtual bool Send(const std::uint8_t* pData, std::size_t nLength) = 0;

    ReplayDevice& m_player;  ///< The recording's player this serves.

private:
    std::atomic<double> m_dDelayScale{1.0};
    bool m_bDiscarding = false;
    int m_nQuietFor = 0;
};

/// The player on a TCP port: one master connection at a time (a new one
/// replaces the old, as a master that reconnects expects).
class KELVARA_API TcpReplayServer : public ReplayServer {
public:
    /// Serves this player (which must outlive the server).
    explicit TcpReplayServer(ReplayDevice& player) : ReplayServer(player) {}
    ~TcpReplayServer() override;

    /// Listens on the address (dotted text) and port (0: one the system picks)
    /// and serves; false when it cannot listen, with the reason as the last
    /// system error.
    bool Start(const char* pszAddress = "127.0.0.1", std::uint16_t nPort = 0);
    /// The port it listens on.
    std::uint16_t Port() const { return m_nPort; }
    /// Stops serving and closes the connection and the listener.
    void Stop() override;

protected:
    /// Takes a new master, or reads what the current one sent.
    void DoWork() override;
    /// Sends to the current master.
    bool Send(const std::uint8_t* pData, std::size_t nLength) override;

private:
    void CloseClient();

    platform::SocketHandle m_hListener = platform::kInvalidSocket;
    platform::SocketHandle m_hClient = platform::kInvalidSocket;
    std::uint16_t m_nPort = 0;
};

/// The player on a pseudo-terminal that a serial port opens by its path.
class KELVARA_API SerialReplayServer : public ReplayServer {
public:
    /// Serves this player (which must outlive the server).
    explicit SerialReplayServer(ReplayDevice& player) : ReplayServer(player) {}
    ~SerialReplayServer() override;

    /// Opens a pseudo-terminal and serves it; None, or the failure's
    /// category (NotSupported on a system without pseudo-terminals).
    platform::ErrorCategory Start();
    /// The path a serial port opens; empty before Start.
    std::string DevicePath() const;
    /// Stops serving and closes the pseudo-terminal.
    void Stop() override;

protected:
    /// Reads what the serial port wrote.
    void DoWork() override;
    /// Writes to the serial port.
    bool Send(const std::uint8_t* pData, std::size_t nLength) override;

private:
    std::unique_ptr<platform::PseudoTerminal> m_pTerminal;
};

}  // namespace kelvara::replay
/** @} */
