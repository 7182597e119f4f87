// CComPort on real pseudo-terminals: a device simulator (or socat as an
// outside peer) on the other end, real time-outs, and the faults of a real
// device: it vanishes, it is not a terminal, it is already taken.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "support/PtyPair.h"
#include "transport/serial/SerialTestSupport.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Bytes;
using Clock = std::chrono::steady_clock;
using Error = kelvara::platform::ErrorCategory;

// A time-out ends no earlier than asked, and well before a hang would.
constexpr auto kSlack = 3s;

Bytes Reversed(const Bytes& request) {
    return Bytes(request.rbegin(), request.rend());
}

class Pty : public serialtest::PortTest {
protected:
    Pty() {
        if (!pty.IsOpen()) {
            ADD_FAILURE() << "no pseudo-terminal";
        }
        CComPort::MapDevice(serialtest::kPort, pty.SlavePath().c_str());
    }

    static Bytes Contents(const CCombuf& buffer) {
        return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
    }

    testsupport::PtyPair pty;
};

TEST_F(Pty, ExchangesRequestsAndRepliesWithADevice) {
    testsupport::DeviceSimulator device(pty.Master(), 4, Reversed);
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    for (int i = 0; i < 20; ++i) {
        CCombuf request = Buffer({1, 2, 3, static_cast<BYTE>(i)});
        CCombuf reply;
        ASSERT_EQ(com.Write(&request, &stats), 0u);
        ASSERT_EQ(com.Read(&reply, 4, &stats), 0u);
        EXPECT_EQ(Contents(reply), (Bytes{static_cast<BYTE>(i), 3, 2, 1}));
    }
    EXPECT_EQ(stats.GetTotalBytesOut(), 80u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 80u);
    EXPECT_EQ(com.Close(), 0u);
}

TEST_F(Pty, EveryByteValuePassesUnchangedBothWays) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    CCombuf out = Buffer(all);
    ASSERT_EQ(com.Write(&out, &stats), 0u);
    EXPECT_EQ(testsupport::ReadFor(pty.Master(), 256, 5s), all);
    ASSERT_TRUE(testsupport::WriteAll(pty.Master(), all));
    CCombuf in;
    ASSERT_EQ(com.Read(&in, 256, &stats), 0u);
    EXPECT_EQ(Contents(in), all);
    com.Close();
}

TEST_F(Pty, APartialReplyTimesOutWithItsBytesCountedAndTheWholeBufferLogged) {
    timing.m_dwTimeout = 150;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    ASSERT_TRUE(testsupport::WriteAll(pty.Master(), {0x10, 0x20, 0x30, 0x40}));
    ASSERT_TRUE(testsupport::WaitUntilQueued(pty.Slave(), 4, 5s));
    CCombuf reply;
    const auto start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 150ms);
    EXPECT_LT(elapsed, 150ms + kSlack);
    EXPECT_EQ(stats.GetTotalBytesIn(), 4u);
    EXPECT_EQ(CommsLog(), std::vector<std::string>{"RX10 20 30 40 00 00 00 00 00 00 "});

    // Silence: a time-out and no log line.
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 4u);
    EXPECT_TRUE(CommsLog().empty());
    com.Close();
}

TEST_F(Pty, PollReadsWithItsOwnTimeoutWhichThenStays) {
    timing.m_dwTimeout = 5000;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    CCombuf reply;
    auto start = Clock::now();
    EXPECT_EQ(com.Poll(&reply, 1, &stats, 60), 2001u);
    EXPECT_GE(Clock::now() - start, 60ms);
    EXPECT_LT(Clock::now() - start, 5000ms);
    start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 1, &stats), 2001u);
    EXPECT_LT(Clock::now() - start, 5000ms);
    com.Close();
}

TEST_F(Pty, AReadOfMegabytesEndsAtItsTimeout) {
    // Megabytes in hex would time the log, not the read.
    stats.ActivateCommsLog(false);
    timing.m_dwTimeout = 200;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    ASSERT_TRUE(testsupport::WriteAll(pty.Master(), Bytes(1000, 0x55)));
    ASSERT_TRUE(testsupport::WaitUntilQueued(pty.Slave(), 1000, 5s));
    CCombuf reply;
    const auto start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 8u * 1024u * 1024u, &stats), 2001u);
    EXPECT_LT(Clock::now() - start, 200ms + kSlack);
    EXPECT_EQ(stats.GetTotalBytesIn(), 1000u);
    EXPECT_EQ(reply.GetSize(), 8 * 1024 * 1024);
    EXPECT_EQ(com.Read(&reply, 0, &stats), 0u) << "nothing asked, nothing missing";
    com.Close();
}

TEST_F(Pty, AWriteThatFindsNoRoomStopsAfterItsSecond) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    CCombuf big = Buffer(Bytes(1024 * 1024, 0xAA));
    const auto start = Clock::now();
    EXPECT_EQ(com.Write(&big, &stats), 0u);
    EXPECT_GE(Clock::now() - start, 1000ms);
    EXPECT_LT(Clock::now() - start, 1000ms + kSlack);
    EXPECT_GT(stats.GetTotalBytesOut(), 0u);
    EXPECT_LT(stats.GetTotalBytesOut(), 1024u * 1024u);
    com.Close();
}

TEST_F(Pty, ADeviceThatVanishesMidReadFailsTheReadAtOnce) {
    timing.m_dwTimeout = 60000;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    ASSERT_TRUE(testsupport::WriteAll(pty.Master(), {1, 2, 3}));
    ASSERT_TRUE(testsupport::WaitUntilQueued(pty.Slave(), 3, 5s));
    // Once the port has taken the three bytes it waits for the rest.
    std::thread vanish([this] {
        testsupport::WaitUntilQueued(pty.Slave(), 0, 5s);
        pty.CloseMaster();
    });
    CCombuf reply;
    const auto start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 8, &stats), 1106u);
    vanish.join();
    EXPECT_LT(Clock::now() - start, kSlack);
    EXPECT_EQ(stats.GetTotalBytesIn(), 3u);
    CCombuf request = Buffer({1});
    EXPECT_EQ(com.Write(&request, &stats), 1105u);
    com.Close();
}

TEST_F(Pty, SettingsThePseudoTerminalKeepsReadBackAsConfigured) {
    for (const DWORD dwRate : {14400u, 56000u, 128000u, 256000u, 110u, 115200u}) {
        SCOPED_TRACE(dwRate);
        port.m_dwBaudRate = dwRate;
        port.m_StopBits =
            dwRate == 56000u ? CPortProperties::STOPBITS_TWO : CPortProperties::STOPBITS_ONE;
        flow.m_bFlowControlEnabled = dwRate == 128000u;
        flow.m_RTSControl =
            dwRate == 128000u ? CFlowProperties::RTS_HANDSHAKE : CFlowProperties::RTS_ENABLE;
        CComPort com = MakePort();
        ASSERT_EQ(com.Open(), 0u);
        ASSERT_EQ(com.Init(), 0u);
        EXPECT_EQ(com.ConfirmPortSettings(), 1);
        com.Close();
    }
    EXPECT_TRUE(shown.empty());
}

TEST_F(Pty, SettingsThePseudoTerminalDropsAreReported) {
    port.m_bParityEnabled = TRUE;
    port.m_Parity = CPortProperties::PARITY_EVEN;
    port.m_wDataBits = 7;
    flow.m_DTRControl = CFlowProperties::DTR_HANDSHAKE;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(com.ConfirmPortSettings(), 0);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "Parity has changed from even to none",
                         "Data bits has changed from 7 to 8",
                         "DTR control setting has changed from handshake to enable",
                     }));
    com.Close();
}

TEST_F(Pty, OpenFailsClearlyOnDevicesItCannotUse) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kelvara-serial-" + std::to_string(getpid()));
    std::ofstream(file) << "not a terminal";
    struct Case {
        const char* pszDevice;
        Error error;
    };
    for (const Case c :
         {Case{"", Error::NoDevice}, Case{"/dev/null", Error::NotSupported},
          Case{file.c_str(), Error::NotSupported}, Case{"/dev/kelvara-none", Error::NotFound}}) {
        SCOPED_TRACE(c.pszDevice);
        logged.clear();
        CComPort::MapDevice(serialtest::kPort, c.pszDevice);
        CComPort com = MakePort();
        EXPECT_EQ(com.Open(), 1100u);
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged.back(), SystemMessage(c.error));
    }
    std::filesystem::remove(file);
    port.m_wPortNumber = 0;
    logged.clear();
    CComPort unmapped = MakePort();
    EXPECT_EQ(unmapped.Open(), 1100u);
    EXPECT_EQ(logged, std::vector<std::string>{SystemMessage(Error::NoDevice)});
}

TEST_F(Pty, ADeviceIsOpenedByOnePortAtATime) {
    CComPort first = MakePort();
    CComPort second = MakePort();
    ASSERT_EQ(first.Open(), 0u);
    logged.clear();
    EXPECT_EQ(second.Open(), 1100u);
    EXPECT_EQ(logged.back(), SystemMessage(Error::Busy));
    EXPECT_EQ(first.Close(), 0u);
    EXPECT_EQ(second.Open(), 0u);
    second.Close();
}

// Whether the terminal is in exclusive mode; any descriptor of it can tell.
bool Exclusive(int fd) {
    int nExclusive = 0;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &nExclusive), 0);
    return nExclusive != 0;
}

// The pair keeps its own descriptor on the device, as a peer would, so the
// terminal outlives each port's descriptor.
TEST_F(Pty, ExclusiveModeLastsExactlyAsLongAsThePortHoldsTheDevice) {
    ASSERT_FALSE(Exclusive(pty.Slave()));
    {
        CComPort first = MakePort();
        CComPort second = MakePort();
        ASSERT_EQ(first.Open(), 0u);
        EXPECT_TRUE(Exclusive(pty.Slave()));
        EXPECT_EQ(second.Open(), 1100u);
        EXPECT_TRUE(Exclusive(pty.Slave())) << "a refused opener leaves it to the holder";
        EXPECT_EQ(first.Close(), 0u);
        EXPECT_FALSE(Exclusive(pty.Slave()));
        ASSERT_EQ(second.Open(), 0u);
        EXPECT_TRUE(Exclusive(pty.Slave()));
        ASSERT_EQ(second.Open(), 0u) << "opening again releases the first device";
        EXPECT_TRUE(Exclusive(pty.Slave()));
    }  // second is destroyed without Close
    EXPECT_FALSE(Exclusive(pty.Slave()));
}

TEST_F(Pty, ExclusiveModeThatAnotherHolderSetIsLeftToIt) {
    ASSERT_EQ(ioctl(pty.Slave(), TIOCEXCL), 0);
    CComPort com = MakePort();
    if (geteuid() == 0) {
        // Exclusive mode does not keep root out.
        ASSERT_EQ(com.Open(), 0u);
        EXPECT_EQ(com.Close(), 0u);
    } else {
        EXPECT_EQ(com.Open(), 1100u);
        EXPECT_EQ(logged.back(), SystemMessage(Error::Busy));
    }
    EXPECT_TRUE(Exclusive(pty.Slave()));
    ioctl(pty.Slave(), TIOCNXCL);
}

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

TEST_F(Pty, OpeningAndClosingManyTimesLeaksNoDescriptor) {
    timing.m_dwTimeout = 1;
    const std::size_t nBefore = OpenDescriptors();
    for (int i = 0; i < 300; ++i) {
        CComPort com = MakePort();
        ASSERT_EQ(com.Open(), 0u);
        ASSERT_EQ(com.Open(), 0u) << "opening again releases the first device";
        ASSERT_EQ(com.Init(), 0u);
        CCombuf reply;
        com.Read(&reply, 1, &stats);
        ASSERT_EQ(com.Close(), 0u);
        CComPort forgotten = MakePort();
        ASSERT_EQ(forgotten.Open(), 0u);  // destroyed without Close
    }
    EXPECT_EQ(OpenDescriptors(), nBefore);
}

TEST_F(Pty, ExchangesThroughSocatAsAnOutsidePeer) {
    testsupport::SocatPty socat;
    if (!socat.IsRunning()) {
        GTEST_SKIP() << "socat is not installed";
    }
    const int fd = open(socat.End(1).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    testsupport::MakeRaw(fd);
    CComPort::MapDevice(serialtest::kPort, socat.End(0).c_str());
    {
        testsupport::DeviceSimulator device(fd, 8, Reversed);
        CComPort com = MakePort();
        ASSERT_EQ(com.Open(), 0u);
        ASSERT_EQ(com.Init(), 0u);
        CCombuf request = Buffer({1, 2, 3, 4, 5, 6, 7, 8});
        CCombuf reply;
        ASSERT_EQ(com.Write(&request, &stats), 0u);
        EXPECT_EQ(com.Read(&reply, 8, &stats), 0u);
        EXPECT_EQ(Contents(reply), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
        timing.m_dwTimeout = 100;
        EXPECT_EQ(com.Poll(&reply, 8, &stats, 100), 2001u) << "socat sends nothing of its own";
        com.Close();
    }
    close(fd);
}

}  // namespace
