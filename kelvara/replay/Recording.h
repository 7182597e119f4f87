/** \addtogroup replay
 @{ */
// A recording of a driver's traffic with its device: the requests the
// driver sent, in order, each with the reply the device gave (or none) and
// the time it took. Its text form is what `kelvara-host --record` writes
// and what the replay player reads (docs/WritingADriver.md shows it):
//
//     kelvara-recording 1
//     # comments and blank lines are ignored
//     > 0 01 03 00 00 00 02 c4 0b
//     < 4 01 03 04 03 e8 03 e9 7b 8f
//     > 15 01 03 00 00 00 02 c4 0b
//     < 300 -
//
// A "> AT" line is a request, AT milliseconds after the session began; the
// "< DELAY" line after it is the device's reply DELAY milliseconds after the
// request, or "-" when the device did not answer. Bytes are two hex digits
// each, separated by blanks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kelvara/framework/Export.h"

namespace kelvara::replay {

/// One request and the device's answer to it.
struct KELVARA_API Exchange {
    /// The bytes the driver sent.
    std::vector<std::uint8_t> request;
    /// The bytes the device answered (empty when it did not).
    std::vector<std::uint8_t> reply;
    /// False when the device did not answer the request.
    bool bReplied = true;
    /// Milliseconds from the start of the session to the request.
    std::uint32_t dwAtMs = 0;
    /// Milliseconds from the request to the reply (or to giving up).
    std::uint32_t dwDelayMs = 0;

    /// Same timings and bytes.
    bool operator==(const Exchange&) const = default;
};

/// A recorded session: its exchanges in order, and their text form.
class KELVARA_API Recording {
public:
    /// The first line of every recording.
    static constexpr std::string_view kHeader = "kelvara-recording 1";
    /// The most bytes one request or reply may hold.
    static constexpr std::size_t kMaxFrameBytes = 65536;

    /// Reads a recording's text; false with "line N: what is wrong" in
    /// *pError (and no exchanges) when the text is not a whole recording.
    bool Parse(std::string_view text, std::string* pError);
    /// The whole recording as text, header first.
    std::string Format() const;

    /// The header line and the comment that explains the format.
    static std::string FormatHeader();
    /// One exchange as its two lines, each ending in a line break.
    static std::string FormatExchange(const Exchange& exchange);
    /// Bytes as two lower-case hex digits each, separated by blanks.
    static std::string HexText(const std::uint8_t* pData, std::size_t nLength);

    /// The exchanges, in the order they happened.
    std::vector<Exchange> m_exchanges;
};

}  // namespace kelvara::replay
/** @} */
