#include "kelvara/replay/Recording.h"

#include <charconv>

namespace kelvara::replay {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The next blank-separated word, taken off the front of text.
std::string_view NextWord(std::string_view& text) {
    text = Trim(text);
    std::size_t n = 0;
    while (n < text.size() && !IsBlank(text[n])) {
        ++n;
    }
    const std::string_view word = text.substr(0, n);
    text.remove_prefix(n);
    return word;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One line of a recording after its marker: a time, then bytes or "-".
class LineReader {
public:
    LineReader(std::string_view rest, std::string& error) : m_rest(rest), m_error(error) {}

    bool Time(std::uint32_t& dwMs) {
        const std::string_view word = NextWord(m_rest);
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), dwMs);
        if (word.empty() || ec != std::errc() || end != word.data() + word.size()) {
            m_error = "a time in milliseconds (0 to 4294967295) expected";
            return false;
        }
        return true;
    }

    bool Bytes(std::vector<std::uint8_t>& bytes) {
        for (std::string_view word = NextWord(m_rest); !word.empty(); word = NextWord(m_rest)) {
            const int hi = word.size() == 2 ? HexDigit(word[0]) : -1;
            const int lo = word.size() == 2 ? HexDigit(word[1]) : -1;
            if (hi < 0 || lo < 0) {
                // Built apart and swapped in: GCC 12 at -O3 warns falsely
                // about overlapping copies when a string is assigned here.
                std::string message(1, '"');
                message.append(word.substr(0, 16));
                message.append("\" is not a byte (two hex digits)");
                m_error.swap(message);
                return false;
            }
            if (bytes.size() == Recording::kMaxFrameBytes) {
                m_error = "more than 65536 bytes";
                return false;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        return true;
    }

    bool NoReply() {
        std::string_view probe = m_rest;
        if (NextWord(probe) != "-") {
            return false;
        }
        m_rest = probe;
        return true;
    }

    bool AtEnd() {
        if (!Trim(m_rest).empty()) {
            m_error = "unexpected text after \"-\"";
            return false;
        }
        return true;
    }

private:
    std::string_view m_rest;
    std::string& m_error;
};

// Parses line by line; knows whether a request waits for its reply line.
class Parser {
public:
    explicit Parser(std::vector<Exchange>& exchanges) : m_exchanges(exchanges) {}

    bool Line(std::string_view line, std::string& error) {
        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            return true;
        }
        if (!m_bHeaderSeen) {
            m_bHeaderSeen = line == Recording::kHeader;
            if (!m_bHeaderSeen) {
                error = "not a recording (the first line must be \"" +
                        std::string(Recording::kHeader) + "\")";
            }
            return m_bHeaderSeen;
        }
        LineReader reader(line.substr(1), error);
        if (line.front() == '>') {
            return Request(reader, error);
        }
        if (line.front() == '<') {
            return Reply(reader, error);
        }
        error = "a line must start with \">\" (request), \"<\" (reply) or \"#\" (comment)";
        return false;
    }

    bool Finish(std::string& error) const {
        if (!m_bHeaderSeen) {
            error = "not a recording (no \"" + std::string(Recording::kHeader) + "\" line)";
            return false;
        }
        if (m_bAwaitingReply) {
            error = "the last request has no \"<\" line (the recording is cut short)";
            return false;
        }
        return true;
    }

private:
    bool Request(LineReader& reader, std::string& error) {
        if (m_bAwaitingReply) {
            error = "a request follows a request without its \"<\" line";
            return false;
        }
        Exchange exchange;
        if (!reader.Time(exchange.dwAtMs) || !reader.Bytes(exchange.request)) {
            return false;
        }
        if (exchange.request.empty()) {
            error = "a request without bytes";
            return false;
        }
        m_exchanges.push_back(std::move(exchange));
        m_bAwaitingReply = true;
        return true;
    }

    bool Reply(LineReader& reader, std::string& error) {
        if (!m_bAwaitingReply) {
            error = "a reply without its \">\" request line";
            return false;
        }
        Exchange& exchange = m_exchanges.back();
        if (!reader.Time(exchange.dwDelayMs)) {
            return false;
        }
        if (reader.NoReply()) {
            exchange.bReplied = false;
            if (!reader.AtEnd()) {
                return false;
            }
        } else if (!reader.Bytes(exchange.reply)) {
            return false;
        } else if (exchange.reply.empty()) {
            error = "a reply without bytes (write \"-\" for no reply)";
            return false;
        }
        m_bAwaitingReply = false;
        return true;
    }

    std::vector<Exchange>& m_exchanges;
    bool m_bHeaderSeen = false;
    bool m_bAwaitingReply = false;
};

}  // namespace

bool Recording::Parse(std::string_view text, std::string* pError) {
    std::vector<Exchange> exchanges;
    Parser parser(exchanges);
    std::string error;
    std::size_t nLine = 0;
    bool bOk = true;
    while (bOk && !text.empty()) {
        ++nLine;
        const std::size_t nEnd = text.find('\n');
        const std::string_view line = text.substr(0, nEnd);
        text.remove_prefix(nEnd == std::string_view::npos ? text.size() : nEnd + 1);
        bOk = parser.Line(line, error);
    }
    if (bOk && !parser.Finish(error)) {
        bOk = false;
        nLine = nLine == 0 ? 1 : nLine;
    }
    if (!bOk) {
        if (pError != nullptr) {
            *pError = "line " + std::to_string(nLine) + ": " + error;
        }
        m_exchanges.clear();
        return false;
    }
    m_exchanges = std::move(exchanges);
    return true;
}

std::string Recording::Format() const {
    std::string text = FormatHeader();
    for (const Exchange& exchange : m_exchanges) {
        text += FormatExchange(exchange);
    }
    return text;
}

std::string Recording::FormatHeader() {
    return std::string(kHeader) +
           "\n# \"> AT bytes\": a request, AT ms into the session; \"< DELAY bytes\": the reply,"
           " DELAY ms later (\"-\": none)\n";
}

std::string Recording::FormatExchange(const Exchange& exchange) {
    std::string text = "> " + std::to_string(exchange.dwAtMs) + " " +
                       HexText(exchange.request.data(), exchange.request.size()) + "\n< " +
                       std::to_string(exchange.dwDelayMs) + " ";
    text += exchange.bReplied && !exchange.reply.empty()
                ? HexText(exchange.reply.data(), exchange.reply.size())
                : "-";
    return text + "\n";
}

std::string Recording::HexText(const std::uint8_t* pData, std::size_t nLength) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(nLength * 3);
    for (std::size_t i = 0; i < nLength; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += kDigits[pData[i] >> 4];
        text += kDigits[pData[i] & 0x0F];
    }
    return text;
}

}  // namespace kelvara::replay
