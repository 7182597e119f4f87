#include "Traffic.h"

#include <iostream>

namespace host {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The characters the library's text log would show.
std::string AsText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return text;
}

}  // namespace

bool Traffic::Open(const Options& options, std::string& error) {
    m_log = options.log;
    if (!options.logFile.empty()) {
        if (m_log == LogMode::None) {
            m_log = LogMode::Hex;
        }
        m_logFile.open(options.logFile, std::ios::out | std::ios::trunc);
        if (!m_logFile) {
            error = "cannot write the log file " + options.logFile;
            return false;
        }
        m_pLogOut = &m_logFile;
    } else {
        m_pLogOut = &std::cout;
    }
    if (!options.recordFile.empty()) {
        m_recordPath = options.recordFile;
        m_record.open(options.recordFile, std::ios::out | std::ios::trunc);
        if (!m_record) {
            error = "cannot write the recording " + options.recordFile;
            return false;
        }
        m_record << kelvara::replay::Recording::FormatHeader();
    }
    return true;
}

void Traffic::Attach(CProtocol& driver) {
    if (IsActive()) {
        driver.ActivateCommsLog(true);
        driver.LogAsHex(true);
    }
}

bool Traffic::ParseLine(const std::string& line, Frame& frame) {
    if (line == "NR") {
        frame.bNoReply = true;
        return true;
    }
    if (line.size() < 2 || (line.compare(0, 2, "TX") != 0 && line.compare(0, 2, "RX") != 0)) {
        return false;
    }
    frame.bTx = line[0] == 'T';
    for (std::size_t i = 2; i < line.size();) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        const int hi = HexDigit(line[i]);
        const int lo = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
            return false;
        }
        frame.bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        i += 2;
    }
    return true;
}

void Traffic::Show(const std::string& line, const Frame& frame, bool bParsed) {
    if (m_log == LogMode::None) {
        return;
    }
    if (m_log == LogMode::Text && bParsed && !frame.bNoReply) {
        *m_pLogOut << (frame.bTx ? "TX" : "RX") << AsText(frame.bytes) << '\n';
    } else {
        *m_pLogOut << line << '\n';
    }
}

void Traffic::AfterBlock(CProtocol& driver, CComBlock& block, std::uint32_t nAtMs) {
    if (!IsActive()) {
        return;
    }
    std::vector<Frame> frames;
    for (CString line; driver.GetCommsLogCount() > 0;) {
        driver.GetFromCommsLog(&line);
        Frame frame;
        const std::string text = line.GetString();
        const bool bParsed = ParseLine(text, frame);
        Show(text, frame, bParsed);
        if (bParsed) {
            frames.push_back(std::move(frame));
        }
    }
    if (m_pLogOut != nullptr && m_log != LogMode::None) {
        m_pLogOut->flush();
    }
    if (m_record.is_open()) {
        RecordBlock(frames, nAtMs, block.GetComTime());
    }
}

// Each TX line starts a request and the RX lines after it make its reply (a
// driver reads a reply in parts); "NR" ends a request unanswered, and so
// does another TX before any reply: a retry. A driver that writes one frame
// in two parts gets two requests, the first unanswered, which a player
// still matches, as it reads the requests as one stream.
void Traffic::RecordBlock(const std::vector<Frame>& frames, std::uint32_t nAtMs,
                          std::uint32_t nComTimeMs) {
    std::vector<kelvara::replay::Exchange> exchanges;
    for (const Frame& frame : frames) {
        if (frame.bTx) {
            exchanges.emplace_back();
            exchanges.back().request = frame.bytes;
        } else if (frame.bNoReply) {
            if (!exchanges.empty() && exchanges.back().reply.empty()) {
                exchanges.back().bReplied = false;
            }
        } else if (!exchanges.empty() && exchanges.back().bReplied) {
            auto& reply = exchanges.back().reply;
            reply.insert(reply.end(), frame.bytes.begin(), frame.bytes.end());
        }
    }
    if (exchanges.empty()) {
        return;
    }
    const auto nShare = static_cast<std::uint32_t>(nComTimeMs / exchanges.size());
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        auto& exchange = exchanges[i];
        exchange.dwAtMs = nAtMs + static_cast<std::uint32_t>(i) * nShare;
        exchange.dwDelayMs = nShare;
        exchange.bReplied = exchange.bReplied && !exchange.reply.empty();
        m_record << kelvara::replay::Recording::FormatExchange(exchange);
        ++m_nRecorded;
    }
    m_record.flush();
}

bool Traffic::Close(std::string& error) {
    if (m_record.is_open()) {
        m_record.close();
        if (!m_record) {
            error = "the recording " + m_recordPath + " could not be written completely";
            return false;
        }
    }
    if (m_logFile.is_open()) {
        m_logFile.close();
    }
    return true;
}

}  // namespace host
