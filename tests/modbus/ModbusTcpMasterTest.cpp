// The Modbus TCP master plug-in against a pymodbus server in its own
// process, the libmodbus server in this process, and a scripted server that
// answers out of turn.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "ModbusPdu.h"
#include "ModbusTestSupport.h"
#include "support/Wait.h"

namespace {

using modbustest::LoadedDriver;

constexpr int kUnit = 17;

class ModbusTcpMaster : public ::testing::Test {
protected:
    void Start(int port, int retries = 1) {
        ASSERT_TRUE(m_Driver.IsLoaded()) << m_Driver.Error().GetString();
        ASSERT_TRUE(
            modbustest::Configure(*m_Driver, {{"TCPIP.PortNumber", std::to_string(port)},
                                              {"Timing.Timeout", "300"},
                                              {"Timing.RetryCount", std::to_string(retries)},
                                              {"Modbus.NodeId", std::to_string(kUnit)},
                                              {"Modbus.Host", "127.0.0.1"}}));
        ASSERT_EQ(m_Driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
        m_Driver->ActivateCommsLog(true);
        m_Driver->LogAsHex(true);
    }
    void TearDown() override {
        if (m_Driver.IsLoaded()) {
            m_Driver->StopProtocol();
        }
    }

    // Reads HR:0 and HR:1; the block's standard error code.
    DWORD ReadFirstTwo(std::vector<int>* pValues = nullptr) {
        auto block = modbustest::MakeBlock(*m_Driver, "HR:0", 2);
        const DWORD result = m_Driver->TransferData(block.get());
        if (pValues != nullptr) {
            *pValues = modbustest::Values(*block, true);
        }
        return result;
    }

    LoadedDriver m_Driver{KELVARA_MODBUS_TCP_MASTER};
};

TEST_F(ModbusTcpMaster, ReadsWritesAndReportsRefusalsOfAPymodbusServer) {
    modbustest::PymodbusPeer peer("tcp", "0", kUnit);
    ASSERT_TRUE(peer.IsReady());
    ASSERT_NO_FATAL_FAILURE(Start(peer.Port()));
    EXPECT_STREQ(m_Driver->GetVersionInfo().GetString(), "Modbus TCP master 1.0");
    modbustest::ExpectValuesBothWays(*m_Driver, peer);
    modbustest::ExpectExceptionReply(*m_Driver);
}

TEST_F(ModbusTcpMaster, SilentPymodbusServerTimesOutAfterRetries) {
    modbustest::PymodbusPeer peer("tcp", "0", kUnit);
    ASSERT_TRUE(peer.IsReady());
    ASSERT_NO_FATAL_FAILURE(Start(peer.Port()));
    modbustest::ExpectTimeoutWithRetries(*m_Driver, peer);
}

TEST_F(ModbusTcpMaster, ReconnectsToARestartedPymodbusServer) {
    std::optional<modbustest::PymodbusPeer> peer;
    peer.emplace("tcp", "0", kUnit);
    ASSERT_TRUE(peer->IsReady());
    const int port = peer->Port();
    ASSERT_NO_FATAL_FAILURE(Start(port));
    ASSERT_EQ(ReadFirstTwo(), static_cast<DWORD>(SE_NO_ERROR));

    peer.reset();  // killed: its connection goes with it
    EXPECT_NE(ReadFirstTwo(), static_cast<DWORD>(SE_NO_ERROR));
    peer.emplace("tcp", std::to_string(port), kUnit);
    ASSERT_TRUE(peer->IsReady());
    std::vector<int> values;
    EXPECT_EQ(ReadFirstTwo(&values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 4001}));
}

TEST_F(ModbusTcpMaster, ReadsWritesAndReportsRefusalsOfALibmodbusServer) {
    modbustest::LibmodbusPeer peer;
    ASSERT_TRUE(peer.Server().Start());
    ASSERT_NO_FATAL_FAILURE(Start(peer.Server().Port()));
    modbustest::ExpectValuesBothWays(*m_Driver, peer);
    modbustest::ExpectExceptionReply(*m_Driver);
}

TEST_F(ModbusTcpMaster, SilentLibmodbusServerTimesOutAfterRetries) {
    modbustest::LibmodbusPeer peer;
    ASSERT_TRUE(peer.Server().Start());
    ASSERT_NO_FATAL_FAILURE(Start(peer.Server().Port()));
    modbustest::ExpectTimeoutWithRetries(*m_Driver, peer);
    // Two requests of the failed block, one of the block after it.
    EXPECT_EQ(peer.Server().RequestCount(), 3);
}

TEST_F(ModbusTcpMaster, ReconnectsToARestartedLibmodbusServer) {
    modbustest::LibmodbusPeer peer;
    ASSERT_TRUE(peer.Server().Start());
    const int port = peer.Server().Port();
    ASSERT_NO_FATAL_FAILURE(Start(port));
    ASSERT_EQ(ReadFirstTwo(), static_cast<DWORD>(SE_NO_ERROR));

    // While it is down, no connection comes within the time-out.
    peer.Server().Stop();
    const DWORD retries = m_Driver->GetNumberOfRetries();
    EXPECT_EQ(ReadFirstTwo(), static_cast<DWORD>(SE_TCPIP_NOT_CONNECTED));
    EXPECT_EQ(m_Driver->GetNumberOfRetries() - retries, 1u);
    ASSERT_TRUE(peer.Server().Start(port));
    peer.Set("hr", 1, 99);
    std::vector<int> values;
    EXPECT_EQ(ReadFirstTwo(&values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{4000, 99}));
}

// A server on a free loopback port that answers each request with the
// bytes the script makes of it. Given a split, it sends the first nSplitAt
// bytes alone and the rest once firstPieceTaken() holds.
class ScriptedServer {
public:
    using Script = std::function<std::vector<BYTE>(const std::vector<BYTE>&)>;
    explicit ScriptedServer(Script script, std::size_t nSplitAt = 0,
                            std::function<bool()> firstPieceTaken = {})
        : m_Script(std::move(script)),
          m_nSplitAt(nSplitAt),
          m_FirstPieceTaken(std::move(firstPieceTaken)) {
        m_Listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(m_Listen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(m_Listen, 1) == 0 &&
            getsockname(m_Listen, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
        m_Thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        m_bStop = true;
        m_Thread.join();
        close(m_Listen);
    }
    int Port() const { return m_nPort; }

private:
    void Serve() {
        int client = -1;
        while (!m_bStop) {
            pollfd p{client >= 0 ? client : m_Listen, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            if (client < 0) {
                client = accept(m_Listen, nullptr, nullptr);
                continue;
            }
            std::vector<BYTE> request(260);
            const ssize_t n = recv(client, request.data(), request.size(), 0);
            if (n <= 0) {
                break;
            }
            request.resize(static_cast<std::size_t>(n));
            const std::vector<BYTE> out = m_Script(request);
            const std::size_t nFirst =
                m_nSplitAt > 0 ? std::min(m_nSplitAt, out.size()) : out.size();
            if (send(client, out.data(), nFirst, 0) < 0) {
                break;
            }
            if (nFirst < out.size() &&
                (!testsupport::WaitUntil(m_FirstPieceTaken) ||
                 send(client, out.data() + nFirst, out.size() - nFirst, 0) < 0)) {
                break;
            }
        }
        if (client >= 0) {
            close(client);
        }
    }

    Script m_Script;
    std::size_t m_nSplitAt;
    std::function<bool()> m_FirstPieceTaken;
    int m_Listen = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_Thread;
};

// Appends a reply to "read two holding registers", both set to value, with
// the request's header changed as asked.
void AddReply(std::vector<BYTE>& out, const std::vector<BYTE>& request, int idDelta, BYTE unit,
              BYTE value) {
    const WORD id = static_cast<WORD>(modbus::GetWord(request.data(), 0) + idDelta);
    CByteArray frame;
    modbus::AppendMbapHeader(frame, id, unit, 6);
    out.insert(out.end(), frame.GetData(), frame.GetData() + frame.GetSize());
    out.insert(out.end(), {0x03, 0x04, 0x00, value, 0x00, value});
}

TEST_F(ModbusTcpMaster, TakesOnlyTheReplyWithItsTransactionIdAndUnit) {
    std::atomic<int> mode{0};
    ScriptedServer server([&mode](const std::vector<BYTE>& request) {
        std::vector<BYTE> out;
        if (mode == 0) {
            // A late reply to an earlier request, then the right one.
            AddReply(out, request, -1, kUnit, 0x66);
            AddReply(out, request, 0, kUnit, 0x07);
        } else {
            AddReply(out, request, 0, kUnit + 1, 0x07);
        }
        return out;
    });
    ASSERT_NE(server.Port(), 0);
    ASSERT_NO_FATAL_FAILURE(Start(server.Port(), 0));

    std::vector<int> values;
    EXPECT_EQ(ReadFirstTwo(&values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{7, 7}));
    const std::vector<std::string> log = modbustest::DrainLog(*m_Driver);
    ASSERT_FALSE(log.empty());
    // Header: transaction 1, protocol 0, six bytes follow, unit 17.
    EXPECT_EQ(log[0], "TX00 01 00 00 00 06 11 03 00 00 00 02 ");

    mode = 1;
    EXPECT_EQ(ReadFirstTwo(), static_cast<DWORD>(SE_INVALID_FORMAT));
}

TEST_F(ModbusTcpMaster, ReadsAReplyThatArrivesInPieces) {
    // Three bytes of the header, then the rest once the driver has them.
    ScriptedServer server(
        [](const std::vector<BYTE>& request) {
            std::vector<BYTE> out;
            AddReply(out, request, 0, kUnit, 0x09);
            return out;
        },
        3, [this] { return m_Driver->GetTotalBytesIn() >= 3; });
    ASSERT_NE(server.Port(), 0);
    ASSERT_NO_FATAL_FAILURE(Start(server.Port(), 0));

    std::vector<int> values;
    EXPECT_EQ(ReadFirstTwo(&values), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(values, (std::vector<int>{9, 9}));
    EXPECT_EQ(m_Driver->GetNumberOfRetries(), 0u);
}

TEST(ModbusTcpMasterSettings, HostAndPortComeFromTheProperties) {
    LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    ASSERT_TRUE(modbustest::Configure(
        *driver,
        {{"TCPIP.PortNumber", "1502"}, {"Modbus.Host", "192.0.2.7"}, {"Modbus.NodeId", "3"}}));
    CString host;
    driver->GetFirstIPAddress(host);
    EXPECT_STREQ(host.GetString(), "192.0.2.7");
    driver->AddIPAddress("127.0.0.1", nullptr);
    driver->GetFirstIPAddress(host);
    EXPECT_STREQ(host.GetString(), "127.0.0.1");
    CStringList list;
    ASSERT_TRUE(driver->DumpToStringList(list));
    EXPECT_STREQ(list.GetHead().GetString(), "TCPIP.PortNumber=1502");
    EXPECT_STREQ(list.GetTail().GetString(), "Modbus.Host=127.0.0.1");
}

}  // namespace
