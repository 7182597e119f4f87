// The Modbus master plug-ins as a plant leaves them running: each attempt
// keeps its time-out, a reply after the deadline is no reply, a refusing
// device is not hammered with connects, a serial device that vanishes is
// reopened once it is back, timing changes apply at once, and the log holds
// only real failures, naming the port. Each figure measured is also recorded
// as a test property (--gtest_output=xml shows them).
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include "ModbusPdu.h"
#include "support/DriverPlugin.h"
#include "support/LibmodbusServer.h"
#include "support/PtyPair.h"
#include "support/Wait.h"

// Every connect this program makes to the watched TCP port is counted: the
// library's sockets call connect through the dynamic linker, which finds
// this definition first, so a refusing device's connect rate can be
// measured from the driver's side without privileges.
namespace {
std::atomic<int> g_nWatchedPort{-1};
std::atomic<int> g_nConnects{0};
}  // namespace

extern "C" int connect(int fd, const sockaddr* pAddress, socklen_t nLength) {
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    if (pAddress != nullptr && pAddress->sa_family == AF_INET &&
        ntohs(reinterpret_cast<const sockaddr_in*>(pAddress)->sin_port) == g_nWatchedPort) {
        ++g_nConnects;
    }
    return real(fd, pAddress, nLength);
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::Bytes;
using testsupport::LoadedDriver;

constexpr BYTE kUnit = 17;
constexpr WORD kVanishingPort = 63;
constexpr WORD kQuietPort = 64;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Record(const char* pszKey, long long nValue) {
    ::testing::Test::RecordProperty(pszKey, std::to_string(nValue));
}

// The log library's lines, from the moment it is made.
class LogCapture {
public:
    LogCapture() {
        QZSetLogSink([this](DWORD dwLevel, const char* pszText) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_lines.push_back({dwLevel, pszText});
        });
    }
    ~LogCapture() { QZSetLogSink(nullptr); }
    // The system-error lines (level 1).
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<std::string> errors;
        for (const auto& [dwLevel, text] : m_lines) {
            if (dwLevel == 1) {
                errors.push_back(text);
            }
        }
        return errors;
    }

private:
    std::mutex m_lock;
    std::vector<std::pair<DWORD, std::string>> m_lines;
};

void Start(LoadedDriver& driver, const std::map<std::string, std::string>& settings) {
    ASSERT_TRUE(driver.IsLoaded()) << driver.Error().GetString();
    ASSERT_TRUE(testsupport::Configure(*driver, settings));
    ASSERT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_NO_ERROR));
}

// One block "HR:0", 2 points: its result and how long it took.
struct Transfer {
    DWORD dwResult;
    long long nMs;
    std::vector<int> values;
};
Transfer ReadBlock(LoadedDriver& driver) {
    auto block = testsupport::MakeBlock(*driver, "HR:0", 2);
    const auto start = Clock::now();
    const DWORD dwResult = driver->TransferData(block.get());
    return {dwResult, MsSince(start), testsupport::Values(*block, 2)};
}

// Polls the block every 20 ms, as a host does, until one is good or the
// time is up; the time the good one finished, or nothing.
std::optional<long long> PollUntilGood(LoadedDriver& driver, Clock::time_point since,
                                       std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    while (Clock::now() < end) {
        if (ReadBlock(driver).dwResult == SE_NO_ERROR) {
            return MsSince(since);
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

// A reply to "read HR:0 and HR:1" with both set to the value.
Bytes RegisterReply(const Bytes& request, BYTE value) {
    CByteArray frame;
    modbus::AppendMbapHeader(frame, modbus::GetWord(request.data(), 0), request[6], 6);
    Bytes reply(frame.GetData(), frame.GetData() + frame.GetSize());
    for (BYTE b : Bytes{0x03, 0x04, 0x00, value, 0x00, value}) {
        reply.push_back(b);
    }
    return reply;
}

// A loopback listener on a free port; the kernel completes connections
// to it whether or not anyone accepts them.
class Listener {
public:
    Listener() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(m_fd, 4) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_nPort = ntohs(address.sin_port);
        }
    }
    ~Listener() { close(m_fd); }
    int Port() const { return m_nPort; }
    int Accept() const { return accept(m_fd, nullptr, nullptr); }

private:
    int m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_nPort = 0;
};

// A port that nothing listens on: connects to it are refused.
int RefusingPort() {
    return Listener().Port();
}

// Exactly n bytes, or what came before the peer closed or the time passed.
Bytes Receive(int fd, std::size_t n, std::chrono::milliseconds within) {
    Bytes bytes(n);
    std::size_t nGot = 0;
    const auto end = Clock::now() + within;
    while (nGot < n && Clock::now() < end) {
        pollfd entry{fd, POLLIN, 0};
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (poll(&entry, 1, static_cast<int>(nLeft.count()) + 1) != 1) {
            continue;
        }
        const ssize_t nRead = recv(fd, bytes.data() + nGot, n - nGot, 0);
        if (nRead <= 0) {
            break;
        }
        nGot += static_cast<std::size_t>(nRead);
    }
    bytes.resize(nGot);
    return bytes;
}

TEST(ModbusTcpMasterTiming, EachAttemptEndsAtItsTimeout) {
    // A device that reads and never answers, and a server that accepts
    // (the kernel's backlog does) but never reads.
    const struct {
        const char* pszWhat;
        bool bFrozen;
        int nTimeout;
        int nRetries;
    } cases[] = {
        {"a silent device", false, 300, 1},
        {"a frozen server", true, 300, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        testsupport::LibmodbusServer device;
        std::optional<Listener> frozen;
        int nPort = 0;
        if (c.bFrozen) {
            frozen.emplace();
            nPort = frozen->Port();
        } else {
            ASSERT_TRUE(device.Start());
            device.SetSilent(true);
            nPort = device.Port();
        }
        LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
        ASSERT_NO_FATAL_FAILURE(Start(driver, {{"TCPIP.PortNumber", std::to_string(nPort)},
                                               {"Modbus.Host", "127.0.0.1"},
                                               {"Timing.Timeout", std::to_string(c.nTimeout)},
                                               {"Timing.RetryCount", std::to_string(c.nRetries)},
                                               {"Modbus.NodeId", std::to_string(kUnit)}}));
        // The first block also waits for the connection; the second one
        // only for its replies.
        ReadBlock(driver);
        const Transfer t = ReadBlock(driver);
        const long long nExpected = static_cast<long long>(c.nTimeout) * (c.nRetries + 1);
        Record(c.bFrozen ? "frozen_block_ms" : "silent_block_ms", t.nMs);
        EXPECT_EQ(t.dwResult, static_cast<DWORD>(SE_TIMEOUT));
        EXPECT_GE(t.nMs, nExpected - 50);
        EXPECT_LT(t.nMs, nExpected + 1000);
    }
}

TEST(ModbusTcpMasterTiming, AReplyAfterTheDeadlineIsNoReplyAndIsSkippedWhenItComes) {
    // The first request is answered 800 ms late (values 1), the retry at
    // once (values 2); the late reply reaches the driver during the retry.
    Listener listener;
    ASSERT_GT(listener.Port(), 0);
    LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"TCPIP.PortNumber", std::to_string(listener.Port())},
                                           {"Modbus.Host", "127.0.0.1"},
                                           {"Timing.Timeout", "500"},
                                           {"Timing.RetryCount", "1"},
                                           {"Modbus.NodeId", std::to_string(kUnit)}}));
    std::optional<Transfer> result;
    std::thread host([&] { result = ReadBlock(driver); });
    const int device = listener.Accept();
    const Bytes first = Receive(device, 12, 5s);
    // The device's own delay, whatever the driver does meanwhile.
    std::this_thread::sleep_until(Clock::now() + 800ms);
    bool bRetried = false;
    if (first.size() == 12) {
        testsupport::WriteAll(device, RegisterReply(first, 1));
        const Bytes second = Receive(device, 12, 1500ms);
        bRetried = second.size() == 12;
        if (bRetried) {
            testsupport::WriteAll(device, RegisterReply(second, 2));
        }
    }
    host.join();
    close(device);
    ASSERT_TRUE(result.has_value());
    Record("late_reply_block_ms", result->nMs);
    EXPECT_TRUE(bRetried) << "the late reply was taken for the first attempt";
    EXPECT_EQ(result->dwResult, static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(result->values, (std::vector<int>{2, 2}));
    EXPECT_EQ(driver->GetNumberOfRetries(), 1u);
}

TEST(ModbusTcpMasterTiming, ARefusingDeviceGetsAFewConnectsASecondAndIsUsedOnceBack) {
    const int nPort = RefusingPort();
    g_nWatchedPort = nPort;
    g_nConnects = 0;
    LoadedDriver driver(KELVARA_MODBUS_TCP_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"TCPIP.PortNumber", std::to_string(nPort)},
                                           {"Modbus.Host", "127.0.0.1"},
                                           {"Timing.Timeout", "300"},
                                           {"Timing.RetryCount", "2"},
                                           {"Modbus.NodeId", std::to_string(kUnit)}}));
    const auto start = Clock::now();
    for (int i = 0; i < 100 && Clock::now() < start + 1500ms; ++i) {
        EXPECT_EQ(ReadBlock(driver).dwResult, static_cast<DWORD>(SE_TCPIP_NOT_CONNECTED));
        std::this_thread::sleep_for(20ms);
    }
    const long long nMs = MsSince(start);
    const long long nPerSecond = g_nConnects * 1000LL / std::max(nMs, 1LL);
    g_nWatchedPort = -1;
    Record("refused_connects_per_second", nPerSecond);
    EXPECT_LE(nPerSecond, 10);

    testsupport::LibmodbusServer device;
    ASSERT_TRUE(device.Start(nPort));
    const auto back = Clock::now();
    const std::optional<long long> nGood = PollUntilGood(driver, back, 3s);
    ASSERT_TRUE(nGood.has_value());
    Record("good_after_listening_ms", *nGood);
    EXPECT_LT(*nGood, 1500);
}

// A serial line whose device end the test can take away and bring back
// under the same path, as a USB adapter unplugged and plugged in again.
class VanishingLine {
public:
    explicit VanishingLine(testsupport::LibmodbusServer& device) : m_device(device) {}
    ~VanishingLine() { Remove(); }
    bool Plug() {
        m_line = std::make_unique<testsupport::SocatPty>();
        m_fd = m_line->IsRunning() ? open(m_line->End(1).c_str(), O_RDWR | O_NOCTTY) : -1;
        if (m_fd < 0) {
            return false;
        }
        testsupport::MakeRaw(m_fd);
        return m_device.StartRtu(m_fd, kUnit);
    }
    void Remove() {
        m_device.Stop();
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
        m_line.reset();
    }
    std::string DriverEnd() const { return m_line->End(0); }

private:
    testsupport::LibmodbusServer& m_device;
    std::unique_ptr<testsupport::SocatPty> m_line;
    int m_fd = -1;
};

TEST(ModbusRtuMasterLine, AVanishedDeviceIsReopenedOnceBackWithOneLogLinePerOutage) {
    testsupport::LibmodbusServer device;
    VanishingLine line(device);
    ASSERT_TRUE(line.Plug());
    CComPort::MapDevice(kVanishingPort, line.DriverEnd().c_str());
    LogCapture log;
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kVanishingPort)},
                                           {"Timing.Timeout", "300"},
                                           {"Timing.RetryCount", "2"},
                                           {"Modbus.NodeId", std::to_string(kUnit)}}));
    ASSERT_EQ(ReadBlock(driver).dwResult, static_cast<DWORD>(SE_NO_ERROR));

    for (int nOutage = 0; nOutage < 2; ++nOutage) {
        SCOPED_TRACE(nOutage);
        line.Remove();
        // Blocks fail while the device is away, each at once.
        const auto gone = Clock::now();
        long long nSlowest = 0;
        for (int i = 0; i < 100 && Clock::now() < gone + 1500ms; ++i) {
            const Transfer t = ReadBlock(driver);
            EXPECT_NE(t.dwResult, static_cast<DWORD>(SE_NO_ERROR));
            nSlowest = std::max(nSlowest, t.nMs);
            std::this_thread::sleep_for(20ms);
        }
        Record("slowest_block_while_away_ms", nSlowest);
        EXPECT_LT(nSlowest, 1300);

        ASSERT_TRUE(line.Plug());
        const auto back = Clock::now();
        const std::optional<long long> nGood = PollUntilGood(driver, back, 5s);
        ASSERT_TRUE(nGood.has_value()) << "never good again";
        Record("good_after_return_ms", *nGood);
        EXPECT_LT(*nGood, 2000);
    }
    const std::vector<std::string> errors = log.Errors();
    Record("system_error_lines", static_cast<long long>(errors.size()));
    EXPECT_EQ(errors.size(), 2u);
    for (const std::string& text : errors) {
        EXPECT_EQ(text.rfind("COM63 : ", 0), 0u) << text;
    }
    driver->StopProtocol();
    CComPort::MapDevice(kVanishingPort, nullptr);
}

TEST(ModbusRtuMasterLine, StartAndStopOnALineWithoutModemLinesLogNothing) {
    testsupport::PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    CComPort::MapDevice(kQuietPort, line.SlavePath().c_str());
    LogCapture log;
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kQuietPort)}}));
    EXPECT_EQ(driver->StopProtocol(), static_cast<DWORD>(SE_NO_ERROR));
    EXPECT_EQ(log.Errors(), std::vector<std::string>{});

    // A port without a device: one line, which says which port.
    CComPort::MapDevice(kQuietPort, "");
    EXPECT_EQ(driver->StartProtocol(), static_cast<DWORD>(SE_COM_OPEN_FAILED));
    const std::vector<std::string> errors = log.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("COM64 : ", 0), 0u) << errors[0];
    CComPort::MapDevice(kQuietPort, nullptr);
}

TEST(ModbusRtuMasterLine, ATimeoutChangedWhileRunningAppliesToTheNextBlock) {
    testsupport::PtyPair line;  // a device that never answers
    ASSERT_TRUE(line.IsOpen());
    CComPort::MapDevice(kQuietPort, line.SlavePath().c_str());
    LoadedDriver driver(KELVARA_MODBUS_RTU_MASTER);
    ASSERT_NO_FATAL_FAILURE(Start(driver, {{"Port.PortNumber", std::to_string(kQuietPort)},
                                           {"Timing.Timeout", "2000"},
                                           {"Timing.RetryCount", "0"}}));
    ASSERT_TRUE(testsupport::Configure(*driver, {{"Timing.Timeout", "200"}}));
    const Transfer t = ReadBlock(driver);
    Record("block_after_change_ms", t.nMs);
    EXPECT_EQ(t.dwResult, static_cast<DWORD>(SE_TIMEOUT));
    EXPECT_GE(t.nMs, 150);
    EXPECT_LT(t.nMs, 1200);
    driver->StopProtocol();
    CComPort::MapDevice(kQuietPort, nullptr);
}

}  // namespace
