// The Modbus RTU master plug-in on a serial line: against a pymodbus device
// over a socat pseudo-terminal pair, and against a scripted device that
// sends damaged frames.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "ModbusPdu.h"
#include "ModbusTestSupport.h"
#include "support/ArchiveBytes.h"
#include "support/PtyPair.h"

namespace {

using modbustest::LoadedDriver;

// Port numbers the tests map to pseudo-terminals; never a real port.
constexpr WORD kPymodbusPort = 61;
constexpr WORD kScriptedPort = 62;
constexpr int kUnit = 17;

class ModbusRtuMaster : public ::testing::Test {
protected:
    void Start(WORD port, const std::string& device, int node, int retries) {
        ASSERT_TRUE(m_Driver.IsLoaded()) << m_Driver.Error().GetString();
        CComPort::MapDevice(port, device.c_str());
        ASSERT_TRUE(
            modbustest::Configure(*m_Driver, {{"Port.PortNumber", std::to_string(port)},
                                              {"Timing.Timeout", "300"},
                                              {"Timing.RetryCount", std::to_string(retries)},
                                              {"Modbus.NodeId", std::to_string(node)}}));
        ASSERT_EQ(m_Driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
        m_Driver->ActivateCommsLog(true);
        m_Driver->LogAsHex(true);
    }
    void TearDown() override {
        if (m_Driver.IsLoaded() && m_Driver->StopProtocol() == SE_NO_ERROR) {
            CComPort::MapDevice(kPymodbusPort, nullptr);
            CComPort::MapDevice(kScriptedPort, nullptr);
        }
    }

    // A pymodbus device at the other end of a socat pty pair. Members, so
    // that the driver stops (TearDown) before its line goes.
    void StartWithPymodbus() {
        m_Line.emplace();
        ASSERT_TRUE(m_Line->IsRunning());
        m_Peer.emplace("rtu", m_Line->End(1), kUnit);
        ASSERT_TRUE(m_Peer->IsReady());
        ASSERT_NO_FATAL_FAILURE(Start(kPymodbusPort, m_Line->End(0), kUnit, 1));
    }

    std::optional<testsupport::SocatPty> m_Line;
    std::optional<modbustest::PymodbusPeer> m_Peer;
    LoadedDriver m_Driver{KELVARA_MODBUS_RTU_MASTER};
};

TEST_F(ModbusRtuMaster, ReadsWritesAndReportsRefusalsOfAPymodbusDevice) {
    ASSERT_NO_FATAL_FAILURE(StartWithPymodbus());
    EXPECT_STREQ(m_Driver->GetVersionInfo().GetString(), "Modbus RTU master 1.0");
    modbustest::ExpectValuesBothWays(*m_Driver, *m_Peer);
    modbustest::ExpectExceptionReply(*m_Driver);
}

TEST_F(ModbusRtuMaster, SilentPymodbusDeviceTimesOutAfterRetries) {
    ASSERT_NO_FATAL_FAILURE(StartWithPymodbus());
    modbustest::ExpectTimeoutWithRetries(*m_Driver, *m_Peer);
}

// A device whose every answer to a read request comes from the script.
// The script runs on the device's thread.
class ScriptedDevice {
public:
    using Script = std::function<testsupport::Bytes(const testsupport::Bytes& request)>;
    explicit ScriptedDevice(Script script)
        : m_Device(m_Pty.Master(), 8, [this, script](const testsupport::Bytes& request) {
              std::lock_guard<std::mutex> lock(m_Lock);
              m_Last = request;
              return script(request);
          }) {}
    const std::string& Path() const { return m_Pty.SlavePath(); }
    int Requests() const { return m_Device.Requests(); }
    testsupport::Bytes LastRequest() {
        std::lock_guard<std::mutex> lock(m_Lock);
        return m_Last;
    }

private:
    testsupport::PtyPair m_Pty;
    std::mutex m_Lock;
    testsupport::Bytes m_Last;
    testsupport::DeviceSimulator m_Device;
};

// A correct reply to "read holding registers", with the standard CRC.
testsupport::Bytes RegisterReply(BYTE node, const testsupport::Bytes& words) {
    CByteArray frame;
    frame.Add(node);
    frame.Add(0x03);
    frame.Add(static_cast<BYTE>(words.size()));
    for (BYTE b : words) {
        frame.Add(b);
    }
    modbus::AppendCrc(frame);
    return testsupport::Bytes(frame.GetData(), frame.GetData() + frame.GetSize());
}

TEST_F(ModbusRtuMaster, SendsTheStandardFrameAndTakesTheReply) {
    ScriptedDevice device(
        [](const testsupport::Bytes&) { return RegisterReply(1, testsupport::Bytes(20, 0x11)); });
    ASSERT_NO_FATAL_FAILURE(Start(kScriptedPort, device.Path(), 1, 0));
    auto block = modbustest::MakeBlock(*m_Driver, "HR:0", 10);
    EXPECT_EQ(m_Driver->TransferData(block.get()), static_cast<DWORD>(SE_NO_ERROR));
    // Node 1, read ten holding registers from 0: the frame Modbus documents
    // publish, CRC C5 CD.
    EXPECT_EQ(device.LastRequest(),
              (testsupport::Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
    EXPECT_EQ(modbustest::Values(*block, true), std::vector<int>(10, 0x1111));

    const std::vector<std::string> log = modbustest::DrainLog(*m_Driver);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "TX01 03 00 00 00 0A C5 CD ");
    EXPECT_EQ(log[1], "RX01 03 14 ");
    EXPECT_EQ(m_Driver->GetTotalBytesOut(), 8u);
    EXPECT_EQ(m_Driver->GetTotalBytesIn(), 25u);
    EXPECT_EQ(m_Driver->GetBlockCount(), 1u);
}

TEST_F(ModbusRtuMaster, DamagedOrForeignRepliesAreRetriedThenReported) {
    std::atomic<int> answer{0};
    ScriptedDevice device([&answer](const testsupport::Bytes&) {
        testsupport::Bytes reply = RegisterReply(1, {0x00, 0x2A});
        switch (answer) {
            case 0:  // a bit flipped on the line
                reply[4] ^= 0x01;
                break;
            case 1:  // a good frame, but from node 9
                reply = RegisterReply(9, {0x00, 0x2A});
                break;
            default:  // an answer to another function
                reply[1] = 0x04;
                break;
        }
        return reply;
    });
    ASSERT_NO_FATAL_FAILURE(Start(kScriptedPort, device.Path(), 1, 2));

    auto damaged = modbustest::MakeBlock(*m_Driver, "HR:0", 1);
    EXPECT_EQ(m_Driver->TransferData(damaged.get()), static_cast<DWORD>(SE_CHECKSUM_ERROR));
    EXPECT_FALSE(damaged->IsBlockGood());
    EXPECT_EQ(device.Requests(), 3);
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 2u);
    EXPECT_EQ(m_Driver->GetNumberCRCErrors(), 1u);

    answer = 1;
    auto foreign = modbustest::MakeBlock(*m_Driver, "HR:0", 1);
    EXPECT_EQ(m_Driver->TransferData(foreign.get()), static_cast<DWORD>(SE_INVALID_FORMAT));
    answer = 2;
    auto other = modbustest::MakeBlock(*m_Driver, "HR:0", 1);
    EXPECT_EQ(m_Driver->TransferData(other.get()), static_cast<DWORD>(SE_INVALID_FORMAT));
    EXPECT_EQ(m_Driver->GetNumberStandardErrors(), 3u);
    EXPECT_EQ(m_Driver->GetBlockCount(), 3u);
}

TEST(ModbusRtuMasterAddresses, AreCheckedAgainstTheDriversFormat) {
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    const char* format = driver->GetEDFFormatRemote()->m_strFormat.GetString();
    CRemoteAddress good("CO:65535", format, "");
    EXPECT_EQ(driver->ValidateRemoteAddress(&good), static_cast<DWORD>(EDF_OK));
    CRemoteAddress tooFar("HR:65536", format, "");
    EXPECT_EQ(driver->ValidateRemoteAddress(&tooFar), static_cast<DWORD>(EDF_OUT_OF_RANGE));
    // Whatever format the host put in the address, the driver's own counts.
    CRemoteAddress foreign("R0100", "[T1 R][N4D 0 to 9999]", "");
    EXPECT_NE(driver->ValidateRemoteAddress(&foreign), static_cast<DWORD>(EDF_OK));

    EXPECT_EQ(driver->GetMaxBlockSize(&good), 1u);
    CRemoteAddress holding("HR:0", format, "");
    EXPECT_EQ(driver->GetMaxBlockSize(&holding), 123u);
    CRemoteAddress input("IR:0", format, "");
    EXPECT_EQ(driver->GetMaxBlockSize(&input), 125u);

    // The address steps by one, as hosts walk a run of points.
    CRemoteAddress next;
    EXPECT_EQ(driver->GetNextRemoteAddress(&holding, next), static_cast<DWORD>(EDF_OK));
    EXPECT_STREQ(next.m_strAddress.GetString(), "HR:1");

    // A driver that has not been started sends nothing.
    auto block = modbustest::MakeBlock(*driver, "HR:0", 1);
    EXPECT_EQ(driver->TransferData(block.get()), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_EQ(driver->GetTotalBytesOut(), 0u);
}

TEST(ModbusRtuMasterSettings, NodeIdTravelsThroughStringListsAndArchives) {
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    ASSERT_TRUE(modbustest::Configure(*driver, {{"Modbus.NodeId", "247"}}));
    EXPECT_FALSE(modbustest::Configure(*driver, {{"Modbus.NodeId", "0"}}));
    EXPECT_FALSE(modbustest::Configure(*driver, {{"Modbus.Host", "10.0.0.1"}}));

    const kelvara_test::Bytes stored =
        kelvara_test::StoreWith([&](CArchive& ar) { driver->SerializeProperties(ar); });
    LoadedDriver copy(KELVARA_MODBUS_RTU_MASTER);
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { copy->SerializeProperties(ar); });
    CStringList list;
    ASSERT_TRUE(copy->DumpToStringList(list));
    EXPECT_STREQ(list.GetTail().GetString(), "Modbus.NodeId=247");

    // An archive cut short in the Modbus record changes nothing.
    ASSERT_TRUE(modbustest::Configure(*copy, {{"Modbus.NodeId", "5"}, {"Timing.Timeout", "77"}}));
    const kelvara_test::Bytes cut(stored.begin(), stored.end() - 1);
    EXPECT_THROW(kelvara_test::LoadFrom(cut, [&](CArchive& ar) { copy->SerializeProperties(ar); }),
                 CArchiveException);
    CStringList after;
    ASSERT_TRUE(copy->DumpToStringList(after));
    bool sawTimeout = false;
    for (POSITION pos = after.GetHeadPosition(); pos != nullptr;) {
        const CString& line = after.GetNext(pos);
        sawTimeout = sawTimeout || line == "Timing.Timeout=77";
    }
    EXPECT_TRUE(sawTimeout);
    EXPECT_STREQ(after.GetTail().GetString(), "Modbus.NodeId=5");
}

}  // namespace
