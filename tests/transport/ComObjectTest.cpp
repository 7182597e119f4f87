// The transport base: default answers and the logged system error message.
#include <gtest/gtest.h>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/SystemError.h"

namespace {

TEST(ComObjectDefaults, AnswerOneThousandAndStartDisconnected) {
    CComObject port(3, nullptr);
    EXPECT_FALSE(port.IsConnected());
    EXPECT_EQ(port.GetPortNumber(), 3);
    CByteArray data;
    EXPECT_EQ(port.Open(), 1000u);
    EXPECT_EQ(port.Close(), 1000u);
    EXPECT_EQ(port.Read(&data, 4), 1000u);
    EXPECT_EQ(port.Write(&data), 1000u);
}

TEST(ComObjectSystemMessage, NamesThePortTheErrorAndTheSystemText) {
    CString logged;
    DWORD level = 0;
    int calls = 0;
    QZSetLogSink([&](DWORD dwLevel, const char* text) {
        ++calls;
        level = dwLevel;
        logged = text;
    });
    CProtocol protocol;
    CString name("COM7");
    protocol.SetPortName(&name);
    CComObject port(7, &protocol);
    const int nError = kelvara::platform::SystemErrorOf(kelvara::platform::ErrorCategory::NotFound);
    kelvara::platform::SetLastSystemError(nError);
    port.OutputSystemMessage();

    CComObject orphan(7, nullptr);
    kelvara::platform::SetLastSystemError(nError);
    orphan.OutputSystemMessage();
    QZSetLogSink(nullptr);

    EXPECT_EQ(calls, 1) << "a port without a protocol logs nothing";
    EXPECT_EQ(level, 1u);
    const CString expected =
        FormatString("COM7 : Reported Win32 error code %d, message \"%s\"", nError,
                     kelvara::platform::SystemErrorText(nError).c_str());
    EXPECT_EQ(logged, expected);
}

}  // namespace
