// The driver's comms log, drained after every block: shown as it happens
// (--log), and turned into a recording (--record). Draining as it goes keeps
// a long poll's memory flat, as the log has no size limit of its own.
#pragma once

#include <kelvara/Kelvara.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "Options.h"

namespace host {

class Traffic {
public:
    // False with a message when a file cannot be written.
    bool Open(const Options& options, std::string& error);
    bool IsActive() const { return m_log != LogMode::None || m_record.is_open(); }

    // Switches the driver's log on (hex lines, which this class reads back)
    // when anything needs it.
    void Attach(CProtocol& driver);
    // Takes every line the block left in the log. The block began nAtMs into
    // the session and took its com time; a block's exchanges share that time
    // evenly, as the log carries no times of its own.
    void AfterBlock(CProtocol& driver, CComBlock& block, std::uint32_t nAtMs);
    // False when the recording could not be written completely.
    bool Close(std::string& error);

    std::size_t RecordedExchanges() const { return m_nRecorded; }

private:
    struct Frame {
        bool bTx = false;
        bool bNoReply = false;
        std::vector<std::uint8_t> bytes;
    };
    static bool ParseLine(const std::string& line, Frame& frame);
    void Show(const std::string& line, const Frame& frame, bool bParsed);
    void RecordBlock(const std::vector<Frame>& frames, std::uint32_t nAtMs,
                     std::uint32_t nComTimeMs);

    LogMode m_log = LogMode::None;
    std::ofstream m_logFile;
    std::ostream* m_pLogOut = nullptr;
    std::ofstream m_record;
    std::string m_recordPath;
    std::size_t m_nRecorded = 0;
};

}  // namespace host
