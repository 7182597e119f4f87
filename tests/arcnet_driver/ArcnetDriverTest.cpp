// The sample ARCNET driver as a host uses it: loaded through CDriverLibrary,
// started on the virtual segment, reading and writing registers of
// simulated stations.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ArcnetRegisterStation.h"
#include "RegisterPackets.h"
#include "kelvara/Kelvara.h"
#include "support/NamedMutexScope.h"
#include "support/Wait.h"

namespace {

using namespace std::chrono_literals;

using testsupport::WaitUntil;

std::vector<WORD> Registers(CComBlock& block) {
    CByteArray data;
    block.GetBlockData(data);
    std::vector<WORD> values;
    for (int i = 0; i + 1 < data.GetSize(); i += 2) {
        values.push_back(static_cast<WORD>(data[i] | data[i + 1] << 8));
    }
    return values;
}

std::vector<std::string> DrainLog(CProtocol& driver) {
    return testsupport::DrainCommsLog(driver);
}

class ArcnetDriver : public ::testing::Test {
protected:
    void SetUp() override {
        segment.Install();
        ASSERT_TRUE(library.Load(KELVARA_ARCNET_DRIVER_PLUGIN))
            << library.GetLastError().GetString();
        driver.reset(library.CreateDriver());
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(driver->IsNetworkProtocol());
        SetTimeout(1000);
        ASSERT_EQ(driver->StartProtocol(), 0u);
    }

    void TearDown() override {
        if (driver != nullptr && driver->IsStarted()) {
            EXPECT_EQ(driver->StopProtocol(), 0u);
        }
        driver.reset();
    }

    void SetTimeout(DWORD dwMilliseconds) {
        CStringList lines;
        lines.AddTail(CString("TimeoutOnly.Timeout=") + std::to_string(dwMilliseconds).c_str());
        ASSERT_TRUE(driver->UpdateFromStringList(&lines));
    }

    // A block as a host builds it: from an address the driver has checked.
    std::unique_ptr<CComBlock> Block(const char* pszAddress, DWORD dwCount, WORD wType = 2) {
        CRemoteAddress address(pszAddress, driver->GetEDFFormatRemote()->m_strFormat, nullptr);
        EXPECT_EQ(driver->ValidateRemoteAddress(&address), static_cast<DWORD>(EDF_OK))
            << pszAddress;
        return std::make_unique<CComBlock>(&address, wType, 1, dwCount, 2);
    }

    std::unique_ptr<CComBlock> WriteBlock(const char* pszAddress, std::vector<WORD> values) {
        auto block = Block(pszAddress, static_cast<DWORD>(values.size()));
        CByteArray data;
        for (WORD w : values) {
            data.Add(static_cast<BYTE>(w & 0xFF));
            data.Add(static_cast<BYTE>(w >> 8));
        }
        block->FillWriteBuffer(&data);
        return block;
    }

    // Requests the station has received for a block.
    DWORD RequestsFor(BYTE byNode, CComBlock& block) {
        DWORD n = 0;
        for (const auto& packet : segment.GetStationPackets(byNode)) {
            const bool bOurs = packet.data.GetSize() >= 4 &&
                               arcnet_registers::LoadLE(packet.data, 0, 4) == block.GetBlockId();
            n += bOurs ? 1 : 0;
        }
        return n;
    }

    CVirtualArcnetSegment segment;
    CArcnetRegisterStation station{&segment, 12};
    CDriverLibrary library;
    std::unique_ptr<CProtocol> driver;
};

TEST_F(ArcnetDriver, ReadsRegistersAndInputsIntoTheBlocksDataType) {
    for (int i = 0; i < 3; ++i) {
        station.SetRegister(100 + i, static_cast<WORD>(1000 + i));
    }
    station.SetInput(7, 0xFFFE);
    driver->ActivateCommsLog(true);
    driver->LogAsHex(true);

    auto registers = Block("12:R100", 3);
    EXPECT_EQ(driver->TransferData(registers.get()), 0u);
    EXPECT_TRUE(registers->IsBlockGood());
    EXPECT_EQ(Registers(*registers), (std::vector<WORD>{1000, 1001, 1002}));

    // Type 3: each register sign-extended to 32 bits.
    auto input = Block("12:I7", 1, 3);
    EXPECT_EQ(driver->TransferData(input.get()), 0u);
    CByteArray data;
    ASSERT_TRUE(input->GetBlockData(data));
    EXPECT_EQ(ByteArrayToLong(data), -2);

    EXPECT_EQ(driver->GetBlockCount(), 2u);
    EXPECT_EQ(driver->GetNumberStandardErrors(), 0u);
    EXPECT_GE(driver->GetTotalBytesOut(), 2u * 12);
    EXPECT_GE(driver->GetTotalBytesIn(), 8u + 6 + 8 + 2);
    // One request and its answer per block; the answer carries the values.
    const std::vector<std::string> log = DrainLog(*driver);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].substr(0, 2), "TX");
    EXPECT_EQ(log[1].substr(0, 2), "RX");
    EXPECT_NE(log[1].find("E8 03 E9 03 EA 03"), std::string::npos) << log[1];
}

TEST_F(ArcnetDriver, WritesReachTheStationAndLaterReadsSeeThem) {
    auto reader = Block("12:R200", 2);
    ASSERT_EQ(driver->TransferData(reader.get()), 0u);
    EXPECT_EQ(Registers(*reader), (std::vector<WORD>{0, 0}));

    auto writer = WriteBlock("12:R200", {0x1234, 0xBEEF});
    EXPECT_EQ(driver->TransferData(writer.get()), 0u);
    EXPECT_TRUE(writer->IsBlockGood());
    EXPECT_EQ(station.GetRegister(200), 0x1234);
    EXPECT_EQ(station.GetRegister(201), 0xBEEF);
    // The read polled before the write must not answer for it.
    ASSERT_EQ(driver->TransferData(reader.get()), 0u);
    EXPECT_EQ(Registers(*reader), (std::vector<WORD>{0x1234, 0xBEEF}));

    // The other way: a value the station's own program sets shows up.
    station.SetRegister(201, 77);
    EXPECT_TRUE(WaitUntil(
        [&] { return driver->TransferData(reader.get()) == 0 && Registers(*reader)[1] == 77; }));
    EXPECT_EQ(driver->GetNumberStandardErrors(), 0u);
}

TEST_F(ArcnetDriver, StationsThatDoNotAnswerTimeOut) {
    SetTimeout(150);
    driver->ActivateCommsLog(true);
    station.SetSilent(TRUE);
    auto silent = Block("12:R0", 1);
    EXPECT_EQ(driver->TransferData(silent.get()), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_FALSE(silent->IsBlockGood());
    EXPECT_EQ(CString(*silent->GetStandardErrorString()), "Operation timed out");

    auto absent = Block("40:R0", 1);
    EXPECT_EQ(driver->TransferData(absent.get()), static_cast<DWORD>(SE_TIMEOUT));
    auto write = WriteBlock("40:R0", {1});
    EXPECT_EQ(driver->TransferData(write.get()), static_cast<DWORD>(SE_TIMEOUT));

    EXPECT_EQ(driver->GetNumberTimeoutErrors(), 3u);
    EXPECT_EQ(driver->GetNumberStandardErrors(), 3u);
    EXPECT_EQ(driver->GetBlockCount(), 3u);
    const std::vector<std::string> log = DrainLog(*driver);
    EXPECT_EQ(std::count(log.begin(), log.end(), "NR"), 3);

    // A station that comes back answers the same block again.
    station.SetSilent(FALSE);
    station.SetRegister(0, 5);
    SetTimeout(1000);
    EXPECT_EQ(driver->TransferData(silent.get()), 0u);
    EXPECT_EQ(Registers(*silent), std::vector<WORD>{5});
}

TEST_F(ArcnetDriver, StationExceptionsBecomeDeviceErrors) {
    auto beyond = Block("12:R999", 2);
    EXPECT_EQ(driver->TransferData(beyond.get()), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_FALSE(beyond->IsBlockGood());
    EXPECT_EQ(beyond->GetDeviceErrorCode(), 2u);
    EXPECT_EQ(CString(*beyond->GetDeviceErrorString()), "Station: illegal register address");

    station.SetInput(3, 9);
    auto readOnly = WriteBlock("12:I3", {4});
    EXPECT_EQ(driver->TransferData(readOnly.get()), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_EQ(readOnly->GetDeviceErrorCode(), 4u);
    EXPECT_EQ(station.GetInput(3), 9);

    EXPECT_EQ(driver->GetNumberDeviceErrors(), 2u);
    EXPECT_EQ(driver->GetLastErrorString(), "Negative Acknowledge (NAK) received");
    EXPECT_EQ(driver->GetNumberTimeoutErrors(), 0u);
}

TEST_F(ArcnetDriver, KeepsPollingEveryBlockItHasBeenAskedFor) {
    CArcnetRegisterStation second(&segment, 13);
    ASSERT_TRUE(second.IsOnline());
    auto a = Block("12:R10", 1);
    auto b = Block("12:I20", 4);
    auto c = Block("13:R30", 2);
    for (CComBlock* block : {a.get(), b.get(), c.get()}) {
        ASSERT_EQ(driver->TransferData(block), 0u);
    }

    // With no transfer in hand, all three requests still go out each pass.
    const DWORD dwA = RequestsFor(12, *a);
    const DWORD dwB = RequestsFor(12, *b);
    const DWORD dwC = RequestsFor(13, *c);
    EXPECT_TRUE(WaitUntil([&] {
        return RequestsFor(12, *a) >= dwA + 2 && RequestsFor(12, *b) >= dwB + 2 &&
               RequestsFor(13, *c) >= dwC + 2;
    }));

    // So changes at both stations reach every block.
    station.SetRegister(10, 1);
    station.SetInput(23, 2);
    second.SetRegister(31, 3);
    EXPECT_TRUE(WaitUntil([&] {
        for (CComBlock* block : {a.get(), b.get(), c.get()}) {
            if (driver->TransferData(block) != 0) {
                return false;
            }
        }
        return Registers(*a)[0] == 1 && Registers(*b)[3] == 2 && Registers(*c)[1] == 3;
    }));
}

TEST_F(ArcnetDriver, ABlockPointedElsewhereReadsItsNewRegisters) {
    station.SetRegister(10, 1);
    station.SetRegister(20, 2);
    auto block = Block("12:R10", 1);
    ASSERT_EQ(driver->TransferData(block.get()), 0u);
    EXPECT_EQ(Registers(*block), std::vector<WORD>{1});
    // Answers to the old request may still be on their way.
    for (int i = 0; i < 3; ++i) {
        block->GetFirstAddress()->SetAddress(i % 2 == 0 ? "12:R20" : "12:R10");
        ASSERT_EQ(driver->TransferData(block.get()), 0u);
        EXPECT_EQ(Registers(*block), std::vector<WORD>{static_cast<WORD>(i % 2 == 0 ? 2 : 1)});
    }
}

TEST_F(ArcnetDriver, RefusesBlocksItCannotCarry) {
    CRemoteAddress broadcast("0:R1", driver->GetEDFFormatRemote()->m_strFormat, nullptr);
    EXPECT_NE(driver->ValidateRemoteAddress(&broadcast), static_cast<DWORD>(EDF_OK));
    // Checked against the driver's format, not the one the object carries.
    CRemoteAddress bare("12:R1", nullptr, nullptr);
    EXPECT_EQ(driver->ValidateRemoteAddress(&bare), static_cast<DWORD>(EDF_OK));
    CComBlock toBroadcast(&broadcast, 2, 1, 1, 2);
    EXPECT_EQ(driver->TransferData(&toBroadcast), static_cast<DWORD>(SE_INVALID_BLOCK));

    auto tooLong = Block("12:R0", 241);
    EXPECT_EQ(driver->TransferData(tooLong.get()), static_cast<DWORD>(SE_INVALID_BLOCK));
    auto text = Block("12:R0", 1, 8);
    EXPECT_EQ(driver->TransferData(text.get()), static_cast<DWORD>(SE_INVALID_DATA_TYPE));
    auto shortWrite = WriteBlock("12:R0", {1});
    CComBlock threePoints(shortWrite->GetFirstAddress(), 2, 1, 3, 2);
    CByteArray one;
    shortWrite->GetBlockData(one);
    threePoints.FillWriteBuffer(&one);
    EXPECT_EQ(driver->TransferData(&threePoints), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(station.GetRegister(0), 0);

    EXPECT_EQ(driver->GetBlockCount(), 4u);
    EXPECT_EQ(driver->GetNumberStandardErrors(), 4u);
}

TEST_F(ArcnetDriver, StartsAndStopsRepeatedly) {
    EXPECT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_PROTOCOL_RESTART));
    station.SetRegister(1, 11);
    auto block = Block("12:R1", 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(driver->TransferData(block.get()), 0u);
        EXPECT_EQ(Registers(*block), std::vector<WORD>{11});
        EXPECT_EQ(driver->StopProtocol(), 0u);
        EXPECT_EQ(driver->TransferData(block.get()), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
        EXPECT_FALSE(block->IsBlockGood());
        ASSERT_EQ(driver->StartProtocol(), 0u);
    }

    // Without the card's device the start fails and leaves the driver stopped.
    EXPECT_EQ(driver->StopProtocol(), 0u);
    segment.Uninstall();
    EXPECT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_COM_HARDWARE_PROBLEM));
    EXPECT_FALSE(driver->IsStarted());
    EXPECT_EQ(driver->StopProtocol(), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
}

}  // namespace
