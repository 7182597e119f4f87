// CNetPort on the virtual segment: opening and closing the card, direct
// reads and writes, and what the driver is told.
#include <gtest/gtest.h>

#include <future>

#include "transport/arcnet/ArcnetTestSupport.h"

namespace {

using namespace arcnet_test;
using CFaults = CVirtualArcnetSegment::CFaults;

constexpr BYTE kStation = 9;

TEST(NetPortOpen, WithoutTheCardFailsWith1108AndEveryRequestFailsSafely) {
    CPollProperties poll;
    CCommsStats stats;
    CNetPort port(&poll, nullptr, &stats, 5, nullptr);
    EXPECT_EQ(port.Open(), 1108u);
    EXPECT_FALSE(port.IsConnected());
    CCombuf buffer;
    buffer = "abc";
    EXPECT_EQ(port.Read(&buffer), 1107u);
    EXPECT_EQ(port.Write(1, &buffer, &stats, 1), 1200u);
    EXPECT_EQ(stats.GetTotalBytesOut(), 0u);
    EXPECT_EQ(port.Clear(), 1107u);
    EXPECT_EQ(port.Init(), 0u);
    EXPECT_EQ(port.Hangup(), 0u);
    EXPECT_EQ(port.Close(), 0u);
}

TEST(NetPortOpen, ConfiguresTheCardWithTheNodeIdAndRegistersBothEvents) {
    CArcnetRig rig;
    ASSERT_EQ(rig.MakePort(5).Open(), 0u);
    EXPECT_TRUE(rig.port->IsConnected());
    EXPECT_EQ(rig.port->Clear(), 0u);
    auto card = rig.Card();
    EXPECT_EQ(Text(card.configuration), std::string("\0\0\0\0\0\x18\x05\0\x01\0\0\x01", 12));
    EXPECT_EQ(card.byNodeId, 5);
    EXPECT_TRUE(card.bTxEventRegistered);
    EXPECT_TRUE(card.bRxEventRegistered);
    EXPECT_EQ(rig.port->GetPollThread()->GetTimeout(), 1000u);

    CArcnetRig noNode;
    CTimeoutOnlyProperties timeout;
    timeout.m_dwTimeout = 250;
    ASSERT_EQ(noNode.MakePort(0, nullptr, &timeout).Open(), 0u);
    card = noNode.Card();
    EXPECT_EQ(Text(card.configuration), std::string("\0\0\0\0\0\x18\0\0\0\0\0\x01", 12));
    EXPECT_EQ(card.byNodeId, CVirtualArcnetSegment::kDefaultSwitchNodeId);
    EXPECT_EQ(noNode.port->GetPollThread()->GetTimeout(), 250u);
}

TEST(NetPortOpen, FailuresGiveTheirCodesAndALaterOpenStartsAfresh) {
    const struct {
        void (*set)(CFaults&);
        DWORD dwCode;
    } failures[] = {{[](CFaults& f) { f.bFailOpen = TRUE; }, 1108},
                    {[](CFaults& f) { f.bFailConfigure = TRUE; }, 1102},
                    {[](CFaults& f) { f.bFailTxEventRegistration = TRUE; }, 1102},
                    {[](CFaults& f) { f.bFailRxEventRegistration = TRUE; }, 1102}};
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.dwCode);
        CArcnetRig rig;
        rig.SetFaults(failure.set);
        CNetPort& port = rig.MakePort();
        EXPECT_EQ(port.Open(), failure.dwCode);
        EXPECT_FALSE(port.IsConnected());
        EXPECT_EQ(port.GetPollThread(), nullptr);
        if (rig.segment.GetCardCount() == 1) {
            EXPECT_FALSE(rig.Card().bTxEventRegistered && rig.Card().bRxEventRegistered);
        }
        rig.segment.SetFaults(CFaults());
        EXPECT_EQ(port.Open(), 0u);
        EXPECT_EQ(rig.segment.GetCardCount(), 1);
    }
}

TEST(NetPortOpen, OpenTwiceChangesNothingAndOpenCloseRepeats) {
    CArcnetRig rig;
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CPollThread* pPollThread = port.GetPollThread();
    EXPECT_EQ(port.Open(), 0u);
    EXPECT_EQ(port.GetPollThread(), pPollThread);
    EXPECT_EQ(rig.segment.GetCardCount(), 1);

    EXPECT_EQ(port.Close(), 0u);
    EXPECT_FALSE(port.IsConnected());
    EXPECT_EQ(port.GetPollThread(), nullptr);
    EXPECT_EQ(rig.segment.GetCardCount(), 0);
    EXPECT_EQ(port.Close(), 0u);

    ASSERT_TRUE(rig.segment.AddStation(kStation));
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "again";
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 0u);
    EXPECT_EQ(rig.segment.GetStationPacketCount(kStation), 1u);
}

TEST(NetPortWrite, DeliversTheBufferAndCountsItsBytes) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    CNetPort& port = rig.MakePort(5);
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "abc";
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 0u);
    buffer.SetSize(0);
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 0u);
    // Without an acknowledgement wait the transmit event is enough.
    buffer = "x";
    EXPECT_EQ(port.Write(77, &buffer, &rig.stats, 0), 0u);

    const auto packets = rig.segment.GetStationPackets(kStation);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].bySource, 5);
    EXPECT_EQ(packets[0].byDestination, kStation);
    EXPECT_EQ(Text(packets[0].data), "abc");
    EXPECT_EQ(packets[1].data.GetSize(), 0);
    EXPECT_EQ(rig.stats.GetTotalBytesOut(), 4u);
    EXPECT_EQ(rig.Card().dwCancels, 0u);
}

TEST(NetPortWrite, WithoutTheAcknowledgementWaitANodeNobodyAnswersStillSucceeds) {
    CArcnetRig rig;  // no station 77 on the segment
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "lost";
    EXPECT_EQ(port.Write(77, &buffer, &rig.stats, 0), 0u);
    auto card = rig.Card();
    EXPECT_EQ(card.dwTransmissions, 1u);
    EXPECT_FALSE(card.bAcknowledged) << "the status block shows no acknowledgement";
    EXPECT_EQ(card.dwStatusReads, 0u) << "and nobody asked it";
    EXPECT_EQ(card.dwCancels, 0u);
    EXPECT_EQ(rig.stats.GetTotalBytesOut(), 4u);

    // The same for a station that is there but does not acknowledge.
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    rig.SetFaults([](CFaults& f) { f.bNoAcknowledge = TRUE; });
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 0), 0u);
    card = rig.Card();
    EXPECT_EQ(card.dwTransmissions, 2u);
    EXPECT_FALSE(card.bAcknowledged);
    EXPECT_EQ(card.dwStatusReads, 0u);
    EXPECT_EQ(card.dwCancels, 0u);
    EXPECT_EQ(rig.stats.GetTotalBytesOut(), 8u);
    EXPECT_EQ(rig.segment.GetStationPacketCount(kStation), 1u);
}

TEST(NetPortWrite, AcknowledgementIsPolledFromTheStatusBlock) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    rig.SetFaults([](CFaults& f) { f.dwStatusReadsBeforeAck = 5; });
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "ack";
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 0u);
    EXPECT_EQ(rig.Card().dwStatusReads, 6u);
    EXPECT_EQ(rig.Card().dwCancels, 0u);
}

TEST(NetPortWrite, RefusedRequestsCountNothing) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "abc";
    rig.SetFaults([](CFaults& f) { f.nBusyTransmits = 1; });
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 1204u);
    rig.SetFaults([](CFaults& f) { f.nFailedTransmits = 1; });
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 1200u);
    CCombuf tooLong;
    tooLong.SetSize(NETPORT_MAX_PACKET + 1);
    EXPECT_EQ(port.Write(kStation, &tooLong, &rig.stats, 1), 1200u);

    EXPECT_EQ(rig.stats.GetTotalBytesOut(), 0u);
    EXPECT_EQ(rig.segment.GetStationPacketCount(kStation), 0u);
    EXPECT_EQ(rig.Card().dwBusyRefusals, 1u);
    EXPECT_EQ(rig.Card().dwCancels, 0u);
    tooLong.SetSize(NETPORT_MAX_PACKET);
    EXPECT_EQ(port.Write(kStation, &tooLong, &rig.stats, 1), 0u);
}

// The two cases that wait out the 840 ms.
TEST(NetPortWrite, UnfinishedTransmissionsAreCancelledAndStillCounted) {
    CArcnetRig rig;
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    CCombuf buffer;
    buffer = "abcd";
    rig.SetFaults([](CFaults& f) { f.bNoAcknowledge = TRUE; });
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 1), 1201u);
    EXPECT_EQ(rig.Card().dwCancels, 1u);
    rig.SetFaults([](CFaults& f) {
        f.bNoAcknowledge = FALSE;
        f.nLostTransmitEvents = 1;
    });
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 0), 2001u);
    EXPECT_EQ(rig.Card().dwCancels, 2u);
    EXPECT_EQ(rig.stats.GetTotalBytesOut(), 8u);
}

TEST(NetPortRead, TakesPacketsOldestFirstAndNeverWaits) {
    CArcnetRig rig;
    rig.poll.AddItem(1, kStation);
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);  // keeps the poll thread off the packets
    CNetPort& port = rig.MakePort(5);
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_POLL_REQUEST));
    CCombuf buffer;
    buffer = "stale";
    EXPECT_EQ(port.Read(&buffer), 2001u);
    EXPECT_EQ(buffer.GetSize(), 0);

    ASSERT_EQ(rig.segment.InjectPackets(5, 7, 5, Bytes("one")), 1);
    ASSERT_EQ(rig.segment.InjectPackets(5, 8, 5, Bytes("two")), 1);
    ASSERT_TRUE(WaitUntil([&] { return rig.stats.GetTotalBytesIn() == 6; }));
    EXPECT_EQ(port.GetLastSourceNode(), 8);
    ASSERT_EQ(port.Read(&buffer), 0u);
    EXPECT_EQ(Text(buffer), "one");
    ASSERT_EQ(port.Read(&buffer), 0u);
    EXPECT_EQ(Text(buffer), "two");
    EXPECT_EQ(port.Read(&buffer), 2001u);
}

TEST(NetPortClose, ReleasesTheCardAndLeavesRequestsFailingSafely) {
    CArcnetRig rig;
    rig.poll.AddItem(1, kStation);
    ASSERT_TRUE(rig.segment.AddStation(kStation));
    // Every transmission now waits for an event that never comes: Close
    // must not wait those out, nor trip over the poll thread inside one.
    rig.SetFaults([](CFaults& f) { f.nLostTransmitEvents = -1; });
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.driver.CountCalls(NETMSG_POLL_REQUEST, 1) > 0; }));
    ASSERT_TRUE(rig.segment.InjectPackets(5, 7, 5, Bytes("late"), 50) == 50);
    EXPECT_EQ(port.Close(), 0u);

    EXPECT_EQ(rig.segment.GetCardCount(), 0);
    EXPECT_EQ(port.GetPollThread(), nullptr);
    EXPECT_EQ(port.GetReceiveThread(), nullptr);
    CCombuf buffer;
    buffer = "abc";
    EXPECT_EQ(port.Read(&buffer), 1107u);
    EXPECT_EQ(port.Write(kStation, &buffer, &rig.stats, 0), 1200u);
    EXPECT_EQ(port.Clear(), 1107u);
}

// Close wakes the receive thread and then closes the events it waits on,
// and only later, once the poll thread has stopped, stops it. The thread
// must end at the wake-up (or at the failed wait that follows the closing)
// rather than spin until then.
TEST(NetPortClose, TheReceiveThreadEndsWhileThePollThreadStillHoldsCloseUp) {
    CArcnetRig rig;
    rig.poll.AddItem(1, kStation);
    rig.driver.HoldAt(NETMSG_POLL_REQUEST);
    CNetPort& port = rig.MakePort();
    ASSERT_EQ(port.Open(), 0u);
    ASSERT_TRUE(rig.driver.WaitHeld(NETMSG_POLL_REQUEST));
    CReceiveThread* pReceiveThread = port.GetReceiveThread();
    ASSERT_TRUE(pReceiveThread->IsThreadRunning());

    auto closing = std::async(std::launch::async, [&] { return port.Close(); });
    EXPECT_TRUE(WaitUntil([&] { return !pReceiveThread->IsThreadRunning(); }, 10s));
    EXPECT_EQ(closing.wait_for(0s), std::future_status::timeout)
        << "Close still waits for the poll thread";
    EXPECT_TRUE(WaitUntil([&] { return rig.segment.GetCardCount() == 0; }))
        << "the card is released before the threads stop";

    rig.driver.Release();
    EXPECT_EQ(closing.get(), 0u);
    EXPECT_EQ(port.GetReceiveThread(), nullptr);
    EXPECT_FALSE(port.IsConnected());
}

TEST(NetPortClose, DestroyingAnOpenPortStopsItsThreadsFirst) {
    CArcnetRig rig;
    rig.poll.AddItem(1, kStation);
    ASSERT_EQ(rig.MakePort().Open(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.driver.CountCalls(NETMSG_POLL_REQUEST, 1) > 0; }));
    rig.port.reset();
    EXPECT_EQ(rig.segment.GetCardCount(), 0);
}

TEST(NetPortSegment, TwoPortsOnOneSegmentReachEachOther) {
    CArcnetRig a;
    CPollProperties poll;
    CCommsStats stats;
    CNetPort b(&poll, nullptr, &stats, 6, nullptr);
    ASSERT_EQ(a.MakePort(5).Open(), 0u);
    ASSERT_EQ(b.Open(), 0u);
    CCombuf buffer;
    buffer = "hi";
    EXPECT_EQ(a.port->Write(6, &buffer, &a.stats, 1), 0u);
    EXPECT_TRUE(WaitUntil([&] { return stats.GetTotalBytesIn() == 2; }));
    EXPECT_EQ(b.GetLastSourceNode(), 5);
    b.Close();
}

}  // namespace
