#include "Options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace host {

const char kUsage[] =
    "usage: kelvara-host COMMAND PLUGIN ... [options]\n"
    "\n"
    "Drives any Kelvara driver plug-in from the command line.\n"
    "\n"
    "commands:\n"
    "  info PLUGIN                      name, version, kind, address formats, tables and\n"
    "                                   the property lines with their defaults\n"
    "  read PLUGIN ADDRESS [COUNT]      reads one block of COUNT points (default 1)\n"
    "  write PLUGIN ADDRESS VALUE...    writes one block of the values\n"
    "  poll PLUGIN ADDRESS[,COUNT]...   reads the blocks again and again\n"
    "  replay FILE (--serial | --tcp PORT)\n"
    "                                   plays the device of a recording\n"
    "\n"
    "options of read, write and poll:\n"
    "  -p Record.Field=Value            sets a property (repeatable)\n"
    "  --properties FILE                sets the properties of FILE, one line each\n"
    "  --show-properties                prints the property lines after the changes\n"
    "  --type TYPE                      int16 (default), uint16, int32, uint32, float,\n"
    "                                   double, bool, byte\n"
    "  --device COM<n>=PATH             serial port n is the device at PATH\n"
    "  --log hex|text                   prints the comms log as it happens\n"
    "  --log-file FILE                  ... into FILE instead of standard output\n"
    "  --record FILE                    writes the traffic to FILE, for replay\n"
    "  --replay FILE                    talks to the device of a recording instead, on a\n"
    "                                   pseudo-terminal mapped to the port of --device\n"
    "                                   COM<n> (default: the driver's Port.PortNumber)\n"
    "  --json                           one JSON object per line, for scripts\n"
    "  --interval TIME                  poll: between passes (default 1000 ms)\n"
    "  --count N                        poll: this many passes\n"
    "  --duration TIME                  poll: for this long (a bare number is seconds)\n"
    "                                   TIME: 250, 250ms, 2s, 1m; without --count or\n"
    "                                   --duration a poll runs until Ctrl-C\n"
    "\n"
    "options of replay:\n"
    "  --serial                         serves a pseudo-terminal and prints its path\n"
    "  --tcp PORT                       listens on PORT (0: a free one, printed)\n"
    "  --bind ADDRESS                   with --tcp: the address (default 127.0.0.1)\n"
    "  --delay-scale X                  recorded delays times X (default 1; 0: none)\n"
    "  --loop                           starts again after the last exchange\n"
    "  --until-done                     ends after the last exchange\n"
    "  --json                           JSON lines as above\n"
    "\n"
    "exit status: 0 when every block was good (replay: every request matched),\n"
    "1 when some failed, 2 for usage, plug-in, property or recording errors.\n";

namespace {

template <class T>
bool ParseNumber(const std::string& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "COM3" -> 3
std::optional<unsigned> ComPortNumber(const std::string& text) {
    unsigned n = 0;
    if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0) &&
        ParseNumber(text.substr(3), n) && n >= 1 && n <= 255) {
        return n;
    }
    return std::nullopt;
}

bool ParseTarget(const std::string& text, bool bWithCount, Target& target) {
    const auto comma = bWithCount ? text.rfind(',') : std::string::npos;
    target.address = text.substr(0, comma);
    return !target.address.empty() &&
           (comma == std::string::npos ||
            (ParseNumber(text.substr(comma + 1), target.nCount) && target.nCount > 0));
}

class Parser {
public:
    Parser(int argc, char** argv, Options& options, std::string& error)
        : m_args(argv + 1, argv + argc), m_options(options), m_error(error) {}

    bool Run() {
        std::vector<std::string> positional;
        for (m_i = 0; m_i < m_args.size(); ++m_i) {
            const std::string& arg = m_args[m_i];
            if (arg.size() > 1 && arg[0] == '-' && !IsNegativeNumber(arg)) {
                if (!Option(arg)) {
                    return false;
                }
            } else {
                positional.push_back(arg);
            }
        }
        return Positional(positional);
    }

private:
    static bool IsNegativeNumber(const std::string& arg) {
        return arg.size() > 1 &&
               (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
    }

    static bool TakesValue(const std::string& arg) {
        static const char* const kNames[] = {"-p",         "--properties", "--type",   "--device",
                                             "--log",      "--log-file",   "--record", "--replay",
                                             "--interval", "--duration",   "--count",  "--tcp",
                                             "--bind",     "--delay-scale"};
        return std::find(std::begin(kNames), std::end(kNames), arg) != std::end(kNames);
    }

    bool Fail(const std::string& message) {
        m_error = message;
        return false;
    }

    bool Value(const std::string& name, std::string& value) {
        if (m_i + 1 >= m_args.size()) {
            return Fail(name + " needs a value");
        }
        value = m_args[++m_i];
        return true;
    }

    bool Option(const std::string& arg) {
        Options& o = m_options;
        std::string v;
        if (arg == "-h" || arg == "--help") {
            o.command = Command::Help;
            m_bHelp = true;
            return true;
        }
        if (arg == "--show-properties") {
            o.bShowProperties = true;
        } else if (arg == "--json") {
            o.bJson = true;
        } else if (arg == "--serial") {
            o.bSerial = true;
        } else if (arg == "--loop") {
            o.bLoop = true;
        } else if (arg == "--until-done") {
            o.bUntilDone = true;
        } else if (!TakesValue(arg)) {
            return Fail("unknown option " + arg);
        } else if (!Value(arg, v)) {
            return false;
        } else if (arg == "-p") {
            o.properties.push_back({v, "-p " + v});
        } else if (arg == "--properties") {
            return ReadPropertiesFile(v, o, m_error);
        } else if (arg == "--type") {
            const auto type = ValueTypeNamed(v);
            if (!type) {
                return Fail("unknown --type " + v);
            }
            o.type = *type;
        } else if (arg == "--device") {
            return Device(v);
        } else if (arg == "--log") {
            if (v != "hex" && v != "text") {
                return Fail("--log takes hex or text, not " + v);
            }
            o.log = v == "hex" ? LogMode::Hex : LogMode::Text;
        } else if (arg == "--log-file") {
            o.logFile = v;
        } else if (arg == "--record") {
            o.recordFile = v;
        } else if (arg == "--replay") {
            o.replayFile = v;
        } else if (arg == "--interval" || arg == "--duration") {
            const auto ms = ParseDuration(v, arg == "--interval" ? 1 : 1000);
            if (!ms) {
                return Fail(arg + " takes a time such as 500ms or 2s, not " + v);
            }
            (arg == "--interval" ? o.nIntervalMs : o.nDurationMs.emplace()) = *ms;
        } else if (arg == "--count") {
            unsigned long n = 0;
            if (!ParseNumber(v, n) || n == 0) {
                return Fail("--count takes a number of passes from 1, not " + v);
            }
            o.nCount = n;
        } else if (arg == "--tcp") {
            unsigned n = 0;
            if (!ParseNumber(v, n) || n > 65535) {
                return Fail("--tcp takes a port number, not " + v);
            }
            o.nTcpPort = n;
        } else if (arg == "--bind") {
            o.bindAddress = v;
        } else if (arg == "--delay-scale") {
            char* end = nullptr;
            o.dDelayScale = std::strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(o.dDelayScale >= 0) || o.dDelayScale > 1000) {
                return Fail("--delay-scale takes a factor from 0 to 1000, not " + v);
            }
        } else {
            return Fail("unknown option " + arg);
        }
        return true;
    }

    bool Device(const std::string& v) {
        const auto eq = v.find('=');
        const auto port = ComPortNumber(v.substr(0, eq));
        if (!port || (eq != std::string::npos && eq + 1 == v.size())) {
            return Fail("--device takes COM<n>=PATH (or COM<n> with --replay), not " + v);
        }
        if (eq == std::string::npos) {
            m_options.replayPorts.push_back(*port);
        } else {
            m_options.devices.emplace_back(*port, v.substr(eq + 1));
        }
        return true;
    }

    bool Positional(const std::vector<std::string>& words) {
        Options& o = m_options;
        if (m_bHelp) {
            return true;
        }
        if (words.empty()) {
            return Fail("no command");
        }
        const std::string& command = words[0];
        if (words.size() < 2) {
            return command == "info" || command == "read" || command == "write" ||
                           command == "poll" || command == "replay"
                       ? Fail(command + " needs a " +
                              (command == "replay" ? "recording file" : "plug-in"))
                       : Fail("unknown command " + command);
        }
        o.plugin = words[1];
        const std::vector<std::string> rest(words.begin() + 2, words.end());
        if (command == "info") {
            o.command = Command::Info;
            return rest.empty() || Fail("info takes only the plug-in");
        }
        if (command == "replay") {
            o.command = Command::Replay;
            if (!rest.empty()) {
                return Fail("replay takes only the recording file");
            }
            return o.bSerial != o.nTcpPort.has_value() ||
                   Fail("replay needs one of --serial or --tcp PORT");
        }
        if (command == "read" || command == "write") {
            o.command = command == "read" ? Command::Read : Command::Write;
            if (rest.empty()) {
                return Fail(command + " needs an address");
            }
            Target target{rest[0], 1};
            if (o.command == Command::Read) {
                if (rest.size() > 2 || (rest.size() == 2 && (!ParseNumber(rest[1], target.nCount) ||
                                                             target.nCount == 0))) {
                    return Fail("read takes an address and a count from 1");
                }
            } else {
                if (rest.size() < 2) {
                    return Fail("write needs at least one value");
                }
                o.writeValues.assign(rest.begin() + 1, rest.end());
                target.nCount = o.writeValues.size();
            }
            o.targets.push_back(target);
            return true;
        }
        if (command == "poll") {
            o.command = Command::Poll;
            for (const std::string& word : rest) {
                Target target;
                if (!ParseTarget(word, true, target)) {
                    return Fail("poll takes ADDRESS or ADDRESS,COUNT, not " + word);
                }
                o.targets.push_back(target);
            }
            return !o.targets.empty() || Fail("poll needs at least one address");
        }
        return Fail("unknown command " + command);
    }

    std::vector<std::string> m_args;
    std::size_t m_i = 0;
    Options& m_options;
    std::string& m_error;
    bool m_bHelp = false;
};

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    return Parser(argc, argv, options, error).Run();
}

bool ReadPropertiesFile(const std::string& path, Options& options, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the properties file " + path;
        return false;
    }
    std::string line;
    for (unsigned nLine = 1; std::getline(file, line); ++nLine) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        options.properties.push_back({line.substr(first), path + ":" + std::to_string(nLine)});
    }
    return true;
}

std::optional<ValueType> ValueTypeNamed(const std::string& name) {
    // Block data types: 2 signed 16-bit, 3 signed 32-bit, 4 float, 5 double,
    // 11 boolean, 17 unsigned byte; the unsigned views share the signed types.
    static const ValueType kTypes[] = {
        {"int16", 2, 2, true, false},  {"uint16", 2, 2, false, false},
        {"int32", 3, 4, true, false},  {"uint32", 3, 4, false, false},
        {"float", 4, 4, true, true},   {"double", 5, 8, true, true},
        {"bool", 11, 1, false, false}, {"byte", 17, 1, false, false},
    };
    for (const ValueType& type : kTypes) {
        if (type.name == name) {
            return type;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseDuration(const std::string& text, std::uint32_t defaultUnitMs) {
    std::uint64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (end == text.data() || ec != std::errc()) {
        return std::nullopt;
    }
    const std::string unit(end, text.data() + text.size());
    std::uint64_t scale = 0;
    if (unit.empty()) {
        scale = defaultUnitMs;
    } else if (unit == "ms") {
        scale = 1;
    } else if (unit == "s") {
        scale = 1000;
    } else if (unit == "m") {
        scale = 60000;
    } else {
        return std::nullopt;
    }
    const std::uint64_t ms = n * scale;
    if (n > std::numeric_limits<std::uint32_t>::max() || ms > 0x7FFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(ms);
}

}  // namespace host
