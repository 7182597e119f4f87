// What the serial port tests share: the driver's records and statistics, a
// protocol that names the port, and captures of the log and message boxes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/SystemError.h"
#include "support/Wait.h"

namespace serialtest {

constexpr WORD kPort = 5;

class PortTest : public ::testing::Test {
protected:
    PortTest() {
        port.m_wPortNumber = kPort;
        CString name("COM5");
        protocol.SetPortName(&name);
        stats.ActivateCommsLog(true);
        stats.LogAsHex(true);
        QZSetLogSink([this](DWORD, const char* pszText) { logged.emplace_back(pszText); });
        AfxSetMessageBoxHandler([this](const char* pszText, UINT nType) {
            shown.emplace_back(pszText);
            EXPECT_EQ(nType, MB_OK);
            return IDOK;
        });
    }
    ~PortTest() override {
        QZSetLogSink(nullptr);
        AfxSetMessageBoxHandler(nullptr);
        CComPort::MapDevice(kPort, nullptr);
    }

    CComPort MakePort() { return CComPort(&port, &flow, &timing, &protocol); }

    // The line OutputSystemMessage logs for a system error of a category.
    static std::string SystemMessage(kelvara::platform::ErrorCategory error) {
        const int nError = kelvara::platform::SystemErrorOf(error);
        return FormatString("COM5 : Reported Win32 error code %d, message \"%s\"", nError,
                            kelvara::platform::SystemErrorText(nError).c_str())
            .GetString();
    }

    std::vector<std::string> CommsLog() { return testsupport::DrainCommsLog(stats); }

    static CCombuf Buffer(const std::vector<BYTE>& bytes) {
        CCombuf buffer;
        for (const BYTE by : bytes) {
            buffer += by;
        }
        return buffer;
    }

    CPortProperties port;
    CFlowProperties flow;
    CTimingProperties timing;
    CProtocol protocol;
    CCommsStats stats;
    std::vector<std::string> logged;
    std::vector<std::string> shown;
};

}  // namespace serialtest
