// CComPort on a scripted device: every failure path with its result code and
// logged system message, the control lines and RS-485 direction control.
#include <memory>

#include "kelvara/platform/FakeSerialDevice.h"
#include "transport/serial/SerialTestSupport.h"

namespace {

using kelvara::platform::FakeSerialDevice;
using kelvara::platform::kLineDTR;
using kelvara::platform::kLineRTS;
using kelvara::platform::LineParity;
using Call = FakeSerialDevice::Call;
using Error = kelvara::platform::ErrorCategory;
using Events = std::vector<std::string>;

class FakeLine : public serialtest::PortTest {
protected:
    FakeLine() {
        kelvara::platform::SetSerialDeviceOpener(device->Opener());
        CComPort::MapDevice(serialtest::kPort, "/dev/fake");
    }
    ~FakeLine() override { kelvara::platform::SetSerialDeviceOpener(nullptr); }

    std::shared_ptr<FakeSerialDevice> device = std::make_shared<FakeSerialDevice>();
};

TEST_F(FakeLine, OpenTakesTheMappedDeviceAndRaisesDtr) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    EXPECT_TRUE(com.IsConnected());
    EXPECT_EQ(com.GetDevicePath(), CString("\\\\.\\COM5"));
    EXPECT_EQ(device->m_strOpenedDevice, "/dev/fake");
    EXPECT_EQ(device->m_dwEventMask, 1u);
    EXPECT_EQ(device->m_dwInputQueue, 400u);
    EXPECT_EQ(device->m_dwOutputQueue, 4096u);
    EXPECT_EQ(device->m_nModemLines, kLineDTR);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(com.Close(), 0u);
}

TEST_F(FakeLine, EachFailedOpenStepGives1100WithTheSystemReason) {
    for (const Call call : {Call::Open, Call::SetEventMask, Call::SetQueueSizes}) {
        SCOPED_TRACE(static_cast<int>(call));
        logged.clear();
        device->Fail(call, Error::Other);
        CComPort com = MakePort();
        EXPECT_EQ(com.Open(), 1100u);
        EXPECT_FALSE(com.IsConnected());
        EXPECT_EQ(logged, Events{SystemMessage(Error::Other)});
        CCombuf buffer = Buffer({1, 2});
        EXPECT_EQ(com.Write(&buffer, &stats), 1107u);
        EXPECT_EQ(com.Read(&buffer, 2, &stats), 1107u);
        // A device that did open stays held until Close releases it.
        EXPECT_EQ(device->m_bOpen, call != Call::Open);
        com.Close();
        EXPECT_FALSE(device->m_bOpen);
    }
    EXPECT_EQ(stats.GetTotalBytesOut(), 0u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 0u);
}

TEST_F(FakeLine, InitAppliesTheRecordsAndRaisesRtsForFlowControl) {
    port.m_dwBaudRate = 128000;
    port.m_bParityEnabled = 3;  // only the lowest bit counts
    port.m_Parity = CPortProperties::PARITY_ODD;
    port.m_wDataBits = 7;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    flow.m_bFlowControlEnabled = TRUE;
    flow.m_RTSControl = CFlowProperties::RTS_HANDSHAKE;
    timing.m_dwTimeout = 750;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    device->m_events.clear();
    ASSERT_EQ(com.Init(), 0u);

    const auto& a = device->m_attributes;
    EXPECT_EQ(a.dwBaudRate, 128000u);
    EXPECT_TRUE(a.bCheckParity);
    EXPECT_EQ(a.parity, LineParity::Odd);
    EXPECT_EQ(a.byDataBits, 7);
    EXPECT_TRUE(a.bTwoStopBits);
    EXPECT_TRUE(a.bHardwareFlow);
    EXPECT_FALSE(a.bXonXoffInput || a.bXonXoffOutput);
    EXPECT_EQ(device->m_timeouts.dwReadTotalConstant, 750u);
    EXPECT_EQ(device->m_timeouts.dwWriteTotalConstant, 1000u);
    EXPECT_EQ(device->m_events, (Events{"DTR+", "flush in", "flush out", "RTS+"}));
    com.Close();
}

TEST_F(FakeLine, InitTakesOddRecordValuesAsTheirDefaults) {
    port.m_dwBaudRate = 31250;
    port.m_Parity = static_cast<CPortProperties::PARITY_ENUM>(3);
    port.m_StopBits = static_cast<CPortProperties::STOPBITS_ENUM>(1);
    port.m_wDataBits = 264;
    flow.m_RTSControl = static_cast<CFlowProperties::RTS_ENUM>(9);
    flow.m_DTRControl = static_cast<CFlowProperties::DTR_ENUM>(9);
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(device->m_attributes.dwBaudRate, 9600u);
    EXPECT_EQ(device->m_attributes.parity, LineParity::None);
    EXPECT_FALSE(device->m_attributes.bTwoStopBits);
    EXPECT_EQ(device->m_attributes.byDataBits, 8);
    EXPECT_EQ(device->m_nModemLines, 0u) << "disable drops both lines";
    com.Close();
}

TEST_F(FakeLine, InitFailuresGive1102WithTheSystemReason) {
    struct Case {
        Call call;
        Error error;
    };
    for (const Case c :
         {Case{Call::GetAttributes, Error::Other}, Case{Call::SetAttributes, Error::Other},
          Case{Call::SetModemLines, Error::Other}}) {
        SCOPED_TRACE(static_cast<int>(c.call));
        CComPort com = MakePort();
        ASSERT_EQ(com.Open(), 0u);
        logged.clear();
        device->Fail(c.call, c.error);
        EXPECT_EQ(com.Init(), 1102u);
        EXPECT_EQ(logged, Events{SystemMessage(c.error)});
        com.Close();
    }
    // Nine data bits are more than a line carries.
    port.m_wDataBits = 9;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    logged.clear();
    EXPECT_EQ(com.Init(), 1102u);
    EXPECT_EQ(logged, Events{SystemMessage(Error::Invalid)});
    com.Close();
}

TEST_F(FakeLine, Rs485ModeThatFailsForRealGives1102WithTheSystemReason) {
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    logged.clear();
    // Not a device without RS-485 mode, which would fall back to raising
    // RTS around each write: the device failed.
    device->Fail(Call::SetRs485, Error::Other);
    EXPECT_EQ(com.Init(), 1102u);
    EXPECT_FALSE(device->m_bRs485);
    EXPECT_EQ(logged, Events{SystemMessage(Error::Other)});

    // Leaving RS-485 mode for another RTS control fails the same way.
    ASSERT_EQ(com.Init(), 0u);
    ASSERT_TRUE(device->m_bRs485);
    flow.m_RTSControl = CFlowProperties::RTS_ENABLE;
    logged.clear();
    device->Fail(Call::SetRs485, Error::Other);
    EXPECT_EQ(com.Init(), 1102u);
    EXPECT_TRUE(device->m_bRs485);
    EXPECT_EQ(logged, Events{SystemMessage(Error::Other)});
    com.Close();
}

TEST_F(FakeLine, ALineWithoutModemLinesTakesTheSettingsButNotTheLineFunctions) {
    device->m_bHasModemLines = false;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u) << "raising DTR is not part of the result";
    EXPECT_EQ(logged, Events{SystemMessage(Error::NotSupported)});
    EXPECT_EQ(com.Init(), 0u);
    EXPECT_EQ(com.GetControlLineState(COMPORT_SET_RTS), 1104u);
    com.Close();
}

TEST_F(FakeLine, ControlLineFunctionsSetAndClearRtsAndDtr) {
    CComPort com = MakePort();
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
    device->Fail(Call::GetAttributes, Error::Other);
    EXPECT_EQ(com.GetControlLineState(COMPORT_SET_RTS), 1104u);
    device->Fail(Call::SetModemLines, Error::Busy);
    EXPECT_EQ(com.GetControlLineState(COMPORT_SET_RTS), 1104u);
    EXPECT_EQ(logged, (Events{SystemMessage(Error::Invalid), SystemMessage(Error::Other),
                              SystemMessage(Error::Busy)}));
    EXPECT_EQ(device->m_nModemLines, kLineDTR);
    com.Close();
}

TEST_F(FakeLine, HangupDropsRtsOnlyWithFlowControl) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    com.GetControlLineState(COMPORT_SET_RTS);
    EXPECT_EQ(com.Hangup(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, kLineRTS);

    flow.m_bFlowControlEnabled = TRUE;
    EXPECT_EQ(com.Hangup(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, 0u);
    device->Fail(Call::SetModemLines, Error::Other);
    EXPECT_EQ(com.Hangup(), 1103u);
    EXPECT_EQ(logged, Events{SystemMessage(Error::Other)});
    com.Close();
}

TEST_F(FakeLine, RtsToggleUsesTheKernelsRs485ModeWhereThereIsOne) {
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_TRUE(device->m_bRs485);
    device->m_events.clear();
    CCombuf request = Buffer({1, 2, 3});
    EXPECT_EQ(com.Write(&request, &stats), 0u);
    EXPECT_EQ(device->m_events, Events{"write 3"}) << "the kernel drives RTS";

    flow.m_RTSControl = CFlowProperties::RTS_ENABLE;
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_FALSE(device->m_bRs485);
    com.Close();
}

TEST_F(FakeLine, RtsToggleWithoutRs485RaisesRtsAroundEachWrite) {
    device->m_bHasRs485 = false;
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    EXPECT_EQ(device->m_nModemLines & kLineRTS, 0u) << "RTS rests low";
    device->m_events.clear();
    CCombuf request = Buffer({1, 2, 3});
    EXPECT_EQ(com.Write(&request, &stats), 0u);
    EXPECT_EQ(device->m_events, (Events{"RTS+", "write 3", "drain", "RTS-"}));

    // A failed write still lets go of the bus.
    device->m_events.clear();
    device->Fail(Call::Write, Error::Other);
    EXPECT_EQ(com.Write(&request, &stats), 1105u);
    EXPECT_EQ(device->m_events, (Events{"RTS+", "drain", "RTS-"}));
    com.Close();
}

TEST_F(FakeLine, ReadCountsWhatCameAndLogsTheWholeBuffer) {
    timing.m_dwTimeout = 300;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    CCombuf reply = Buffer({9, 9, 9, 9, 9, 9, 9, 9, 9, 9});

    device->Receive({1, 2, 3, 4});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 0u);
    device->Receive({5, 6, 7, 8});
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_EQ(reply.GetSize(), 10);
    EXPECT_EQ(com.Read(&reply, 10, &stats), 2001u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 8u);
    EXPECT_EQ(CommsLog(), (Events{"RX01 02 03 04 ", "RX05 06 07 08 00 00 00 00 00 00 "}));
    EXPECT_EQ(device->m_readWaits, (std::vector<int>{300, 300}));
    EXPECT_TRUE(logged.empty()) << "reads log no system message";
    com.Close();
}

TEST_F(FakeLine, ReadFailuresGiveTheirCodes) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    CCombuf reply;

    device->Receive({7});
    device->Fail(Call::Read, Error::TimedOut);
    EXPECT_EQ(com.Read(&reply, 4, &stats), 2001u);
    device->Fail(Call::Read, Error::Other);
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(device->CallCount(Call::Read), 2);
    com.Clear();
    // A receive error during the read aborts it, keeping the bytes counted.
    device->Receive({1, 2});
    device->AddLineErrors({0, 0, 1, 0, 0});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 2u);
    // The device goes away after part of the reply.
    device->Receive({3});
    device->Vanish();
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 3u);
    EXPECT_EQ(com.Read(nullptr, 4, &stats), 1106u);
    EXPECT_EQ(com.Read(&reply, COMPORT_MAX_READ_COUNT + 1, &stats), 1106u);
    EXPECT_TRUE(logged.empty());
    com.Close();
}

TEST_F(FakeLine, AFailedWaitForInputEndsTheReadWithTheBytesThatCame) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    CCombuf reply;
    device->Receive({1, 2});
    device->Fail(Call::WaitReadable, Error::Other, 1);  // the wait for the other two
    EXPECT_EQ(com.Read(&reply, 4, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 2u);
    EXPECT_EQ(CommsLog(), Events{"RX01 02 00 00 "});
    // A wait that the system ends as timed out is a time-out.
    device->Fail(Call::WaitReadable, Error::TimedOut);
    EXPECT_EQ(com.Read(&reply, 4, &stats), 2001u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 2u);
    EXPECT_TRUE(logged.empty()) << "reads log no system message";
    com.Close();
}

TEST_F(FakeLine, ErrorCountsThatCannotBeReadLeaveTheReadToItsBytes) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);  // aborts on receive errors
    CCombuf reply;
    device->Fail(Call::GetErrorCounts, Error::Other, 0, -1);
    device->Receive({1, 2, 3, 4, 5});
    EXPECT_EQ(com.Read(&reply, 4, &stats), 0u);
    EXPECT_EQ(com.Read(&reply, 4, &stats), 2001u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 5u);
    EXPECT_GE(device->CallCount(Call::GetErrorCounts), 4) << "asked on every read";
    EXPECT_TRUE(logged.empty());

    // A device that failed to answer still counts: once it answers again,
    // a receive error aborts the read.
    device->Heal(Call::GetErrorCounts);
    device->Receive({6, 7});
    device->AddLineErrors({1, 0, 0, 0, 0});
    EXPECT_EQ(com.Read(&reply, 2, &stats), 1106u);
    EXPECT_EQ(stats.GetTotalBytesIn(), 7u);

    // A device without counters is not asked again, and its errors go
    // unnoticed.
    device->Fail(Call::GetErrorCounts, Error::NotSupported);
    device->Receive({8});
    EXPECT_EQ(com.Read(&reply, 1, &stats), 0u);
    const int nAsked = device->CallCount(Call::GetErrorCounts);
    device->Receive({9});
    device->AddLineErrors({0, 0, 1, 0, 0});
    EXPECT_EQ(com.Read(&reply, 1, &stats), 0u);
    EXPECT_EQ(device->CallCount(Call::GetErrorCounts), nAsked);
    EXPECT_TRUE(logged.empty());
    com.Close();
}

TEST_F(FakeLine, PollChangesTheTimeoutOnlyWhenItDiffers) {
    timing.m_dwTimeout = 500;
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    const int nSets = device->CallCount(Call::SetTimeouts);
    CCombuf reply;
    EXPECT_EQ(com.Poll(&reply, 2, &stats, 500), 2001u);
    EXPECT_EQ(device->CallCount(Call::SetTimeouts), nSets);
    EXPECT_EQ(com.Poll(&reply, 2, &stats, 40), 2001u);
    EXPECT_EQ(device->CallCount(Call::SetTimeouts), nSets + 1);
    EXPECT_EQ(com.Read(&reply, 2, &stats), 2001u) << "the new time-out stays";
    EXPECT_EQ(device->m_readWaits, (std::vector<int>{500, 40, 40}));
    EXPECT_EQ(device->m_timeouts.dwWriteTotalConstant, 1000u);
    com.Close();
}

TEST_F(FakeLine, WriteCountsTheBytesThatWent) {
    CComPort com = MakePort();
    CCombuf request = Buffer({0xA1, 0xB2, 0xC3, 0xD4});
    EXPECT_EQ(com.Write(&request, &stats), 1107u) << "never opened";
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);

    EXPECT_EQ(com.Write(&request, &stats), 0u);
    device->SetWriteRoom(3);
    EXPECT_EQ(com.Write(&request, &stats), 0u) << "the write time-out is not a failure";
    device->SetWriteRoom(-1);
    const int nClears = device->CallCount(Call::GetErrorCounts);
    device->Fail(Call::Write, Error::Other);
    EXPECT_EQ(com.Write(&request, &stats), 1105u);
    EXPECT_GT(device->CallCount(Call::GetErrorCounts), nClears) << "the line error is cleared";

    EXPECT_EQ(stats.GetTotalBytesOut(), 7u);
    EXPECT_EQ(CommsLog(), (Events{"TXA1 B2 C3 D4 ", "TXA1 B2 C3 D4 "}));
    EXPECT_TRUE(logged.empty());
    com.Close();
}

TEST_F(FakeLine, ClearPurgesAndNeverFails) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    ASSERT_EQ(com.Init(), 0u);
    device->Receive({1, 2, 3});
    device->Fail(Call::GetErrorCounts, Error::Other);
    EXPECT_EQ(com.Clear(), 0u);
    CCombuf reply;
    EXPECT_EQ(com.Read(&reply, 1, &stats), 2001u) << "pending input is gone";
    device->Fail(Call::Flush, Error::Other);
    EXPECT_EQ(com.Clear(), 0u);
    com.Close();
}

TEST_F(FakeLine, CloseDropsDtrAndReleasesTheDeviceEvenWhenItFails) {
    CComPort com = MakePort();
    ASSERT_EQ(com.Open(), 0u);
    EXPECT_EQ(com.Close(), 0u);
    EXPECT_FALSE(com.IsConnected());
    EXPECT_EQ(device->m_nModemLines, 0u);
    EXPECT_EQ(device->m_dwEventMask, 0u);
    EXPECT_FALSE(device->m_bOpen);

    ASSERT_EQ(com.Open(), 0u);
    device->Fail(Call::Close, Error::Other);
    EXPECT_EQ(com.Close(), 1101u);
    EXPECT_EQ(logged, Events{SystemMessage(Error::Other)});
    EXPECT_FALSE(device->m_bOpen);
    EXPECT_EQ(com.Open(), 0u) << "nothing is left holding the device";
    com.Close();
}

TEST_F(FakeLine, APortWithoutItsRecordsFailsWithItsCodesAndLogsNothing) {
    CComPort none(nullptr, nullptr, nullptr, &protocol);
    EXPECT_EQ(none.GetPortNumber(), 0);
    EXPECT_EQ(none.Open(), 1100u);
    EXPECT_EQ(device->CallCount(Call::Open), 0);
    EXPECT_FALSE(none.IsConnected());
    EXPECT_EQ(none.Init(), 1102u);
    EXPECT_EQ(none.Hangup(), 0u);
    EXPECT_EQ(none.ConfirmPortSettings(), 0);
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(shown.empty());

    // The port record alone opens the line; Init and the confirmation need
    // the flow record too, and Hangup has no flow control to undo.
    port.m_dwBaudRate = 19200;
    CComPort portOnly(&port, nullptr, nullptr, &protocol);
    EXPECT_EQ(portOnly.GetPortNumber(), serialtest::kPort);
    ASSERT_EQ(portOnly.Open(), 0u);
    ASSERT_EQ(portOnly.GetControlLineState(COMPORT_SET_RTS), 0u);
    EXPECT_EQ(portOnly.Init(), 1102u);
    EXPECT_EQ(device->CallCount(Call::SetAttributes), 0) << "the line is left as it was";
    EXPECT_EQ(device->CallCount(Call::SetTimeouts), 0);
    device->m_events.clear();
    EXPECT_EQ(portOnly.Hangup(), 0u);
    EXPECT_EQ(device->m_events, (Events{"flush in", "flush out"})) << "RTS stays up";
    EXPECT_EQ(portOnly.ConfirmPortSettings(), 0);
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(portOnly.Close(), 0u);

    // Without the timing record Init applies the line settings and leaves
    // the time-outs as they were.
    CComPort noTiming(&port, &flow, nullptr, &protocol);
    ASSERT_EQ(noTiming.Open(), 0u);
    EXPECT_EQ(noTiming.Init(), 0u);
    EXPECT_EQ(device->m_attributes.dwBaudRate, 19200u);
    EXPECT_EQ(device->CallCount(Call::SetTimeouts), 0);
    EXPECT_EQ(noTiming.ConfirmPortSettings(), 0);
    EXPECT_TRUE(logged.empty());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(noTiming.Close(), 0u);
}

}  // namespace
