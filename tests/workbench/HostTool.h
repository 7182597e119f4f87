// Runs kelvara-host as a user does, with its standard output and error
// kept apart, and reads its JSON lines back.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace workbench {

struct ToolResult {
    int nExit = -1;  // -1: killed at the deadline or not started
    std::string out;
    std::string err;
};

// A file in the temporary folder that goes with the object.
class TempFile {
public:
    explicit TempFile(const std::string& suffix)
        : m_path(std::filesystem::temp_directory_path() /
                 ("kelvara-workbench-" + std::to_string(std::random_device{}()) + suffix)) {}
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::string Path() const { return m_path.string(); }
    std::string Read() const {
        std::ifstream file(m_path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void Write(const std::string& text) const { std::ofstream(m_path) << text; }

private:
    std::filesystem::path m_path;
};

// The words go to the shell as they stand: none may need quoting. The
// prefix goes before the tool (a `timeout` that interrupts it, say).
inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& prefix = "",
                          int nDeadlineSeconds = 20) {
    TempFile err(".err");
    std::string command = "exec timeout -s KILL " + std::to_string(nDeadlineSeconds) + " " +
                          prefix + " " KELVARA_HOST_TOOL;
    for (const std::string& word : args) {
        command += " " + word;
    }
    ToolResult result;
    if (FILE* pipe = popen((command + " </dev/null 2>" + err.Path()).c_str(), "re")) {
        char chunk[4096];
        for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
            result.out.append(chunk, n);
        }
        const int nStatus = pclose(pipe);
        result.nExit = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) < 124 ? WEXITSTATUS(nStatus) : -1;
    }
    result.err = err.Read();
    return result;
}

// A JSON value, parsed strictly enough to catch malformed output.
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool b = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const {
        static const Json none;
        const auto it = members.find(key);
        return it == members.end() ? none : it->second;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_text(text) {}

    // False for anything but one whole value.
    bool Parse(Json& value) {
        if (!Value(value, 0)) {
            return false;
        }
        Blank();
        return m_at == m_text.size();
    }

private:
    void Blank() {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at]))) {
            ++m_at;
        }
    }
    bool Take(char c) {
        Blank();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Word(const char* word) {
        const std::string w = word;
        if (m_text.compare(m_at, w.size(), w) != 0) {
            return false;
        }
        m_at += w.size();
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) {
            return false;
        }
        while (m_at < m_text.size() && m_text[m_at] != '"') {
            char c = m_text[m_at++];
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (m_at >= m_text.size()) {
                    return false;
                }
                c = m_text[m_at++];
                if (c == 'u') {
                    if (m_at + 4 > m_text.size()) {
                        return false;
                    }
                    c = static_cast<char>(std::stoi(m_text.substr(m_at, 4), nullptr, 16));
                    m_at += 4;
                } else if (c != '"' && c != '\\' && c != '/') {
                    c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
                }
            }
            out += c;
        }
        return Take('"');
    }
    bool Value(Json& v, int nDepth) {
        Blank();
        if (nDepth > 32 || m_at >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_at];
        if (c == '{') {
            v.kind = Json::Kind::Object;
            ++m_at;
            if (Take('}')) {
                return true;
            }
            do {
                std::string key;
                if (!String(key) || !Take(':') || !Value(v.members[key], nDepth + 1)) {
                    return false;
                }
            } while (Take(','));
            return Take('}');
        }
        if (c == '[') {
            v.kind = Json::Kind::Array;
            ++m_at;
            if (Take(']')) {
                return true;
            }
            do {
                v.items.emplace_back();
                if (!Value(v.items.back(), nDepth + 1)) {
                    return false;
                }
            } while (Take(','));
            return Take(']');
        }
        if (c == '"') {
            v.kind = Json::Kind::String;
            return String(v.text);
        }
        if (Word("true") || Word("false")) {
            v.kind = Json::Kind::Bool;
            v.b = m_text[m_at - 1] == 'e' && m_text[m_at - 2] == 'u';
            return true;
        }
        if (Word("null")) {
            return true;
        }
        std::size_t nUsed = 0;
        try {
            v.number = std::stod(m_text.substr(m_at), &nUsed);
        } catch (...) {
            return false;
        }
        v.kind = Json::Kind::Number;
        m_at += nUsed;
        return nUsed > 0;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

// Every line of the output as JSON; false when a line is not.
inline bool JsonLines(const std::string& out, std::vector<Json>& lines) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.emplace_back();
        if (!JsonParser(line).Parse(lines.back())) {
            return false;
        }
    }
    return true;
}

inline std::vector<int> Numbers(const Json& array) {
    std::vector<int> values;
    for (const Json& item : array.items) {
        values.push_back(static_cast<int>(item.number));
    }
    return values;
}

}  // namespace workbench
