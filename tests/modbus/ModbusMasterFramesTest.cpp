// The Modbus master plug-ins against scripted peers that check the exact
// frames sent and answer with damaged, foreign or split replies; and what a
// driver decides before anything is sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ModbusPdu.h"
#include "support/ArchiveBytes.h"
#include "support/DriverPlugin.h"
#include "support/PtyPair.h"
#include "support/Wait.h"

namespace {

using testsupport::Bytes;
using testsupport::LoadedDriver;

constexpr WORD kScriptedPort = 62;
constexpr BYTE kUnit = 17;

void Start(LoadedDriver& driver, std::map<std::string, std::string> settings) {
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    settings.insert({"Timing.Timeout", "300"});
    ASSERT_TRUE(testsupport::Configure(*driver, settings));
    ASSERT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
    driver->ActivateCommsLog(true);
    driver->LogAsHex(true);
}

// A good RTU reply to "read holding registers" from the node.
Bytes RegisterReply(BYTE node, const Bytes& words) {
    CByteArray frame;
    for (BYTE b : Bytes{node, 0x03, static_cast<BYTE>(words.size())}) {
        frame.Add(b);
    }
    for (BYTE b : words) {
        frame.Add(b);
    }
    modbus::AppendCrc(frame);
    return Bytes(frame.GetData(), frame.GetData() + frame.GetSize());
}

TEST(ModbusRtuMasterFrames, DamagedOrForeignRepliesAreRetriedThenReported) {
    const struct {
        const char* pszWhat;
        void (*damage)(Bytes& reply);
        DWORD dwResult;
        int nRequests;
        DWORD dwCrcErrors;
    } cases[] = {
        {"the reply as sent", [](Bytes&) {}, SE_NO_ERROR, 1, 0},
        {"a bit flipped on the line", [](Bytes& r) { r[4] ^= 0x01; }, SE_CHECKSUM_ERROR, 3, 1},
        {"a good frame from node 9", [](Bytes& r) { r = RegisterReply(9, Bytes(20, 0x11)); },
         SE_INVALID_FORMAT, 3, 0},
        {"an answer to another function", [](Bytes& r) { r[1] = 0x04; }, SE_INVALID_FORMAT, 3, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        // Node 1, read ten holding registers from 0: the frame Modbus
        // documents publish, CRC C5 CD. Any other gets no answer.
        testsupport::PtyPair pty;
        testsupport::DeviceSimulator device(pty.Master(), 8, [&c](const Bytes& request) {
            Bytes reply = RegisterReply(1, Bytes(20, 0x11));
            c.damage(reply);
            return request == Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD} ? reply
                                                                                    : Bytes{};
        });
        CComPort::MapDevice(kScriptedPort, pty.SlavePath().c_str());
        LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
        ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kScriptedPort)},
                                               {"Timing.RetryCount", "2"},
                                               {"Modbus.NodeId", "1"}}));
        auto block = testsupport::MakeBlock(*driver, "HR:0", 10);
        EXPECT_EQ(driver->TransferData(block.get()), c.dwResult);
        EXPECT_EQ(device.Requests(), c.nRequests);
        EXPECT_EQ(driver->GetNumberOfRetries(), static_cast<DWORD>(c.nRequests - 1));
        EXPECT_EQ(driver->GetNumberCRCErrors(), c.dwCrcErrors);
        EXPECT_EQ(driver->GetNumberStandardErrors(), c.dwResult == SE_NO_ERROR ? 0u : 1u);
        const std::vector<std::string> log = testsupport::DrainCommsLog(*driver);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], "TX01 03 00 00 00 0A C5 CD ");
        if (c.dwResult == SE_NO_ERROR) {
            EXPECT_EQ(testsupport::Values(*block, 2), std::vector<int>(10, 0x1111));
            EXPECT_EQ(log[1], "RX01 03 14 ");
            EXPECT_EQ(driver->GetTotalBytesOut(), 8u);
            EXPECT_EQ(driver->GetTotalBytesIn(), 25u);
        } else {
            EXPECT_FALSE(block->IsBlockGood());
        }
        CComPort::MapDevice(kScriptedPort, nullptr);
    }
}

// A loopback listener on a free port, for one connection.
struct Listener {
    Listener() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(fd, 1) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            nPort = ntohs(address.sin_port);
        }
    }
    ~Listener() { close(fd); }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int nPort = 0;
};

// A reply to the driver's first request, "read HR:0 and HR:1" of unit 17,
// both set to value, with the transaction id moved by idDelta and the unit
// given; nothing for any other request.
void AddReply(Bytes& out, const Bytes& request, int idDelta, BYTE unit, BYTE value) {
    // Transaction 1, protocol 0, six bytes follow, unit 17.
    if (request != Bytes{0, 1, 0, 0, 0, 6, kUnit, 0x03, 0, 0, 0, 2}) {
        return;
    }
    CByteArray frame;
    modbus::AppendMbapHeader(frame, static_cast<WORD>(1 + idDelta), unit, 6);
    out.insert(out.end(), frame.GetData(), frame.GetData() + frame.GetSize());
    out.insert(out.end(), {0x03, 0x04, 0x00, value, 0x00, value});
}

TEST(ModbusTcpMasterFrames, OnlyTheReplyWithTheRequestsTransactionAndUnitIsTaken) {
    const struct {
        const char* pszWhat;
        bool bLateReplyFirst;  // to the request before, with other values
        BYTE byUnit;
        std::size_t nSplitAt;  // 0: the reply at once, else that many bytes first
        DWORD dwResult;
        std::vector<int> values;
    } cases[] = {
        {"a late reply to an earlier request, then the right one",
         true,
         kUnit,
         0,
         SE_NO_ERROR,
         {7, 7}},
        {"a reply from another unit", false, kUnit + 1, 0, SE_INVALID_FORMAT, {}},
        {"three bytes of the header, then the rest once the driver has them",
         false,
         kUnit,
         3,
         SE_NO_ERROR,
         {7, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Listener listener;
        ASSERT_NE(listener.nPort, 0);
        LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
        ASSERT_NO_FATAL_FAILURE(Start(driver, {{"TCPIP.PortNumber", std::to_string(listener.nPort)},
                                               {"Modbus.Host", "127.0.0.1"},
                                               {"Timing.RetryCount", "0"},
                                               {"Modbus.NodeId", std::to_string(kUnit)}}));
        const int fd = accept(listener.fd, nullptr, nullptr);
        ASSERT_GE(fd, 0);
        {
            testsupport::DeviceSimulator device(fd, 12, [&](const Bytes& request) {
                Bytes out;
                if (c.bLateReplyFirst) {
                    AddReply(out, request, -1, kUnit, 0x66);
                }
                AddReply(out, request, 0, c.byUnit, 0x07);
                if (c.nSplitAt > 0 &&
                    testsupport::WriteAll(fd, Bytes(out.begin(), out.begin() + c.nSplitAt))) {
                    testsupport::WaitUntil([&] { return driver->GetTotalBytesIn() >= c.nSplitAt; });
                    out.erase(out.begin(), out.begin() + c.nSplitAt);
                }
                return out;
            });
            auto block = testsupport::MakeBlock(*driver, "HR:0", 2);
            EXPECT_EQ(driver->TransferData(block.get()), c.dwResult);
            EXPECT_EQ(testsupport::Values(*block, 2), c.values);
            driver->StopProtocol();
        }
        close(fd);
    }
}

TEST(ModbusMasterAddresses, AreCheckedAgainstTheDriversFormatAndBoundTheBlock) {
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    const char* pszFormat = driver->GetEDFFormatRemote()->m_strFormat.GetString();
    // A writable area's block may be written, which carries fewer points.
    const struct {
        const char* pszAddress;
        EDF_RET result;
        DWORD dwMaxBlock;
    } cases[] = {
        {"CO:0", EDF_OK, 1968},
        {"DI:0", EDF_OK, 2000},
        {"HR:0", EDF_OK, 123},
        {"IR:0", EDF_OK, 125},
        {"CO:65535", EDF_OK, 1},
        {"HR:65536", EDF_OUT_OF_RANGE, 0},
        {"XX:1", EDF_NOT_A_KEYWORD, 0},
        {"HR1", EDF_LITERAL_MISMATCH, 0},
        {"HR:1x", EDF_EXTRA_CHARACTERS, 0},
    };
    for (const auto& c : cases) {
        CRemoteAddress address(c.pszAddress, pszFormat, "");
        EXPECT_EQ(driver->ValidateRemoteAddress(&address), static_cast<DWORD>(c.result))
            << c.pszAddress;
        EXPECT_EQ(driver->GetMaxBlockSize(&address), c.dwMaxBlock) << c.pszAddress;
    }
    // Whatever format the host put in the address, the driver's own counts.
    CRemoteAddress foreign("R0100", "[T1 R][N4D 0 to 9999]", "");
    EXPECT_NE(driver->ValidateRemoteAddress(&foreign), static_cast<DWORD>(EDF_OK));

    // A driver that has not been started sends nothing.
    auto block = testsupport::MakeBlock(*driver, "HR:0", 1);
    EXPECT_EQ(driver->TransferData(block.get()), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
    EXPECT_EQ(driver->GetTotalBytesOut(), 0u);
}

TEST(ModbusMasterSettings, TravelThroughArchivesAndPointTheTcpMaster) {
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    ASSERT_TRUE(testsupport::Configure(*driver, {{"Modbus.NodeId", "247"}}));
    EXPECT_FALSE(testsupport::Configure(*driver, {{"Modbus.NodeId", "0"}}));
    const kelvara_test::Bytes stored =
        kelvara_test::StoreWith([&](CArchive& ar) { driver->SerializeProperties(ar); });
    LoadedDriver copy(KELVARA_MODBUS_RTU_MASTER);
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { copy->SerializeProperties(ar); });
    CStringList list;
    ASSERT_TRUE(copy->DumpToStringList(list));
    EXPECT_STREQ(list.GetTail().GetString(), "Modbus.NodeId=247");

    // The TCP master connects where its properties say, or AddIPAddress.
    LoadedDriver tcp(KELVARA_MODBUS_TCP_MASTER);
    ASSERT_TRUE(testsupport::Configure(*tcp, {{"Modbus.Host", "192.0.2.7"}}));
    CString host;
    tcp->GetFirstIPAddress(host);
    EXPECT_STREQ(host.GetString(), "192.0.2.7");
    tcp->AddIPAddress("127.0.0.1", nullptr);
    tcp->GetFirstIPAddress(host);
    EXPECT_STREQ(host.GetString(), "127.0.0.1");
}

}  // namespace
