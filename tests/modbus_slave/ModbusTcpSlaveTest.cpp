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

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

// A master that sends whatever bytes a test gives it.
class RawMaster {
public:
    explicit RawMaster(int nPort) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(nPort));
        if (connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~RawMaster() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    bool IsConnected() const { return m_fd >= 0; }
    // Everything sent has been acknowledged: it is in the slave's hands.
    bool AllAcknowledged() const {
        int nUnacknowledged = 0;
        return ioctl(m_fd, SIOCOUTQ, &nUnacknowledged) == 0 && nUnacknowledged == 0;
    }
    // The slave's end of this connection: the descriptor of this process
    // whose peer is this master.
    int SlaveEnd() const {
        sockaddr_in mine{};
        socklen_t nLength = sizeof mine;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&mine), &nLength);
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            const int fd = std::atoi(entry.path().filename().c_str());
            sockaddr_in peer{};
            nLength = sizeof peer;
            if (fd != m_fd && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &nLength) == 0 &&
                peer.sin_port == mine.sin_port && peer.sin_addr.s_addr == mine.sin_addr.s_addr) {
                return fd;
            }
        }
        return -1;
    }
    void Send(const Bytes& bytes) { (void)send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Up to n bytes, whatever came before the deadline or the slave closed.
    Bytes Receive(std::size_t n, std::chrono::milliseconds deadline = 5s) {
        Bytes bytes;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (bytes.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd entry{m_fd, POLLIN, 0};
            if (poll(&entry, 1, 20) != 1) {
                continue;
            }
            std::uint8_t chunk[512];
            const ssize_t got = recv(m_fd, chunk, std::min(sizeof chunk, n - bytes.size()), 0);
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

private:
    int m_fd = -1;
};

// A request frame: transaction id 0x1234, unit 1, then the PDU.
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
        ASSERT_NE(m_driver, nullptr);
        ASSERT_EQ(Configure(0), SE_NO_ERROR);
        m_driver->ActivateCommsLog(true);
        m_driver->LogAsHex(true);
    }

    void TearDown() override {
        m_driver.reset();
        QZSetLogSink(nullptr);
    }

    // Sets the TCP port (0: any free one) and starts the slave.
    DWORD Configure(int nPort) {
        CStringList settings;
        settings.AddTail(CString("TCPIP.PortNumber=") + std::to_string(nPort).c_str());
        if (!m_driver->UpdateFromStringList(&settings)) {
            return SE_INTERNAL_ERROR;
        }
        const DWORD dwResult = m_driver->StartProtocol();
        m_nPort = m_driver->GetPortNumber();
        return dwResult;
    }

    // The host's side of the table: a block of count points at the address.
    DWORD Transfer(const char* pszAddress, DWORD dwCount, ReadOrWrite eDirection,
                   CByteArray& data) {
        CRemoteAddress first(pszAddress, m_driver->GetEDFFormatRemote()->m_strFormat, nullptr);
        CComBlock block(&first, 2, 1, dwCount, 2);
        if (eDirection == RW_WRITE) {
            block.FillWriteBuffer(&data);
        }
        const DWORD dwResult = m_driver->TransferData(&block);
        if (eDirection == RW_READ) {
            block.GetBlockData(data);
        }
        return dwResult;
    }
    void SetRegisters(const char* pszAddress, const std::vector<WORD>& values) {
        CByteArray data;
        for (WORD value : values) {
            data.Add(static_cast<BYTE>(value & 0xFF));
            data.Add(static_cast<BYTE>(value >> 8));
        }
        ASSERT_EQ(Transfer(pszAddress, static_cast<DWORD>(values.size()), RW_WRITE, data), 0u);
    }
    void SetBits(const char* pszAddress, const std::vector<BYTE>& values) {
        CByteArray data;
        for (BYTE value : values) {
            data.Add(value);
        }
        ASSERT_EQ(Transfer(pszAddress, static_cast<DWORD>(values.size()), RW_WRITE, data), 0u);
    }
    // Registers as numbers, bits as 0 and 1.
    std::vector<int> Points(const char* pszAddress, DWORD dwCount) {
        CByteArray data;
        EXPECT_EQ(Transfer(pszAddress, dwCount, RW_READ, data), 0u);
        const bool bBits = pszAddress[1] == 'O' || pszAddress[1] == 'I';
        std::vector<int> points;
        for (int i = 0; i < data.GetSize(); i += bBits ? 1 : 2) {
            points.push_back(bBits ? data[i] : data[i] | data[i + 1] << 8);
        }
        return points;
    }

    // mbpoll once, references from 0, against the slave.
    testsupport::ProcessResult Mbpoll(const std::vector<std::string>& args,
                                      const std::vector<std::string>& values = {}) {
        std::vector<std::string> command{
            "mbpoll", "-m", "tcp", "-a", "1", "-0", "-1", "-o", "5", "-p", std::to_string(m_nPort)};
        command.insert(command.end(), args.begin(), args.end());
        command.push_back("127.0.0.1");
        command.insert(command.end(), values.begin(), values.end());
        const int nGone = LogCount("master disconnected");
        testsupport::ProcessResult result = testsupport::RunProcess(command, 20s);
        // The slave is done with the master once it listens again and says
        // the master has gone. A master started before then may find it not
        // listening: a process spawned while the slave replaces its
        // listening socket holds a copy of the old one until it runs mbpoll,
        // and the new one cannot be bound.
        if (result.output.find("Connection failed") == std::string::npos) {
            EXPECT_TRUE(LogSays("master disconnected", nGone + 1));
        }
        return result;
    }
    // The values mbpoll printed, by reference ("[5]: \t42").
    static std::map<int, int> Printed(const std::string& output) {
        std::map<int, int> values;
        std::size_t at = 0;
        while ((at = output.find('[', at)) != std::string::npos) {
            int nRef = 0;
            int nValue = 0;
            if (std::sscanf(output.c_str() + at, "[%d]: %d", &nRef, &nValue) == 2) {
                values[nRef] = nValue;
            }
            ++at;
        }
        return values;
    }

    static bool WaitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds deadline = 10s) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    int LogCount(const std::string& text) {
        std::lock_guard<std::mutex> guard(m_logLock);
        int nSeen = 0;
        for (const std::string& line : m_log) {
            nSeen += line.find(text) != std::string::npos ? 1 : 0;
        }
        return nSeen;
    }
    bool LogSays(const std::string& text, int nTimes) {
        return WaitFor([&] { return LogCount(text) >= nTimes; });
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

    CDriverLibrary m_library;  // outlives the driver it made
    std::unique_ptr<CProtocol> m_driver;
    int m_nPort = 0;
    std::mutex m_logLock;
    std::vector<std::string> m_log;
};

TEST_F(ModbusTcpSlave, MasterReadsEachAreaAsTheHostSetIt) {
    SetRegisters("HR:100", {1, 22, 65535});
    SetRegisters("IR:7", {300, 4000});
    SetBits("CO:3", {1, 0, 1, 1});
    SetBits("DI:9990", {0, 1});
    const struct {
        std::vector<std::string> args;
        std::map<int, int> expected;
    } reads[] = {
        {{"-t", "3", "-r", "7", "-c", "2"}, {{7, 300}, {8, 4000}}},
        {{"-t", "0", "-r", "3", "-c", "4"}, {{3, 1}, {4, 0}, {5, 1}, {6, 1}}},
        {{"-t", "1", "-r", "9990", "-c", "2"}, {{9990, 0}, {9991, 1}}},
    };
    for (const auto& read : reads) {
        const testsupport::ProcessResult result = Mbpoll(read.args);
        ASSERT_EQ(result.nExitCode, 0) << result.output;
        EXPECT_EQ(Printed(result.output), read.expected) << result.output;
    }
    // Shown in hexadecimal, to see all 16 bits come through.
    const testsupport::ProcessResult hex = Mbpoll({"-t", "4:hex", "-r", "100", "-c", "3"});
    EXPECT_THAT(hex.output, HasSubstr("[100]: \t0x0001"));
    EXPECT_THAT(hex.output, HasSubstr("[101]: \t0x0016"));
    EXPECT_THAT(hex.output, HasSubstr("[102]: \t0xFFFF"));
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
    // The last registers of the table are still there to read.
    EXPECT_EQ(Mbpoll({"-t", "4", "-r", "9998", "-c", "2"}).nExitCode, 0);
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
    ASSERT_TRUE(LogSays("master connected", 1));
    SetRegisters("HR:0", {0x0A0B});
    const int nSlaveEnd = master.SlaveEnd();
    ASSERT_GE(nSlaveEnd, 0);
    auto takenBySlave = [&] {
        int nUnread = -1;
        return master.AllAcknowledged() && ioctl(nSlaveEnd, FIONREAD, &nUnread) == 0 &&
               nUnread == 0;
    };
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    // Half a header, then the rest of it with part of the PDU, then the
    // rest: each piece read by the slave before the next is sent.
    for (const auto& [nFrom, nTo] : {std::pair{0, 4}, std::pair{4, 9}, std::pair{9, 12}}) {
        ASSERT_TRUE(WaitFor(takenBySlave));
        master.Send(Bytes(request.begin() + nFrom, request.begin() + nTo));
    }
    EXPECT_EQ(master.Receive(11), Frame({0x03, 0x02, 0x0A, 0x0B}));
    EXPECT_EQ(m_driver->GetNumberStandardErrors(), 0u);
}

TEST_F(ModbusTcpSlave, BrokenFramesAreCountedAndThrownAwayAndTheNextIsServed) {
    RawMaster master(m_nPort);
    ASSERT_TRUE(master.IsConnected());
    SetRegisters("HR:0", {0x0102});
    const Bytes request = Frame({0x03, 0x00, 0x00, 0x00, 0x01});
    const Bytes reply = Frame({0x03, 0x02, 0x01, 0x02});

    // A header that stops half-way: the slave waits for the rest, then
    // gives up on it as a time-out.
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
    SetRegisters("HR:1", {11});
    EXPECT_EQ(Printed(Mbpoll({"-r", "1"}).output), (std::map<int, int>{{1, 11}}));
    EXPECT_EQ(LogCount("master disconnected"), 1);
    SetRegisters("HR:1", {12});
    EXPECT_EQ(Printed(Mbpoll({"-r", "1"}).output), (std::map<int, int>{{1, 12}}));
    EXPECT_EQ(LogCount("master connected"), 2) << "each heard of before it was served";
}

TEST_F(ModbusTcpSlave, EachFrameIsOneLineOfTheCommsLogAndEachRequestOneBlock) {
    SetRegisters("HR:4", {0xBEEF});
    const DWORD dwBlocks = m_driver->GetBlockCount();
    ASSERT_EQ(Mbpoll({"-r", "4"}).nExitCode, 0);
    const std::vector<std::string> lines = CommsLog();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], ::testing::MatchesRegex("RX.. .. 00 00 00 06 01 03 00 04 00 01 "));
    EXPECT_THAT(lines[1], ::testing::MatchesRegex("TX.. .. 00 00 00 05 01 03 02 BE EF "));
    EXPECT_EQ(m_driver->GetTotalBytesIn(), 12u);
    EXPECT_EQ(m_driver->GetTotalBytesOut(), 11u);
    EXPECT_EQ(m_driver->GetBlockCount(), dwBlocks + 1);
}

TEST_F(ModbusTcpSlave, HostBlocksMustNameTheTable) {
    CByteArray data;
    EXPECT_EQ(Transfer("XX:1", 1, RW_READ, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("HR:9999", 2, RW_READ, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("HR:0", 0, RW_READ, data), SE_INVALID_BLOCK);
    data.Add(1);  // one byte is half a register
    EXPECT_EQ(Transfer("HR:0", 1, RW_WRITE, data), SE_INVALID_BLOCK);
    EXPECT_EQ(Transfer("CO:0", 1, RW_WRITE, data), SE_NO_ERROR);
}

TEST_F(ModbusTcpSlave, StartsOnceOnAPortTheHostChoseAndStopsWithAMasterConnected) {
    EXPECT_EQ(m_driver->StartProtocol(), SE_PROTOCOL_RESTART);
    const int nTaken = m_nPort;
    {
        // Another slave cannot listen on the same port.
        std::unique_ptr<CProtocol> other(m_library.CreateDriver());
        CStringList settings;
        settings.AddTail(CString("TCPIP.PortNumber=") + std::to_string(nTaken).c_str());
        ASSERT_TRUE(other->UpdateFromStringList(&settings));
        EXPECT_EQ(other->StartProtocol(), SE_TCPIP_SOCKET_ERROR);
        EXPECT_EQ(other->StopProtocol(), SE_PROTOCOL_NOT_STARTED);
    }
    RawMaster master(m_nPort);
    ASSERT_TRUE(LogSays("master connected", 1));
    EXPECT_EQ(m_driver->StopProtocol(), SE_NO_ERROR);
    EXPECT_TRUE(master.Receive(1).empty()) << "the master sees the connection close";
    EXPECT_FALSE(RawMaster(nTaken).IsConnected());

    // Started again on the port it had, which the host now names.
    ASSERT_EQ(Configure(nTaken), SE_NO_ERROR);
    EXPECT_EQ(m_nPort, nTaken);
    EXPECT_EQ(Mbpoll({"-r", "0"}).nExitCode, 0);
}

}  // namespace
