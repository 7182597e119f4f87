#include "ModbusTestSupport.h"

#include "support/Wait.h"

#include <chrono>
#include <cstdlib>

namespace modbustest {

namespace {

int InitialValue(const std::string& area, int i) {
    if (area == "co") {
        return i % 2;
    }
    if (area == "di") {
        return (i / 2) % 2;
    }
    return (area == "ir" ? 3000 : 4000) + i;
}

}  // namespace

PymodbusPeer::PymodbusPeer(const char* pszKind, const std::string& strWhere, int nUnit)
    : m_Process({"/usr/bin/python3", KELVARA_MODBUS_PEER_SCRIPT, pszKind, strWhere,
                 std::to_string(nUnit)}) {
    // Python and pymodbus take a while to load, more so on a busy machine.
    const std::string line = m_Process.WaitForLine("ready", std::chrono::seconds(30));
    m_bReady = !line.empty();
    if (m_bReady && line.size() > 6) {
        m_nPort = std::atoi(line.c_str() + 6);
    }
}

int PymodbusPeer::Get(const char* pszArea, int nAddress) {
    const std::string answer =
        m_Process.Command(std::string("get ") + pszArea + " " + std::to_string(nAddress));
    EXPECT_EQ(answer.compare(0, 6, "value "), 0) << answer;
    return answer.size() > 6 ? std::atoi(answer.c_str() + 6) : -1;
}

void PymodbusPeer::Set(const char* pszArea, int nAddress, int nValue) {
    EXPECT_EQ(m_Process.Command(std::string("set ") + pszArea + " " + std::to_string(nAddress) +
                                " " + std::to_string(nValue)),
              "ok");
}

LibmodbusPeer::LibmodbusPeer() : m_Server(kTableSize, kTableSize, kTableSize, kTableSize) {
    m_Server.With([](modbus_mapping_t& m) {
        for (int i = 0; i < kTableSize; ++i) {
            m.tab_bits[i] = static_cast<std::uint8_t>(InitialValue("co", i));
            m.tab_input_bits[i] = static_cast<std::uint8_t>(InitialValue("di", i));
            m.tab_input_registers[i] = static_cast<std::uint16_t>(InitialValue("ir", i));
            m.tab_registers[i] = static_cast<std::uint16_t>(InitialValue("hr", i));
        }
    });
}

int LibmodbusPeer::Get(const char* pszArea, int nAddress) {
    return std::string(pszArea) == "co" ? m_Server.Coil(nAddress)
                                        : m_Server.HoldingRegister(nAddress);
}

void LibmodbusPeer::Set(const char* pszArea, int nAddress, int nValue) {
    if (std::string(pszArea) == "co") {
        m_Server.SetCoil(nAddress, nValue != 0);
    } else {
        m_Server.SetHoldingRegister(nAddress, static_cast<std::uint16_t>(nValue));
    }
}

LoadedDriver::LoadedDriver(const char* pszPath) {
    if (m_Library.Load(pszPath)) {
        m_pDriver.reset(m_Library.CreateDriver());
    }
}

LoadedDriver::~LoadedDriver() {
    m_pDriver.reset();
    m_Library.Unload();
}

bool Configure(CProtocol& driver, const std::map<std::string, std::string>& settings) {
    CStringList list;
    if (!driver.DumpToStringList(list)) {
        return false;
    }
    std::size_t nReplaced = 0;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        CString& line = list.GetNext(pos);
        const std::string text = line.GetString();
        const auto it = settings.find(text.substr(0, text.find('=')));
        if (it != settings.end()) {
            line = (it->first + "=" + it->second).c_str();
            ++nReplaced;
        }
    }
    return nReplaced == settings.size() && driver.UpdateFromStringList(&list);
}

std::unique_ptr<CComBlock> MakeBlock(CProtocol& driver, const char* pszAddress, DWORD dwCount) {
    // The address in the driver's own format, as a host builds it.
    CRemoteAddress first(pszAddress, driver.GetEDFFormatRemote()->m_strFormat, "");
    EXPECT_EQ(driver.ValidateRemoteAddress(&first), static_cast<DWORD>(EDF_OK)) << pszAddress;
    const bool registers = pszAddress[1] == 'R';
    return std::make_unique<CComBlock>(&first, static_cast<WORD>(registers ? 2 : 11), 1, dwCount,
                                       registers ? 2 : 1);
}

std::unique_ptr<CComBlock> MakeWrite(CProtocol& driver, const char* pszAddress,
                                     const std::vector<int>& values) {
    auto block = MakeBlock(driver, pszAddress, static_cast<DWORD>(values.size()));
    const bool registers = pszAddress[1] == 'R';
    CByteArray data;
    for (int v : values) {
        data.Add(static_cast<BYTE>(v & 0xFF));
        if (registers) {
            data.Add(static_cast<BYTE>(v >> 8 & 0xFF));
        }
    }
    block->FillWriteBuffer(&data);
    return block;
}

std::vector<int> Values(CComBlock& block, bool bRegisters) {
    CByteArray data;
    std::vector<int> values;
    if (!block.GetBlockData(data)) {
        return values;
    }
    for (int i = 0; i < data.GetSize(); i += bRegisters ? 2 : 1) {
        values.push_back(bRegisters ? data[i] | data[i + 1] << 8 : data[i]);
    }
    return values;
}

std::vector<std::string> DrainLog(CProtocol& driver) {
    return testsupport::DrainCommsLog(driver);
}

void ExpectValuesBothWays(CProtocol& driver, Peer& peer) {
    const DWORD blocksBefore = driver.GetBlockCount();
    const DWORD bytesInBefore = driver.GetTotalBytesIn();
    const DWORD bytesOutBefore = driver.GetTotalBytesOut();

    // Reads of every area give what the peer holds.
    peer.Set("hr", 7, 0xBEEF);
    auto holding = MakeBlock(driver, "HR:5", 4);
    EXPECT_EQ(driver.TransferData(holding.get()), static_cast<DWORD>(SE_NO_ERROR));
    ASSERT_TRUE(holding->IsBlockGood()) << holding->GetStandardErrorString()->GetString();
    EXPECT_EQ(Values(*holding, true), (std::vector<int>{4005, 4006, 0xBEEF, 4008}));
    auto input = MakeBlock(driver, "IR:98", 2);
    driver.TransferData(input.get());
    EXPECT_EQ(Values(*input, true), (std::vector<int>{3098, 3099}));
    auto coils = MakeBlock(driver, "CO:3", 10);
    driver.TransferData(coils.get());
    EXPECT_EQ(Values(*coils, false), (std::vector<int>{1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
    auto discrete = MakeBlock(driver, "DI:0", 5);
    driver.TransferData(discrete.get());
    EXPECT_EQ(Values(*discrete, false), (std::vector<int>{0, 0, 1, 1, 0}));

    // Writes, one point and several, land in the peer's table.
    auto one = MakeWrite(driver, "HR:20", {0x1234});
    EXPECT_EQ(driver.TransferData(one.get()), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_TRUE(one->IsBlockGood());
    EXPECT_EQ(peer.Get("hr", 20), 0x1234);
    auto several = MakeWrite(driver, "HR:30", {1, 65535, 300});
    driver.TransferData(several.get());
    EXPECT_TRUE(several->IsBlockGood());
    EXPECT_EQ(peer.Get("hr", 30), 1);
    EXPECT_EQ(peer.Get("hr", 31), 65535);
    EXPECT_EQ(peer.Get("hr", 32), 300);
    auto coil = MakeWrite(driver, "CO:1", {0});
    driver.TransferData(coil.get());
    EXPECT_EQ(peer.Get("co", 1), 0);
    auto manyCoils = MakeWrite(driver, "CO:40", {1, 1, 0, 1, 1, 0, 0, 1, 1});
    driver.TransferData(manyCoils.get());
    EXPECT_TRUE(manyCoils->IsBlockGood());
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(peer.Get("co", 40 + i), (std::vector<int>{1, 1, 0, 1, 1, 0, 0, 1, 1})[i]) << i;
    }

    // And what was written reads back through the driver.
    auto readBack = MakeBlock(driver, "HR:30", 3);
    driver.TransferData(readBack.get());
    EXPECT_EQ(Values(*readBack, true), (std::vector<int>{1, 65535, 300}));

    EXPECT_EQ(driver.GetBlockCount() - blocksBefore, 9u);
    EXPECT_GT(driver.GetTotalBytesIn(), bytesInBefore);
    EXPECT_GT(driver.GetTotalBytesOut(), bytesOutBefore);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 0u);
}

void ExpectExceptionReply(CProtocol& driver) {
    const DWORD retriesBefore = driver.GetNumberOfRetries();
    // Points 98 to 102: the last three lie past the table.
    auto block = MakeBlock(driver, "HR:98", 5);
    EXPECT_EQ(driver.TransferData(block.get()), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_EQ(block->GetDeviceErrorCode(), 2u);
    EXPECT_STREQ(block->GetDeviceErrorString()->GetString(), "Illegal data address");
    EXPECT_EQ(block->GetStandardErrorCode(), static_cast<DWORD>(SE_NAK_RECEIVED));
    EXPECT_EQ(driver.GetNumberDeviceErrors(), 1u);
    EXPECT_STREQ(driver.GetLastErrorString().GetString(), "Illegal data address");
    // A refusal is an answer: it is not asked again.
    EXPECT_EQ(driver.GetNumberOfRetries(), retriesBefore);

    // A write to a read-only area never leaves the driver.
    const DWORD bytesOut = driver.GetTotalBytesOut();
    auto readOnly = MakeWrite(driver, "IR:0", {1});
    EXPECT_EQ(driver.TransferData(readOnly.get()), static_cast<DWORD>(SE_INVALID_BLOCK));
    EXPECT_EQ(driver.GetTotalBytesOut(), bytesOut);
}

void ExpectTimeoutWithRetries(CProtocol& driver, Peer& peer) {
    const DWORD retriesBefore = driver.GetNumberOfRetries();
    const DWORD timeoutsBefore = driver.GetNumberTimeoutErrors();
    DrainLog(driver);
    peer.StopAnswering();
    auto block = MakeBlock(driver, "HR:0", 2);
    EXPECT_EQ(driver.TransferData(block.get()), static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_STREQ(block->GetStandardErrorString()->GetString(), "Operation timed out");
    EXPECT_EQ(driver.GetNumberOfRetries() - retriesBefore, 1u);
    EXPECT_EQ(driver.GetNumberTimeoutErrors() - timeoutsBefore, 1u);
    // Both attempts went out; the block's time-out is logged once.
    const std::vector<std::string> log = DrainLog(driver);
    int sent = 0;
    for (const std::string& line : log) {
        sent += line.compare(0, 2, "TX") == 0 ? 1 : 0;
    }
    EXPECT_EQ(sent, 2);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "NR");

    // Answering again, the next block goes through.
    peer.AnswerAgain();
    auto next = MakeBlock(driver, "HR:0", 2);
    EXPECT_EQ(driver.TransferData(next.get()), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(Values(*next, true), (std::vector<int>{4000, 4001}));
}

}  // namespace modbustest
