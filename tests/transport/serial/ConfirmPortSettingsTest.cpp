// ConfirmPortSettings: each difference between the records and what the line
// runs gets its own message, in a fixed order, with its exact text.
#include <functional>
#include <string>
#include <vector>

#include "transport/serial/SerialTestSupport.h"

namespace {

using kelvara::platform::LineParity;
using serialtest::Texts;

class Confirm : public serialtest::FakePortTest {
protected:
    Confirm() { EXPECT_EQ(com.Open(), 0u); }

    // Applies the records, then lets the test change them before comparing.
    Texts Check(const std::function<void()>& changeRecords) {
        EXPECT_EQ(com.Init(), 0u);
        changeRecords();
        shown.clear();
        const BOOL bAgreed = com.ConfirmPortSettings();
        EXPECT_EQ(bAgreed, shown.empty() ? 1 : 0);
        return shown;
    }

    // Each mode the line runs (set through the records) against each mode
    // the record may hold, and one past them, which is not compared: a
    // message naming the record's mode, then the line's.
    void ExpectModeChanges(const std::string& strSetting, const std::vector<const char*>& names,
                           int nLineModes, const std::function<void(int, bool bLine)>& set) {
        const int nNames = static_cast<int>(names.size());
        for (int l = 0; l < nLineModes; ++l) {
            for (int r = 0; r <= nNames; ++r) {
                SCOPED_TRACE(std::to_string(l) + " " + std::to_string(r));
                set(l, true);
                const Texts expected =
                    l == r || r == nNames
                        ? Texts{}
                        : Texts{strSetting + " has changed from " + names[r] + " to " + names[l]};
                EXPECT_EQ(Check([&] { set(r, false); }), expected);
            }
        }
    }
};

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
    port.m_dwBaudRate = 57600;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    EXPECT_EQ(Check([] {}), Texts{});
    EXPECT_EQ(Check([this] { port.m_StopBits = CPortProperties::STOPBITS_ONE; }),
              Texts{"Stop bits has changed from 1 to 2"});
    port.m_dwBaudRate = 31250;  // runs as 9600
    port.m_wDataBits = 264;     // the low 8 bits are 8
    EXPECT_EQ(Check([] {}), Texts{"Baud rate has changed from 31250 to 9600"});
    EXPECT_EQ(
        Check([this] { com.Poll(nullptr, 0, &stats, 40); }),
        (Texts{"Timeout has changed from 1000 to 40", "Baud rate has changed from 31250 to 9600"}));
    // A line rate outside the list is not compared.
    EXPECT_EQ(Check([this] { device->m_attributes.dwBaudRate = 31250; }), Texts{});
}

TEST_F(Confirm, ModeDifferencesNameRecordThenLine) {
    ExpectModeChanges("Parity", {"none", "even", "odd"}, 3, [this](int n, bool) {
        port.m_Parity = static_cast<CPortProperties::PARITY_ENUM>(n);
    });
    // RTS handshake needs CTS flow control.
    ExpectModeChanges("RTS control setting", {"disable", "enable", "handshake", "toggle"}, 4,
                      [this](int n, bool bLine) {
                          flow.m_RTSControl = static_cast<CFlowProperties::RTS_ENUM>(n);
                          if (bLine) {
                              flow.m_bFlowControlEnabled = n == 2;
                          }
                      });
    // No line runs DTR handshake.
    ExpectModeChanges(
        "DTR control setting", {"disable", "enable", "handshake"}, 2,
        [this](int n, bool) { flow.m_DTRControl = static_cast<CFlowProperties::DTR_ENUM>(n); });
    for (const LineParity line : {LineParity::Mark, LineParity::Space}) {
        EXPECT_EQ(Check([&] { device->m_attributes.parity = line; }), Texts{});
    }
}

}  // namespace
