// The player as a driver's own test uses it: requests matched in order,
// the first differing byte reported, and no reply to what was not recorded.
#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>
#include <kelvara/platform/FakeSerialDevice.h>

#include <memory>
#include <string>

#include "support/DriverPlugin.h"

namespace {

using kelvara::replay::Mismatch;
using kelvara::replay::Outcome;
using kelvara::replay::Recording;
using kelvara::replay::ReplayDevice;
using Bytes = std::vector<std::uint8_t>;

Recording TwoExchanges() {
    Recording recording;
    recording.m_exchanges.push_back({{1, 2, 3, 4}, {9, 9}, true, 0, 5});
    recording.m_exchanges.push_back({{1, 2, 3, 5}, {}, false, 10, 100});
    return recording;
}

TEST(ReplayDevice, AnswersRequestsInOrderEvenWhenTheyComeInPieces) {
    ReplayDevice player(TwoExchanges());
    const Bytes first = {1, 2};
    EXPECT_TRUE(player.Receive(first.data(), first.size()).empty());
    // The rest of the first request and the whole second in one run.
    const Bytes rest = {3, 4, 1, 2, 3, 5};
    const std::vector<Outcome> outcomes = player.Receive(rest.data(), rest.size());
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].kind, Outcome::Kind::Reply);
    EXPECT_EQ(outcomes[0].reply, (Bytes{9, 9}));
    EXPECT_EQ(outcomes[0].dwDelayMs, 5u);
    EXPECT_EQ(outcomes[1].kind, Outcome::Kind::Silent);
    EXPECT_EQ(player.MatchedCount(), 2u);
    EXPECT_TRUE(player.IsFinished());
}

TEST(ReplayDevice, ReportsTheFirstDifferingByteAndWaitsAtTheSameExchange) {
    ReplayDevice player(TwoExchanges());
    std::vector<std::string> reported;
    player.SetMismatchHandler([&](const Mismatch& m) { reported.push_back(m.Describe()); });
    const Bytes wrong = {1, 2, 7, 4};
    const auto outcomes = player.Receive(wrong.data(), wrong.size());
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].kind, Outcome::Kind::Mismatch);
    EXPECT_EQ(outcomes[0].mismatch.nPosition, 2u);
    EXPECT_EQ(outcomes[0].mismatch.nExpected, 3);
    EXPECT_EQ(outcomes[0].mismatch.nReceived, 7);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0],
              "request 1 differs from the recording at byte 2: expected 0x03, received 0x07; "
              "no reply");
    // The byte after the difference belonged to the bad request; a retry
    // that is right gets the reply.
    const Bytes retry = {1, 2, 3, 4};
    const auto answered = player.Receive(retry.data(), retry.size());
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].reply, (Bytes{9, 9}));
    EXPECT_EQ(player.MismatchCount(), 1u);
}

TEST(ReplayDevice, ReportsARequestCutShortWhenTheLineGoesQuiet) {
    ReplayDevice player(TwoExchanges());
    EXPECT_FALSE(player.Quiet().has_value());
    const Bytes part = {1, 2};
    player.Receive(part.data(), part.size());
    const auto shorter = player.Quiet();
    ASSERT_TRUE(shorter.has_value());
    EXPECT_EQ(shorter->nPosition, 2u);
    EXPECT_EQ(shorter->nReceived, -1);
    EXPECT_NE(shorter->Describe().find("shorter than recorded"), std::string::npos);
}

TEST(ReplayDevice, PastTheEndIsAMismatchUnlessItLoops) {
    ReplayDevice player(TwoExchanges());
    const Bytes both = {1, 2, 3, 4, 1, 2, 3, 5, 1};
    const auto outcomes = player.Receive(both.data(), both.size());
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].kind, Outcome::Kind::Mismatch);
    EXPECT_EQ(outcomes[2].mismatch.nExchange, 2u);
    EXPECT_NE(outcomes[2].mismatch.Describe().find("past the end"), std::string::npos);

    ReplayDevice looping(TwoExchanges());
    looping.SetLoop(true);
    const Bytes again = {1, 2, 3, 4, 1, 2, 3, 5, 1, 2, 3, 4};
    const auto looped = looping.Receive(again.data(), again.size());
    ASSERT_EQ(looped.size(), 3u);
    EXPECT_EQ(looped[2].reply, (Bytes{9, 9}));
    EXPECT_EQ(looping.MismatchCount(), 0u);
}

// A driver's own test: its real frames against a recording, on the serial
// seam's fake line, in-process.
class FakeLineReplay : public testing::Test {
protected:
    void SetUp() override {
        m_pDevice = std::make_shared<kelvara::platform::FakeSerialDevice>();
        kelvara::platform::SetSerialDeviceOpener(m_pDevice->Opener());
        ASSERT_TRUE(m_driver.IsLoaded()) << m_driver.Error().GetString();
        ASSERT_TRUE(testsupport::Configure(
            *m_driver,
            {{"Port.PortNumber", "3"}, {"Timing.Timeout", "50"}, {"Timing.RetryCount", "0"}}));
        kelvara::platform::MapComPort(3, "/fake/line");
    }
    void TearDown() override {
        m_driver->StopProtocol();
        kelvara::platform::SetSerialDeviceOpener({});
        kelvara::platform::RestoreComPortDefault(3);
    }

    std::shared_ptr<kelvara::platform::FakeSerialDevice> m_pDevice;
    testsupport::LoadedDriver m_driver{KELVARA_MODBUS_RTU_MASTER};
};

Recording HoldingRegisters() {
    Recording recording;
    std::string error;
    EXPECT_TRUE(
        recording.Parse("kelvara-recording 1\n"
                        "> 0 01 03 00 00 00 02 c4 0b\n"
                        "< 4 01 03 04 03 e8 03 e9 bb 3d\n",
                        &error))
        << error;
    return recording;
}

TEST_F(FakeLineReplay, TheRecordedReplyGivesTheDriverItsValues) {
    ReplayDevice player(HoldingRegisters());
    kelvara::replay::PlayOnFakeSerialDevice(*m_pDevice, player);
    ASSERT_EQ(m_driver->StartProtocol(), 0u);
    auto block = testsupport::MakeBlock(*m_driver, "HR:0", 2);
    EXPECT_EQ(m_driver->TransferData(block.get()), 0u);
    EXPECT_EQ(testsupport::Values(*block, 2), (std::vector<int>{1000, 1001}));
    EXPECT_TRUE(player.IsFinished());
}

TEST_F(FakeLineReplay, ADriverSendingOneWrongByteIsCaughtAtThatByte) {
    ReplayDevice player(HoldingRegisters());
    kelvara::replay::PlayOnFakeSerialDevice(*m_pDevice, player);
    ASSERT_EQ(m_driver->StartProtocol(), 0u);
    // Register 1 instead of 0: byte 3 of the frame differs.
    auto block = testsupport::MakeBlock(*m_driver, "HR:1", 2);
    EXPECT_EQ(m_driver->TransferData(block.get()), static_cast<DWORD>(SE_TIMEOUT));
    const auto mismatches = player.Mismatches();
    ASSERT_EQ(mismatches.size(), 1u);
    EXPECT_EQ(mismatches[0].nPosition, 3u);
    EXPECT_EQ(mismatches[0].nExpected, 0x00);
    EXPECT_EQ(mismatches[0].nReceived, 0x01);
}

}  // namespace
