// CCommsStats: counters, rates, the last error text and the comms log.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/Wait.h"

namespace {

CByteArray BytesOf(std::initializer_list<BYTE> bytes) {
    CByteArray a;
    for (BYTE b : bytes) {
        a.Add(b);
    }
    return a;
}

// Block times and bytes given to the statistics, and the rates they keep.
struct RateCase {
    std::vector<DWORD> blockTimes;
    // In bytes are added before the block times, out bytes after them.
    DWORD dwBytesIn, dwBytesOut, dwAverage, dwBlocksPerSecond, dwBytesPerSecond;
};

TEST(CommsStatsRates, ArePerSecondOfBlockTimeTruncatedAndWrapLikeTheCounters) {
    const std::vector<RateCase> cases = {
        {{500, 500, 500, 500}, 500, 300, 500, 2, 400},
        {{1, 1, 2}, 1, 2, 1, 750, 750},     // 4 ms over 3 blocks
        {{1, 1, 2, 3}, 1, 2, 1, 571, 428},  // 3 bytes over 7 ms: 428.57...
        {{}, 100, 100, 0, 0, 0},            // no block time yet: rates stay put
        {{0}, 100, 100, 0, 0, 0},
        {{0, 1000}, 100, 100, 500, 2, 200},
        {{1000}, 0xFFFFFFFFu, 0, 1000, 1, 0xFFFFFFFFu},  // unsigned, not negative
        {{1000}, 0xFFFFFFFFu, 2, 1000, 1, 1},            // the sum wraps before it is scaled
        {{1}, 5000000, 0, 1, 1000, static_cast<DWORD>(5000000000ull)},  // past 2^32
    };
    for (const RateCase& c : cases) {
        CCommsStats stats;
        stats.AddBytesIn(c.dwBytesIn);
        for (const DWORD ms : c.blockTimes) {
            stats.AddBlockExecutionTime(ms);
        }
        stats.AddBytesOut(c.dwBytesOut);
        const std::vector<DWORD> got = {stats.GetBlockCount(), stats.GetTotalBytesIn(),
                                        stats.GetAverageBlockExecutionTime(),
                                        stats.GetBlocksPerSecond(), stats.GetBytesPerSecond()};
        EXPECT_EQ(got, (std::vector<DWORD>{static_cast<DWORD>(c.blockTimes.size()), c.dwBytesIn,
                                           c.dwAverage, c.dwBlocksPerSecond, c.dwBytesPerSecond}))
            << c.dwBytesIn << " in, " << c.dwBytesOut << " out";
    }
}

TEST(CommsStatsCounters, CountErrorsAndClearWithoutTouchingTheLog) {
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.IncrementStandardErrors();
    stats.IncrementDeviceErrors();
    stats.IncrementCRCErrors();
    stats.IncrementRetryCount();
    stats.IncrementRetryCount();
    stats.IncrementTimeoutErrors();
    stats.SetLastError("Checksum error");
    const auto counters = [](const CCommsStats& s) {
        return std::vector<DWORD>{s.GetNumberStandardErrors(), s.GetNumberDeviceErrors(),
                                  s.GetNumberCRCErrors(), s.GetNumberOfRetries(),
                                  s.GetNumberTimeoutErrors()};
    };
    EXPECT_EQ(counters(stats), (std::vector<DWORD>{1, 1, 1, 2, 1}));

    // A copy takes the counters and the text, not the log.
    const CCommsStats copy(stats);
    EXPECT_EQ(counters(copy), counters(stats));
    EXPECT_EQ(copy.GetLastErrorString(), "Checksum error");
    EXPECT_FALSE(copy.IsCommsLogActive());

    stats.ClearAllStatistics();
    EXPECT_EQ(counters(stats), (std::vector<DWORD>{0, 0, 0, 0, 0}));
    EXPECT_TRUE(stats.GetLastErrorString().IsEmpty());
    EXPECT_EQ(testsupport::DrainCommsLog(stats), std::vector<std::string>{"NR"});
    EXPECT_EQ(stats.m_nLeadingWord, 1);
}

TEST(CommsLog, RecordsTextOrHexLinesOnlyWhileActiveAndHandsThemOutOldestFirst) {
    CCommsStats stats;
    CByteArray one = BytesOf({0x31});
    stats.AddToCommsLog(&one, true);
    stats.IncrementTimeoutErrors();
    EXPECT_EQ(stats.GetCommsLogCount(), 0);
    CString line("kept");
    stats.GetFromCommsLog(&line);  // nothing there
    EXPECT_EQ(line, "kept");

    stats.ActivateCommsLog(true);
    CByteArray received = BytesOf({0x41, 0x0D, 0x42, 0x7E, 0x7F, 0x20, 0xFF});
    stats.AddToCommsLog(&received, true);
    stats.LogAsHex(true);
    CByteArray sent = BytesOf({0x01, 0xAB});
    stats.AddToCommsLog(&sent, false);
    CByteArray empty;
    stats.AddToCommsLog(&empty, false);
    stats.AddToCommsLog(nullptr, true);
    stats.IncrementTimeoutErrors();
    EXPECT_EQ(testsupport::DrainCommsLog(stats),
              (std::vector<std::string>{"RXA.B~. .", "TX01 AB ", "NR"}));

    // Switching the log off, or on again, discards what was not taken.
    for (const bool bActive : {false, true}) {
        stats.ActivateCommsLog(true);
        stats.AddToCommsLog(&one, true);
        stats.ActivateCommsLog(bActive);
        EXPECT_EQ(stats.GetCommsLogCount(), 0) << bActive;
    }
}

TEST(CommsLog, OneThreadFillsWhileAnotherDrains) {
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.LogAsHex(true);
    constexpr int kLines = 5000;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        CByteArray data = BytesOf({0x10, 0x20});
        for (int i = 0; i < kLines; ++i) {
            stats.AddToCommsLog(&data, (i & 1) != 0);
        }
        done = true;
    });
    int taken = 0;
    int malformed = 0;
    while (!done || stats.GetCommsLogCount() > 0) {
        CString line;
        stats.GetFromCommsLog(&line);
        if (!line.IsEmpty()) {
            ++taken;
            malformed += (line != "RX10 20 " && line != "TX10 20 ") ? 1 : 0;
        }
    }
    producer.join();
    EXPECT_EQ(taken, kLines);
    EXPECT_EQ(malformed, 0);
}

}  // namespace
