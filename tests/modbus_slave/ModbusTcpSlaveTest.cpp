// The Modbus TCP slave plug-in, loaded as a host loads it, answering mbpoll
// (an outside master) and, for the frames mbpoll never sends, a raw socket.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <regex>

#include "support/DriverPlugin.h"
#include "support/PeerProcess.h"
#include "support/Wait.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using testsupport::WaitUntil;

// A master on a plain socket, for frames of the test's own making.
class RawMaster {
public:
    explicit RawMaster(int nPort)
        : m_address{AF_INET,
                    htons(static_cast<std::uint16_t>(nPort)),
                    {htonl(INADDR_LOOPBACK)},
                    {}},
          m_bConnected(connect(m_fd, reinterpret_cast<sockaddr*>(&m_address), sizeof m_address) ==
                       0) {}
    ~RawMaster() { close(m_fd); }
    bool IsConnected() const { return m_bConnected; }
    void Send(const Bytes& bytes) { (void)send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Up to n bytes: what came before the slave closed or nMs passed
    // without a byte.
    Bytes Receive(std::size_t n, int nMs = 5000) {
        Bytes bytes(n);
        std::size_t nGot = 0;
        pollfd entry{m_fd, POLLIN, 0};
        for (ssize_t nRead = 0; nGot < n && poll(&entry, 1, nMs) == 1 &&
                                (nRead = recv(m_fd, bytes.data() + nGot, n - nGot, 0)) > 0;) {
            nGot += static_cast<std::size_t>(nRead);
        }
        bytes.resize(nGot);
        return bytes;
    }
    // Everything sent was taken off the slave's end of the connection,
    // which lives in this process: the descriptor whose peer is this one.
    bool SlaveHasReadAll() const {
        int nUnacknowledged = -1;
        int nUnread = -1;
        const int fd = SlaveEnd();
        return ioctl(m_fd, SIOCOUTQ, &nUnacknowledged) == 0 && nUnacknowledged == 0 && fd >= 0 &&
               ioctl(fd, FIONREAD, &nUnread) == 0 && nUnread == 0;
    }
    // The slave's end of this connection: the descriptor whose peer is this
    // one; -1 when there is none.
    int SlaveEnd() const {
        sockaddr_in mine{};
        sockaddr_in peer{};
        socklen_t nLength = sizeof mine;
        if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&mine), &nLength) != 0) {
            return -1;
        }
        for (int fd = 0; fd < 1024; ++fd) {
            nLength = sizeof peer;
            if (fd != m_fd && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &nLength) == 0 &&
                peer.sin_port == mine.sin_port) {
                return fd;
            }
        }
        return -1;
    }

private:
    int m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in m_address;
    bool m_bConnected;
};

// A frame of transaction 0x1234 for unit 1 around the PDU.
Bytes Frame(const Bytes& pdu) {
    Bytes frame{0x12, 0x34, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(pdu.size() + 1), 0x01};
    for (std::uint8_t byte : pdu) {
        frame.push_back(byte);  // insert() trips a false array-bounds warning
    }
    return frame;
}

// A well-behaved master: asks until it has its answer, connecting again
// whenever the slave closes or refuses its connection. The milliseconds it
// waited for the answer, or -1 when none came within nWithinMs.
long long AskUntilAnswered(int nPort, const Bytes& request, std::size_t nReply, int nWithinMs) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(nWithinMs);
    while (std::chrono::steady_clock::now() < end) {
        RawMaster master(nPort);
        if (master.IsConnected()) {
            master.Send(request);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (master.Receive(nReply, static_cast<int>(std::max<long long>(left.count(), 1)))
                    .size() == nReply) {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                    .count();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // between tries, as a master
    }
    return -1;
}

int PointBytes(const char* pszAddress) {
    return pszAddress[1] == 'R' ? 2 : 1;
}

class ModbusTcpSlave : public ::testing::Test {
protected:
    void SetUp() override {
        QZSetLogSink([this](DWORD, const char* pszText) {
            std::lock_guard<std::mutex> guard(m_logLock);
            m_log.push_back(pszText);
        });
        ASSERT_TRUE(m_driver.IsLoaded()) << m_driver.Error().GetString();
        ASSERT_EQ(Start(*m_driver, 0), static_cast<DWORD>(SE_NO_ERROR));
        m_nPort = m_driver->GetPortNumber();
        m_driver->ActivateCommsLog(true);
        m_driver->LogAsHex(true);
    }
    void TearDown() override { QZSetLogSink(nullptr); }

    // Starts a slave on the TCP port (0: any free one).
    static DWORD Start(CProtocol& driver, int nPort) {
        return testsupport::Configure(driver, {{"TCPIP.PortNumber", std::to_string(nPort)}})
                   ? driver.StartProtocol()
                   : SE_INTERNAL_ERROR;
    }

    // The host's side of the table.
    void Put(const char* pszAddress, const std::vector<int>& values) {
        auto block = testsupport::MakeWrite(*m_driver, pszAddress, values, PointBytes(pszAddress));
        ASSERT_EQ(m_driver->TransferData(block.get()), static_cast<DWORD>(SE_NO_ERROR));
    }
    std::vector<int> Points(const char* pszAddress, DWORD dwCount) {
        auto block = testsupport::MakeBlock(*m_driver, pszAddress, dwCount);
        EXPECT_EQ(m_driver->TransferData(block.get()), static_cast<DWORD>(SE_NO_ERROR));
        return testsupport::Values(*block, PointBytes(pszAddress));
    }

    // mbpoll once, references from 0, then waits until the slave has seen
    // the master go and listens again. A master started before then may
    // find no one listening: a process spawned while the slave replaces
    // its listening socket keeps the old one open until it runs mbpoll, so
    // the new one cannot be bound.
    testsupport::ProcessResult Mbpoll(const std::vector<std::string>& args,
                                      const std::vector<std::string>& values = {}) {
        std::vector<std::string> command{
            "mbpoll", "-m", "tcp", "-a", "1", "-0", "-1", "-o", "5", "-p", std::to_string(m_nPort)};
        command.insert(command.end(), args.begin(), args.end());
        command.push_back("127.0.0.1");
        command.insert(command.end(), values.begin(), values.end());
        const int nGone = LogCount("master disconnected");
        testsupport::ProcessResult result = testsupport::RunProcess(command);
        if (result.output.find("Connection failed") == std::string::npos) {
            EXPECT_TRUE(WaitUntil([&] { return LogCount("master disconnected") > nGone; }));
        }
        return result;
    }
    // The values mbpoll printed, in order ("[5]: \t42").
    static std::vector<int> Printed(const std::string& output) {
        static const std::regex kValue(R"(\[\d+\]:\s*(-?\d+))");
        std::vector<int> values;
        for (std::sregex_iterator it(output.begin(), output.end(), kValue), end; it != end; ++it) {
            values.push_back(std::stoi((*it)[1]));
        }
        return values;
    }

    int LogCount(const std::string& text) {
        std::lock_guard<std::mutex> guard(m_logLock);
        return static_cast<int>(std::count_if(m_log.begin(), m_log.end(), [&](const auto& line) {
            return line.find(text) != std::string::npos;
        }));
    }

    testsupport::LoadedDriver m_driver{KELVARA_MODBUS_TCP_SLAVE_PLUGIN};
    int m_nPort = 0;
    std::mutex m_logLock;
    std::vector<std::string> m_log;
};

TEST_F(ModbusTcpSlave, MasterReadsWhatTheHostSetAndWritesWhatTheHostReads) {
    // mbpoll's data type, the address, the values; who writes them.
    const struct {
        const char* pszType;
        const char* pszAddress;
        std::vector<int> values;
        bool bMasterWrites;
    } cases[] = {
        {"4", "HR:100", {1, 22, 65535}, false},
        {"3", "IR:7", {300, 4000}, false},
        {"0", "CO:3", {1, 0, 1, 1}, false},
        {"1", "DI:9990", {0, 1}, false},
        // One value goes with a single write (5, 6), several with a
        // multiple write (15, 16).
        {"4", "HR:20", {4660}, true},
        {"4", "HR:30", {7, 8, 9}, true},
        {"0", "CO:40", {1}, true},
        {"0", "CO:50", {1, 0, 1, 1, 0, 0, 0, 0, 1}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszAddress);
        const std::string offset = c.pszAddress + 3;
        const std::size_t nCount = c.values.size();
        if (!c.bMasterWrites) {
            Put(c.pszAddress, c.values);
            EXPECT_EQ(
                Printed(
                    Mbpoll({"-t", c.pszType, "-r", offset, "-c", std::to_string(nCount)}).output),
                c.values);
            continue;
        }
        std::vector<std::string> values;
        for (int v : c.values) {
            values.push_back(std::to_string(v));
        }
        EXPECT_EQ(Mbpoll({"-t", c.pszType, "-r", offset}, values).nExitCode, 0);
        // Just those points, none beside them.
        const std::string before =
            std::string(c.pszAddress, 3) + std::to_string(std::stoi(offset) - 1);
        std::vector<int> expected{0};
        expected.insert(expected.end(), c.values.begin(), c.values.end());
        expected.push_back(0);
        EXPECT_EQ(Points(before.c_str(), static_cast<DWORD>(nCount + 2)), expected);
    }
    // Each master, one after another, was told of before it was served.
    EXPECT_EQ(LogCount("master connected"), 8);
}

TEST_F(ModbusTcpSlave, RefusesWithTheExceptionTheRequestEarns) {
    const testsupport::ProcessResult pastTheEnd = Mbpoll({"-t", "4", "-r", "9998", "-c", "3"});
    EXPECT_NE(pastTheEnd.nExitCode, 0);
    EXPECT_THAT(pastTheEnd.output, HasSubstr("Illegal data address"));
    EXPECT_EQ(m_driver->GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(m_driver->GetLastErrorString(), "Illegal data address");
    EXPECT_EQ(Mbpoll({"-t", "4", "-r", "9998", "-c", "2"}).nExitCode, 0)
        << "the last two are there";

    // What mbpoll cannot send.
    RawMaster master(m_nPort);
    ASSERT_TRUE(master.IsConnected());
    const struct {
        Bytes pdu;
        Bytes reply;
    } cases[] = {
        {{0x07}, {0x87, 0x01}},                                         // unknown function
        {{0x03, 0x00, 0x00, 0x00, 0x00}, {0x83, 0x03}},                 // count 0
        {{0x03, 0x00, 0x00, 0x00, 0x7E}, {0x83, 0x03}},                 // 126 registers
        {{0x03, 0x00, 0x00, 0x00}, {0x83, 0x03}},                       // too short
        {{0x05, 0x00, 0x01, 0x12, 0x34}, {0x85, 0x03}},                 // coil neither on nor off
        {{0x10, 0x00, 0x00, 0x00, 0x02, 0x03, 1, 2, 3}, {0x90, 0x03}},  // byte count wrong
        {{0x0F, 0x27, 0x0F, 0x00, 0x02, 0x01, 0x03}, {0x8F, 0x02}},     // past the end
        {{0x06, 0x27, 0x0F, 0xAB, 0xCD}, {0x06, 0x27, 0x0F, 0xAB, 0xCD}},  // the last one
    };
    for (const auto& c : cases) {
        master.Send(Frame(c.pdu));
        EXPECT_EQ(master.Receive(7 + c.reply.size()), Frame(c.reply))
            << "function " << int(c.pdu[0]);
    }
    EXPECT_EQ(Points("HR:9999", 1), std::vector<int>({0xABCD}));
}

TEST_F(ModbusTcpSlave, FramesInPiecesArePutTogetherAndBrokenOnesCountedAndThrownAway) {
    RawMaster master(m_nPort);
    Put("HR:0", {0x0A0B});
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    const Bytes reply = Frame({0x03, 0x02, 0x0A, 0x0B});
    // Half a header, the rest of it with part of the PDU, then the rest of
    // the PDU, each read by the slave before the next is sent.
    for (const auto& [nFrom, nTo] : {std::pair{0, 4}, std::pair{4, 9}, std::pair{9, 12}}) {
        master.Send(Bytes(request.begin() + nFrom, request.begin() + nTo));
        ASSERT_TRUE(WaitUntil([&] { return master.SlaveHasReadAll(); }));
    }
    EXPECT_EQ(master.Receive(reply.size()), reply);
    EXPECT_EQ(m_driver->GetNumberStandardErrors(), 0u);

    // Protocol id 1 is not Modbus: not answered, counted as a bad format.
    master.Send({0x00, 0x01, 0x00, 0x01, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_TRUE(WaitUntil([&] { return m_driver->GetNumberStandardErrors() == 1; }));
    EXPECT_EQ(m_driver->GetLastErrorString(), GetStandardErrorMessage(SE_INVALID_FORMAT));
    master.Send(request);
    EXPECT_EQ(master.Receive(reply.size()), reply) << "the first reply answers this request";

    // A header that stops half-way is given up after the frame time-out
    // (its master is dropped: see the next test).
    master.Send(Bytes(request.begin(), request.begin() + 4));
    EXPECT_TRUE(WaitUntil([&] { return m_driver->GetNumberTimeoutErrors() == 1; }));
}

TEST_F(ModbusTcpSlave, AMasterThatHoldsTheSlaveWithoutBeingServedIsDroppedForTheNext) {
    // What the first master does after connecting; the waiting master asks
    // once it is connected.
    const struct {
        const char* pszWhat;
        const char* pszIdle;
        const char* pszFrame;
        std::size_t nSent;  // bytes of a request
        int nTimeout;       // ms the slave should give it
    } cases[] = {
        {"sends nothing", "300", "1000", 0, 300},
        {"stalls half-way in a request", "60000", "300", 9, 300},
    };
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        m_driver->StopProtocol();
        EXPECT_TRUE(testsupport::Configure(
            *m_driver, {{"Modbus.IdleTimeout", c.pszIdle}, {"Modbus.FrameTimeout", c.pszFrame}}));
        ASSERT_EQ(Start(*m_driver, 0), static_cast<DWORD>(SE_NO_ERROR));
        const int nPort = m_driver->GetPortNumber();
        const int nConnected = LogCount("master connected");
        RawMaster holder(nPort);
        ASSERT_TRUE(WaitUntil([&] { return LogCount("master connected") > nConnected; }));
        holder.Send(Bytes(request.begin(), request.begin() + static_cast<long>(c.nSent)));
        const long long nWaited = AskUntilAnswered(nPort, request, 11, c.nTimeout + 2000);
        ::testing::Test::RecordProperty(
            c.nSent == 0 ? "idle_master_waited_ms" : "stalled_master_waited_ms",
            std::to_string(nWaited));
        EXPECT_GE(nWaited, c.nTimeout - 100);
        EXPECT_LT(nWaited, c.nTimeout + 1000);
        EXPECT_TRUE(holder.Receive(1, 100).empty());
        EXPECT_EQ(LogCount("dropped"), static_cast<int>(&c - cases) + 1);
    }
}

TEST_F(ModbusTcpSlave, TheAcceptedConnectionFindsAVanishedMasterByKeepalive) {
    RawMaster master(m_nPort);
    ASSERT_TRUE(WaitUntil([&] { return LogCount("master connected") == 1; }));
    const int fd = master.SlaveEnd();
    ASSERT_GE(fd, 0);
    int nOn = 0;
    int nIdle = 0;
    int nInterval = 0;
    int nProbes = 0;
    socklen_t nLength = sizeof nOn;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &nOn, &nLength), 0);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &nIdle, &nLength), 0);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &nInterval, &nLength), 0);
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &nProbes, &nLength), 0);
    EXPECT_EQ(nOn, 1);
    // A master gone without a word is found well within a minute.
    EXPECT_LE(nIdle + nInterval * nProbes, 60) << nIdle << " " << nInterval << " " << nProbes;
}

TEST_F(ModbusTcpSlave, EachFrameIsOneLogLineAndEachRequestOneBlock) {
    Put("HR:4", {0xBEEF});
    EXPECT_EQ(Printed(Mbpoll({"-r", "4"}).output), std::vector<int>{0xBEEF});
    EXPECT_THAT(
        testsupport::DrainCommsLog(*m_driver),
        ::testing::ElementsAre(::testing::MatchesRegex("RX.. .. 00 00 00 06 01 03 00 04 00 01 "),
                               ::testing::MatchesRegex("TX.. .. 00 00 00 05 01 03 02 BE EF ")));
    EXPECT_EQ(m_driver->GetTotalBytesIn(), 12u);
    EXPECT_EQ(m_driver->GetTotalBytesOut(), 11u);
    EXPECT_EQ(m_driver->GetBlockCount(), 2u) << "the host's block and the request";
}

TEST_F(ModbusTcpSlave, HostBlocksMustNameTheTable) {
    const struct {
        const char* pszAddress;
        DWORD dwCount;
        std::vector<int> write;  // bytes; empty: a read
        DWORD dwResult;
    } cases[] = {
        {"XX:1", 1, {}, SE_INVALID_BLOCK}, {"HR:9999", 2, {}, SE_INVALID_BLOCK},
        {"HR:0", 0, {}, SE_INVALID_BLOCK}, {"HR:0", 1, {1}, SE_INVALID_BLOCK},  // half a register
        {"CO:0", 1, {1}, SE_NO_ERROR},
    };
    for (const auto& c : cases) {
        CRemoteAddress first(c.pszAddress, m_driver->GetEDFFormatRemote()->m_strFormat, nullptr);
        CComBlock block(&first, 2, 1, c.dwCount, 2);
        CByteArray data = testsupport::PackValues(c.write, 1);
        if (!c.write.empty()) {
            block.FillWriteBuffer(&data);
        }
        EXPECT_EQ(m_driver->TransferData(&block), c.dwResult) << c.pszAddress << " " << c.dwCount;
    }
}

TEST_F(ModbusTcpSlave, StartsOnceOnAPortTheHostChoseAndStopsWithAMasterConnected) {
    EXPECT_EQ(m_driver->StartProtocol(), static_cast<DWORD>(SE_PROTOCOL_RESTART));
    const int nTaken = m_nPort;
    std::unique_ptr<CProtocol> other(m_driver.CreateAnother());
    EXPECT_EQ(Start(*other, nTaken), static_cast<DWORD>(SE_TCPIP_SOCKET_ERROR)) << "port taken";

    RawMaster master(m_nPort);
    ASSERT_TRUE(WaitUntil([&] { return LogCount("master connected") == 1; }));
    EXPECT_EQ(m_driver->StopProtocol(), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_TRUE(master.Receive(1).empty()) << "the master sees the connection close";
    EXPECT_EQ(LogCount("master disconnected"), 1);
    EXPECT_FALSE(RawMaster(nTaken).IsConnected());

    ASSERT_EQ(Start(*m_driver, nTaken), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(m_driver->GetPortNumber(), nTaken);
    EXPECT_EQ(Mbpoll({"-r", "0"}).nExitCode, 0);
}

}  // namespace
