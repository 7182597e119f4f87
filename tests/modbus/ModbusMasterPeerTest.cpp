// The Modbus master plug-ins against a device no one here wrote: libmodbus
// serving RTU on a pseudo-terminal and TCP on loopback, from one register
// table, with one table of cases run over both, as a host drives a driver.
#include <gtest/gtest.h>

#include "support/DriverPlugin.h"
#include "support/LibmodbusServer.h"
#include "support/PtyPair.h"
#include "support/Wait.h"

namespace {

using testsupport::Values;

// The device answers unit 17 and holds 100 points of each kind from 0:
//   coil i = i % 2, discrete input i = (i / 2) % 2,
//   input register i = 3000 + i, holding register i = 4000 + i.
constexpr int kTableSize = 100;
constexpr int kUnit = 17;
// The serial port number the RTU device's line is mapped to; never a real one.
constexpr WORD kRtuPort = 61;

// Bytes per point in a block's data at a Modbus address.
int PointBytes(const char* pszAddress) {
    return pszAddress[1] == 'R' ? 2 : 1;
}

struct Transport {
    const char* pszName;
    bool bRtu;
};
void PrintTo(const Transport& transport, std::ostream* pOut) {
    *pOut << transport.pszName;
}

class MasterAgainstPeer : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_Driver.IsLoaded()) << m_Driver.Error().GetString();
        m_Server.With([](modbus_mapping_t& m) {
            for (int i = 0; i < kTableSize; ++i) {
                m.tab_bits[i] = static_cast<std::uint8_t>(i % 2);
                m.tab_input_bits[i] = static_cast<std::uint8_t>(i / 2 % 2);
                m.tab_input_registers[i] = static_cast<std::uint16_t>(3000 + i);
                m.tab_registers[i] = static_cast<std::uint16_t>(4000 + i);
            }
        });
        std::map<std::string, std::string> settings{{"Timing.Timeout", "300"},
                                                    {"Timing.RetryCount", "1"},
                                                    {"Modbus.NodeId", std::to_string(kUnit)}};
        if (GetParam().bRtu) {
            ASSERT_TRUE(m_Line.IsOpen());
            ASSERT_TRUE(m_Server.StartRtu(m_Line.Master(), kUnit));
            CComPort::MapDevice(kRtuPort, m_Line.SlavePath().c_str());
            settings.insert({"Port.PortNumber", std::to_string(kRtuPort)});
        } else {
            ASSERT_TRUE(m_Server.Start());
            settings.insert({{"TCPIP.PortNumber", std::to_string(m_Server.Port())},
                             {"Modbus.Host", "127.0.0.1"}});
        }
        ASSERT_TRUE(testsupport::Configure(*m_Driver, settings));
        ASSERT_EQ(m_Driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
        m_Driver->ActivateCommsLog(true);
    }
    void TearDown() override { CComPort::MapDevice(kRtuPort, nullptr); }

    // The block's result; its values in *pValues.
    DWORD Read(const char* pszAddress, DWORD dwCount, std::vector<int>* pValues = nullptr) {
        auto block = testsupport::MakeBlock(*m_Driver, pszAddress, dwCount);
        const DWORD dwResult = m_Driver->TransferData(block.get());
        EXPECT_EQ(block->IsBlockGood() != 0, dwResult == SE_NO_ERROR) << pszAddress;
        if (pValues != nullptr) {
            *pValues = Values(*block, PointBytes(pszAddress));
        }
        return dwResult;
    }
    void SetRegister(int nAddress, int nValue) {
        m_Server.SetHoldingRegister(nAddress, static_cast<std::uint16_t>(nValue));
    }

    // Destroyed in turn: the driver, the server, its line.
    testsupport::PtyPair m_Line;
    testsupport::LibmodbusServer m_Server{kTableSize};
    testsupport::LoadedDriver m_Driver{GetParam().bRtu ? KELVARA_MODBUS_RTU_MASTER
                                                       : KELVARA_MODBUS_TCP_MASTER};
};

// Points at an address, to read (after hr 7 is set to 0xBEEF) or to write.
struct Points {
    const char* pszAddress;
    std::vector<int> values;
};
const Points kReads[] = {
    {"HR:5", {4005, 4006, 0xBEEF, 4008}},
    {"IR:98", {3098, 3099}},
    {"CO:3", {1, 0, 1, 0, 1, 0, 1, 0, 1, 0}},
    {"DI:0", {0, 0, 1, 1, 0}},
};
// One point (a single write) and several (a multiple write) of both
// writable areas; no value is there before.
const Points kWrites[] = {
    {"HR:20", {0x1234}},
    {"HR:30", {1, 65535, 300}},
    {"CO:2", {1}},
    {"CO:40", {1, 1, 0, 1, 1, 0, 0, 1, 1}},
};

TEST_P(MasterAgainstPeer, ReadsAndWritesEveryArea) {
    SetRegister(7, 0xBEEF);
    std::vector<int> values;
    for (const Points& read : kReads) {
        EXPECT_EQ(Read(read.pszAddress, static_cast<DWORD>(read.values.size()), &values), 0u);
        EXPECT_EQ(values, read.values) << read.pszAddress;
    }
    for (const Points& write : kWrites) {
        const char* pszAddress = write.pszAddress;
        auto block =
            testsupport::MakeWrite(*m_Driver, pszAddress, write.values, PointBytes(pszAddress));
        EXPECT_EQ(m_Driver->TransferData(block.get()), static_cast<DWORD>(SE_NO_ERROR));
        EXPECT_TRUE(block->IsBlockGood());
        const int nFirst = std::atoi(pszAddress + 3);
        m_Server.With([&](modbus_mapping_t& m) {
            for (std::size_t i = 0; i < write.values.size(); ++i) {
                const std::size_t at = static_cast<std::size_t>(nFirst) + i;
                EXPECT_EQ(pszAddress[0] == 'H' ? m.tab_registers[at] : m.tab_bits[at],
                          write.values[i])
                    << pszAddress << " + " << i;
            }
        });
    }
    EXPECT_EQ(m_Driver->GetBlockCount(), 8u);
    EXPECT_EQ(m_Driver->GetNumberStandardErrors(), 0u);
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);
}

// A host may change a block's address in place between two transfers; the
// driver remembers decoded addresses, and must still go by the text.
TEST_P(MasterAgainstPeer, ABlockReadAgainGoesByItsAddressAsItIsNow) {
    auto block = testsupport::MakeBlock(*m_Driver, "HR:5", 2);
    const struct {
        const char* pszAddress;
        DWORD dwResult;
        std::vector<int> values;
    } kSteps[] = {
        {"HR:5", SE_NO_ERROR, {4005, 4006}}, {"IR:98", SE_NO_ERROR, {3098, 3099}},
        {"HR:5x", SE_INVALID_BLOCK, {}},     {"HR:5", SE_NO_ERROR, {4005, 4006}},
        {"HR:70000", SE_INVALID_BLOCK, {}},  {"IR:98", SE_NO_ERROR, {3098, 3099}},
    };
    for (const auto& step : kSteps) {
        block->GetFirstAddress()->m_strAddress = step.pszAddress;
        EXPECT_EQ(m_Driver->TransferData(block.get()), step.dwResult) << step.pszAddress;
        if (step.dwResult == SE_NO_ERROR) {
            EXPECT_EQ(Values(*block, 2), step.values) << step.pszAddress;
        }
    }
}

TEST_P(MasterAgainstPeer, RefusalIsADeviceErrorAndIsNotAskedAgain) {
    // Points 98 to 102: the last three lie past the table.
    auto block = testsupport::MakeBlock(*m_Driver, "HR:98", 5);
    EXPECT_EQ(m_Driver->TransferData(block.get()), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_EQ(block->GetStandardErrorCode(), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_EQ(block->GetDeviceErrorCode(), 2u);
    EXPECT_STREQ(block->GetDeviceErrorString()->GetString(), "Illegal data address");
    EXPECT_STREQ(m_Driver->GetLastErrorString().GetString(), "Illegal data address");
    EXPECT_EQ(m_Driver->GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);
}

TEST_P(MasterAgainstPeer, SilentPeerTimesOutAfterItsRetries) {
    m_Server.SetSilent(true);
    auto block = testsupport::MakeBlock(*m_Driver, "HR:0", 2);
    EXPECT_EQ(m_Driver->TransferData(block.get()), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_STREQ(block->GetStandardErrorString()->GetString(), "Operation timed out");
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 1u);
    EXPECT_EQ(m_Driver->GetNumberTimeoutErrors(), 1u);
    // The block's time-out is logged once, last.
    const std::vector<std::string> log = testsupport::DrainCommsLog(*m_Driver);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "NR");

    m_Server.SetSilent(false);
    std::vector<int> values;
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 4001}));
}

class MasterReconnects : public MasterAgainstPeer {};

TEST_P(MasterReconnects, ToAPeerThatRestarted) {
    ASSERT_EQ(Read("HR:0", 2), static_cast<DWORD>(SE_NO_ERROR));
    // Down and up again between two requests: the next one finds the old
    // connection closed and waits for the new one, without a retry.
    m_Server.Stop();
    ASSERT_TRUE(m_Server.Start(m_Server.Port()));
    SetRegister(1, 99);
    std::vector<int> values;
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 99}));
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);

    // While it is down no connection comes within the time-out, each try.
    m_Server.Stop();
    EXPECT_EQ(Read("HR:0", 2), static_cast<DWORD>(SE_TCPIP_NOT_CONNECTED));
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 1u);
    ASSERT_TRUE(m_Server.Start(m_Server.Port()));
    SetRegister(1, 98);
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 98}));
}

std::string Name(const ::testing::TestParamInfo<Transport>& info) {
    return info.param.pszName;
}
INSTANTIATE_TEST_SUITE_P(Libmodbus, MasterAgainstPeer,
                         ::testing::Values(Transport{"Rtu", true}, Transport{"Tcp", false}), Name);
INSTANTIATE_TEST_SUITE_P(Libmodbus, MasterReconnects, ::testing::Values(Transport{"Tcp", false}),
                         Name);

}  // namespace
