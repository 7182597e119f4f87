// The Modbus master plug-ins against devices no one here wrote: one table of
// cases, run against every peer (RTU and TCP), as a host drives a driver.
#include <gtest/gtest.h>

#include <algorithm>

#include "ModbusPeers.h"

namespace {

using namespace modbustest;
using testsupport::Values;

struct PeerKind {
    const char* pszName;
    const char* pszDriver;
    std::unique_ptr<Peer> (*make)();
};
void PrintTo(const PeerKind& kind, std::ostream* pOut) {
    *pOut << kind.pszName;
}

const PeerKind kRtuPeers[] = {
    {"PymodbusRtuOverSocat", KELVARA_MODBUS_RTU_MASTER,
     [] { return std::unique_ptr<Peer>(new PymodbusPeer("rtu")); }},
};
const PeerKind kTcpPeers[] = {
    {"PymodbusTcp", KELVARA_MODBUS_TCP_MASTER,
     [] { return std::unique_ptr<Peer>(new PymodbusPeer("tcp")); }},
    {"LibmodbusTcp", KELVARA_MODBUS_TCP_MASTER,
     [] { return std::unique_ptr<Peer>(new LibmodbusPeer); }},
};

class MasterAgainstPeer : public ::testing::TestWithParam<PeerKind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_Driver.IsLoaded()) << m_Driver.Error().GetString();
        m_pPeer = GetParam().make();
        ASSERT_TRUE(m_pPeer->IsReady());
        std::map<std::string, std::string> settings = m_pPeer->Where();
        settings.insert({{"Timing.Timeout", "300"},
                         {"Timing.RetryCount", "1"},
                         {"Modbus.NodeId", std::to_string(kUnit)}});
        ASSERT_TRUE(testsupport::Configure(*m_Driver, settings));
        ASSERT_EQ(m_Driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
        m_Driver->ActivateCommsLog(true);
    }

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

    std::unique_ptr<Peer> m_pPeer;  // outlives the driver, which stops first
    testsupport::LoadedDriver m_Driver{GetParam().pszDriver};
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
// One point and several, of both writable areas.
const Points kWrites[] = {
    {"HR:20", {0x1234}},
    {"HR:30", {1, 65535, 300}},
    {"CO:1", {0}},
    {"CO:40", {1, 1, 0, 1, 1, 0, 0, 1, 1}},
};

TEST_P(MasterAgainstPeer, ReadsAndWritesEveryArea) {
    m_pPeer->Set("hr", 7, 0xBEEF);
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
        const char* pszArea = pszAddress[0] == 'H' ? "hr" : "co";
        for (std::size_t i = 0; i < write.values.size(); ++i) {
            EXPECT_EQ(m_pPeer->Get(pszArea, std::atoi(pszAddress + 3) + static_cast<int>(i)),
                      write.values[i])
                << pszAddress << " + " << i;
        }
        EXPECT_EQ(Read(pszAddress, static_cast<DWORD>(write.values.size()), &values), 0u);
        EXPECT_EQ(values, write.values) << pszAddress << " read back";
    }
    EXPECT_EQ(m_Driver->GetBlockCount(), 12u);
    EXPECT_EQ(m_Driver->GetNumberStandardErrors(), 0u);
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);
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

    // A write to a read-only area never leaves the driver.
    const DWORD dwBytesOut = m_Driver->GetTotalBytesOut();
    auto readOnly = testsupport::MakeWrite(*m_Driver, "IR:0", {1}, 2);
    EXPECT_EQ(m_Driver->TransferData(readOnly.get()), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(m_Driver->GetTotalBytesOut(), dwBytesOut);
}

TEST_P(MasterAgainstPeer, SilentPeerTimesOutAfterItsRetries) {
    m_pPeer->StopAnswering();
    auto block = testsupport::MakeBlock(*m_Driver, "HR:0", 2);
    EXPECT_EQ(m_Driver->TransferData(block.get()), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_STREQ(block->GetStandardErrorString()->GetString(), "Operation timed out");
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 1u);
    EXPECT_EQ(m_Driver->GetNumberTimeoutErrors(), 1u);
    // Both attempts went out; the block's time-out is logged once, last.
    const std::vector<std::string> log = testsupport::DrainCommsLog(*m_Driver);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.compare(0, 2, "TX") == 0; }),
              2);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "NR");

    // Answering again (a TCP peer also answers the old requests, late), the
    // next block gets its own reply.
    m_pPeer->AnswerAgain();
    std::vector<int> values;
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 4001}));
}

class MasterReconnects : public MasterAgainstPeer {};

TEST_P(MasterReconnects, ToAPeerThatRestarted) {
    ASSERT_EQ(Read("HR:0", 2), static_cast<DWORD>(SE_NO_ERROR));
    // Down and up again between two requests: the next one finds the old
    // connection closed and waits for the new one, without a retry.
    m_pPeer->GoDown();
    ASSERT_TRUE(m_pPeer->ComeBack());
    m_pPeer->Set("hr", 1, 99);
    std::vector<int> values;
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 99}));
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);

    // While it is down no connection comes within the time-out, each try.
    m_pPeer->GoDown();
    EXPECT_EQ(Read("HR:0", 2), static_cast<DWORD>(SE_TCPIP_NOT_CONNECTED));
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 1u);
    ASSERT_TRUE(m_pPeer->ComeBack());
    m_pPeer->Set("hr", 1, 98);
    EXPECT_EQ(Read("HR:0", 2, &values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 98}));
}

std::string Name(const ::testing::TestParamInfo<PeerKind>& info) {
    return info.param.pszName;
}
INSTANTIATE_TEST_SUITE_P(Rtu, MasterAgainstPeer, ::testing::ValuesIn(kRtuPeers), Name);
INSTANTIATE_TEST_SUITE_P(Tcp, MasterAgainstPeer, ::testing::ValuesIn(kTcpPeers), Name);
INSTANTIATE_TEST_SUITE_P(Tcp, MasterReconnects, ::testing::ValuesIn(kTcpPeers), Name);

}  // namespace
