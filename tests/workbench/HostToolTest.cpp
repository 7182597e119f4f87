// kelvara-host from the outside: every command against a libmodbus server
// and against recordings, JSON read back, exit codes, and bad input that
// must end in a clear message, never a crash or a hang.
#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>

#include <future>
#include <string>
#include <vector>

#include "HostTool.h"
#include "support/DriverPlugin.h"
#include "support/LibmodbusServer.h"
#include "support/PtyPair.h"

namespace {

using workbench::Json;
using workbench::RunTool;
using workbench::TempFile;

const std::string kTcp = KELVARA_MODBUS_TCP_MASTER;
const std::string kRtu = KELVARA_MODBUS_RTU_MASTER;

std::vector<Json> Parsed(const std::string& out) {
    std::vector<Json> lines;
    EXPECT_TRUE(workbench::JsonLines(out, lines)) << out;
    return lines;
}

TEST(HostTool, InfoDescribesTheDriverAndItsProperties) {
    const auto result = RunTool({"info", kTcp, "--json"});
    ASSERT_EQ(result.nExit, 0) << result.err;
    const auto lines = Parsed(result.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["name"].text, "Modbus TCP master");
    EXPECT_EQ(lines[0]["style"].text, "master");
    EXPECT_NE(lines[0]["remote_format"].text.find("HR"), std::string::npos);
    std::vector<std::string> properties;
    for (const Json& line : lines[1]["lines"].items) {
        properties.push_back(line.text);
    }
    EXPECT_NE(std::find(properties.begin(), properties.end(), "TCPIP.PortNumber=502"),
              properties.end());
}

struct BadRun {
    const char* pszName;
    std::vector<std::string> args;
    const char* pszMessage;  // part of standard error
};

class HostToolRefuses : public testing::TestWithParam<BadRun> {};

TEST_P(HostToolRefuses, WithUsageStatusAndAMessage) {
    const auto result = RunTool(GetParam().args);
    EXPECT_EQ(result.nExit, 2) << result.out << result.err;
    EXPECT_NE(result.err.find(GetParam().pszMessage), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, HostToolRefuses,
    testing::Values(
        BadRun{"NoCommand", {}, "no command"},
        BadRun{"UnknownOption", {"read", kTcp, "HR:0", "--frobnicate"}, "unknown option"},
        BadRun{"MissingPlugin", {"info", "/nonexistent/driver.so"}, "cannot load"},
        BadRun{"NotADriver", {"info", KELVARA_TEST_LIBRARY}, "cannot load"},
        BadRun{"BadPropertyForm", {"read", kTcp, "HR:0", "-p", "Timeout"}, "-p Timeout"},
        BadRun{"UnknownProperty", {"read", kTcp, "HR:0", "-p", "TCPIP.Nothing=1"}, "no property"},
        BadRun{"RefusedValue", {"read", kTcp, "HR:0", "-p", "Modbus.NodeId=x"}, "refuses"},
        BadRun{"RefusedAddress", {"read", kTcp, "XY:0"}, "refuses the address XY:0"},
        BadRun{"TooManyPoints", {"read", kTcp, "HR:0", "5000"}, "at most"},
        BadRun{"BadWriteValue", {"write", kTcp, "HR:0", "70000"}, "not a value of type int16"},
        BadRun{"MissingRecording", {"replay", "/nonexistent.rec", "--tcp", "0"}, "cannot read"},
        BadRun{"ReplayWithoutTransport", {"replay", "x.rec"}, "--serial or --tcp"}),
    [](const auto& info) { return std::string(info.param.pszName); });

TEST(HostTool, APropertiesFileIsCheckedWholeAndTheBadLineNamed) {
    TempFile properties(".properties");
    properties.Write("# settings\nTiming.Timeout=300\nTiming.RetryCount=many\n");
    const auto result = RunTool({"read", kTcp, "HR:0", "--properties", properties.Path()});
    EXPECT_EQ(result.nExit, 2);
    EXPECT_NE(result.err.find(properties.Path() + ":3"), std::string::npos) << result.err;
}

TEST(HostTool, ADamagedRecordingIsRefusedWithItsLine) {
    TempFile recording(".rec");
    recording.Write("kelvara-recording 1\n> 0 01 03 00 00\n< 5 01 0\n");
    const auto result = RunTool({"replay", recording.Path(), "--tcp", "0"});
    EXPECT_EQ(result.nExit, 2);
    EXPECT_NE(result.err.find("line 3"), std::string::npos) << result.err;
    const auto cut = RunTool({"read", kRtu, "HR:0", "--replay", recording.Path()});
    EXPECT_EQ(cut.nExit, 2);
}

class HostToolLive : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Start());
        m_port = "TCPIP.PortNumber=" + std::to_string(m_server.Port());
        for (int i = 0; i < 10; ++i) {
            m_server.SetHoldingRegister(i, static_cast<std::uint16_t>(100 + i));
        }
    }
    std::vector<std::string> Tcp(std::vector<std::string> args) {
        args.insert(args.begin() + 2, {"-p", m_port, "-p", "Timing.Timeout=300"});
        return args;
    }

    testsupport::LibmodbusServer m_server;
    std::string m_port;
};

TEST_F(HostToolLive, WriteThenReadGivesTheValuesBackAsJson) {
    const auto written = RunTool(Tcp({"write", kTcp, "HR:20", "7", "-8", "65535", "--json"}));
    ASSERT_EQ(written.nExit, 0) << written.err;
    EXPECT_TRUE(Parsed(written.out).at(0)["good"].b);
    const auto read = RunTool(Tcp({"read", kTcp, "HR:20", "3", "--json"}));
    ASSERT_EQ(read.nExit, 0) << read.err;
    const Json block = Parsed(read.out).at(0);
    EXPECT_EQ(block["type"].text, "block");
    EXPECT_EQ(workbench::Numbers(block["values"]), (std::vector<int>{7, -8, -1}));
    const auto unsignedRead = RunTool(Tcp({"read", kTcp, "HR:22", "--type", "uint16", "--json"}));
    EXPECT_EQ(workbench::Numbers(Parsed(unsignedRead.out).at(0)["values"]),
              (std::vector<int>{65535}));
}

TEST_F(HostToolLive, ShowPropertiesPrintsTheLinesAfterTheChanges) {
    const auto result = RunTool(
        Tcp({"read", kTcp, "HR:0", "-p", "Modbus.NodeId=1", "--show-properties", "--log", "hex"}));
    ASSERT_EQ(result.nExit, 0) << result.err;
    EXPECT_NE(result.out.find("  " + m_port + "\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  Timing.Timeout=300\n"), std::string::npos) << result.out;
    // The request as the log shows it: transaction 1, unit 1, register 0.
    EXPECT_NE(result.out.find("TX00 01 00 00 00 06 01 03 00 00 00 01"), std::string::npos)
        << result.out;
}

TEST_F(HostToolLive, ARefusedBlockFailsWithTheDeviceError) {
    const auto result = RunTool(Tcp({"read", kTcp, "HR:995", "6", "--json"}));
    EXPECT_EQ(result.nExit, 1) << result.err;
    const Json block = Parsed(result.out).at(0);
    EXPECT_FALSE(block["good"].b);
    EXPECT_EQ(block["error"].number, SE_NAK_RECEIVED);
    EXPECT_EQ(block["device_error"].number, 2);
}

TEST_F(HostToolLive, PollPrintsEveryBlockEveryPassAndTheStatistics) {
    TempFile log(".log");
    const auto result = RunTool(Tcp({"poll", kTcp, "HR:0,2", "CO:0,4", "--type", "byte", "--count",
                                     "3", "--interval", "0", "--json", "--log-file", log.Path()}));
    ASSERT_EQ(result.nExit, 0) << result.err;
    const auto lines = Parsed(result.out);
    ASSERT_EQ(lines.size(), 3u * 3u + 1u);
    EXPECT_EQ(lines[2]["type"].text, "pass");
    const Json& statistics = lines.back();
    EXPECT_EQ(statistics["type"].text, "statistics");
    EXPECT_EQ(statistics["blocks"].number, 6);
    EXPECT_EQ(statistics["failed"].number, 0);
    EXPECT_GT(statistics["bytes_in"].number, 0);
    // Every block's traffic was taken from the driver's log as it came.
    const std::string text = log.Read();
    EXPECT_EQ(static_cast<int>(std::count(text.begin(), text.end(), 'T')), 6) << text;
}

TEST_F(HostToolLive, PlainLinesWithoutATerminalAndCtrlCStillPrintsTheStatistics) {
    const auto result = RunTool(Tcp({"poll", kTcp, "HR:0,2", "--interval", "50ms"}),
                                "timeout --preserve-status -s INT 1");
    EXPECT_EQ(result.nExit, 0) << result.err;
    EXPECT_NE(result.out.find("HR:0         read  ok 100 101"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("statistics (interrupted)"), std::string::npos) << result.out;
}

TEST_F(HostToolLive, ATcpRecordingReplayedGivesTheSameValues) {
    TempFile recording(".rec");
    const auto live = RunTool(Tcp({"poll", kTcp, "HR:0,4", "--count", "2", "--interval", "0",
                                   "--json", "--record", recording.Path()}));
    ASSERT_EQ(live.nExit, 0) << live.err;
    kelvara::replay::Recording parsed;
    std::string error;
    ASSERT_TRUE(parsed.Parse(recording.Read(), &error)) << error;
    ASSERT_EQ(parsed.m_exchanges.size(), 2u);
    m_server.Stop();

    kelvara::replay::ReplayDevice player(parsed);
    kelvara::replay::TcpReplayServer server(player);
    ASSERT_TRUE(server.Start());
    const auto replayed =
        RunTool({"poll", kTcp, "-p", "TCPIP.PortNumber=" + std::to_string(server.Port()), "HR:0,4",
                 "--count", "2", "--interval", "0", "--json"});
    ASSERT_EQ(replayed.nExit, 0) << replayed.err;
    EXPECT_EQ(workbench::Numbers(Parsed(replayed.out).at(0)["values"]),
              (std::vector<int>{100, 101, 102, 103}));
    EXPECT_EQ(workbench::Numbers(Parsed(replayed.out).at(0)["values"]),
              workbench::Numbers(Parsed(live.out).at(0)["values"]));
    EXPECT_TRUE(player.IsFinished());
    EXPECT_EQ(player.MismatchCount(), 0u);
}

TEST(HostToolReplay, ServesARecordingOnTcpUntilItIsPlayed) {
    TempFile recording(".rec");
    recording.Write(
        "kelvara-recording 1\n> 0 00 01 00 00 00 06 01 03 00 05 00 01\n"
        "< 2 00 01 00 00 00 05 01 03 02 00 2a\n");
    // A port that is free now, found by listening on it once.
    kelvara::replay::Recording empty;
    kelvara::replay::ReplayDevice probe(empty);
    kelvara::replay::TcpReplayServer finder(probe);
    ASSERT_TRUE(finder.Start());
    const std::string port = std::to_string(finder.Port());
    finder.Stop();
    auto served = std::async(std::launch::async, [&] {
        return RunTool({"replay", recording.Path(), "--tcp", port, "--until-done", "--json"});
    });
    testsupport::LoadedDriver master(KELVARA_MODBUS_TCP_MASTER);
    ASSERT_TRUE(testsupport::Configure(
        *master,
        {{"TCPIP.PortNumber", port}, {"Timing.Timeout", "200"}, {"Timing.RetryCount", "0"}}));
    auto block = testsupport::MakeBlock(*master, "HR:5", 1);
    // The tool needs a moment to listen: a master that finds no one there
    // simply tries again.
    const bool bGood = testsupport::WaitUntil(
        [&] {
            if (!master->IsStarted()) {
                master->StartProtocol();
            }
            return master->TransferData(block.get()) == 0;
        },
        std::chrono::seconds(10));
    master->StopProtocol();
    ASSERT_TRUE(bGood);
    EXPECT_EQ(testsupport::Values(*block, 2), (std::vector<int>{42}));
    const auto result = served.get();
    EXPECT_EQ(result.nExit, 0) << result.err;
    const auto lines = Parsed(result.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["matched"].number, 1);
    EXPECT_TRUE(lines[1]["finished"].b);
}

TEST_F(HostToolLive, ARetryIsRecordedAsAnUnansweredRequestThenTheNextOne) {
    m_server.SetSilent(true);
    TempFile recording(".rec");
    const auto result = RunTool(Tcp({"read", kTcp, "HR:0", "-p", "Timing.Timeout=50", "-p",
                                     "Timing.RetryCount=1", "--record", recording.Path()}));
    EXPECT_EQ(result.nExit, 1) << result.err;
    kelvara::replay::Recording parsed;
    std::string error;
    ASSERT_TRUE(parsed.Parse(recording.Read(), &error)) << error << recording.Read();
    ASSERT_EQ(parsed.m_exchanges.size(), 2u) << recording.Read();
    EXPECT_FALSE(parsed.m_exchanges[0].bReplied);
    EXPECT_FALSE(parsed.m_exchanges[1].bReplied);
    EXPECT_EQ(parsed.m_exchanges[0].request.size(), 12u);
}

class HostToolRtu : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_line.IsOpen());
        ASSERT_TRUE(m_server.StartRtu(m_line.Master(), 1));
        m_server.SetHoldingRegister(0, 1000);
        m_server.SetHoldingRegister(1, 1001);
    }

    testsupport::PtyPair m_line;
    testsupport::LibmodbusServer m_server;
};

TEST_F(HostToolRtu, AnRtuRecordingReplayedOnAPseudoTerminalGivesTheSameValues) {
    TempFile recording(".rec");
    const auto live = RunTool({"read", kRtu, "HR:0", "2", "--device", "COM1=" + m_line.SlavePath(),
                               "--json", "--record", recording.Path()});
    ASSERT_EQ(live.nExit, 0) << live.err;
    m_server.Stop();
    const auto replayed = RunTool(
        {"read", kRtu, "HR:0", "2", "--replay", recording.Path(), "--device", "COM1", "--json"});
    ASSERT_EQ(replayed.nExit, 0) << replayed.err;
    EXPECT_EQ(workbench::Numbers(Parsed(replayed.out).at(0)["values"]),
              (std::vector<int>{1000, 1001}));

    // The driver sends one wrong byte (another register): caught with its
    // place, and no reply.
    const auto wrong = RunTool({"read", kRtu, "HR:1", "2", "--replay", recording.Path(), "--device",
                                "COM1", "-p", "Timing.Timeout=100", "-p", "Timing.RetryCount=0"});
    EXPECT_EQ(wrong.nExit, 1);
    EXPECT_NE(wrong.err.find("request 1 differs from the recording at byte 3: expected 0x00, "
                             "received 0x01; no reply"),
              std::string::npos)
        << wrong.err;
}

}  // namespace
