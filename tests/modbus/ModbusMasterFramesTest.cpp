// The Modbus master plug-ins against scripted peers that check the exact
// frames sent and answer with damaged, foreign or split replies; and what a
// driver decides before anything is sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ModbusPdu.h"
#include "ModbusPeers.h"
#include "support/ArchiveBytes.h"
#include "support/Wait.h"

namespace {

using modbustest::kUnit;
using testsupport::Bytes;
using testsupport::LoadedDriver;

constexpr WORD kScriptedPort = 62;

void Start(LoadedDriver& driver, std::map<std::string, std::string> settings) {
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    settings.insert({"Timing.Timeout", "300"});
    ASSERT_TRUE(testsupport::Configure(*driver, settings));
    ASSERT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
    driver->ActivateCommsLog(true);
    driver->LogAsHex(true);
}

// A serial device on a pty mapped to kScriptedPort: it answers every
// eight-byte request with what the script makes of it.
struct ScriptedDevice {
    explicit ScriptedDevice(testsupport::DeviceSimulator::Answer script)
        : device(pty.Master(), 8, std::move(script)) {
        CComPort::MapDevice(kScriptedPort, pty.SlavePath().c_str());
    }
    ~ScriptedDevice() { CComPort::MapDevice(kScriptedPort, nullptr); }
    testsupport::PtyPair pty;
    testsupport::DeviceSimulator device;
};

// A good RTU reply to "read holding registers" from the node.
Bytes RegisterReply(BYTE node, const Bytes& words) {
    CByteArray frame;
    frame.Add(node);
    frame.Add(0x03);
    frame.Add(static_cast<BYTE>(words.size()));
    for (BYTE b : words) {
        frame.Add(b);
    }
    modbus::AppendCrc(frame);
    return Bytes(frame.GetData(), frame.GetData() + frame.GetSize());
}

TEST(ModbusRtuMasterFrames, RequestIsTheStandardFrameAndTheReplyIsTaken) {
    // Node 1, read ten holding registers from 0: the frame Modbus documents
    // publish, CRC C5 CD. Any other gets no answer.
    ScriptedDevice device([](const Bytes& request) {
        return request == Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}
                   ? RegisterReply(1, Bytes(20, 0x11))
                   : Bytes{};
    });
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kScriptedPort)},
                                           {"Timing.RetryCount", "0"},
                                           {"Modbus.NodeId", "1"}}));
    auto block = testsupport::MakeBlock(*driver, "HR:0", 10);
    EXPECT_EQ(driver->TransferData(block.get()), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(testsupport::Values(*block, 2), std::vector<int>(10, 0x1111));
    const std::vector<std::string> log = testsupport::DrainCommsLog(*driver);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "TX01 03 00 00 00 0A C5 CD ");
    EXPECT_EQ(log[1], "RX01 03 14 ");
    EXPECT_EQ(driver->GetTotalBytesOut(), 8u);
    EXPECT_EQ(driver->GetTotalBytesIn(), 25u);
}

TEST(ModbusRtuMasterFrames, DamagedOrForeignRepliesAreRetriedThenReported) {
    const struct {
        const char* pszWhat;
        void (*damage)(Bytes& reply);
        DWORD dwResult;
        DWORD dwCrcErrors;
    } cases[] = {
        {"a bit flipped on the line", [](Bytes& r) { r[4] ^= 0x01; }, SE_CHECKSUM_ERROR, 1},
        {"a good frame from node 9",
         [](Bytes& r) {
             r = RegisterReply(9, {0x00, 0x2A});
         },
         SE_INVALID_FORMAT, 0},
        {"an answer to another function", [](Bytes& r) { r[1] = 0x04; }, SE_INVALID_FORMAT, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ScriptedDevice device([&c](const Bytes&) {
            Bytes reply = RegisterReply(1, {0x00, 0x2A});
            c.damage(reply);
            return reply;
        });
        LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
        ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kScriptedPort)},
                                               {"Timing.RetryCount", "2"},
                                               {"Modbus.NodeId", "1"}}));
        auto block = testsupport::MakeBlock(*driver, "HR:0", 1);
        EXPECT_EQ(driver->TransferData(block.get()), c.dwResult);
        EXPECT_FALSE(block->IsBlockGood());
        EXPECT_EQ(device.device.Requests(), 3);
        EXPECT_EQ(driver->GetNumberOfRetries(), 2u);
        EXPECT_EQ(driver->GetNumberCRCErrors(), c.dwCrcErrors);
        EXPECT_EQ(driver->GetNumberStandardErrors(), 1u);
    }
}

// A TCP server on a free loopback port for one connection: it answers each
// request with what the script makes of it, the first nSplitAt bytes alone
// (0: all at once) and the rest once firstPieceTaken() holds.
class ScriptedServer {
public:
    using Script = std::vector<BYTE> (*)(const std::vector<BYTE>& request);
    ScriptedServer(Script script, std::size_t nSplitAt, std::function<bool()> firstPieceTaken) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (bind(m_Listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(m_Listen, 1) == 0 &&
            getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
        m_Thread = std::thread([=, this] {
            m_Client = accept(m_Listen, nullptr, nullptr);
            std::vector<BYTE> request(260);
            ssize_t n = 0;
            while (m_Client >= 0 && (n = recv(m_Client, request.data(), request.size(), 0)) > 0) {
                const std::vector<BYTE> out = script({request.begin(), request.begin() + n});
                const std::size_t nFirst = nSplitAt > 0 ? nSplitAt : out.size();
                if (send(m_Client, out.data(), nFirst, MSG_NOSIGNAL) < 0 ||
                    (nFirst < out.size() && testsupport::WaitUntil(firstPieceTaken) &&
                     send(m_Client, out.data() + nFirst, out.size() - nFirst, MSG_NOSIGNAL) < 0)) {
                    break;
                }
            }
        });
    }
    // Shutting the sockets down ends a wait in accept or recv.
    ~ScriptedServer() {
        shutdown(m_Listen, SHUT_RDWR);
        shutdown(m_Client.load(), SHUT_RDWR);
        m_Thread.join();
        close(m_Client);
        close(m_Listen);
    }
    int Port() const { return m_nPort; }

private:
    int m_Listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::atomic<int> m_Client{-1};
    int m_nPort = 0;
    std::thread m_Thread;
};

// A reply to the driver's first request, "read HR:0 and HR:1" of unit 17,
// both set to value, with the transaction id moved by idDelta and the unit
// given; nothing for any other request.
void AddReply(std::vector<BYTE>& out, const std::vector<BYTE>& request, int idDelta, BYTE unit,
              BYTE value) {
    // Transaction 1, protocol 0, six bytes follow, unit 17.
    if (request != std::vector<BYTE>{0, 1, 0, 0, 0, 6, kUnit, 0x03, 0, 0, 0, 2}) {
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
        ScriptedServer::Script script;
        std::size_t nSplitAt;
        DWORD dwResult;
        std::vector<int> values;
    } cases[] = {
        {"a late reply to an earlier request, then the right one",
         [](const std::vector<BYTE>& request) {
             std::vector<BYTE> out;
             AddReply(out, request, -1, kUnit, 0x66);
             AddReply(out, request, 0, kUnit, 0x07);
             return out;
         },
         0,
         SE_NO_ERROR,
         {7, 7}},
        {"a reply from another unit",
         [](const std::vector<BYTE>& request) {
             std::vector<BYTE> out;
             AddReply(out, request, 0, kUnit + 1, 0x07);
             return out;
         },
         0,
         SE_INVALID_FORMAT,
         {}},
        {"three bytes of the header, then the rest once the driver has them",
         [](const std::vector<BYTE>& request) {
             std::vector<BYTE> out;
             AddReply(out, request, 0, kUnit, 0x09);
             return out;
         },
         3,
         SE_NO_ERROR,
         {9, 9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
        ScriptedServer server(c.script, c.nSplitAt,
                              [&driver] { return driver->GetTotalBytesIn() >= 3; });
        ASSERT_NE(server.Port(), 0);
        ASSERT_NO_FATAL_FAILURE(Start(driver, {{"TCPIP.PortNumber", std::to_string(server.Port())},
                                               {"Modbus.Host", "127.0.0.1"},
                                               {"Timing.RetryCount", "0"},
                                               {"Modbus.NodeId", std::to_string(kUnit)}}));
        auto block = testsupport::MakeBlock(*driver, "HR:0", 2);
        EXPECT_EQ(driver->TransferData(block.get()), c.dwResult);
        EXPECT_EQ(testsupport::Values(*block, 2), c.values);
        driver->StopProtocol();
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
    // The address steps by one, as hosts walk a run of points.
    CRemoteAddress holding("HR:0", pszFormat, "");
    CRemoteAddress next;
    EXPECT_EQ(driver->GetNextRemoteAddress(&holding, next), static_cast<DWORD>(EDF_OK));
    EXPECT_STREQ(next.m_strAddress.GetString(), "HR:1");

    // A driver that has not been started sends nothing.
    auto block = testsupport::MakeBlock(*driver, "HR:0", 1);
    EXPECT_EQ(driver->TransferData(block.get()), static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED));
    EXPECT_FALSE(block->IsBlockGood());
    EXPECT_EQ(driver->GetTotalBytesOut(), 0u);
}

TEST(ModbusMasterSettings, TravelThroughStringListsAndArchivesAllOrNothing) {
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    ASSERT_TRUE(testsupport::Configure(*driver, {{"Modbus.NodeId", "247"}}));
    EXPECT_FALSE(testsupport::Configure(*driver, {{"Modbus.NodeId", "0"}}));
    EXPECT_FALSE(testsupport::Configure(*driver, {{"Modbus.Host", "10.0.0.1"}}));

    const kelvara_test::Bytes stored =
        kelvara_test::StoreWith([&](CArchive& ar) { driver->SerializeProperties(ar); });
    LoadedDriver copy(KELVARA_MODBUS_RTU_MASTER);
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { copy->SerializeProperties(ar); });
    CStringList list;
    ASSERT_TRUE(copy->DumpToStringList(list));
    EXPECT_STREQ(list.GetTail().GetString(), "Modbus.NodeId=247");

    // An archive cut short in the Modbus record changes nothing.
    ASSERT_TRUE(testsupport::Configure(*copy, {{"Modbus.NodeId", "5"}, {"Timing.Timeout", "77"}}));
    const kelvara_test::Bytes cut(stored.begin(), stored.end() - 1);
    EXPECT_THROW(kelvara_test::LoadFrom(cut, [&](CArchive& ar) { copy->SerializeProperties(ar); }),
                 CArchiveException);
    CStringList after;
    ASSERT_TRUE(copy->DumpToStringList(after));
    EXPECT_NE(after.Find("Timing.Timeout=77"), nullptr);
    EXPECT_STREQ(after.GetTail().GetString(), "Modbus.NodeId=5");

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
