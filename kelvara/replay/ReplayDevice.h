/** \addtogroup replay
 @{ */
// The device side of a recording: it takes the bytes a driver sends and
// answers each request that matches the next recorded one with the
// recorded reply. A request that differs is reported, with the first byte
// that differs, and gets no reply, as a device that did not understand it
// would give none; the player then waits for the next request at the same
// place in the recording (a driver that retries gets another chance).
//
// The player knows no protocol: a request is the bytes that arrive until
// the recorded request is complete. Bytes that arrive past a difference,
// in the same run, belong to the bad request and are dropped. Transports
// that see the line go quiet (ReplayServer.h) call Quiet, so a request cut
// short is reported too.
//
// Thread-safe: a server may feed it on its thread while a test reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/FakeSerialDevice.h"
#include "kelvara/replay/Recording.h"

namespace kelvara::replay {

/// A request the recording did not expect.
struct KELVARA_API Mismatch {
    /// The recorded exchange it was compared with (0 is the first); the
    /// recording's size when every exchange had been played.
    std::size_t nExchange = 0;
    /// The first byte that differs (0 is the first byte of the request).
    std::size_t nPosition = 0;
    /// The recorded byte there, or -1 where the recorded request had ended.
    int nExpected = -1;
    /// The byte received there, or -1 where the received request ended.
    int nReceived = -1;
    /// The bytes of the request as received, up to the difference.
    std::vector<std::uint8_t> received;

    /// A sentence for a person: which exchange, which byte, what differs.
    std::string Describe() const;
};

/// What the player does with a complete request.
struct KELVARA_API Outcome {
    /// What the player does.
    enum class Kind {
        Reply,     ///< send reply after dwDelayMs
        Silent,    ///< recorded without a reply: send nothing
        Mismatch,  ///< not the recorded request: send nothing
    };
    Kind kind = Kind::Reply;  ///< What to do.
    /// The recorded exchange concerned.
    std::size_t nExchange = 0;
    /// What to send (Reply only).
    std::vector<std::uint8_t> reply;
    /// How long after the request to send it.
    std::uint32_t dwDelayMs = 0;
    /// Where the request differed (Mismatch only).
    replay::Mismatch mismatch;
};

/// Plays the device of a recording, request by request.
class KELVARA_API ReplayDevice {
public:
    /// Plays this recording from its first exchange.
    explicit ReplayDevice(Recording recording);

    /// Takes bytes from the driver; what to do for each request they
    /// complete, in order (none while a request is still coming).
    std::vector<Outcome> Receive(const std::uint8_t* pData, std::size_t nLength);
    /// The line went quiet: a request begun but not complete is reported
    /// (and returned) as cut short, and the next byte starts a new request.
    std::optional<Mismatch> Quiet();

    /// After the last exchange, start again from the first (off by default:
    /// a request past the end is a mismatch).
    void SetLoop(bool bLoop);
    /// Called, on the feeding thread, with each mismatch as it is found.
    void SetMismatchHandler(std::function<void(const Mismatch&)> handler);

    /// Requests answered as recorded (silent ones included).
    std::size_t MatchedCount() const;
    /// Requests that did not match (or came past the end).
    std::size_t MismatchCount() const;
    /// The first 100 mismatches.
    std::vector<Mismatch> Mismatches() const;
    /// True once every recorded exchange has been played.
    bool IsFinished() const;
    /// The exchanges of the recording.
    std::size_t ExchangeCount() const { return m_recording.m_exchanges.size(); }

private:
    void Take(const std::uint8_t* pData, std::size_t nLength, std::vector<Outcome>& outcomes);
    void NextOutcome(std::vector<Outcome>& outcomes);
    void Report(Mismatch mismatch, std::vector<Outcome>* pOutcomes);

    const Recording m_recording;
    mutable std::mutex m_lock;
    std::vector<std::uint8_t> m_pending;
    std::size_t m_nNext = 0;
    std::size_t m_nMatched = 0;
    std::size_t m_nMismatches = 0;
    bool m_bLoop = false;
    std::vector<Mismatch> m_mismatches;
    std::function<void(const Mismatch&)> m_handler;
};

/// Makes a fake serial device answer as the player does: each run of bytes
/// the driver writes is fed to it, and recorded replies come back at once
/// (time does not pass on a fake line, so delays are not played). The
/// player must outlive the device's use.
KELVARA_API void PlayOnFakeSerialDevice(platform::FakeSerialDevice& device, ReplayDevice& player);

}  // namespace kelvara::replay
/** @} */
