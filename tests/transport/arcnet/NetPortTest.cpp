// CNetPort on the virtual segment: opening and closing the card, direct
// reads and writes, and what the card's driver is told.
#include <gtest/gtest.h>

#include <future>

#include "transport/arcnet/ArcnetTestSupport.h"

namespace {

using namespace arcnet_test;

// Open configures the card and registers both events; a step that fails
// gives its code and leaves nothing running, and a later Open starts afresh.
TEST(NetPortOpen, ConfiguresTheCardOrFailsWithTheStepsCode) {
    CTimeoutOnlyProperties timeout;
    timeout.m_dwTimeout = 250;
    const std::string node5("\0\0\0\0\0\x18\x05\0\x01\0\0\x01", 12);
    const struct {
        void (*fault)(CFaults&);
        DWORD dwFirstOpen;
        int nNodeId;
        const CTimeoutOnlyProperties* pTimeout;
        std::string configuration;
        BYTE byCardNode;
        DWORD dwPollTimeout;
    } cases[] = {
        {[](CFaults&) {}, 0, 5, nullptr, node5, 5, 1000},
        {[](CFaults&) {}, 0, 0, &timeout, std::string("\0\0\0\0\0\x18\0\0\0\0\0\x01", 12),
         CVirtualArcnetSegment::kDefaultSwitchNodeId, 250},
        {[](CFaults& f) { f.bFailOpen = TRUE; }, 1108, 5, nullptr, node5, 5, 1000},
        {[](CFaults& f) { f.bFailConfigure = TRUE; }, 1102, 5, nullptr, node5, 5, 1000},
        {[](CFaults& f) { f.bFailTxEventRegistration = TRUE; }, 1102, 5, nullptr, node5, 5, 1000},
        {[](CFaults& f) { f.bFailRxEventRegistration = TRUE; }, 1102, 5, nullptr, node5, 5, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nNodeId << " " << c.dwFirstOpen);
        CArcnetRig rig;
        rig.SetFaults(c.fault);
        CNetPort& port = rig.MakePort(c.nNodeId, c.pTimeout);
        if (c.dwFirstOpen != 0) {
            EXPECT_EQ(port.Open(), c.dwFirstOpen);
            EXPECT_FALSE(port.IsConnected());
            EXPECT_EQ(port.GetPollThread(), nullptr);
            if (rig.segment.GetCardCount() == 1) {
                EXPECT_FALSE(rig.Card().bTxEventRegistered && rig.Card().bRxEventRegistered);
            }
            rig.segment.SetFaults(CFaults());
        }
        ASSERT_EQ(port.Open(), 0u);
        EXPECT_EQ(rig.segment.GetCardCount(), 1);
        const auto card = rig.Card();
        EXPECT_EQ(Text(card.configuration), c.configuration);
        EXPECT_EQ(card.byNodeId, c.byCardNode);
        EXPECT_TRUE(card.bTxEventRegistered && card.bRxEventRegistered);
        EXPECT_EQ(port.GetPollThread()->GetTimeout(), c.dwPollTimeout);
    }
}

TEST(NetPortOpen, OpenTwiceChangesNothingOpenCloseRepeatsAndDestructionCloses) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CPollThread* pPollThread = port.GetPollThread();
    EXPECT_EQ(port.Open(), 0u);
    EXPECT_EQ(port.GetPollThread(), pPollThread);
    EXPECT_EQ(rig.segment.GetCardCount(), 1);

    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(rig.segment.GetCardCount(), 0);
    // Closed, it refuses every request and sends nothing.
    CCombuf buffer = Bytes("abc");
    EXPECT_FALSE(port.IsConnected());
    EXPECT_EQ(port.Read(&buffer), 1107u);
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 1200u);
    EXPECT_EQ(port.Clear(), 1107u);
    EXPECT_EQ(port.GetPollThread(), nullptr);
    EXPECT_EQ(rig.segment.GetStationPacketCount(kStation), 0u);

    ASSERT_EQ(port.Open(), 0u);
    buffer = Bytes("again");
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 0u);
    EXPECT_EQ(rig.segment.GetStationPacketCount(kStation), 1u);
    // Destroyed open, it stops its threads before it goes.
    rig.port.reset();
    EXPECT_EQ(rig.segment.GetCardCount(), 0);
}

// Status reads are checked only where they tell something (-1: not).
TEST(NetPortWrite, ResultsCountsAndCancellations) {
    const auto none = [](CFaults&) {};
    const auto noAck = [](CFaults& f) { f.bNoAcknowledge = TRUE; };
    const struct {
        const char* name;
        void (*fault)(CFaults&);
        BYTE byNode;
        int nSize;
        int nWaitForAck;
        DWORD dwResult;
        DWORD dwBytesOut;
        DWORD dwDelivered;
        DWORD dwCancels;
        int nStatusReads;
    } cases[] = {
        {"acknowledged", none, kStation, 3, 1, 0, 3, 1, 0, -1},
        {"empty", none, kStation, 0, 1, 0, 0, 1, 0, -1},
        {"longest", none, kStation, NETPORT_MAX_PACKET, 1, 0, NETPORT_MAX_PACKET, 1, 0, -1},
        {"no ack wait, nobody there", none, 77, 4, 0, 0, 4, 0, 0, 0},
        {"no ack wait, no ack", noAck, kStation, 4, 0, 0, 4, 1, 0, 0},
        {"ack after 5 status reads", [](CFaults& f) { f.dwStatusReadsBeforeAck = 5; }, kStation, 3,
         1, 0, 3, 1, 0, 6},
        {"busy", [](CFaults& f) { f.nBusyTransmits = 1; }, kStation, 3, 1, 1204, 0, 0, 0, -1},
        {"refused", [](CFaults& f) { f.nFailedTransmits = 1; }, kStation, 3, 1, 1200, 0, 0, 0, -1},
        {"too long", none, kStation, NETPORT_MAX_PACKET + 1, 1, 1200, 0, 0, 0, -1},
        // The two that wait out the 840 ms.
        {"never acknowledged", noAck, kStation, 4, 1, 1201, 4, 1, 1, -1},
        {"transmit event lost", [](CFaults& f) { f.nLostTransmitEvents = 1; }, kStation, 4, 0, 2001,
         4, 1, 1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CArcnetRig rig;
        ASSERT_TRUE(rig.segment.AddStation(kStation));
        ASSERT_EQ(rig.MakePort().Open(), 0u);
        rig.SetFaults(c.fault);
        CCombuf buffer = Bytes(std::string(static_cast<std::size_t>(c.nSize), 'd'));
        EXPECT_EQ(rig.port->Write(c.byNode, &buffer, &rig.stats, c.nWaitForAck), c.dwResult);
        EXPECT_EQ(rig.stats.GetTotalBytesOut(), c.dwBytesOut);
        const auto packets = rig.segment.GetStationPackets(kStation);
        ASSERT_EQ(packets.size(), c.dwDelivered);
        if (!packets.empty()) {
            EXPECT_EQ(packets[0].bySource, kPortNode);
            EXPECT_EQ(packets[0].byDestination, kStation);
            EXPECT_EQ(Text(packets[0].data), Text(buffer));
        }
        EXPECT_EQ(rig.Card().dwCancels, c.dwCancels);
        if (c.nStatusReads >= 0) {
            EXPECT_EQ(rig.Card().dwStatusReads, static_cast<DWORD>(c.nStatusReads));
        }
    }
}

// The receive thread counts every packet the card takes and queues those
// for this node (every one on node 0), at most a hundred; Read takes them
// oldest first.
TEST(NetPortRead, TakesThisNodesPacketsOldestFirstAndNeverWaits) {
    for (int nNodeId : {5, 0}) {
        SCOPED_TRACE(nNodeId);
        CArcnetRig rig;
        CNetPort& port = rig.OpenHeld(nNodeId);
        CCombuf buffer = Bytes("stale");
        EXPECT_EQ(port.Read(&buffer), 2001u);
        EXPECT_EQ(buffer.GetSize(), 0);

        const BYTE byCard = rig.Card().byNodeId;
        ASSERT_EQ(rig.segment.InjectPackets(byCard, 3, 7, Bytes("other")), 1);
        for (int i = 0; i < 150; ++i) {
            ASSERT_EQ(rig.segment.InjectPackets(byCard, 4, byCard, Bytes({char(i), 0})), 1);
        }
        ASSERT_TRUE(WaitUntil([&] { return rig.stats.GetTotalBytesIn() == 305; }));
        EXPECT_EQ(port.GetLastSourceNode(), 4);
        int nQueued = NETPORT_MAX_QUEUED_PACKETS;
        if (nNodeId == 0) {
            ASSERT_EQ(port.Read(&buffer), 0u);
            EXPECT_EQ(Text(buffer), "other");
            --nQueued;
        }
        for (int i = 0; i < nQueued; ++i) {
            ASSERT_EQ(port.Read(&buffer), 0u);
            ASSERT_EQ(buffer.GetAt(0), i);
        }
        EXPECT_EQ(port.Read(&buffer), 2001u);
    }
}

// Close wakes the receive thread and then closes the events it waits on,
// and only later, once the poll thread has stopped, stops it. The thread
// must end at the wake-up (or at the failed wait that follows the closing)
// rather than spin until then.
TEST(NetPortClose, TheReceiveThreadEndsWhileThePollThreadStillHoldsCloseUp) {
    CArcnetRig rig;
    CNetPort& port = rig.OpenHeld();
    CReceiveThread* pReceiveThread = port.GetReceiveThread();
    ASSERT_TRUE(pReceiveThread->IsThreadRunning());

    auto closing = std::async(std::launch::async, [&] { return port.Close(); });
    EXPECT_TRUE(WaitUntil([&] { return !pReceiveThread->IsThreadRunning(); }, 10s));
    EXPECT_EQ(closing.wait_for(0s), std::future_status::timeout)
        << "Close still waits for the poll thread";
    EXPECT_TRUE(WaitUntil([&] { return rig.segment.GetCardCount() == 0; }))
        << "the card is released before the threads stop";

    rig.driver.HoldAt(0);
    EXPECT_EQ(closing.get(), 0u);
    EXPECT_EQ(port.GetReceiveThread(), nullptr);
    EXPECT_FALSE(port.IsConnected());
}

}  // namespace
