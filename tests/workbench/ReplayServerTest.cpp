// The player on real transports, in-process: a driver's TCP master against
// the loopback server, a wrong request caught there, and a request cut
// short reported once the line goes quiet.
#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>
#include <kelvara/platform/Socket.h>

#include <string>

#include "support/DriverPlugin.h"
#include "support/Wait.h"

namespace {

using kelvara::replay::Recording;
using kelvara::replay::ReplayDevice;
using kelvara::replay::TcpReplayServer;

Recording OneRead() {
    Recording recording;
    std::string error;
    EXPECT_TRUE(
        recording.Parse("kelvara-recording 1\n"
                        "> 0 00 01 00 00 00 06 01 03 00 05 00 01\n"
                        "< 30 00 01 00 00 00 05 01 03 02 00 2a\n",
                        &error))
        << error;
    return recording;
}

class TcpReplay : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(m_master.IsLoaded());
        ASSERT_TRUE(testsupport::Configure(*m_master,
                                           {{"TCPIP.PortNumber", std::to_string(m_server.Port())},
                                            {"Timing.Timeout", "200"},
                                            {"Timing.RetryCount", "0"}}));
        ASSERT_EQ(m_master->StartProtocol(), 0u);
    }
    void TearDown() override { m_master->StopProtocol(); }

    ReplayDevice m_player{OneRead()};
    TcpReplayServer m_server{m_player};
    testsupport::LoadedDriver m_master{KELVARA_MODBUS_TCP_MASTER};
};

TEST_F(TcpReplay, TheMasterGetsTheRecordedValueAfterTheRecordedDelay) {
    auto block = testsupport::MakeBlock(*m_master, "HR:5", 1);
    ASSERT_EQ(m_master->TransferData(block.get()), 0u);
    EXPECT_EQ(testsupport::Values(*block, 2), (std::vector<int>{42}));
    // The reply waited for its 30 ms (a com time can only be longer).
    EXPECT_GE(block->GetComTime(), 25u);
    EXPECT_TRUE(m_player.IsFinished());
}

TEST_F(TcpReplay, AWrongRequestGetsNoReplyAndIsReportedAtItsByte) {
    m_server.SetDelayScale(0);
    auto block = testsupport::MakeBlock(*m_master, "HR:6", 1);
    EXPECT_EQ(m_master->TransferData(block.get()), static_cast<DWORD>(SE_TIMEOUT));
    const auto mismatches = m_player.Mismatches();
    ASSERT_EQ(mismatches.size(), 1u);
    EXPECT_EQ(mismatches[0].nPosition, 9u);
    EXPECT_EQ(mismatches[0].nReceived, 6);
}

TEST(TcpReplayQuiet, ARequestCutShortIsReportedWhenTheLineGoesQuiet) {
    namespace p = kelvara::platform;
    ReplayDevice player(OneRead());
    TcpReplayServer server(player);
    ASSERT_TRUE(server.Start());
    const p::SocketHandle hSocket = p::CreateStreamSocket();
    ASSERT_NE(hSocket, p::kInvalidSocket);
    ASSERT_EQ(p::Connect(hSocket, p::Ipv4AddressFromText("127.0.0.1"), server.Port()),
              p::ConnectResult::Connected);
    const std::uint8_t part[] = {0x00, 0x01, 0x00};
    ASSERT_EQ(p::Send(hSocket, part, sizeof part), 3);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return player.MismatchCount() == 1; },
                                       std::chrono::seconds(5)));
    p::CloseSocket(hSocket);
    ASSERT_EQ(player.Mismatches().size(), 1u);
    EXPECT_EQ(player.Mismatches()[0].nPosition, 3u);
    EXPECT_EQ(player.Mismatches()[0].nReceived, -1);
}

}  // namespace
