// The poll thread of an open port: the polling cycle against simulated
// stations, reply matching, time-outs, writes and the list mutexes.
#include <gtest/gtest.h>

#include "transport/arcnet/ArcnetTestSupport.h"

namespace {

using namespace arcnet_test;

TEST(PollCycle, EveryItemWithTheRepliesBlockIdTakesItsData) {
    CArcnetRig rig;
    ASSERT_TRUE(
        rig.segment.AddStation(kStation, CVirtualArcnetSegment::EchoHeader(5, Bytes("DATA"))));
    rig.poll.AddItem(7, kStation);
    rig.poll.AddItem(7, kStation);
    rig.poll.AddItem(8, kSilentNode);
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] {
        return rig.Item(0).m_bDataValid && rig.Item(1).m_bDataValid &&
               rig.Item(2).m_dwError == 2001;
    }));
    // Each request pauses 1 ms, so each pass takes at least 30 units of
    // 100 us; they add up on the first item only.
    ASSERT_TRUE(rig.WaitForPolls(8, 3));
    EXPECT_GE(rig.Item(0).m_dwPollTime, 60u);
    EXPECT_EQ(rig.Item(1).m_dwPollTime + rig.Item(2).m_dwPollTime, 0u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Text(rig.Item(i).m_Data), "DATA");
        EXPECT_EQ(rig.Item(i).m_dwError, 0u);
    }
    EXPECT_FALSE(rig.Item(2).m_bDataValid);
    const auto requests = rig.segment.GetStationPackets(kStation);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Text(requests[0].data), std::string("\x11\x07\0\0\0", 5));
}

// Items with times set beforehand are judged in the first pass, before
// their first request goes out; an item never answered (both times zero)
// in the pass after its first request.
TEST(PollCycle, OverdueRepliesAreJudgedOnFullFileTimes) {
    constexpr ULONGLONG kBase = 5ull << 32;
    const struct {
        DWORD dwTimeout;  // 0: no time-out record, 1000 ms
        ULONGLONG ullReceived;
        ULONGLONG ullSent;
        long nErrorInFirstPass;
    } cases[] = {
        {0, kBase + 0x10, 6ull << 32, 2001},  // high halves differ: 429 s apart
        {0, kBase + 0xFFFFFFF0, (6ull << 32) + 0x10, 0},
        {0, kBase, kBase + 9'000'000, 0},            // 0.9 s
        {0, kBase, kBase + 11'000'000, 2001},        // 1.1 s
        {500'000, kBase, kBase + 1'000'000'000, 0},  // 500 s does not fit 32 bits of 100 ns
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ullSent - c.ullReceived);
        CArcnetRig rig;
        CTimeoutOnlyProperties timeout;
        timeout.m_dwTimeout = c.dwTimeout;
        CPollListItem* pItem = rig.poll.AddItem(3, kSilentNode);
        pItem->m_ftReceived = MakeFileTime(c.ullReceived);
        pItem->m_ftSent = MakeFileTime(c.ullSent);
        ASSERT_EQ(rig.MakePort(kPortNode, c.dwTimeout ? &timeout : nullptr).Open(), 0u);
        ASSERT_TRUE(rig.WaitForPolls(3, 2));
        EXPECT_EQ(rig.driver.Calls()[0].dwErrorBefore, static_cast<DWORD>(c.nErrorInFirstPass));
        EXPECT_EQ(rig.driver.Calls()[1].dwErrorBefore, 2001u) << "nobody answers";
    }
}

// A failed send leaves a poll item invalid with the send's code until a
// later pass gets an answer; a write item goes out once, failed or not.
TEST(PollCycle, FailedSendsAndWriteItems) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation, CVirtualArcnetSegment::EchoHeader(5, Bytes("x"))));
    rig.SetFaults([](CFaults& f) { f.nBusyTransmits = -1; });
    rig.poll.AddItem(2, kStation);
    CNetPort& port = rig.MakePort();
    rig.AddWrite(21, kStation, "first");
    ASSERT_EQ(port.Open(), 0u);
    // The pass after marks the item overdue before it fails again.
    ASSERT_TRUE(WaitUntil([&] {
        return FileTimeToULongLong(rig.WriteItem(0).m_ftSent) != 0 && rig.Item(0).m_dwError == 1204;
    }));
    EXPECT_FALSE(rig.Item(0).m_bDataValid);
    EXPECT_NE(FileTimeToULongLong(rig.Item(0).m_ftSent), 0u);

    rig.segment.SetFaults(CFaults());
    ASSERT_TRUE(WaitUntil([&] { return rig.Item(0).m_bDataValid != 0; }));
    EXPECT_EQ(rig.Item(0).m_dwError, 0u);
    // A write added later goes out in a later pass, without the first.
    rig.AddWrite(22, kStation, "second");
    ASSERT_TRUE(WaitUntil([&] { return FileTimeToULongLong(rig.WriteItem(1).m_ftSent) != 0; }));
    const DWORD expectedErrors[] = {1204, 0};
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(rig.WriteItem(i).m_bDataValid) << i;
        EXPECT_EQ(rig.WriteItem(i).m_dwError, expectedErrors[i]) << i;
        EXPECT_EQ(rig.driver.CountCalls(NETMSG_WRITE_REQUEST, 21 + i), 1) << "sent once";
    }
}

// Drivers lock the lists from their own threads: while it builds a
// request the poll thread holds that list's mutex and no other.
TEST(PollCycle, HoldsOneListMutexAtATime) {
    const auto free = [](const char* name, DWORD dwWait) {
        CQZMutex mutex(name);
        CQZMutex::CLock* pLock = mutex.Lock(dwWait);
        if (pLock != nullptr) {
            mutex.Unlock(pLock);
        }
        return pLock != nullptr;
    };
    CArcnetRig rig;
    CNetPort& port = rig.MakePort();
    rig.AddWrite(2, kStation, "w");
    rig.poll.AddItem(1, kStation);
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);
    ASSERT_EQ(port.Open(), 0u);
    for (const BYTE byType : {NETMSG_POLL_REQUEST, NETMSG_WRITE_REQUEST}) {
        const bool bPoll = byType == NETMSG_POLL_REQUEST;
        rig.driver.HoldAt(byType);
        ASSERT_TRUE(rig.driver.WaitHeld(byType));
        EXPECT_FALSE(free(bPoll ? "ARCQZPollListMutex" : "ARCQZWriteListMutex", 50)) << bPoll;
        EXPECT_TRUE(free(bPoll ? "ARCQZWriteListMutex" : "ARCQZPollListMutex", 5000)) << bPoll;
        EXPECT_TRUE(free("ARCQZPacketListMutex", 5000)) << bPoll;
    }
}

}  // namespace
