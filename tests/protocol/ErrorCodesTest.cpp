// The standard error codes' texts, which hosts show and log as they stand.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "kelvara/Kelvara.h"

namespace {

// Every code and its text, each group's codes consecutive from its first.
const std::vector<std::pair<DWORD, std::vector<const char*>>> kCodeTexts = {
    {0, {"No error"}},
    {1100,
     {"Com port failed to open", "Com port failed to close", "Com port failed to initialize",
      "Com port failed to hang up (drop RTS)", "Com port failed to get control line state",
      "Com port failed to write", "Com port failed to read", "Com port not connected",
      "Com port driver or physical hardware problem"}},
    {1200,
     {"Net port unknown error", "Net port time out on acknowledge",
      "Net port, poll list not big enough for returned data", "Net port, no poll ist defined",
      "Net port, transmitter has not sent the block"}},
    {1400,
     {"TCP/IP port, socket error", "TCP/IP port, listen thread is not running",
      "TCP/IP port not connected", "TCP/IP port, failed to read from the network",
      "TCP/IP port, failed to write to the network", "TCP/IP port, socket operation would block"}},
    {2000,
     {"Function not implemented", "Operation timed out", "Checksum error",
      "Received message has invalid format", "Negative Acknowledge (NAK) received",
      "Communications block is invalid", "Attempt to restart protocol",
      "Protocol has not been started", "Cannot calculate (or there isn't) a next external address",
      "Failed to create protocol property sheet", "Invalid bit offset", "Invalid string length",
      "Invalid data type", "Internal Protocol error - call support."}},
    // Not error codes, but string 10000 + code is there all the same.
    {2014, {"%s : Reported Win32 error code %d, message \"%s\""}},
    {3000, {"Protocol Properties"}},
};

TEST(StandardErrorMessage, IsStringTenThousandPlusCodeInBothLanguagesOrTheFallbackText) {
    for (const auto language : {LANG_ENGLISH_UK, LANG_ITALIAN_ITALY}) {
        SetResourceLanguage(language);
        for (const auto& [dwFirst, texts] : kCodeTexts) {
            for (DWORD i = 0; i < texts.size(); ++i) {
                EXPECT_EQ(GetStandardErrorMessage(dwFirst + i), texts[i]) << dwFirst + i;
            }
        }
    }
    SetResourceLanguage(LANG_ENGLISH_UK);
    // The codes between the groups, and past them; a 32-bit long, so the
    // top half of the range reads as negative.
    for (const auto& [dwCode, pszText] : std::vector<std::pair<DWORD, const char*>>{
             {1109, "Unknown standard error, code  1109"},
             {4000, "Unknown standard error, code  4000"},
             {0xFFFFFFF0u, "Unknown standard error, code  -16"}}) {
        EXPECT_EQ(GetStandardErrorMessage(dwCode), pszText) << dwCode;
    }
}

}  // namespace
