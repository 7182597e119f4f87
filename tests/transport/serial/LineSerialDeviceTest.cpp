// A serial device made of a line, on a scripted line: what the settings
// record reads back, which line errors ClearError reports, and which waits
// the time-out record asks for (no time passes on the fake; the waits it was
// asked for are its record of time).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kelvara/platform/FakeSerialDevice.h"
#include "kelvara/platform/SerialDevice.h"
#include "kelvara/platform/SystemError.h"

namespace {

using namespace kelvara::platform;
using Error = ErrorCategory;
using Bytes = std::vector<std::uint8_t>;

class SerialDeviceOnFakeLine : public ::testing::Test {
protected:
    SerialDeviceOnFakeLine() { Reopen(); }
    ~SerialDeviceOnFakeLine() override {
        comm.reset();
        SetSerialDeviceOpener(nullptr);
    }

    // A new device, untouched by the case before.
    void Reopen() {
        comm.reset();
        device = std::make_shared<FakeSerialDevice>();
        SetSerialDeviceOpener(device->Opener());
        comm = OpenSerialDevice("/dev/fake");
        ASSERT_TRUE(comm);
    }

    std::shared_ptr<FakeSerialDevice> device;
    std::unique_ptr<SerialDevice> comm;
};

std::string Text(const CommSettings& s) {
    std::ostringstream o;
    o << "rate " << s.dwBaudRate << ", binary " << s.bBinary << ", parity check " << s.bParity
      << ", CTS flow " << s.bOutxCtsFlow << ", DSR flow " << s.bOutxDsrFlow << ", DTR "
      << int(s.dtrControl) << ", RTS " << int(s.rtsControl) << ", XON/XOFF out " << s.bOutX
      << " in " << s.bInX << ", abort " << s.bAbortOnError << ", limits " << s.wXonLim << "/"
      << s.wXoffLim << ", bits " << int(s.byByteSize) << ", parity " << int(s.parity) << ", stop "
      << int(s.stopBits) << ", chars " << int(s.byXonChar) << "/" << int(s.byXoffChar);
    return o.str();
}

TEST_F(SerialDeviceOnFakeLine, SettingsReadBackAsTheLineRunsThem) {
    using enum CommStopBits;
    // Between them, every field off its default.
    const CommSettings kept[] = {
        {.dwBaudRate = 19200, .bParity = true, .bOutX = true, .parity = LineParity::Even},
        {.dwBaudRate = 110, .bInX = true, .bAbortOnError = true, .parity = LineParity::Space},
        {.dtrControl = DtrControl::Disable, .rtsControl = RtsControl::Disable, .wXonLim = 100},
        {.wXoffLim = 200, .byByteSize = 7, .byXonChar = 1, .byXoffChar = 2},
        {.byByteSize = 6, .stopBits = Two},
        {.byByteSize = 5, .stopBits = OneAndHalf},
        {.rtsControl = RtsControl::Toggle},
    };
    const CommSettings changed[][2] = {
        // What is set, what reads back.
        {{.byByteSize = 5, .stopBits = Two}, {.byByteSize = 5, .stopBits = OneAndHalf}},
        {{.stopBits = OneAndHalf}, {.stopBits = Two}},
        {{.bBinary = false, .bOutxDsrFlow = true}, {}},
        {{.dtrControl = DtrControl::Handshake}, {}},
        {{.rtsControl = RtsControl::Handshake},
         {.bOutxCtsFlow = true, .rtsControl = RtsControl::Handshake}},
        {{.bOutxCtsFlow = true}, {.bOutxCtsFlow = true, .rtsControl = RtsControl::Handshake}},
    };
    std::vector<std::pair<CommSettings, CommSettings>> cases;
    for (const CommSettings& s : kept) {
        cases.emplace_back(s, s);
    }
    for (const auto& c : changed) {
        cases.emplace_back(c[0], c[1]);
    }
    for (const bool bRs485 : {true, false}) {
        for (const auto& [set, expected] : cases) {
            SCOPED_TRACE(Text(set) + (bRs485 ? ", RS-485 mode" : ", no RS-485 mode"));
            Reopen();
            device->m_bHasRs485 = bRs485;
            ASSERT_TRUE(comm->SetSettings(set));
            CommSettings back{.dwBaudRate = 1};  // not what any case sets
            ASSERT_TRUE(comm->GetSettings(&back));
            EXPECT_EQ(Text(back), Text(expected));
        }
    }
}

TEST_F(SerialDeviceOnFakeLine, ClearErrorReportsEachLineErrorOnce) {
    struct Case {
        LineErrorCounts counts;  // frame, overrun, parity, break, buffer overrun
        std::uint32_t dwErrors;
    };
    const Case cases[] = {
        {{}, 0},
        {{1, 0, 0, 0, 0}, kErrorFrame},
        {{0, 1, 0, 0, 0}, kErrorOverrun},
        {{0, 0, 1, 0, 0}, kErrorRxParity},
        {{0, 0, 0, 1, 0}, kErrorBreak},
        {{0, 0, 0, 0, 1}, kErrorRxOver},
        {{2, 3, 4, 5, 6},
         kErrorFrame | kErrorOverrun | kErrorRxParity | kErrorBreak | kErrorRxOver},
    };
    ASSERT_TRUE(comm->SetTimeouts({.dwReadInterval = 0xFFFFFFFFu}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dwErrors);
        device->Receive({1});
        device->AddLineErrors(c.counts);
        std::uint8_t by = 0;
        std::uint32_t dwRead = 0;
        ASSERT_TRUE(comm->Read(&by, 1, &dwRead));
        EXPECT_EQ(dwRead, 1u);
        std::uint32_t dwErrors = 0xFFu;
        ASSERT_TRUE(comm->ClearError(&dwErrors));
        EXPECT_EQ(dwErrors, c.dwErrors);
        ASSERT_TRUE(comm->ClearError(&dwErrors));
        EXPECT_EQ(dwErrors, 0u) << "reported once";
    }
}

TEST_F(SerialDeviceOnFakeLine, ReadsWaitAsTheTimeoutRecordSays) {
    constexpr std::uint32_t kMax = 0xFFFFFFFFu;
    struct Case {
        CommTimeouts t;
        std::size_t nInput;  // bytes waiting when the read starts
        std::uint32_t dwCount;
        bool bOk;
        std::vector<int> waits;  // the waits that found no input
    };
    // Almost 50 days a byte: 4096 bytes would take 560,000 years, which no
    // clock counts in nanoseconds.
    const CommTimeouts beyondTheClock{0, 0xFFFFFFFEu, kMax};
    const Case cases[] = {
        {{.dwReadInterval = 100}, 2, 4, true, {100}},  // the interval runs after a byte
        {{.dwReadInterval = 100, .dwReadTotalConstant = 60000}, 2, 4, true, {100}},
        {{.dwReadInterval = 100, .dwReadTotalConstant = 60000}, 0, 4, true, {60000}},
        {{.dwReadTotalMultiplier = 10, .dwReadTotalConstant = 500}, 0, 4, true, {540}},
        {{.dwReadInterval = kMax}, 2, 4, true, {}},  // at once with what is there
        {{.dwReadInterval = kMax}, 0, 4, true, {}},
        {{kMax, kMax, 300}, 2, 4, true, {}},  // any byte ends it
        {{kMax, kMax, 300}, 0, 4, true, {300}},
        {beyondTheClock, 4096, 4096, true, {}},
        // A fake line cannot wait for ever, and says so.
        {beyondTheClock, 2, 4096, false, {INT_MAX}},
        {{}, 2, 4, false, {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        Reopen();
        ASSERT_TRUE(comm->SetTimeouts(c.t));
        Bytes data(c.nInput);
        std::iota(data.begin(), data.end(), std::uint8_t{1});
        device->Receive(data);
        Bytes in(c.dwCount);
        std::uint32_t dwRead = 0xFFFFu;
        EXPECT_EQ(comm->Read(in.data(), c.dwCount, &dwRead), c.bOk);
        if (!c.bOk) {
            EXPECT_EQ(LastErrorCategory(), Error::Invalid);
        }
        const std::uint32_t dwExpected = std::min<std::uint32_t>(c.dwCount, data.size());
        ASSERT_EQ(dwRead, dwExpected);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + dwExpected, in.begin()));
        ASSERT_EQ(device->m_readWaits.size(), c.waits.size());
        for (std::size_t i = 0; i < c.waits.size(); ++i) {
            // The clock runs while the read computes its wait.
            EXPECT_NEAR(device->m_readWaits[i], c.waits[i], 50);
        }
    }
}

TEST_F(SerialDeviceOnFakeLine, WriteTimeoutsBeyondTheClockAreNoLimit) {
    const Bytes data(4096, 0x5A);
    std::uint32_t dwWritten = 0;
    ASSERT_TRUE(comm->SetTimeouts(
        {.dwWriteTotalMultiplier = 0xFFFFFFFEu, .dwWriteTotalConstant = 0xFFFFFFFFu}));
    EXPECT_TRUE(comm->Write(data.data(), 4096, &dwWritten));
    EXPECT_EQ(dwWritten, 4096u) << "totals beyond the clock are no limit";
    EXPECT_EQ(device->m_sent, data);
}

}  // namespace
