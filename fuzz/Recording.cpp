// The recording parser under arbitrary text, and the player under what it
// accepted.
//
// A text is either refused with a message and no exchanges, or read into
// exchanges whose text form reads back to the same exchanges; a player fed
// every recorded request, in order and in arbitrary pieces, answers each
// with its recorded reply and finds no mismatch.
#include <kelvara/Kelvara.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    using kelvara::replay::Recording;
    const std::string_view text(reinterpret_cast<const char*>(pData), nSize);
    Recording recording;
    std::string error;
    if (!recording.Parse(text, &error)) {
        if (error.empty() || !recording.m_exchanges.empty()) {
            std::abort();
        }
        return 0;
    }
    Recording again;
    if (!again.Parse(recording.Format(), &error) || again.m_exchanges != recording.m_exchanges) {
        std::abort();
    }
    kelvara::replay::ReplayDevice player(recording);
    std::size_t nCut = nSize % 7 + 1;
    for (const auto& exchange : recording.m_exchanges) {
        std::size_t nReplies = 0;
        for (std::size_t i = 0; i < exchange.request.size(); i += nCut) {
            const std::size_t n = std::min(nCut, exchange.request.size() - i);
            for (const auto& outcome : player.Receive(exchange.request.data() + i, n)) {
                if (outcome.reply !=
                    (exchange.bReplied ? exchange.reply : std::vector<std::uint8_t>{})) {
                    std::abort();
                }
                ++nReplies;
            }
        }
        if (nReplies != 1) {
            std::abort();
        }
        nCut = nCut % 5 + 1;
    }
    if (player.MismatchCount() != 0 || !player.IsFinished()) {
        std::abort();
    }
    return 0;
}
