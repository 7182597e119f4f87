// A serial device made of a line, on a scripted line: time-out records at
// the edges of what they hold.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "kelvara/platform/FakeSerialDevice.h"
#include "kelvara/platform/SerialDevice.h"
#include "kelvara/platform/SystemError.h"

namespace {

using kelvara::platform::SerialDevice;
using Error = kelvara::platform::ErrorCategory;
using kelvara::platform::CommTimeouts;
using kelvara::platform::FakeSerialDevice;
using Bytes = std::vector<std::uint8_t>;

class SerialDeviceOnFakeLine : public ::testing::Test {
protected:
    SerialDeviceOnFakeLine() {
        kelvara::platform::SetSerialDeviceOpener(device->Opener());
        comm = kelvara::platform::OpenSerialDevice("/dev/fake");
    }
    ~SerialDeviceOnFakeLine() override {
        comm.reset();
        kelvara::platform::SetSerialDeviceOpener(nullptr);
    }

    std::shared_ptr<FakeSerialDevice> device = std::make_shared<FakeSerialDevice>();
    std::unique_ptr<SerialDevice> comm;
};

TEST_F(SerialDeviceOnFakeLine, TotalTimeoutsBeyondWhatTheClockCountsAreNoLimit) {
    ASSERT_TRUE(comm);
    // Almost 50 days a byte: 4096 bytes would take 560,000 years, which no
    // clock counts in nanoseconds.
    CommTimeouts t;
    t.dwReadTotalMultiplier = 0xFFFFFFFEu;
    t.dwReadTotalConstant = 0xFFFFFFFFu;
    t.dwWriteTotalMultiplier = 0xFFFFFFFEu;
    t.dwWriteTotalConstant = 0xFFFFFFFFu;
    ASSERT_TRUE(comm->SetTimeouts(t));

    const Bytes data(4096, 0x5A);
    device->Receive(data);
    Bytes in(4096);
    std::uint32_t dwRead = 0;
    EXPECT_TRUE(comm->Read(in.data(), 4096, &dwRead));
    EXPECT_EQ(dwRead, 4096u);
    EXPECT_EQ(in, data);

    std::uint32_t dwWritten = 0;
    EXPECT_TRUE(comm->Write(data.data(), 4096, &dwWritten));
    EXPECT_EQ(dwWritten, 4096u);
    EXPECT_EQ(device->m_sent, data);

    // Part of a reply: the port waits for the rest as long as a wait can
    // last. (A fake line cannot wait for ever, and says so.)
    device->Receive({1, 2});
    EXPECT_FALSE(comm->Read(in.data(), 4096, &dwRead));
    EXPECT_EQ(kelvara::platform::LastErrorCategory(), Error::Invalid);
    EXPECT_EQ(dwRead, 2u);
    EXPECT_EQ(device->m_readWaits, std::vector<int>{INT_MAX});
}

}  // namespace
