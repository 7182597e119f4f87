// What the serial port tests share: the driver's records and statistics, a
// protocol that names the port, captures of the log and message boxes, and a
// port on a scripted device.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/FakeSerialDevice.h"
#include "kelvara/platform/SystemError.h"
#include "support/Wait.h"

namespace serialtest {

constexpr WORD kPort = 5;

using Bytes = std::vector<BYTE>;
using Error = kelvara::platform::ErrorCategory;
using Texts = std::vector<std::string>;

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
    static bool OpenAndInit(CComPort& com) { return com.Open() == 0 && com.Init() == 0; }

    // The lines OutputSystemMessage logs for system errors of these
    // categories.
    static Texts SystemMessages(const std::vector<Error>& errors) {
        Texts texts;
        for (const Error error : errors) {
            const int nError = kelvara::platform::SystemErrorOf(error);
            texts.emplace_back(FormatString("COM5 : Reported Win32 error code %d, message \"%s\"",
                                            nError,
                                            kelvara::platform::SystemErrorText(nError).c_str())
                                   .GetString());
        }
        return texts;
    }

    Texts CommsLog() { return testsupport::DrainCommsLog(stats); }

    static CCombuf Buffer(const Bytes& bytes) {
        CCombuf buffer;
        for (const BYTE by : bytes) {
            buffer += by;
        }
        return buffer;
    }
    static Bytes Contents(const CCombuf& buffer) {
        return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
    }

    CPortProperties port;
    CFlowProperties flow;
    CTimingProperties timing;
    CProtocol protocol;
    CCommsStats stats;
    Texts logged;
    Texts shown;
};

// The port's device is a fake one.
class FakePortTest : public PortTest {
protected:
    FakePortTest() {
        kelvara::platform::SetSerialDeviceOpener(device->Opener());
        CComPort::MapDevice(kPort, "/dev/fake");
    }
    ~FakePortTest() override { kelvara::platform::SetSerialDeviceOpener(nullptr); }

    std::shared_ptr<kelvara::platform::FakeSerialDevice> device =
        std::make_shared<kelvara::platform::FakeSerialDevice>();
    CComPort com = MakePort();
};

}  // namespace serialtest
