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

std::vector<std::string> Drain(CCommsStats& stats) {
    return testsupport::DrainCommsLog(stats);
}

TEST(CommsStatsRates, ArePerSecondOfBlockTimeAndTruncate) {
    CCommsStats stats;
    for (DWORD ms : {500u, 500u, 500u, 500u}) {
        stats.AddBlockExecutionTime(ms);
    }
    stats.AddBytesIn(500);
    stats.AddBytesOut(300);
    EXPECT_EQ(stats.GetBlocksPerSecond(), 2u);
    EXPECT_EQ(stats.GetBytesPerSecond(), 400u);
    EXPECT_EQ(stats.GetAverageBlockExecutionTime(), 500u);

    CCommsStats uneven;
    for (DWORD ms : {1u, 1u, 2u}) {
        uneven.AddBlockExecutionTime(ms);
    }
    EXPECT_EQ(uneven.GetAverageBlockExecutionTime(), 1u);  // 4 / 3
    EXPECT_EQ(uneven.GetBlocksPerSecond(), 750u);
    uneven.AddBytesIn(1);
    EXPECT_EQ(uneven.GetBytesPerSecond(), 250u);
    uneven.AddBytesOut(2);
    EXPECT_EQ(uneven.GetBytesPerSecond(), 750u);
    uneven.AddBlockExecutionTime(3);  // 3 bytes over 7 ms: 428.57...
    EXPECT_EQ(uneven.GetBytesPerSecond(), 428u);
    EXPECT_EQ(uneven.GetBlocksPerSecond(), 571u);
}

TEST(CommsStatsRates, StayPutWhileNoBlockTimeHasAccumulated) {
    CCommsStats stats;
    stats.AddBytesIn(100);
    stats.AddBytesOut(100);
    EXPECT_EQ(stats.GetTotalBytesIn(), 100u);
    EXPECT_EQ(stats.GetBytesPerSecond(), 0u);
    stats.AddBlockExecutionTime(0);
    EXPECT_EQ(stats.GetBlockCount(), 1u);
    EXPECT_EQ(stats.GetAverageBlockExecutionTime(), 0u);
    EXPECT_EQ(stats.GetBlocksPerSecond(), 0u);
    EXPECT_EQ(stats.GetBytesPerSecond(), 0u);
    stats.AddBlockExecutionTime(1000);
    EXPECT_EQ(stats.GetBlocksPerSecond(), 2u);
    EXPECT_EQ(stats.GetBytesPerSecond(), 200u);
}

TEST(CommsStatsRates, UseUnsignedOperandsAndWrappingSums) {
    CCommsStats stats;
    stats.AddBlockExecutionTime(1000);
    stats.AddBytesIn(0xFFFFFFFFu);
    EXPECT_EQ(stats.GetBytesPerSecond(), 0xFFFFFFFFu);  // not negative
    stats.AddBytesOut(2);                               // the sum wraps to 1 before it is scaled
    EXPECT_EQ(stats.GetBytesPerSecond(), 1u);

    // A rate past 2^32 keeps its low 32 bits, like the counters.
    CCommsStats fast;
    fast.AddBlockExecutionTime(1);
    fast.AddBytesIn(5000000);
    EXPECT_EQ(fast.GetBytesPerSecond(), static_cast<DWORD>(5000000000ull));
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
    EXPECT_EQ(stats.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(stats.GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(stats.GetNumberCRCErrors(), 1u);
    EXPECT_EQ(stats.GetNumberOfRetries(), 2u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);

    const CCommsStats copy(stats);
    EXPECT_EQ(copy.GetNumberOfRetries(), 2u);
    EXPECT_EQ(copy.GetLastErrorString(), "Checksum error");
    EXPECT_FALSE(copy.IsCommsLogActive());

    stats.ClearAllStatistics();
    EXPECT_EQ(stats.GetNumberOfRetries(), 0u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 0u);
    EXPECT_TRUE(stats.GetLastErrorString().IsEmpty());
    EXPECT_EQ(stats.GetCommsLogCount(), 1);  // the "NR" line stays
    EXPECT_EQ(stats.m_nLeadingWord, 1);
}

TEST(CommsLog, FormatsBytesAsTextOrHex) {
    CCommsStats stats;
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
    EXPECT_EQ(Drain(stats), (std::vector<std::string>{"RXA.B~. .", "TX01 AB ", "NR"}));
}

TEST(CommsLog, RecordsAndHandsOutLinesOnlyWhileActive) {
    CCommsStats stats;
    CByteArray data = BytesOf({0x31});
    stats.AddToCommsLog(&data, true);
    stats.IncrementTimeoutErrors();
    EXPECT_EQ(stats.GetCommsLogCount(), 0);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);

    stats.ActivateCommsLog(true);
    stats.AddToCommsLog(&data, true);
    stats.AddToCommsLog(&data, false);
    CString line("kept");
    stats.ActivateCommsLog(false);  // discards what was not taken
    EXPECT_EQ(stats.GetCommsLogCount(), 0);
    stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, "kept");

    stats.ActivateCommsLog(true);
    stats.GetFromCommsLog(&line);  // nothing there
    EXPECT_EQ(line, "kept");
    stats.AddToCommsLog(&data, false);
    stats.AddToCommsLog(&data, true);
    stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, "TX1");        // oldest first
    stats.ActivateCommsLog(true);  // switching on again also empties it
    EXPECT_EQ(stats.GetCommsLogCount(), 0);
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
            stats.AddBytesIn(2);
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
    EXPECT_EQ(stats.GetTotalBytesIn(), 2u * kLines);
}

}  // namespace
