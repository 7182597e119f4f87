// The poll and receive threads of an open port: the polling cycle against
// simulated stations, reply matching, time-outs, writes and the packet list.
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
    CPollListItem first, second;
    {
        CNetPort::CListLock lock(rig.port->GetPollListMutex());
        first = *rig.poll.m_PollList.GetAt(0);
        second = *rig.poll.m_PollList.GetAt(1);
    }
    for (const CPollListItem& item : {first, second}) {
        EXPECT_EQ(Text(item.m_Data), "DATA");
        EXPECT_EQ(item.m_dwError, 0u);
    }
    // Each reply went to both items at once.
    EXPECT_EQ(FileTimeToULongLong(first.m_ftReceived), FileTimeToULongLong(second.m_ftReceived));
    EXPECT_FALSE(rig.Item(2).m_bDataValid);
    const auto requests = rig.segment.GetStationPackets(kStation);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Text(requests[0].data), std::string("\x11\x07\0\0\0", 5));
}

TEST(PollCycle, DriverWithoutHooksTakesEveryPacketForItemsWithIdZero) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation, [](const auto&, CByteArray* pReply) {
        *pReply = Bytes("RE");
        return TRUE;
    }));
    rig.poll.AddItem(0, kStation);
    rig.poll.AddItem(4, kStation);
    CNetworkProtocol plain;
    ASSERT_EQ(rig.MakePort(kPortNode, &plain).Open(), 0u);
    ASSERT_TRUE(
        WaitUntil([&] { return rig.Item(0).m_bDataValid && rig.Item(1).m_dwError == 2001; }));
    EXPECT_EQ(Text(rig.Item(0).m_Data), "RE");
    EXPECT_FALSE(rig.Item(1).m_bDataValid);
    // Nothing builds the requests: the transmit buffer goes out as it was
    // made, 253 zero bytes.
    const auto requests = rig.segment.GetStationPackets(kStation);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Text(requests[0].data), std::string(253, '\0'));
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
        ASSERT_EQ(rig.MakePort(kPortNode, nullptr, c.dwTimeout ? &timeout : nullptr).Open(), 0u);
        ASSERT_TRUE(rig.WaitForPolls(3, 2));
        EXPECT_EQ(rig.driver.ErrorBeforeFirstRequest(3), c.nErrorInFirstPass);
        EXPECT_EQ(rig.driver.Calls()[1].dwErrorBefore, 2001u) << "nobody answers";
    }
}

TEST(PollCycle, FailedPollLeavesTheItemInvalidWithTheWritesCode) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation, CVirtualArcnetSegment::EchoHeader(5, Bytes("x"))));
    rig.poll.AddItem(2, kStation);
    rig.SetFaults([](CFaults& f) { f.nBusyTransmits = -1; });
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.Item(0).m_dwError == 1204; }));
    EXPECT_FALSE(rig.Item(0).m_bDataValid);
    EXPECT_NE(FileTimeToULongLong(rig.Item(0).m_ftSent), 0u);

    rig.segment.SetFaults(CFaults());
    ASSERT_TRUE(WaitUntil([&] { return rig.Item(0).m_bDataValid != 0; }));
    EXPECT_EQ(rig.Item(0).m_dwError, 0u);
}

TEST(PollCycle, WriteItemsAreSentOnceEvenWithAnEmptyPollListOrAFailedSend) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    rig.SetFaults([](CFaults& f) { f.nBusyTransmits = 1; });
    CNetPort& port = rig.MakePort();
    rig.AddWrite(21, kStation, "first");
    rig.AddWrite(22, kStation, "second");
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return FileTimeToULongLong(rig.WriteItem(1).m_ftSent) != 0; }));
    // A write added later goes out in a later pass, without the first two.
    rig.AddWrite(23, kStation, "third");
    ASSERT_TRUE(WaitUntil([&] { return FileTimeToULongLong(rig.WriteItem(2).m_ftSent) != 0; }));

    const DWORD expectedErrors[] = {1204, 0, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(rig.WriteItem(i).m_bDataValid) << i;
        EXPECT_EQ(rig.WriteItem(i).m_dwError, expectedErrors[i]) << i;
    }
    EXPECT_EQ(rig.driver.Calls().size(), 3u) << "each built once, no polls";
    const auto packets = rig.segment.GetStationPackets(kStation);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(Text(packets[0].data), std::string("\x12\x16\0\0\0second", 11));
    EXPECT_EQ(Text(packets[1].data), std::string("\x12\x17\0\0\0third", 10));
}

TEST(PollCycle, PassTimeAccumulatesOnTheFirstItemOnly) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    rig.poll.AddItem(1, kStation);
    rig.poll.AddItem(2, kStation);
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    // Each pass sleeps 1 ms per request: at least 20 units of 100 us.
    ASSERT_TRUE(rig.WaitForPolls(2, 3));
    EXPECT_GE(rig.Item(0).m_dwPollTime, 40u);
    EXPECT_EQ(rig.Item(1).m_dwPollTime, 0u);
}

TEST(PollCycle, HoldsOneListMutexAtATime) {
    const auto free = [](const char* name, DWORD dwWait = 5000) {
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
    const struct {
        BYTE byHeldAt;
        const char* held;
        const char* other;
    } phases[] = {{NETMSG_POLL_REQUEST, "ARCQZPollListMutex", "ARCQZWriteListMutex"},
                  {NETMSG_WRITE_REQUEST, "ARCQZWriteListMutex", "ARCQZPollListMutex"}};
    rig.poll.AddItem(1, kStation);
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);
    ASSERT_EQ(port.Open(), 0u);
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.held);
        rig.driver.HoldAt(phase.byHeldAt);
        ASSERT_TRUE(rig.driver.WaitHeld(phase.byHeldAt));
        EXPECT_FALSE(free(phase.held, 50));  // the hold is real
        EXPECT_TRUE(free(phase.other));
        EXPECT_TRUE(free("ARCQZPacketListMutex"));
    }
}

TEST(ReceiveThread, QueuesOnlyPacketsForThisNodeButCountsThemAll) {
    for (int nNodeId : {5, 0}) {
        SCOPED_TRACE(nNodeId);
        CArcnetRig rig;
        CNetPort& port = rig.OpenHeld(nNodeId);
        const BYTE byCard = rig.Card().byNodeId;
        rig.segment.InjectPackets(byCard, 3, 7, Bytes("other"));
        rig.segment.InjectPackets(byCard, 4, byCard, Bytes("mine"));
        ASSERT_TRUE(WaitUntil([&] { return rig.stats.GetTotalBytesIn() == 9; }));
        CCombuf buffer;
        if (nNodeId == 0) {
            ASSERT_EQ(port.Read(&buffer), 0u);
            EXPECT_EQ(Text(buffer), "other");
        }
        ASSERT_EQ(port.Read(&buffer), 0u);
        EXPECT_EQ(Text(buffer), "mine");
        EXPECT_EQ(port.Read(&buffer), 2001u);
    }
}

TEST(ReceiveThread, KeepsAtMostOneHundredPacketsAndCountsTheRest) {
    CArcnetRig rig;
    CNetPort& port = rig.OpenHeld();
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(rig.segment.InjectPackets(kPortNode, 3, kPortNode, Bytes({char(i), 0})), 1);
    }
    ASSERT_TRUE(WaitUntil([&] { return rig.stats.GetTotalBytesIn() == 300; }));
    CCombuf buffer;
    for (int i = 0; i < NETPORT_MAX_QUEUED_PACKETS; ++i) {
        ASSERT_EQ(port.Read(&buffer), 0u);
        ASSERT_EQ(buffer.GetAt(0), i);
    }
    EXPECT_EQ(port.Read(&buffer), 2001u);
}

TEST(ArcnetThreads, AreCreatedByTheirRunTimeClassNames) {
    for (const char* name : {"CPollThread", "CReceiveThread"}) {
        CRuntimeClass* pClass = CRuntimeClass::FromName(name);
        ASSERT_NE(pClass, nullptr) << name;
        EXPECT_TRUE(pClass->IsDerivedFrom(RUNTIME_CLASS(CWinThreadPlus)));
        std::unique_ptr<CObject> pObject(pClass->CreateObject());
        ASSERT_NE(pObject, nullptr);
        EXPECT_STREQ(pObject->GetRuntimeClass()->m_lpszClassName, name);
    }
}

}  // namespace
