// The code-to-text rule of the standard error codes.
#include <gtest/gtest.h>

#include "kelvara/Kelvara.h"

namespace {

TEST(StandardErrorMessage, IsStringTenThousandPlusCode) {
    EXPECT_EQ(GetStandardErrorMessage(SE_NO_ERROR), "No error");
    EXPECT_EQ(GetStandardErrorMessage(SE_COM_HANGUP_FAILED),
              "Com port failed to hang up (drop RTS)");
    EXPECT_EQ(GetStandardErrorMessage(SE_NET_NO_POLL_LIST), "Net port, no poll ist defined");
    EXPECT_EQ(GetStandardErrorMessage(SE_TCPIP_WOULD_BLOCK),
              "TCP/IP port, socket operation would block");
    EXPECT_EQ(GetStandardErrorMessage(SE_INTERNAL_ERROR),
              "Internal Protocol error - call support.");
    // Not error codes, but their strings are there all the same.
    EXPECT_EQ(GetStandardErrorMessage(2014), "%s : Reported Win32 error code %d, message \"%s\"");
    EXPECT_EQ(GetStandardErrorMessage(3000), "Protocol Properties");
}

TEST(StandardErrorMessage, CodesWithoutAStringGetTheFallbackText) {
    EXPECT_EQ(GetStandardErrorMessage(4000), "Unknown standard error, code  4000");
    EXPECT_EQ(GetStandardErrorMessage(1109), "Unknown standard error, code  1109");
    // A 32-bit long: the top half of the range reads as negative.
    EXPECT_EQ(GetStandardErrorMessage(0xFFFFFFF0u), "Unknown standard error, code  -16");
}

TEST(StandardErrorMessage, IsTheSameInBothResourceLanguages) {
    SetResourceLanguage(LANG_ITALIAN_ITALY);
    const CString italian = GetStandardErrorMessage(SE_TIMEOUT);
    SetResourceLanguage(LANG_ENGLISH_UK);
    EXPECT_EQ(italian, "Operation timed out");
    EXPECT_EQ(GetStandardErrorMessage(SE_TIMEOUT), italian);
}

}  // namespace
