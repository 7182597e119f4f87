// ConfirmPortSettings: each difference between the records and what the line
// runs gets its own message, in a fixed order, with its exact text.
#include <memory>

#include "kelvara/platform/FakeSerialDevice.h"
#include "transport/serial/SerialTestSupport.h"

namespace {

using kelvara::platform::FakeSerialDevice;
using kelvara::platform::LineParity;
using Texts = std::vector<std::string>;
using Error = kelvara::platform::ErrorCategory;

class Confirm : public serialtest::PortTest {
protected:
    Confirm() {
        kelvara::platform::SetSerialDeviceOpener(device->Opener());
        CComPort::MapDevice(serialtest::kPort, "/dev/fake");
        EXPECT_EQ(com.Open(), 0u);
    }
    ~Confirm() override {
        com.Close();
        kelvara::platform::SetSerialDeviceOpener(nullptr);
    }

    // Applies the records, then lets the test change them before comparing.
    Texts Check(const std::function<void()>& changeRecords) {
        EXPECT_EQ(com.Init(), 0u);
        changeRecords();
        shown.clear();
        const BOOL bAgreed = com.ConfirmPortSettings();
        EXPECT_EQ(bAgreed, shown.empty() ? 1 : 0);
        return shown;
    }

    std::shared_ptr<FakeSerialDevice> device = std::make_shared<FakeSerialDevice>();
    CComPort com = MakePort();
};

TEST_F(Confirm, ALineThatRunsTheRecordsShowsNothing) {
    port.m_dwBaudRate = 57600;
    port.m_Parity = CPortProperties::PARITY_ODD;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    flow.m_DTRControl = CFlowProperties::DTR_DISABLE;
    EXPECT_EQ(Check([] {}), Texts{});
}

TEST_F(Confirm, EveryDifferenceIsShownInTheFixedOrder) {
    EXPECT_EQ(Check([this] {
                  timing.m_dwTimeout = 2500;
                  port.m_bParityEnabled = 2;
                  port.m_dwBaudRate = 4800;
                  port.m_Parity = CPortProperties::PARITY_EVEN;
                  port.m_StopBits = static_cast<CPortProperties::STOPBITS_ENUM>(1);
                  port.m_wDataBits = 7;
                  flow.m_bFlowControlEnabled = TRUE;
                  flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
                  flow.m_DTRControl = CFlowProperties::DTR_HANDSHAKE;
              }),
              (Texts{
                  "Timeout has changed from 2500 to 1000",
                  "Parity enabled setting has changed",
                  "Baud rate has changed from 4800 to 9600",
                  "Parity has changed from even to none",
                  "Stop bits has changed from 2 to 1",
                  "Data bits has changed from 7 to 8",
                  "Flow control enabled setting has changed",
                  "RTS control setting has changed from toggle to enable",
                  "DTR control setting has changed from handshake to enable",
              }));
}

TEST_F(Confirm, RecordValuesAreComparedAsTheLineRunsThem) {
    port.m_dwBaudRate = 31250;  // runs as 9600
    EXPECT_EQ(Check([] {}), Texts{"Baud rate has changed from 31250 to 9600"});
    port.m_dwBaudRate = 9600;
    port.m_wDataBits = 264;  // the low 8 bits are 8
    EXPECT_EQ(Check([] {}), Texts{});
    port.m_wDataBits = 8;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    EXPECT_EQ(Check([this] { port.m_StopBits = CPortProperties::STOPBITS_ONE; }),
              Texts{"Stop bits has changed from 1 to 2"});
    port.m_StopBits = CPortProperties::STOPBITS_ONE;
    EXPECT_EQ(Check([this] { com.Poll(nullptr, 0, &stats, 40); }),
              Texts{"Timeout has changed from 1000 to 40"});
}

TEST_F(Confirm, ALineRateOutsideTheListIsNotCompared) {
    EXPECT_EQ(Check([this] {
                  device->m_attributes.dwBaudRate = 31250;
                  port.m_dwBaudRate = 19200;
              }),
              Texts{});
}

TEST_F(Confirm, ParityDifferencesNameRecordThenLine) {
    const LineParity lines[] = {LineParity::None, LineParity::Odd, LineParity::Even};
    const char* names[] = {"none", "odd", "even"};
    const CPortProperties::PARITY_ENUM records[] = {
        CPortProperties::PARITY_NONE, CPortProperties::PARITY_ODD, CPortProperties::PARITY_EVEN};
    for (int l = 0; l < 3; ++l) {
        for (int r = 0; r < 3; ++r) {
            const Texts expected =
                l == r
                    ? Texts{}
                    : Texts{std::string("Parity has changed from ") + names[r] + " to " + names[l]};
            EXPECT_EQ(Check([&] {
                          device->m_attributes.parity = lines[l];
                          port.m_Parity = records[r];
                      }),
                      expected);
        }
    }
    for (const LineParity line : {LineParity::Mark, LineParity::Space}) {
        EXPECT_EQ(Check([&] { device->m_attributes.parity = line; }), Texts{});
    }
    EXPECT_EQ(Check([this] { port.m_Parity = static_cast<CPortProperties::PARITY_ENUM>(5); }),
              Texts{});
}

TEST_F(Confirm, RtsDifferencesNameRecordThenLine) {
    const char* names[] = {"disable", "enable", "handshake", "toggle"};
    for (int l = 0; l < 4; ++l) {
        for (int r = 0; r < 5; ++r) {
            SCOPED_TRACE(std::to_string(l) + " " + std::to_string(r));
            // The line runs mode l; RTS handshake needs CTS flow control.
            flow.m_RTSControl = static_cast<CFlowProperties::RTS_ENUM>(l);
            flow.m_bFlowControlEnabled = l == 2;
            const Texts expected =
                l == r || r == 4 ? Texts{}
                                 : Texts{std::string("RTS control setting has changed from ") +
                                         names[r] + " to " + names[l]};
            EXPECT_EQ(Check([&] { flow.m_RTSControl = static_cast<CFlowProperties::RTS_ENUM>(r); }),
                      expected);
        }
    }
}

TEST_F(Confirm, DtrDifferencesNameRecordThenLine) {
    const char* names[] = {"disable", "enable", "handshake"};
    for (int l = 0; l < 2; ++l) {  // no line runs DTR handshake here
        for (int r = 0; r < 4; ++r) {
            flow.m_DTRControl = static_cast<CFlowProperties::DTR_ENUM>(l);
            const Texts expected =
                l == r || r == 3 ? Texts{}
                                 : Texts{std::string("DTR control setting has changed from ") +
                                         names[r] + " to " + names[l]};
            EXPECT_EQ(Check([&] { flow.m_DTRControl = static_cast<CFlowProperties::DTR_ENUM>(r); }),
                      expected);
        }
    }
}

TEST_F(Confirm, AnUnreadableLineIsComparedWithoutFailing) {
    EXPECT_EQ(Check([this] {
                  device->Fail(FakeSerialDevice::Call::GetAttributes, Error::Other, 0, -1);
                  device->Fail(FakeSerialDevice::Call::GetTimeouts, Error::Other, 0, -1);
              }),
              Texts{"Timeout has changed from 1000 to 0"});
    EXPECT_TRUE(logged.empty()) << "the confirmation logs nothing";
    device->Heal(FakeSerialDevice::Call::GetAttributes);
    device->Heal(FakeSerialDevice::Call::GetTimeouts);
}

}  // namespace
