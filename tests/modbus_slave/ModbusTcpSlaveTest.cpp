// The Modbus TCP slave plug-in, loaded as a host loads it, answering
// mbpoll (an outside master) and, for the frames mbpoll never sends, a raw
// socket.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <kelvara/Kelvara.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/PeerProcess.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

bool WaitFor(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A master on a plain socket, for frames of the test's own making.
class RawMaster {
public:
    explicit RawMaster(int nPort) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{
            AF_INET, htons(static_cast<std::uint16_t>(nPort)), {htonl(INADDR_LOOPBACK)}, {}};
        m_bConnected = connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawMaster() { close(m_fd); }
    bool IsConnected() const { return m_bConnected; }
    void Send(const Bytes& bytes) { (void)send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Up to n bytes: what came before the slave closed or 5 s passed.
    Bytes Receive(std::size_t n) {
        Bytes bytes(n);
        std::size_t nGot = 0;
        pollfd entry{m_fd, POLLIN, 0};
        while (nGot < n && poll(&entry, 1, 5000) == 1) {
            const ssize_t nRead = recv(m_fd, bytes.data() + nGot, n - nGot, 0);
            if (nRead <= 0) {
                break;
            }
            nGot += static_cast<std::size_t>(nRead);
        }
        bytes.resize(nGot);
        return bytes;
    }
    // The slave has read everything sent: it was acknowledged, and the
    // slave's end of the connection (found among this process's
    // descriptors by its peer address) has nothing left unread.
    bool SlaveHasReadAll() const {
        int nUnacknowledged = -1;
        sockaddr_in mine{};
        socklen_t nLength = sizeof mine;
        if (ioctl(m_fd, SIOCOUTQ, &nUnacknowledged) != 0 || nUnacknowledged != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&mine), &nLength) != 0) {
            return false;
        }
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::stoi(entry.path().filename().string());
            sockaddr_in peer{};
            nLength = sizeof peer;
            int nUnread = -1;
            if (fd != m_fd && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &nLength) == 0 &&
                peer.sin_port == mine.sin_port && ioctl(fd, FIONREAD, &nUnread) == 0) {
                return nUnread == 0;
            }
        }
        return false;
    }

private:
    int m_fd;
    bool m_bConnected = false;
};

// A frame of transaction 0x1234 for unit 1 around the PDU.
Bytes Frame(const Bytes& pdu) {
    Bytes frame{0x12, 0x34, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(pdu.size() + 1), 0x01};
    for (std::uint8_t byte : pdu) {
        frame.push_back(byte);
    }
    return frame;
}

class ModbusTcpSlave : public ::testing::Test {
protected:
    void SetUp() override {
        QZSetLogSink([this](DWORD, const char* pszText) {
            std::lock_guard<std::mutex> guard(m_logLock);
            m_log.push_back(pszText);
        });
        ASSERT_TRUE(m_library.Load(KELVARA_MODBUS_TCP_SLAVE_PLUGIN))
            << m_library.GetLastError().GetString();
        m_driver.reset(m_library.CreateDriver());
        ASSERT_EQ(Start(m_driver.get(), 0), SE_NO_ERROR);
        m_driver->ActivateCommsLog(true);
        m_driver->LogAsHex(true);
    }
    void TearDown() override {
        m_driver.reset();
        QZSetLogSink(nullptr);
    }

    // Starts a slave on the TCP port (0: any free one).
    DWORD Start(CProtocol* pDriver, int nPort) {
        CStringList settings;
        settings.AddTail(("TCPIP.PortNumber=" + std::to_string(nPort)).c_str());
        const DWORD dwResult = pDriver->UpdateFromStringList(&settings)
                                   ? pDriver->StartProtocol()
                                   : static_cast<DWORD>(SE_INTERNAL_ERROR);
        if (pDriver == m_driver.get()) {
            m_nPort = pDriver->GetPortNumber();
        }
        return dwResult;
    }

    // The host's side of the table: a block of count points at the
    // address; coils and inputs are a byte each, registers two.
    DWORD Transfer(const char* pszAddress, DWORD dwCount, ReadOrWrite eWay, CByteArray& data) {
        CRemoteAddress first(pszAddress, m_driver->GetEDFFormatRemote()->m_strFormat, nullptr);
        CComBlock block(&first, 2, 1, dwCount, 2);
        if (eWay == RW_WRITE) {
            block.FillWriteBuffer(&data);
        }
        const DWORD dwResult = m_driver->TransferData(&block);
        block.GetBlockData(data);
        return dwResult;
    }
    static bool IsBits(const char* pszAddress) { return pszAddress[1] != 'R'; }
    void Put(const char* pszAddress, const std::vector<int>& values) {
        CByteArray data;
        for (int value : values) {
            data.Add(static_cast<BYTE>(value & 0xFF));
            if (!IsBits(pszAddress)) {
                data.Add(static_cast<BYTE>(value >> 8));
            }
        }
        ASSERT_EQ(Transfer(pszAddress, static_cast<DWORD>(values.size()), RW_WRITE, data), 0u);
    }
    std::vector<int> Points(const char* pszAddress, DWORD dwCount) {
        CByteArray data;
        EXPECT_EQ(Transfer(pszAddress, dwCount, RW_READ, data), 0u);
        std::vector<int> points;
        for (int i = 0; i < data.GetSize(); i += IsBits(pszAddress) ? 1 : 2) {
            points.push_back(IsBits(pszAddress) ? data[i] : data[i] | data[i + 1] << 8);
        }
        return points;
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
            EXPECT_TRUE(WaitFor([&] { return LogCount("master disconnected") > nGone; }));
        }
        return result;
    }
    // The values mbpoll printed, by reference ("[5]: \t42").
    static std::map<int, int> Printed(const std::string& output) {
        std::map<int, int> values;
        for (std::size_t at = output.find('['); at != std::string::npos;
             at = output.find('[', at + 1)) {
            int nRef = 0;
            int nValue = 0;
            if (std::sscanf(output.c_str() + at, "[%d]: %d", &nRef, &nValue) == 2) {
                values[nRef] = nValue;
            }
        }
        return values;
    }

    int LogCount(const std::string& text) {
        std::lock_guard<std::mutex> guard(m_logLock);
        return static_cast<int>(std::count_if(m_log.begin(), m_log.end(), [&](const auto& line) {
            return line.find(text) != std::string::npos;
        }));
    }
    std::vector<std::string> CommsLog() {
        std::vector<std::string> lines;
        CString line;
        while (m_driver->GetCommsLogCount() > 0) {
            m_driver->GetFromCommsLog(&line);
            lines.push_back(line.GetString());
        }
        return lines;
    }

    CDriverLibrary m_library;  // outlives the drivers it made
    std::unique_ptr<CProtocol> m_driver;
    int m_nPort = 0;
    std::mutex m_logLock;
    std::vector<std::string> m_log;
};

TEST_F(ModbusTcpSlave, MasterReadsEachAreaAsTheHostSetIt) {
    Put("HR:100", {1, 22, 65535});
    Put("IR:7", {300, 4000});
    Put("CO:3", {1, 0, 1, 1});
    Put("DI:9990", {0, 1});
    const testsupport::ProcessResult holding = Mbpoll({"-t", "4:hex", "-r", "100", "-c", "3"});
    EXPECT_THAT(holding.output, HasSubstr("[100]: \t0x0001\n[101]: \t0x0016\n[102]: \t0xFFFF"));
    EXPECT_EQ(Printed(Mbpoll({"-t", "3", "-r", "7", "-c", "2"}).output),
              (std::map<int, int>{{7, 300}, {8, 4000}}));
    EXPECT_EQ(Printed(Mbpoll({"-t", "0", "-r", "3", "-c", "4"}).output),
              (std::map<int, int>{{3, 1}, {4, 0}, {5, 1}, {6, 1}}));
    EXPECT_EQ(Printed(Mbpoll({"-t", "1", "-r", "9990", "-c", "2"}).output),
              (std::map<int, int>{{9990, 0}, {9991, 1}}));
}

TEST_F(ModbusTcpSlave, MasterWritesLandInTheTable) {
    // One value goes with a single write (5, 6), several with a multiple
    // write (15, 16).
    EXPECT_EQ(Mbpoll({"-t", "4", "-r", "20"}, {"4660"}).nExitCode, 0);
    EXPECT_EQ(Mbpoll({"-t", "4", "-r", "30"}, {"7", "8", "9"}).nExitCode, 0);
    EXPECT_EQ(Mbpoll({"-t", "0", "-r", "40"}, {"1"}).nExitCode, 0);
    EXPECT_EQ(
        Mbpoll({"-t", "0", "-r", "50"}, {"1", "0", "1", "1", "0", "0", "0", "0", "1"}).nExitCode,
        0);
    EXPECT_EQ(Points("HR:20", 1), std::vector<int>({4660}));
    EXPECT_EQ(Points("HR:29", 5), std::vector<int>({0, 7, 8, 9, 0}));
    EXPECT_EQ(Points("CO:39", 3), std::vector<int>({0, 1, 0}));
    EXPECT_EQ(Points("CO:50", 10), std::vector<int>({1, 0, 1, 1, 0, 0, 0, 0, 1, 0}));
}

TEST_F(ModbusTcpSlave, ReadingPastTheTableEndIsRefusedAsAnIllegalDataAddress) {
    const testsupport::ProcessResult result = Mbpoll({"-t", "4", "-r", "9998", "-c", "3"});
    EXPECT_NE(result.nExitCode, 0);
    EXPECT_THAT(result.output, HasSubstr("Illegal data address"));
    EXPECT_EQ(m_driver->GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(m_driver->GetLastErrorString(), "Illegal data address");
    EXPECT_EQ(Mbpoll({"-t", "4", "-r", "9998", "-c", "2"}).nExitCode, 0)
        << "the last two are there";
}

TEST_F(ModbusTcpSlave, RequestsMbpollCannotSendAreRefusedWithTheRightException) {
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
        EXPECT_EQ(master.Receive(7 + c.reply.size()), Frame(c.reply));
    }
    EXPECT_EQ(Points("HR:9999", 1), std::vector<int>({0xABCD}));
}

TEST_F(ModbusTcpSlave, AFrameThatComesInPiecesIsPutTogether) {
    RawMaster master(m_nPort);
    Put("HR:0", {0x0A0B});
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    // Half a header, the rest of it with part of the PDU, then the rest of
    // the PDU, each read by the slave before the next is sent.
    for (const auto& [nFrom, nTo] : {std::pair{0, 4}, std::pair{4, 9}, std::pair{9, 12}}) {
        master.Send(Bytes(request.begin() + nFrom, request.begin() + nTo));
        ASSERT_TRUE(WaitFor([&] { return master.SlaveHasReadAll(); }));
    }
    EXPECT_EQ(master.Receive(11), Frame({0x03, 0x02, 0x0A, 0x0B}));
    EXPECT_EQ(m_driver->GetNumberStandardErrors(), 0u);
}

TEST_F(ModbusTcpSlave, BrokenFramesAreCountedAndThrownAwayAndTheNextIsServed) {
    RawMaster master(m_nPort);
    Put("HR:0", {0x0102});
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    const Bytes reply = Frame({0x03, 0x02, 0x01, 0x02});

    // A header that stops half-way: after a second it is given up.
    master.Send(Bytes(request.begin(), request.begin() + 4));
    EXPECT_TRUE(WaitFor([&] { return m_driver->GetNumberTimeoutErrors() == 1; }));
    master.Send(request);
    EXPECT_EQ(master.Receive(reply.size()), reply);

    // Protocol id 1 is not Modbus: not answered, counted as a bad format.
    master.Send({0x00, 0x01, 0x00, 0x01, 0x00, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_TRUE(WaitFor([&] { return m_driver->GetNumberStandardErrors() == 2; }));
    EXPECT_EQ(m_driver->GetLastErrorString(), GetStandardErrorMessage(SE_INVALID_FORMAT));
    master.Send(request);
    EXPECT_EQ(master.Receive(reply.size()), reply) << "the first reply answers this request";
}

TEST_F(ModbusTcpSlave, MasterThatLeavesCanConnectAgain) {
    Put("HR:1", {11});
    EXPECT_EQ(Printed(Mbpoll({"-r", "1"}).output), (std::map<int, int>{{1, 11}}));
    Put("HR:1", {12});
    EXPECT_EQ(Printed(Mbpoll({"-r", "1"}).output), (std::map<int, int>{{1, 12}}));
    EXPECT_EQ(LogCount("master connected"), 2) << "each told before it was served";
}

TEST_F(ModbusTcpSlave, EachFrameIsOneLineOfTheCommsLogAndEachRequestOneBlock) {
    Put("HR:4", {0xBEEF});
    const DWORD dwBlocks = m_driver->GetBlockCount();
    ASSERT_EQ(Mbpoll({"-r", "4"}).nExitCode, 0);
    EXPECT_THAT(CommsLog(), ::testing::ElementsAre(
                                ::testing::MatchesRegex("RX.. .. 00 00 00 06 01 03 00 04 00 01 "),
                                ::testing::MatchesRegex("TX.. .. 00 00 00 05 01 03 02 BE EF ")));
    EXPECT_EQ(m_driver->GetTotalBytesIn(), 12u);
    EXPECT_EQ(m_driver->GetTotalBytesOut(), 11u);
    EXPECT_EQ(m_driver->GetBlockCount(), dwBlocks + 1);
}

TEST_F(ModbusTcpSlave, HostBlocksMustNameTheTable) {
    CByteArray data;
    EXPECT_EQ(Transfer("XX:1", 1, RW_READ, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("HR:9999", 2, RW_READ, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("HR:0", 0, RW_READ, data), SE_INVALID_BLOCK);
    data.RemoveAll();
    data.Add(1);  // one byte is half a register
    EXPECT_EQ(Transfer("HR:0", 1, RW_WRITE, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("CO:0", 1, RW_WRITE, data), SE_NO_ERROR);
}

TEST_F(ModbusTcpSlave, StartsOnceOnAPortTheHostChoseAndStopsWithAMasterConnected) {
    EXPECT_EQ(m_driver->StartProtocol(), SE_PROTOCOL_RESTART);
    const int nTaken = m_nPort;
    std::unique_ptr<CProtocol> other(m_library.CreateDriver());
    EXPECT_EQ(Start(other.get(), nTaken), SE_TCPIP_SOCKET_ERROR) << "the port is taken";
    EXPECT_EQ(other->StopProtocol(), SE_PROTOCOL_NOT_STARTED);

    RawMaster master(m_nPort);
    ASSERT_TRUE(WaitFor([&] { return LogCount("master connected") == 1; }));
    EXPECT_EQ(m_driver->StopProtocol(), SE_NO_ERROR);
    EXPECT_TRUE(master.Receive(1).empty()) << "the master sees the connection close";
    EXPECT_EQ(LogCount("master disconnected"), 1);
    EXPECT_FALSE(RawMaster(nTaken).IsConnected());

    ASSERT_EQ(Start(m_driver.get(), nTaken), SE_NO_ERROR);
    EXPECT_EQ(m_nPort, nTaken);
    EXPECT_EQ(Mbpoll({"-r", "0"}).nExitCode, 0);
}

}  // namespace
