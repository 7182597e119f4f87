#include "Host.h"

#include <kelvara/Kelvara.h>
#include <kelvara/platform/Clock.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Output.h"
#include "Traffic.h"

namespace host {

namespace platform = kelvara::platform;
namespace replay = kelvara::replay;

namespace {

void Error(const std::string& message) {
    std::cerr << "kelvara-host: " << message << '\n';
}

// A plug-in and one driver made by it: the driver goes first.
struct Plugin {
    CDriverLibrary library;
    std::unique_ptr<CProtocol> driver;

    bool Load(const std::string& given) {
        // A bare file name is the file here, not one the loader searches for.
        std::error_code ignored;
        const std::string path =
            given.find('/') == std::string::npos && std::filesystem::exists(given, ignored)
                ? "./" + given
                : given;
        if (!library.Load(path.c_str())) {
            Error("cannot load " + path + ": " + library.GetLastError().GetString());
            return false;
        }
        driver.reset(library.CreateDriver());
        if (!driver) {
            Error(path + " made no driver");
            return false;
        }
        return true;
    }
    ~Plugin() { driver.reset(); }
};

std::vector<std::string> PropertyLines(CProtocol& driver) {
    CStringList list;
    driver.DumpToStringList(list);
    std::vector<std::string> lines;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        lines.emplace_back(list.GetNext(pos).GetString());
    }
    return lines;
}

std::string Key(const std::string& line) {
    return line.substr(0, line.find('='));
}

// Checks every change first (form, and a field the driver has), then
// applies them one by one, so that a value the driver refuses is named; any
// failure ends the run before the driver starts.
bool ApplyProperties(CProtocol& driver, const std::vector<PropertyLine>& changes) {
    const std::vector<std::string> defaults = PropertyLines(driver);
    for (const PropertyLine& change : changes) {
        const auto eq = change.text.find('=');
        const auto dot = change.text.find('.');
        if (eq == std::string::npos || dot == std::string::npos || dot == 0 || dot + 1 >= eq) {
            Error(change.origin + ": \"" + change.text +
                  "\" is not of the form Record.Field=Value");
            return false;
        }
        bool bKnown = false;
        for (const std::string& line : defaults) {
            bKnown = bKnown || Key(line) == Key(change.text);
        }
        if (!bKnown) {
            Error(change.origin + ": the driver has no property " + Key(change.text) +
                  " (kelvara-host info PLUGIN lists them)");
            return false;
        }
    }
    for (const PropertyLine& change : changes) {
        CStringList list;
        driver.DumpToStringList(list);
        for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
            CString& line = list.GetNext(pos);
            if (Key(line.GetString()) == Key(change.text)) {
                line = change.text.c_str();
            }
        }
        if (!driver.UpdateFromStringList(&list)) {
            Error(change.origin + ": the driver refuses \"" + change.text + "\"");
            return false;
        }
    }
    return true;
}

void PrintProperties(CProtocol& driver, bool bJson) {
    const std::vector<std::string> lines = PropertyLines(driver);
    if (bJson) {
        std::string json = "{\"type\":\"properties\",\"lines\":[";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            json += i ? "," : "";
            json += JsonString(lines[i]);
        }
        std::cout << json << "]}\n";
        return;
    }
    std::cout << "properties:\n";
    for (const std::string& line : lines) {
        std::cout << "  " << line << '\n';
    }
}

bool ReadRecording(const std::string& path, replay::Recording& recording) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Error("cannot read the recording " + path);
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    if (!recording.Parse(text.str(), &error)) {
        Error(path + ": " + error);
        return false;
    }
    return true;
}

void ReportMismatch(const replay::Mismatch& mismatch) {
    std::cerr << "replay: " << mismatch.Describe() << '\n';
}

// A block from an address the driver accepts, or null with the reason.
std::unique_ptr<CComBlock> MakeBlock(CProtocol& driver, const Target& target,
                                     const ValueType& type) {
    CRemoteAddress address(target.address.c_str(), driver.GetEDFFormatRemote()->m_strFormat, "");
    const DWORD dwValid = driver.ValidateRemoteAddress(&address);
    if (dwValid != EDF_OK) {
        Error("the driver refuses the address " + target.address + " (EDF code " +
              std::to_string(dwValid) +
              "; its format: " + driver.GetEDFFormatRemote()->m_strFormat.GetString() + ")");
        return nullptr;
    }
    const DWORD dwMax = driver.GetMaxBlockSize(&address);
    if (dwMax != 0 && target.nCount > dwMax) {
        Error(target.address + ": " + std::to_string(target.nCount) +
              " points, but the driver takes at most " + std::to_string(dwMax) + " in a block");
        return nullptr;
    }
    return std::make_unique<CComBlock>(&address, type.wBlockType, 1,
                                       static_cast<DWORD>(target.nCount), type.nSize);
}

// The run of read, write and poll: the plug-in, its settings, the
// transport (a device or a recording), the blocks and the traffic.
class TransferRun {
public:
    explicit TransferRun(const Options& options) : m_options(options) {}

    int Run() {
        if (!m_plugin.Load(m_options.plugin)) {
            return kUsageError;
        }
        CProtocol& driver = *m_plugin.driver;
        if (!ApplyProperties(driver, m_options.properties)) {
            return kUsageError;
        }
        for (const auto& [nPort, path] : m_options.devices) {
            CComPort::MapDevice(nPort, path.c_str());
        }
        if (!m_options.replayFile.empty() && !StartReplay(driver)) {
            return kUsageError;
        }
        if (m_options.bShowProperties) {
            PrintProperties(driver, m_options.bJson);
        }
        std::vector<std::unique_ptr<CComBlock>> blocks;
        if (!MakeBlocks(driver, blocks)) {
            return kUsageError;
        }
        std::string error;
        if (!m_traffic.Open(m_options, error)) {
            Error(error);
            return kUsageError;
        }
        m_traffic.Attach(driver);
        const DWORD dwStarted = driver.StartProtocol();
        if (dwStarted != SE_NO_ERROR) {
            Error("the driver does not start: " + std::to_string(dwStarted) + " \"" +
                  GetStandardErrorMessage(dwStarted).GetString() + "\"");
            m_traffic.Close(error);
            return kSomeFailed;
        }
        const bool bAllGood =
            m_options.command == Command::Poll ? Poll(driver, blocks) : Once(driver, *blocks[0]);
        driver.StopProtocol();
        m_traffic.AfterBlock(driver, *blocks[0], Elapsed());
        if (m_pServer) {
            m_pServer->Stop();
        }
        const bool bClosed = m_traffic.Close(error);
        if (!bClosed) {
            Error(error);
        }
        return bAllGood && bClosed && (!m_pPlayer || m_pPlayer->MismatchCount() == 0) ? kAllGood
                                                                                      : kSomeFailed;
    }

private:
    bool StartReplay(CProtocol& driver) {
        replay::Recording recording;
        if (!ReadRecording(m_options.replayFile, recording)) {
            return false;
        }
        m_pPlayer = std::make_unique<replay::ReplayDevice>(std::move(recording));
        m_pPlayer->SetMismatchHandler(ReportMismatch);
        m_pServer = std::make_unique<replay::SerialReplayServer>(*m_pPlayer);
        const platform::ErrorCategory started = m_pServer->Start();
        if (started != platform::ErrorCategory::None) {
            Error("cannot serve the recording on a pseudo-terminal here");
            return false;
        }
        std::vector<unsigned> ports = m_options.replayPorts;
        if (ports.empty()) {
            ports.push_back(driver.GetPortNumber());
        }
        for (const unsigned nPort : ports) {
            if (nPort == 0 || nPort > 255) {
                Error("--replay needs --device COM<n>: the driver has no serial port number");
                return false;
            }
            CComPort::MapDevice(nPort, m_pServer->DevicePath().c_str());
        }
        return true;
    }

    bool MakeBlocks(CProtocol& driver, std::vector<std::unique_ptr<CComBlock>>& blocks) {
        for (const Target& target : m_options.targets) {
            blocks.push_back(MakeBlock(driver, target, m_options.type));
            if (!blocks.back()) {
                return false;
            }
        }
        if (m_options.command == Command::Write) {
            CByteArray data;
            std::string error;
            if (!PackValues(m_options.writeValues, m_options.type, data, error)) {
                Error(error);
                return false;
            }
            blocks[0]->FillWriteBuffer(&data);
        }
        return true;
    }

    std::uint32_t Elapsed() const { return platform::TickCount() - m_nStart; }

    bool Transfer(CProtocol& driver, CComBlock& block) {
        const std::uint32_t nAt = Elapsed();
        driver.TransferData(&block);
        m_traffic.AfterBlock(driver, block, nAt);
        ++m_totals.nBlocks;
        m_totals.nFailed += block.IsBlockGood() ? 0 : 1;
        return block.IsBlockGood() != 0;
    }

    bool Once(CProtocol& driver, CComBlock& block) {
        const bool bGood = Transfer(driver, block);
        std::cout << BlockLine(block, m_options.targets[0].address, m_options.type, m_options.bJson)
                  << '\n';
        return bGood;
    }

    bool PollDone() const {
        return platform::InterruptRequested() ||
               (m_options.nCount && m_totals.nPasses >= *m_options.nCount) ||
               (m_options.nDurationMs && Elapsed() >= *m_options.nDurationMs);
    }

    // Waits out the interval in short steps, so that Ctrl-C and the end of
    // the duration are seen at once.
    void WaitInterval(std::uint32_t nPassStart) const {
        while (!PollDone() && Elapsed() - nPassStart < m_options.nIntervalMs) {
            const std::uint32_t nLeft = m_options.nIntervalMs - (Elapsed() - nPassStart);
            platform::SleepFor(nLeft < 20 ? nLeft : 20);
        }
    }

    bool Poll(CProtocol& driver, std::vector<std::unique_ptr<CComBlock>>& blocks) {
        const bool bCaught = platform::CatchInterrupt() == platform::ErrorCategory::None;
        const bool bProgress = !m_options.bJson && platform::IsStandardOutputTerminal();
        while (!PollDone()) {
            const std::uint32_t nPassStart = Elapsed();
            unsigned long nFailedHere = 0;
            std::string summary;
            for (std::size_t i = 0; i < blocks.size() && !platform::InterruptRequested(); ++i) {
                nFailedHere += Transfer(driver, *blocks[i]) ? 0 : 1;
                const std::string line = BlockLine(*blocks[i], m_options.targets[i].address,
                                                   m_options.type, m_options.bJson);
                if (bProgress) {
                    summary += (i ? " | " : "") + line;
                } else {
                    std::cout << line << '\n';
                }
            }
            ++m_totals.nPasses;
            if (m_options.bJson) {
                std::cout << "{\"type\":\"pass\",\"pass\":" << m_totals.nPasses
                          << ",\"blocks\":" << blocks.size() << ",\"failed\":" << nFailedHere
                          << ",\"elapsed_ms\":" << Elapsed() << "}\n";
            } else if (bProgress) {
                Progress(summary);
            }
            std::cout.flush();
            WaitInterval(nPassStart);
        }
        m_totals.bInterrupted = platform::InterruptRequested();
        m_totals.nElapsedMs = Elapsed();
        if (bCaught) {
            platform::ReleaseInterrupt();
        }
        if (bProgress) {
            std::cout << '\n';
        }
        std::cout << StatisticsText(driver, m_totals, m_options.bJson) << '\n';
        return m_totals.nFailed == 0;
    }

    // One line, rewritten in place: a person watching sees it change.
    void Progress(const std::string& summary) {
        const double dSeconds = Elapsed() / 1000.0;
        char head[160];
        std::snprintf(head, sizeof head, "pass %lu, %lu blocks, %lu failed, %.1f blocks/s  ",
                      m_totals.nPasses, m_totals.nBlocks, m_totals.nFailed,
                      dSeconds > 0 ? m_totals.nBlocks / dSeconds : 0.0);
        std::string line = head + summary;
        if (line.size() > 150) {
            line.resize(147);
            line += "...";
        }
        std::cout << "\r\x1b[K" << line;
    }

    const Options& m_options;
    Plugin m_plugin;
    std::unique_ptr<replay::ReplayDevice> m_pPlayer;
    std::unique_ptr<replay::SerialReplayServer> m_pServer;
    Traffic m_traffic;
    RunTotals m_totals;
    std::uint32_t m_nStart = platform::TickCount();
};

}  // namespace

int RunInfo(const Options& options) {
    Plugin plugin;
    if (!plugin.Load(options.plugin)) {
        return kUsageError;
    }
    CProtocol& driver = *plugin.driver;
    CStringArray tables;
    driver.GetProtocolTables(&tables);
    const std::string kind = driver.IsSerialProtocol()    ? "serial"
                             : driver.IsNetworkProtocol() ? "network"
                             : driver.IsNoPortProtocol()  ? "no port"
                                                          : "other";
    const std::string style =
        driver.GetProtocolStyle() == CProtocol::PROTOCOL_STYLE_SLAVE ? "slave" : "master";
    const std::string remote = driver.GetEDFFormatRemote()->m_strFormat.GetString();
    const std::string device = driver.GetEDFFormatDevice()->m_strFormat.GetString();
    if (options.bJson) {
        std::string json = "{\"type\":\"info\",\"name\":" +
                           JsonString(plugin.library.GetDriverName().GetString()) +
                           ",\"version\":" + JsonString(driver.GetVersionInfo().GetString()) +
                           ",\"protocol_type\":" + std::to_string(driver.GetProtocolType()) +
                           ",\"style\":" + JsonString(style) + ",\"kind\":" + JsonString(kind) +
                           ",\"remote_format\":" + JsonString(remote) +
                           ",\"device_format\":" + JsonString(device) + ",\"tables\":[";
        for (int i = 0; i < tables.GetSize(); ++i) {
            json += i ? "," : "";
            json += JsonString(tables[i].GetString());
        }
        std::cout << json << "]}\n";
    } else {
        std::cout << "name:           " << plugin.library.GetDriverName().GetString() << '\n'
                  << "version:        " << driver.GetVersionInfo().GetString() << '\n'
                  << "protocol type:  " << driver.GetProtocolType() << ", " << style << ", " << kind
                  << '\n'
                  << "remote address: " << remote << '\n'
                  << "device address: " << (device.empty() ? "(none)" : device) << '\n'
                  << "tables:        ";
        for (int i = 0; i < tables.GetSize(); ++i) {
            std::cout << ' ' << tables[i].GetString();
        }
        std::cout << '\n';
    }
    PrintProperties(driver, options.bJson);
    return kAllGood;
}

int RunTransfers(const Options& options) {
    return TransferRun(options).Run();
}

int RunReplay(const Options& options) {
    replay::Recording recording;
    if (!ReadRecording(options.plugin, recording)) {
        return kUsageError;
    }
    const std::size_t nExchanges = recording.m_exchanges.size();
    replay::ReplayDevice player(std::move(recording));
    player.SetLoop(options.bLoop);
    player.SetMismatchHandler(ReportMismatch);
    std::unique_ptr<replay::ReplayServer> server;
    std::string where;
    if (options.bSerial) {
        auto serial = std::make_unique<replay::SerialReplayServer>(player);
        if (serial->Start() != platform::ErrorCategory::None) {
            Error("cannot serve a pseudo-terminal here");
            return kUsageError;
        }
        where = serial->DevicePath();
        server = std::move(serial);
    } else {
        auto tcp = std::make_unique<replay::TcpReplayServer>(player);
        if (!tcp->Start(options.bindAddress.c_str(),
                        static_cast<std::uint16_t>(*options.nTcpPort))) {
            Error("cannot listen on " + options.bindAddress + ":" +
                  std::to_string(*options.nTcpPort) + ": " +
                  platform::SystemErrorText(platform::LastSystemError()));
            return kUsageError;
        }
        where = options.bindAddress + ":" + std::to_string(tcp->Port());
        server = std::move(tcp);
    }
    server->SetDelayScale(options.dDelayScale);
    const bool bCaught = platform::CatchInterrupt() == platform::ErrorCategory::None;
    if (options.bJson) {
        std::cout << "{\"type\":\"replay\",\"serving\":" << JsonString(where)
                  << ",\"exchanges\":" << nExchanges << "}" << std::endl;
    } else {
        std::cout << "serving " << nExchanges << " exchanges on " << where << std::endl;
    }
    // Done, the last reply still has to reach the driver before the port
    // closes: a transport that finds the connection closed may not read it.
    constexpr std::uint32_t kLingerMs = 500;
    std::optional<std::uint32_t> nFinishedAt;
    while (!platform::InterruptRequested() &&
           !(nFinishedAt && platform::TickCount() - *nFinishedAt >= kLingerMs)) {
        if (!nFinishedAt && options.bUntilDone && !options.bLoop && player.IsFinished()) {
            nFinishedAt = platform::TickCount();
        }
        platform::SleepFor(20);
    }
    server->Stop();
    if (bCaught) {
        platform::ReleaseInterrupt();
    }
    if (options.bJson) {
        std::cout << "{\"type\":\"replay_statistics\",\"matched\":" << player.MatchedCount()
                  << ",\"mismatches\":" << player.MismatchCount()
                  << ",\"finished\":" << (player.IsFinished() ? "true" : "false") << "}\n";
    } else {
        std::cout << "played " << player.MatchedCount() << " requests as recorded, "
                  << player.MismatchCount() << " mismatched\n";
    }
    return player.MismatchCount() == 0 ? kAllGood : kSomeFailed;
}

}  // namespace host
