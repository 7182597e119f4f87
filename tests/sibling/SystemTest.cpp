// The system helpers and the log entry point.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kelvara/Kelvara.h"

namespace {

TEST(SystemUtility, CurrentFileTimeCountsFrom1601InHundredsOfNanoseconds) {
    FILETIME ft{};
    GetCurrentFileTime(ft);
    const auto unixNow = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const long long seconds = static_cast<long long>(FileTimeToULongLong(ft) / 10000000ull);
    EXPECT_NEAR(static_cast<double>(seconds - 11644473600LL), static_cast<double>(unixNow), 60.0);
}

TEST(QZLog, MessagesGoToTheInstalledSinkUntilItIsRemoved) {
    std::vector<std::pair<DWORD, std::string>> seen;
    QZSetLogSink([&](DWORD dwLevel, const char* psz) { seen.emplace_back(dwLevel, psz); });
    QZLogMessage(QZLOG_LEVEL_SYSTEM_ERROR, "COM3 : failed");
    QZLogMessage(4, nullptr);
    QZSetLogSink(nullptr);
    testing::internal::CaptureStderr();
    QZLogMessage(1, "to standard error");
    const std::string err = testing::internal::GetCapturedStderr();

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], (std::pair<DWORD, std::string>{1, "COM3 : failed"}));
    EXPECT_EQ(seen[1].second, "");
    EXPECT_NE(err.find("to standard error"), std::string::npos);
}

}  // namespace
