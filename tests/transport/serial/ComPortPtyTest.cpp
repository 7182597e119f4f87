// CComPort on real pseudo-terminals, for what only a terminal shows: a
// device simulator (or socat as an outside peer) on the other end, real
// time-outs, the rates and settings a terminal keeps, and the faults of a
// real device: it vanishes, it is not a terminal, it is already taken.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "support/PtyPair.h"
#include "transport/serial/SerialTestSupport.h"

namespace {

using namespace std::chrono_literals;
using serialtest::Bytes;
using serialtest::Error;
using serialtest::Texts;
using Clock = std::chrono::steady_clock;

// A time-out ends no earlier than asked, and well before a hang would.
constexpr auto kSlack = 3s;

class Pty : public serialtest::PortTest {
protected:
    Pty() {
        if (!pty.IsOpen()) {
            ADD_FAILURE() << "no pseudo-terminal";
        }
        CComPort::MapDevice(serialtest::kPort, pty.SlavePath().c_str());
    }

    // Bytes from the device, once they wait for the port.
    bool Send(const Bytes& bytes) {
        return testsupport::WriteAll(pty.Master(), bytes) &&
               testsupport::WaitUntilQueued(pty.Slave(), static_cast<int>(bytes.size()), 5s);
    }

    // Requests of every byte value, each answered reversed by a device on
    // fdDevice: nothing on the way may translate, add or drop a byte.
    void ExpectExchanges(int fdDevice, int nRounds) {
        testsupport::DeviceSimulator device(fdDevice, 256, [](const Bytes& request) {
            return Bytes(request.rbegin(), request.rend());
        });
        Bytes all(256);
        std::iota(all.begin(), all.end(), BYTE{0});
        for (int i = 0; i < nRounds; ++i) {
            std::rotate(all.begin(), all.begin() + 1, all.end());
            CCombuf request = Buffer(all);
            CCombuf reply;
            ASSERT_EQ(com.Write(&request, &stats), 0u);
            ASSERT_EQ(com.Read(&reply, 256, &stats), 0u);
            ASSERT_EQ(Contents(reply), Bytes(all.rbegin(), all.rend()));
        }
        EXPECT_EQ(device.Requests(), nRounds);
        EXPECT_EQ(stats.GetTotalBytesOut(), 256u * static_cast<unsigned>(nRounds));
        EXPECT_EQ(stats.GetTotalBytesIn(), 256u * static_cast<unsigned>(nRounds));
    }

    testsupport::PtyPair pty;
    CComPort com = MakePort();
};

TEST_F(Pty, ExchangesEveryByteValueWithADevice) {
    ASSERT_TRUE(OpenAndInit(com));
    ExpectExchanges(pty.Master(), 20);
    EXPECT_EQ(com.Close(), 0u);
}

TEST_F(Pty, APartialReplyTimesOutWithItsBytesCountedAndTheWholeBufferLogged) {
    timing.m_dwTimeout = 150;
    ASSERT_TRUE(OpenAndInit(com));
    ASSERT_TRUE(Send({0x10, 0x20, 0x30, 0x40}));
    CCombuf reply;
    auto start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_GE(Clock::now() - start, 150ms);
    EXPECT_LT(Clock::now() - start, 150ms + kSlack);
    EXPECT_EQ(stats.GetTotalBytesIn(), 4u);
    EXPECT_EQ(CommsLog(), Texts{"RX10 20 30 40 00 00 00 00 00 00 "});
    // Silence: a time-out and no log line.
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_TRUE(CommsLog().empty());

    // A read of megabytes, unlogged: their hex would time the log.
    stats.ActivateCommsLog(false);
    ASSERT_TRUE(Send(Bytes(1000, 0x55)));
    start = Clock::now();
    EXPECT_EQ(com.Read(&reply, 8u * 1024u * 1024u, &stats), 2001u);
    EXPECT_LT(Clock::now() - start, 150ms + kSlack);
    EXPECT_EQ(stats.GetTotalBytesIn(), 1004u);
    EXPECT_EQ(reply.GetSize(), 8 * 1024 * 1024);
    EXPECT_EQ(com.Read(&reply, 0, &stats), 0u) << "nothing asked, nothing missing";
}

TEST_F(Pty, AWriteThatFindsNoRoomStopsAfterItsSecond) {
    ASSERT_TRUE(OpenAndInit(com));
    CCombuf big = Buffer(Bytes(1024 * 1024, 0xAA));
    const auto start = Clock::now();
    EXPECT_EQ(com.Write(&big, &stats), 0u);
    EXPECT_GE(Clock::now() - start, 1000ms);
    EXPECT_LT(Clock::now() - start, 1000ms + kSlack);
    EXPECT_GT(stats.GetTotalBytesOut(), 0u);
    EXPECT_LT(stats.GetTotalBytesOut(), 1024u * 1024u);
}

TEST_F(Pty, ADeviceThatVanishesMidReadFailsTheReadAtOnce) {
    timing.m_dwTimeout = 60000;
    ASSERT_TRUE(OpenAndInit(com));
    ASSERT_TRUE(Send({1, 2, 3}));
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
}

TEST_F(Pty, TheTerminalKeepsEveryRateAndReportsTheSettingsItDrops) {
    for (const DWORD dwRate : {14400u, 56000u, 128000u, 256000u, 110u, 115200u}) {
        SCOPED_TRACE(dwRate);
        port.m_dwBaudRate = dwRate;
        port.m_StopBits =
            dwRate == 56000u ? CPortProperties::STOPBITS_TWO : CPortProperties::STOPBITS_ONE;
        flow.m_bFlowControlEnabled = dwRate == 128000u;
        flow.m_RTSControl =
            dwRate == 128000u ? CFlowProperties::RTS_HANDSHAKE : CFlowProperties::RTS_ENABLE;
        ASSERT_TRUE(OpenAndInit(com));
        EXPECT_EQ(com.ConfirmPortSettings(), 1);
        com.Close();
    }
    EXPECT_TRUE(shown.empty());

    port.m_bParityEnabled = TRUE;
    port.m_Parity = CPortProperties::PARITY_EVEN;
    port.m_wDataBits = 7;
    flow.m_DTRControl = CFlowProperties::DTR_HANDSHAKE;
    ASSERT_TRUE(OpenAndInit(com));
    EXPECT_EQ(com.ConfirmPortSettings(), 0);
    EXPECT_EQ(shown, (Texts{
                         "Parity has changed from even to none",
                         "Data bits has changed from 7 to 8",
                         "DTR control setting has changed from handshake to enable",
                     }));
}

TEST_F(Pty, OpenFailsClearlyOnDevicesItCannotUse) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kelvara-serial-" + std::to_string(getpid()));
    std::ofstream(file) << "not a terminal";
    struct Case {
        WORD wPort;
        const char* pszDevice;  // null: the port's default
        Error error;
    };
    for (const Case c : {Case{serialtest::kPort, "", Error::NoDevice},
                         Case{serialtest::kPort, "/dev/null", Error::NotSupported},
                         Case{serialtest::kPort, file.c_str(), Error::NotSupported},
                         Case{serialtest::kPort, "/dev/kelvara-none", Error::NotFound},
                         Case{0, nullptr, Error::NoDevice}}) {
        SCOPED_TRACE(c.pszDevice ? c.pszDevice : "port 0");
        logged.clear();
        CComPort::MapDevice(c.wPort, c.pszDevice);
        port.m_wPortNumber = c.wPort;
        CComPort other = MakePort();
        EXPECT_EQ(other.Open(), 1100u);
        EXPECT_EQ(logged, SystemMessages({c.error}));
    }
    std::filesystem::remove(file);
}

// Whether the terminal is in exclusive mode; any descriptor of it can tell.
bool Exclusive(int fd) {
    int nExclusive = 0;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &nExclusive), 0);
    return nExclusive != 0;
}

// The pair keeps its own descriptor on the device, as a peer would, so the
// terminal outlives each port's descriptor.
TEST_F(Pty, ADeviceIsHeldExclusivelyExactlyAsLongAsAPortHasItOpenAndNoLonger) {
    ASSERT_FALSE(Exclusive(pty.Slave()));
    {
        CComPort first = MakePort();
        CComPort second = MakePort();
        ASSERT_EQ(first.Open(), 0u);
        EXPECT_TRUE(Exclusive(pty.Slave()));
        logged.clear();
        EXPECT_EQ(second.Open(), 1100u);
        EXPECT_EQ(logged, SystemMessages({Error::Busy}));
        EXPECT_TRUE(Exclusive(pty.Slave())) << "a refused opener leaves it to the holder";
        EXPECT_EQ(first.Close(), 0u);
        EXPECT_FALSE(Exclusive(pty.Slave()));
        ASSERT_EQ(second.Open(), 0u);
        EXPECT_TRUE(Exclusive(pty.Slave()));
        ASSERT_EQ(second.Open(), 0u) << "opening again releases the first device";
        EXPECT_TRUE(Exclusive(pty.Slave()));
    }  // second is destroyed without Close
    EXPECT_FALSE(Exclusive(pty.Slave()));

    // Exclusive mode that another holder set is left to it; it does not
    // keep root out.
    ASSERT_EQ(ioctl(pty.Slave(), TIOCEXCL), 0);
    logged.clear();
    EXPECT_EQ(com.Open(), geteuid() == 0 ? 0u : 1100u);
    // A terminal without modem lines cannot raise DTR.
    EXPECT_EQ(logged, SystemMessages({geteuid() == 0 ? Error::NotSupported : Error::Busy}));
    com.Close();
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
        ASSERT_EQ(com.Open(), 0u);
        ASSERT_TRUE(OpenAndInit(com)) << "opening again releases the first device";
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
    ASSERT_TRUE(OpenAndInit(com));
    ExpectExchanges(fd, 3);
    timing.m_dwTimeout = 100;
    CCombuf reply;
    EXPECT_EQ(com.Poll(&reply, 8, &stats, 100), 2001u) << "socat sends nothing of its own";
    com.Close();
    close(fd);
}

}  // namespace
