// The command line of kelvara-host, parsed into one record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {

enum class Command { Info, Read, Write, Poll, Replay, Help };
enum class LogMode { None, Hex, Text };

// How block data is read and written: the block's data type and the bytes
// of one value.
struct ValueType {
    std::string name = "int16";
    unsigned short wBlockType = 2;
    unsigned nSize = 2;
    bool bSigned = true;
    bool bFloat = false;
};

// One address of a read, write or poll, with its point count.
struct Target {
    std::string address;
    unsigned long nCount = 1;
};

// A property change and where it came from, for the message naming it.
struct PropertyLine {
    std::string text;
    std::string origin;  // "-p" or "FILE:LINE"
};

struct Options {
    Command command = Command::Help;
    std::string plugin;  // the replay command's recording file
    std::vector<Target> targets;
    std::vector<std::string> writeValues;
    ValueType type;
    std::vector<PropertyLine> properties;
    bool bShowProperties = false;
    LogMode log = LogMode::None;
    std::string logFile;
    bool bJson = false;
    std::vector<std::pair<unsigned, std::string>> devices;  // COM<n> -> path
    std::vector<unsigned> replayPorts;                      // --device COM<n> alone
    std::string recordFile;
    std::string replayFile;  // read/write/poll against a recording
    std::uint32_t nIntervalMs = 1000;
    std::optional<unsigned long> nCount;
    std::optional<std::uint32_t> nDurationMs;
    // replay
    bool bSerial = false;
    std::optional<unsigned> nTcpPort;
    std::string bindAddress = "127.0.0.1";
    double dDelayScale = 1.0;
    bool bLoop = false;
    bool bUntilDone = false;
};

// Parses argv; false with a message for the user in error.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);
// Reads a --properties file into options (blank and # lines skipped).
bool ReadPropertiesFile(const std::string& path, Options& options, std::string& error);
// Parses a value type name ("int16", "float", ...).
std::optional<ValueType> ValueTypeNamed(const std::string& name);
// "250", "250ms", "2s", "1m"; a bare number is in defaultUnitMs units.
std::optional<std::uint32_t> ParseDuration(const std::string& text, std::uint32_t defaultUnitMs);

extern const char kUsage[];

}  // namespace host
