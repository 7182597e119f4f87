// CComPort on a scripted device: every failed call with its result code and
// logged system message, what reads and writes count and log, the control
// lines and RS-485 direction control.
#include <sstream>

#include "transport/serial/SerialTestSupport.h"

namespace {

using kelvara::platform::FakeSerialDevice;
using kelvara::platform::kLineDTR;
using kelvara::platform::kLineRTS;
using kelvara::platform::LineParity;
using serialtest::Bytes;
using serialtest::Error;
using serialtest::Texts;
using Call = FakeSerialDevice::Call;

using FakeLine = serialtest::FakePortTest;

// What is different about the device or the records.
enum Setup { kPlain, kNineDataBits, kRtsToggle, kLineInRs485, kNoModemLines, kFlowControl };
// The step that meets the failure; the steps before it went through.
enum Step { kOpen, kInit, kSetRts, kHangup, kWrite, kRead, kClose };

struct Failure {
    const char* name;
    Setup setup;
    Step step;
    Call call;
    Error error;  // None: nothing is made to fail
    DWORD dwResult;
    Error logged;  // None: no system message
};

constexpr Error kOther = Error::Other;
constexpr Error kNone = Error::None;
constexpr Error kNotSupported = Error::NotSupported;

const Failure kFailures[] = {
    {"OpenDevice", kPlain, kOpen, Call::Open, kOther, 1100, kOther},
    {"OpenQueueSizes", kPlain, kOpen, Call::SetQueueSizes, kOther, 1100, kOther},
    // Raising DTR is not part of the result.
    {"OpenNoModemLines", kNoModemLines, kOpen, Call::Open, kNone, 0, kNotSupported},
    {"InitSetSettings", kPlain, kInit, Call::SetAttributes, kOther, 1102, kOther},
    {"InitDtr", kPlain, kInit, Call::SetModemLines, kOther, 1102, kOther},
    {"InitNineDataBits", kNineDataBits, kInit, Call::Open, kNone, 1102, Error::Invalid},
    // Not a device without RS-485 mode, which falls back to raising RTS
    // around each write: the device failed.
    {"InitRs485On", kRtsToggle, kInit, Call::SetRs485, kOther, 1102, kOther},
    {"InitRs485Off", kLineInRs485, kInit, Call::SetRs485, kOther, 1102, kOther},
    {"InitNoModemLines", kNoModemLines, kInit, Call::Open, kNone, 0, kNone},
    {"InitTimeouts", kPlain, kInit, Call::SetTimeouts, kOther, 0, kNone},
    {"SetRtsReadSettings", kPlain, kSetRts, Call::GetAttributes, kOther, 1104, kOther},
    {"SetRts", kPlain, kSetRts, Call::SetModemLines, Error::Busy, 1104, Error::Busy},
    {"SetRtsNoModemLines", kNoModemLines, kSetRts, Call::Open, kNone, 1104, kNotSupported},
    {"HangupRts", kFlowControl, kHangup, Call::SetModemLines, kOther, 1103, kOther},
    {"HangupPurge", kFlowControl, kHangup, Call::Flush, kOther, 0, kNone},
    // Reads and writes log no system message.
    {"Write", kPlain, kWrite, Call::Write, kOther, 1105, kNone},
    {"WriteTimeouts", kPlain, kWrite, Call::GetTimeouts, kOther, 1105, kNone},
    {"Read", kPlain, kRead, Call::Read, kOther, 1106, kNone},
    {"ReadTimedOut", kPlain, kRead, Call::Read, Error::TimedOut, 2001, kNone},
    {"ReadWait", kPlain, kRead, Call::WaitReadable, kOther, 1106, kNone},
    {"ReadWaitTimedOut", kPlain, kRead, Call::WaitReadable, Error::TimedOut, 2001, kNone},
    {"ReadTimeouts", kPlain, kRead, Call::GetTimeouts, kOther, 1106, kNone},
    {"Close", kPlain, kClose, Call::Close, kOther, 1101, kOther},
    {"CloseDtr", kPlain, kClose, Call::SetModemLines, kOther, 0, kOther},
};

class FailedCall : public FakeLine, public ::testing::WithParamInterface<Failure> {
protected:
    DWORD Run(Step step) {
        CCombuf buffer = Buffer({1, 2, 3});
        const DWORD dwResults[] = {
            step == kOpen ? com.Open() : 0,
            step == kInit ? com.Init() : 0,
            step == kSetRts ? com.GetControlLineState(COMPORT_SET_RTS) : 0,
            step == kHangup ? com.Hangup() : 0,
            step == kWrite ? com.Write(&buffer, &stats) : 0,
            step == kRead ? com.Read(&buffer, 4, &stats) : 0,
            step == kClose ? com.Close() : 0,
        };
        return dwResults[step];
    }
};

TEST_P(FailedCall, GivesItsResultCodeAndLogsTheSystemReason) {
    const Failure& f = GetParam();
    device->m_bHasModemLines = f.setup != kNoModemLines;
    device->m_bRs485 = f.setup == kLineInRs485;
    port.m_wDataBits = f.setup == kNineDataBits ? 9 : 8;
    flow.m_RTSControl =
        f.setup == kRtsToggle ? CFlowProperties::RTS_TOGGLE : CFlowProperties::RTS_ENABLE;
    flow.m_bFlowControlEnabled = f.setup == kFlowControl;
    ASSERT_EQ(f.step > kOpen ? com.Open() : 0u, 0u);
    ASSERT_EQ(f.step > kInit ? com.Init() : 0u, 0u);
    logged.clear();
    if (f.error != kNone) {
        device->Fail(f.call, f.error);
    }
    device->Receive({1, 2});  // of the four a read asks for
    EXPECT_EQ(Run(f.step), f.dwResult);
    EXPECT_EQ(logged, f.logged == kNone ? Texts{} : SystemMessages({f.logged}));
    if (f.step == kClose) {
        EXPECT_FALSE(device->m_bOpen) << "let go of even when closing fails";
    }
    if (f.step == kOpen && f.dwResult != 0) {
        EXPECT_FALSE(com.IsConnected());
        EXPECT_EQ(Run(kWrite), 1107u);
        EXPECT_EQ(Run(kRead), 1107u);
        EXPECT_EQ(stats.GetTotalBytesOut() + stats.GetTotalBytesIn(), 0u);
        // A device that did open stays held until Close releases it.
        EXPECT_EQ(device->m_bOpen, f.call != Call::Open);
        com.Close();
        EXPECT_FALSE(device->m_bOpen);
    }
}

INSTANTIATE_TEST_SUITE_P(ComPort, FailedCall, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeLine, OpenTakesTheMappedDeviceAndCloseLetsGoOfIt) {
    ASSERT_EQ(com.Open(), 0u);
    EXPECT_TRUE(com.IsConnected());
    EXPECT_EQ(com.GetDevicePath(), CString("\\\\.\\COM5"));
    EXPECT_EQ(device->m_strOpenedDevice, "/dev/fake");
    EXPECT_EQ(device->m_dwEventMask, 1u);
    EXPECT_EQ(device->m_dwInputQueue, 400u);
    EXPECT_EQ(device->m_dwOutputQueue, 4096u);
    EXPECT_EQ(device->m_nModemLines, kLineDTR);
    EXPECT_EQ(com.Close(), 0u);
    EXPECT_FALSE(com.IsConnected());
    EXPECT_EQ(device->m_nModemLines, 0u);
    EXPECT_EQ(device->m_dwEventMask, 0u);
    EXPECT_FALSE(device->m_bOpen);
}

std::string Text(const kelvara::platform::LineAttributes& a) {
    std::ostringstream o;
    o << a.dwBaudRate << " baud, " << int(a.byDataBits) << " bits, parity " << int(a.parity)
      << (a.bCheckParity ? " checked" : "") << (a.bTwoStopBits ? ", two stop bits" : "")
      << (a.bHardwareFlow ? ", RTS/CTS" : "") << (a.bXonXoffOutput ? ", XON/XOFF out" : "")
      << (a.bXonXoffInput ? ", XON/XOFF in" : "") << ", chars " << int(a.byXonChar) << "/"
      << int(a.byXoffChar);
    return o.str();
}

TEST_F(FakeLine, InitAppliesTheRecordsAndTakesOddValuesAsTheirDefaults) {
    port.m_dwBaudRate = 128000;
    port.m_bParityEnabled = 3;  // only the lowest bit counts
    port.m_Parity = CPortProperties::PARITY_ODD;
    port.m_wDataBits = 7;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    flow.m_bFlowControlEnabled = TRUE;
    flow.m_RTSControl = CFlowProperties::RTS_HANDSHAKE;
    timing.m_dwTimeout = 750;
    ASSERT_EQ(com.Open(), 0u);
    device->m_events.clear();
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(Text(device->m_attributes), Text({.dwBaudRate = 128000,
                                                .byDataBits = 7,
                                                .parity = LineParity::Odd,
                                                .bCheckParity = true,
                                                .bTwoStopBits = true,
                                                .bHardwareFlow = true}));
    EXPECT_EQ(device->m_timeouts.dwReadTotalConstant, 750u);
    EXPECT_EQ(device->m_timeouts.dwWriteTotalConstant, 1000u);
    EXPECT_EQ(device->m_events, (Texts{"DTR+", "flush in", "flush out", "RTS+"}));

    port.m_dwBaudRate = 31250;
    port.m_Parity = static_cast<CPortProperties::PARITY_ENUM>(3);
    port.m_StopBits = static_cast<CPortProperties::STOPBITS_ENUM>(1);
    port.m_wDataBits = 264;
    flow.m_RTSControl = static_cast<CFlowProperties::RTS_ENUM>(9);
    flow.m_DTRControl = static_cast<CFlowProperties::DTR_ENUM>(9);
    flow.m_bFlowControlEnabled = FALSE;
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(Text(device->m_attributes), Text({.bCheckParity = true}));
    EXPECT_EQ(device->m_nModemLines, 0u) << "disable drops both lines";
}

TEST_F(FakeLine, ControlLineFunctionsAndHangupSetAndClearTheLines) {
    ASSERT_EQ(com.Open(), 0u);
    EXPECT_EQ(com.GetControlLineState(COMPORT_SET_RTS), 0u);
    EXPECT_EQ(device->m_nModemLines, kLineRTS | kLineDTR);
    EXPECT_EQ(com.GetControlLineState(COMPORT_CLEAR_DTR), 0u);
    EXPECT_EQ(device->m_nModemLines, kLineRTS);
    EXPECT_EQ(com.GetControlLineState(COMPORT_CLEAR_RTS), 0u);
    EXPECT_EQ(com.GetControlLineState(COMPORT_SET_DTR), 0u);
    EXPECT_EQ(device->m_nModemLines, kLineDTR);
    EXPECT_EQ(com.GetControlLineState(8), 0u) << "the system's set-break code";
    EXPECT_TRUE(device->m_bBreak);
    EXPECT_EQ(com.GetControlLineState(9), 0u);
    EXPECT_FALSE(device->m_bBreak);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(com.GetControlLineState(42), 1104u);
    EXPECT_EQ(logged, SystemMessages({Error::Invalid}));
    // Hangup drops RTS only with flow control.
    com.GetControlLineState(COMPORT_SET_RTS);
    EXPECT_EQ(com.Hangup(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, kLineRTS);
    flow.m_bFlowControlEnabled = TRUE;
    EXPECT_EQ(com.Hangup(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, 0u);
}

TEST_F(FakeLine, RtsToggleRaisesRtsOnlyWhileSending) {
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    CCombuf request = Buffer({1, 2, 3});
    // The kernel's RS-485 mode drives RTS where there is one.
    ASSERT_TRUE(OpenAndInit(com));
    EXPECT_TRUE(device->m_bRs485);
    device->m_events.clear();
    EXPECT_EQ(com.Write(&request, &stats), 0u);
    EXPECT_EQ(device->m_events, Texts{"write 3"});
    flow.m_RTSControl = CFlowProperties::RTS_ENABLE;
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_FALSE(device->m_bRs485);

    // Without it the port raises RTS around each write, and lets go of the
    // bus when a write fails too.
    device->m_bHasRs485 = false;
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, 0u) << "RTS rests low";
    device->m_events.clear();
    EXPECT_EQ(com.Write(&request, &stats), 0u);
    device->Fail(Call::Write, Error::Other);
    EXPECT_EQ(com.Write(&request, &stats), 1105u);
    EXPECT_EQ(device->m_events,
              (Texts{"RTS+", "write 3", "drain", "RTS-", "RTS+", "drain", "RTS-"}));
}

TEST_F(FakeLine, ReadsCountWhatCameAndLogTheWholeBufferAndClearDropsInput) {
    timing.m_dwTimeout = 300;
    ASSERT_TRUE(OpenAndInit(com));
    CCombuf reply = Buffer(Bytes(10, 9));
    device->Receive({1, 2, 3, 4});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 0u);
    device->Receive({5, 6, 7, 8});
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_EQ(reply.GetSize(), 10);
    EXPECT_EQ(stats.GetTotalBytesIn(), 8u);
    EXPECT_EQ(CommsLog(), (Texts{"RX01 02 03 04 ", "RX05 06 07 08 00 00 00 00 00 00 "}));
    EXPECT_EQ(device->m_readWaits, std::vector<int>{300});
    // Clear drops pending input.
    device->Receive({1, 2, 3});
    EXPECT_EQ(com.Clear(), 0u);
    EXPECT_EQ(com.Read(&reply, 1, &stats), 2001u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 8u);
}

TEST_F(FakeLine, ReadsThatFailKeepTheBytesThatCameAndReceiveErrorsAbortThem) {
    ASSERT_TRUE(OpenAndInit(com));
    CCombuf reply;
    device->Receive({1, 2});
    device->Fail(Call::WaitReadable, Error::Other, 1);  // the wait for the other two
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 2u);
    EXPECT_EQ(CommsLog(), Texts{"RX01 02 00 00 "});
    // A receive error during the read aborts it.
    device->Receive({3, 4});
    device->AddLineErrors({0, 0, 1, 0, 0});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 4u);
    // Error counts that cannot be read leave the read to its bytes; a device
    // that failed to answer is asked again.
    device->Fail(Call::GetErrorCounts, Error::Other, 0, -1);
    device->Receive({5, 6, 7, 8, 9});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 0u);
    device->Heal(Call::GetErrorCounts);
    device->Receive({10, 11});
    device->AddLineErrors({1, 0, 0, 0, 0});
    EXPECT_EQ(com.Read(&reply, 3, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 11u);
    EXPECT_EQ(com.Read(nullptr, 4, &stats), 1106u);
    EXPECT_EQ(com.Read(&reply, COMPORT_MAX_READ_COUNT + 1, &stats), 1106u);
    EXPECT_TRUE(logged.empty());
}

TEST_F(FakeLine, WritesCountTheBytesThatWent) {
    CCombuf request = Buffer({0xA1, 0xB2, 0xC3, 0xD4});
    ASSERT_TRUE(OpenAndInit(com));
    EXPECT_EQ(com.Write(&request, &stats), 0u);
    device->SetWriteRoom(3);
    EXPECT_EQ(com.Write(&request, &stats), 0u) << "the write time-out is not a failure";
    device->SetWriteRoom(-1);
    const int nClears = device->CallCount(Call::GetErrorCounts);
    device->Fail(Call::Write, Error::Other);
    EXPECT_EQ(com.Write(&request, &stats), 1105u);
    EXPECT_GT(device->CallCount(Call::GetErrorCounts), nClears) << "the line error is cleared";
    EXPECT_EQ(stats.GetTotalBytesOut(), 7u);
    EXPECT_EQ(CommsLog(), (Texts{"TXA1 B2 C3 D4 ", "TXA1 B2 C3 D4 "}));
    EXPECT_EQ(com.Write(nullptr, &stats), 1105u);
    EXPECT_TRUE(logged.empty());
}

// The port record alone opens the line; Init needs the flow record too.
TEST_F(FakeLine, APortWithoutItsRecordsFailsWithItsCodesAndLogsNothing) {
    CComPort none(nullptr, nullptr, nullptr, &protocol);
    EXPECT_EQ(none.Open(), 1100u);
    EXPECT_EQ(none.Init(), 1102u);
    EXPECT_EQ(device->CallCount(Call::Open), 0);
    CComPort portOnly(&port, nullptr, nullptr, &protocol);
    ASSERT_EQ(portOnly.Open(), 0u);
    EXPECT_EQ(portOnly.Init(), 1102u);
    EXPECT_EQ(device->CallCount(Call::SetAttributes), 0) << "the line is left as it was";
    EXPECT_EQ(none.ConfirmPortSettings() + portOnly.ConfirmPortSettings(), 0);
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(shown.empty());
}

}  // namespace
