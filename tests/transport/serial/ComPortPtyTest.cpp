// CComPort on real pseudo-terminals, for what only a terminal shows: a
// device simulator on the other end, real time-outs, the rates and settings
// a terminal keeps, and the faults of a real device: it vanishes, it is not
// a terminal, it is already taken.
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

    testsupport::PtyPair pty;
    CComPort com = MakePort();
};

// Requests of every byte value, each answered reversed: nothing on the way
// may translate, add or drop a byte.
TEST_F(Pty, ExchangesEveryByteValueWithADevice) {
    ASSERT_TRUE(OpenAndInit(com));
    testsupport::DeviceSimulator device(pty.Master(), 256, [](const Bytes& request) {
        return Bytes(request.rbegin(), request.rend());
    });
    Bytes all(256);
    std::iota(all.begin(), all.end(), BYTE{0});
    for (int i = 0; i < 20; ++i) {
        std::rotate(all.begin(), all.begin() + 1, all.end());
        CCombuf request = Buffer(all);
        CCombuf reply;
        ASSERT_EQ(com.Write(&request, &stats), 0u);
        ASSERT_EQ(com.Read(&reply, 256, &stats), 0u);
        ASSERT_EQ(Contents(reply), Bytes(all.rbegin(), all.rend()));
    }
    EXPECT_EQ(device.Requests(), 20);
    EXPECT_EQ(stats.GetTotalBytesOut() + stats.GetTotalBytesIn(), 2u * 20u * 256u);
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

TEST_F(Pty, TheTerminalKeepsEveryRate) {
    for (const DWORD dwRate : {14400u, 56000u, 128000u, 256000u, 110u, 115200u}) {
        port.m_dwBaudRate = dwRate;
        ASSERT_TRUE(OpenAndInit(com));
        EXPECT_EQ(com.ConfirmPortSettings(), 1) << dwRate;
        com.Close();
    }
    EXPECT_TRUE(shown.empty());
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

std::size_t OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// The pair keeps its own descriptor on the device, as a peer would, so the
// terminal outlives each port's descriptor. A refused opener holds no lock,
// so only the count of descriptors shows it kept one.
TEST_F(Pty, ADeviceIsHeldExclusivelyExactlyAsLongAsAPortHasItOpenAndNoLonger) {
    ASSERT_FALSE(Exclusive(pty.Slave()));
    const std::size_t nBefore = OpenDescriptors();
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
    EXPECT_EQ(OpenDescriptors(), nBefore);
}

}  // namespace
