// The sample ARCNET driver as a host uses it: loaded through CDriverLibrary,
// started on the virtual segment, reading and writing registers of
// simulated stations.
#include <gtest/gtest.h>

#include <algorithm>

#include "ArcnetRegisterStation.h"
#include "support/DriverPlugin.h"
#include "support/NamedMutexScope.h"
#include "support/Wait.h"

namespace {

using testsupport::Values;
using testsupport::WaitUntil;

class ArcnetDriver : public ::testing::Test {
protected:
    void SetUp() override {
        segment.Install();
        ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
        ASSERT_TRUE(driver->IsNetworkProtocol());
        SetTimeout(1000);
        ASSERT_EQ(driver->StartProtocol(), 0u);
        driver->ActivateCommsLog(true);
    }

    void SetTimeout(DWORD dwMilliseconds) {
        ASSERT_TRUE(testsupport::Configure(
            *driver, {{"TimeoutOnly.Timeout", std::to_string(dwMilliseconds)}}));
    }
    std::unique_ptr<CComBlock> Block(const char* pszAddress, DWORD dwCount, WORD wType = 2) {
        return testsupport::MakeBlock(*driver, pszAddress, dwCount, wType);
    }
    std::unique_ptr<CComBlock> Write(const char* pszAddress, const std::vector<int>& values) {
        return testsupport::MakeWrite(*driver, pszAddress, values, 2);
    }
    DWORD Transfer(const std::unique_ptr<CComBlock>& block) {
        return driver->TransferData(block.get());
    }

    CVirtualArcnetSegment segment;
    CArcnetRegisterStation station{&segment, 12};
    testsupport::LoadedDriver driver{KELVARA_ARCNET_DRIVER_PLUGIN};  // stops first
};

TEST_F(ArcnetDriver, ReadsAndWritesRegistersInTheBlocksDataType) {
    for (int i = 0; i < 3; ++i) {
        station.SetRegister(100 + i, static_cast<WORD>(1000 + i));
    }
    station.SetInput(7, 0xFFFE);
    driver->LogAsHex(true);
    auto registers = Block("12:R100", 3);
    EXPECT_EQ(Transfer(registers), 0u);
    EXPECT_EQ(Values(*registers, 2), (std::vector<int>{1000, 1001, 1002}));
    // One request and its answer; the answer carries the values.
    const std::vector<std::string> log = testsupport::DrainCommsLog(*driver);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].substr(0, 2), "TX");
    EXPECT_NE(log[1].find("E8 03 E9 03 EA 03"), std::string::npos) << log[1];

    // Type 3: each register sign-extended to 32 bits.
    auto input = Block("12:I7", 1, 3);
    EXPECT_EQ(Transfer(input), 0u);
    CByteArray data;
    ASSERT_TRUE(input->GetBlockData(data));
    EXPECT_EQ(ByteArrayToLong(data), -2);

    auto reader = Block("12:R200", 2);
    ASSERT_EQ(Transfer(reader), 0u);
    auto writer = Write("12:R200", {0x1234, 0xBEEF});
    EXPECT_EQ(Transfer(writer), 0u);
    EXPECT_TRUE(writer->IsBlockGood());
    EXPECT_EQ(station.GetRegister(200), 0x1234);
    EXPECT_EQ(station.GetRegister(201), 0xBEEF);
    // The read polled before the write must not answer for it.
    ASSERT_EQ(Transfer(reader), 0u);
    EXPECT_EQ(Values(*reader, 2), (std::vector<int>{0x1234, 0xBEEF}));
    EXPECT_EQ(driver->GetNumberStandardErrors(), 0u);
}

TEST_F(ArcnetDriver, StationsThatDoNotAnswerTimeOutUntilTheyDo) {
    SetTimeout(150);
    station.SetSilent(TRUE);
    auto silent = Block("12:R0", 1);
    EXPECT_EQ(Transfer(silent), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_FALSE(silent->IsBlockGood());
    EXPECT_EQ(CString(*silent->GetStandardErrorString()), "Operation timed out");
    // No station at all, for a read and a write.
    EXPECT_EQ(Transfer(Block("40:R0", 1)), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_EQ(Transfer(Write("40:R0", {1})), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_EQ(driver->GetNumberTimeoutErrors(), 3u);
    const std::vector<std::string> log = testsupport::DrainCommsLog(*driver);
    EXPECT_EQ(std::count(log.begin(), log.end(), "NR"), 3);

    // A station that comes back answers the same block again.
    station.SetSilent(FALSE);
    station.SetRegister(0, 5);
    SetTimeout(1000);
    EXPECT_EQ(Transfer(silent), 0u);
    EXPECT_EQ(Values(*silent, 2), std::vector<int>{5});
}

TEST_F(ArcnetDriver, StationExceptionsBecomeDeviceErrors) {
    auto beyond = Block("12:R999", 2);
    EXPECT_EQ(Transfer(beyond), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_FALSE(beyond->IsBlockGood());
    EXPECT_EQ(beyond->GetDeviceErrorCode(), 2u);
    EXPECT_EQ(CString(*beyond->GetDeviceErrorString()), "Station: illegal register address");
    station.SetInput(3, 9);
    auto readOnly = Write("12:I3", {4});
    EXPECT_EQ(Transfer(readOnly), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_EQ(readOnly->GetDeviceErrorCode(), 4u);
    EXPECT_EQ(station.GetInput(3), 9);
    EXPECT_EQ(driver->GetNumberDeviceErrors(), 2u);
    EXPECT_EQ(driver->GetLastErrorString(), "Negative Acknowledge (NAK) received");
}

TEST_F(ArcnetDriver, KeepsPollingEveryBlockAskedForAtItsCurrentAddress) {
    CArcnetRegisterStation second(&segment, 13);
    ASSERT_TRUE(second.IsOnline());
    const std::unique_ptr<CComBlock> blocks[] = {Block("12:R10", 1), Block("12:I20", 4),
                                                 Block("13:R30", 2)};
    for (const auto& block : blocks) {
        ASSERT_EQ(Transfer(block), 0u);
    }
    // Changes at both stations reach every block: each request goes out
    // again every pass, with no transfer in hand.
    station.SetRegister(10, 1);
    station.SetInput(23, 2);
    second.SetRegister(31, 3);
    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(std::begin(blocks), std::end(blocks),
                           [&](const auto& b) { return Transfer(b) == 0; }) &&
               Values(*blocks[0], 2)[0] == 1 && Values(*blocks[1], 2)[3] == 2 &&
               Values(*blocks[2], 2)[1] == 3;
    }));

    // A block pointed elsewhere reads its new registers, though answers to
    // the old request may still be on their way.
    station.SetRegister(20, 2);
    for (int i = 0; i < 4; ++i) {
        blocks[0]->GetFirstAddress()->SetAddress(i % 2 == 0 ? "12:R20" : "12:R10");
        ASSERT_EQ(Transfer(blocks[0]), 0u);
        EXPECT_EQ(Values(*blocks[0], 2), std::vector<int>{i % 2 == 0 ? 2 : 1}) << i;
    }
}

TEST_F(ArcnetDriver, RefusesBlocksItCannotCarryBeforeSendingThem) {
    CRemoteAddress broadcast("0:R1", driver->GetEDFFormatRemote()->m_strFormat, nullptr);
    EXPECT_NE(driver->ValidateRemoteAddress(&broadcast), static_cast<DWORD>(EDF_OK));
    // Checked against the driver's format, not the one the object carries.
    CRemoteAddress bare("12:R1", nullptr, nullptr);
    EXPECT_EQ(driver->ValidateRemoteAddress(&bare), static_cast<DWORD>(EDF_OK));
    CComBlock toBroadcast(&broadcast, 2, 1, 1, 2);
    EXPECT_EQ(driver->TransferData(&toBroadcast), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(Transfer(Block("12:R0", 241)), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(Transfer(Block("12:R0", 1, 8)), static_cast<DWORD>(SE_INVALID_DATA_TYPE));
    // One value for three points.
    auto threePoints = Block("12:R0", 3);
    CByteArray one = testsupport::PackValues({1}, 2);
    threePoints->FillWriteBuffer(&one);
    EXPECT_EQ(Transfer(threePoints), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(driver->GetNumberStandardErrors(), 4u);
    EXPECT_TRUE(segment.GetStationPackets(12).empty());
}

TEST_F(ArcnetDriver, StartsAndStopsRepeatedlyAndNotWithoutTheCard) {
    EXPECT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_PROTOCOL_RESTART));
    station.SetRegister(1, 11);
    auto block = Block("12:R1", 1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Transfer(block), 0u);
        EXPECT_EQ(Values(*block, 2), std::vector<int>{11});
        EXPECT_EQ(driver->StopProtocol(), 0u);
        EXPECT_EQ(Transfer(block), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
        ASSERT_EQ(driver->StartProtocol(), 0u);
    }
    EXPECT_EQ(driver->StopProtocol(), 0u);
    segment.Uninstall();
    EXPECT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_COM_HARDWARE_PROBLEM));
    EXPECT_FALSE(driver->IsStarted());
}

}  // namespace
