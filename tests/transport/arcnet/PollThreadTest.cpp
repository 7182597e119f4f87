// The poll and receive threads of an open port: the polling cycle against
// simulated stations, reply matching, time-outs, writes and the packet list.
#include <gtest/gtest.h>

#include "transport/arcnet/ArcnetTestSupport.h"

namespace {

using namespace arcnet_test;
using CFaults = CVirtualArcnetSegment::CFaults;

constexpr BYTE kStation = 9;
constexpr BYTE kSilentNode = 50;

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
    ASSERT_EQ(rig.MakePort(5, &plain).Open(), 0u);
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

TEST(PollCycle, NeverAnsweredItemTimesOutInThePassAfterItsFirstRequest) {
    CArcnetRig rig;
    rig.poll.AddItem(3, kSilentNode);
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.driver.CountCalls(NETMSG_POLL_REQUEST, 3) >= 2; }));
    const auto calls = rig.driver.Calls();
    EXPECT_EQ(calls[0].dwErrorBefore, 0u);
    EXPECT_EQ(calls[1].dwErrorBefore, 2001u);
    EXPECT_EQ(FileTimeToULongLong(rig.Item(0).m_ftReceived), 0u);
}

// Items with times set beforehand are judged in the first pass, before
// their first request goes out.
TEST(PollCycle, OverdueRepliesAreJudgedOnFullFileTimes) {
    const auto add = [](CPollProperties& poll, DWORD id, ULONGLONG received, ULONGLONG sent) {
        CPollListItem* pItem = poll.AddItem(id, kSilentNode);
        pItem->m_ftReceived = MakeFileTime(received);
        pItem->m_ftSent = MakeFileTime(sent);
    };
    const auto errorInFirstPass = [](CArcnetRig& rig, DWORD id) {
        for (const auto& call : rig.driver.Calls()) {
            if (call.dwBlockId == id) {
                return call.dwErrorBefore;
            }
        }
        return 0xFFFFFFFFu;
    };
    constexpr ULONGLONG kBase = 5ull << 32;
    CArcnetRig rig;                                // no time-out record: 1000 ms
    add(rig.poll, 1, kBase + 0x10, (6ull << 32));  // high halves differ: 429 s apart
    add(rig.poll, 2, kBase + 0xFFFFFFF0, (6ull << 32) + 0x10);
    add(rig.poll, 3, kBase, kBase + 9'000'000);   // 0.9 s
    add(rig.poll, 4, kBase, kBase + 11'000'000);  // 1.1 s
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.driver.CountCalls(NETMSG_POLL_REQUEST, 4) >= 1; }));
    EXPECT_EQ(errorInFirstPass(rig, 1), 2001u);
    EXPECT_EQ(errorInFirstPass(rig, 2), 0u);
    EXPECT_EQ(errorInFirstPass(rig, 3), 0u);
    EXPECT_EQ(errorInFirstPass(rig, 4), 2001u);

    // 500 s in 100 ns units does not fit 32 bits.
    CArcnetRig slow;
    CTimeoutOnlyProperties timeout;
    timeout.m_dwTimeout = 500'000;
    add(slow.poll, 5, kBase, kBase + 1'000'000'000);  // 100 s
    ASSERT_EQ(slow.MakePort(5, nullptr, &timeout).Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return slow.driver.CountCalls(NETMSG_POLL_REQUEST, 5) >= 1; }));
    EXPECT_EQ(errorInFirstPass(slow, 5), 0u);
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

    const CPollListItem refused = rig.WriteItem(0);
    EXPECT_TRUE(refused.m_bDataValid);
    EXPECT_EQ(refused.m_dwError, 1204u);
    EXPECT_TRUE(rig.WriteItem(1).m_bDataValid);
    EXPECT_EQ(rig.WriteItem(1).m_dwError, 0u);
    EXPECT_EQ(rig.driver.CountCalls(NETMSG_WRITE_REQUEST, 21), 1);
    EXPECT_EQ(rig.driver.CountCalls(NETMSG_WRITE_REQUEST, 22), 1);
    const auto packets = rig.segment.GetStationPackets(kStation);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(Text(packets[0].data), std::string("\x12\x16\0\0\0second", 11));
    EXPECT_EQ(Text(packets[1].data), std::string("\x12\x17\0\0\0third", 10));
    for (const auto& call : rig.driver.Calls()) {
        EXPECT_EQ(call.byType, NETMSG_WRITE_REQUEST);
    }
}

TEST(PollCycle, PassTimeAccumulatesOnTheFirstItemOnly) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    rig.poll.AddItem(1, kStation);
    rig.poll.AddItem(2, kStation);
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    // Each pass sleeps 1 ms per request: at least 20 units of 100 us.
    ASSERT_TRUE(WaitUntil([&] { return rig.driver.CountCalls(NETMSG_POLL_REQUEST, 2) >= 3; }));
    EXPECT_GE(rig.Item(0).m_dwPollTime, 40u);
    EXPECT_EQ(rig.Item(1).m_dwPollTime, 0u);
}

TEST(PollCycle, HoldsOneListMutexAtATime) {
    CArcnetRig rig;
    rig.poll.AddItem(1, kStation);
    CNetPort& port = rig.MakePort();
    rig.AddWrite(2, kStation, "w");
    const auto free = [](const char* name, DWORD dwWait = 5000) {
        CQZMutex mutex(name);
        CQZMutex::CLock* pLock = mutex.Lock(dwWait);
        if (pLock != nullptr) {
            mutex.Unlock(pLock);
        }
        return pLock != nullptr;
    };
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_POLL_REQUEST));
    EXPECT_FALSE(free("ARCQZPollListMutex", 50));  // the hold is real
    EXPECT_TRUE(free("ARCQZWriteListMutex"));
    EXPECT_TRUE(free("ARCQZPacketListMutex"));
    rig.driver.HoldAt(NETMSG_WRITE_REQUEST);
    ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_WRITE_REQUEST));
    EXPECT_FALSE(free("ARCQZWriteListMutex", 50));
    EXPECT_TRUE(free("ARCQZPollListMutex"));
    EXPECT_TRUE(free("ARCQZPacketListMutex"));
}

TEST(ReceiveThread, QueuesOnlyPacketsForThisNodeButCountsThemAll) {
    for (int nNodeId : {5, 0}) {
        SCOPED_TRACE(nNodeId);
        CArcnetRig rig;
        rig.poll.AddItem(1, kStation);
        rig.driver.HoldAt(NETMSG_POLL_REQUEST);
        CNetPort& port = rig.MakePort(nNodeId);
        ASSERT_EQ(port.Open(), 0u);
        ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_POLL_REQUEST));
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
    rig.poll.AddItem(1, kStation);
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);
    CNetPort& port = rig.MakePort(5);
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_POLL_REQUEST));
    for (int i = 0; i < 150; ++i) {
        CByteArray packet;
        packet.Add(static_cast<BYTE>(i));
        packet.Add(0);
        ASSERT_EQ(rig.segment.InjectPackets(5, 3, 5, packet), 1);
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
