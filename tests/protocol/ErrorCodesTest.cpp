// The code-to-text rule of the standard error codes.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "kelvara/Kelvara.h"

namespace {

TEST(StandardErrorMessage, IsStringTenThousandPlusCodeOrTheFallbackText) {
    const std::vector<std::pair<DWORD, const char*>> texts = {
        {SE_NO_ERROR, "No error"},
        {SE_COM_HANGUP_FAILED, "Com port failed to hang up (drop RTS)"},
        {SE_NET_NO_POLL_LIST, "Net port, no poll ist defined"},
        {SE_TCPIP_WOULD_BLOCK, "TCP/IP port, socket operation would block"},
        {SE_INTERNAL_ERROR, "Internal Protocol error - call support."},
        // Not error codes, but their strings are there all the same.
        {2014, "%s : Reported Win32 error code %d, message \"%s\""},
        {3000, "Protocol Properties"},
        {4000, "Unknown standard error, code  4000"},
        {1109, "Unknown standard error, code  1109"},
        // A 32-bit long: the top half of the range reads as negative.
        {0xFFFFFFF0u, "Unknown standard error, code  -16"},
    };
    for (const auto& [dwCode, pszText] : texts) {
        EXPECT_EQ(GetStandardErrorMessage(dwCode), pszText) << dwCode;
    }
}

TEST(StandardErrorMessage, IsTheSameInBothResourceLanguages) {
    SetResourceLanguage(LANG_ITALIAN_ITALY);
    const CString italian = GetStandardErrorMessage(SE_TIMEOUT);
    SetResourceLanguage(LANG_ENGLISH_UK);
    EXPECT_EQ(italian, "Operation timed out");
    EXPECT_EQ(GetStandardErrorMessage(SE_TIMEOUT), italian);
}

}  // namespace
