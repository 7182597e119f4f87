// The TCP/IP port as a slave: its listening thread accepts one master at a
// time, hands it to the port, and listens again when the master is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <memory>

#include "support/LoopbackPeer.h"
#include "support/ThreadState.h"

namespace {

using namespace testsupport;

class TCPIPSlave : public ::testing::Test {
protected:
    TCPIPSlave() {
        m_properties.m_nPortNumber = FreePort();
        m_stats.ActivateCommsLog(true);
    }
    int Port() const { return m_properties.m_nPortNumber; }
    // Connects a raw master and waits until the port has it.
    RawConnection ConnectMaster(int nConnectedBefore) {
        RawConnection master = RawConnection::ConnectTo(Port());
        EXPECT_TRUE(master.IsValid());
        EXPECT_TRUE(WaitUntil([&] { return m_protocol.m_nConnected == nConnectedBefore + 1; }));
        return master;
    }

    TestProtocol m_protocol{CProtocol::PROTOCOL_STYLE_SLAVE};
    CTCPIPProperties m_properties;
    CCommsStats m_stats;
    std::unique_ptr<ProbedPort> m_port = std::make_unique<ProbedPort>(&m_properties, &m_protocol);
};

TEST_F(TCPIPSlave, OpenCreatesNoSocketAndNothingIsConnectedBeforeAMaster) {
    const int nBefore = CountOpenDescriptors();
    EXPECT_EQ(m_port->Open(), 0u);
    EXPECT_EQ(m_port->Socket(), TCPIP_INVALID_SOCKET);
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
    CCombuf request = Bytes("x");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 1402u);
    EXPECT_EQ(m_port->Clear(), 1402u);
}

TEST_F(TCPIPSlave, SocatMasterConnectsAndExchanges) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    Socat master({"TCP:127.0.0.1:" + std::to_string(Port()), "EXEC:cat"});
    ASSERT_TRUE(master.Started());
    ASSERT_TRUE(WaitUntil([&] { return m_protocol.m_nConnected == 1; }));
    ASSERT_TRUE(m_port->IsConnected());

    CCombuf request = Bytes("status?");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 0u);
    CCombuf reply;
    EXPECT_EQ(m_port->Read(&reply, 7, &m_stats), 0u);
    EXPECT_EQ(Text(reply, 7), "status?");
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 7u);
    EXPECT_EQ(m_port->Clear(), 0u) << "the accepted socket does not block";
}

TEST_F(TCPIPSlave, ShortRequestGives2001CountingWhatCameAndLoggingTheWholeBuffer) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection master = ConnectMaster(0);
    master.Send("ABCD");
    ASSERT_TRUE(BecomesReadable(m_port->Socket()));
    CCombuf request;
    EXPECT_EQ(m_port->Read(&request, 10, &m_stats), 2001u);
    EXPECT_EQ(request.GetSize(), 10);
    EXPECT_EQ(Text(request, 4), "ABCD");
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 4u);
    CString line;
    m_stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, CString("RXABCD......"));
    EXPECT_TRUE(m_port->IsConnected()) << "short is not lost";

    master.Send("EFGHIJ");
    EXPECT_EQ(m_port->Read(&request, 6, &m_stats), 0u);
    EXPECT_EQ(Text(request, 6), "EFGHIJ");
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 10u);
}

TEST_F(TCPIPSlave, MasterClosingWhileReadWaitsGives1400AndTheSlaveListensAgain) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection master = ConnectMaster(0);
    std::atomic<int> nReader{0};
    CCombuf request;
    auto reading = std::async(std::launch::async, [&] {
        nReader = CurrentThreadId();
        return m_port->Read(&request, 10, &m_stats);
    });
    ASSERT_TRUE(WaitUntil([&] { return nReader != 0; }));
    ASSERT_TRUE(SleepsInPoll(nReader));
    master.Close();
    EXPECT_EQ(reading.get(), 1400u);
    EXPECT_EQ(m_protocol.m_nDisconnected, 1);
    EXPECT_FALSE(m_port->IsConnected());
    EXPECT_EQ(m_port->Socket(), TCPIP_INVALID_SOCKET) << "the lost master's socket is closed";

    master = ConnectMaster(1);
    CCombuf reply = Bytes("back");
    EXPECT_EQ(m_port->Write(&reply, &m_stats), 0u);
    EXPECT_EQ(master.Receive(4), "back");
}

// The listening thread puts the socket it accepted in the port and then
// calls OnConnect; the driver's Close may come before, between or after.
// Played here in both orders that matter, on the listening thread's steps.
TEST_F(TCPIPSlave, CloseRacingTheHandOverNeverLeavesAConnectedPortWithoutASocket) {
    RawListener listener(0);
    const int nBefore = CountOpenDescriptors();
    CCombuf reply;
    {
        // Close between the two steps takes the socket: nothing connects.
        RawConnection master = RawConnection::ConnectTo(listener.Port());
        m_port->PutSocket(listener.Accept().Release());
        EXPECT_EQ(m_port->Close(), 0u);
        m_port->OnConnect();
        EXPECT_FALSE(m_port->IsConnected());
        EXPECT_EQ(m_protocol.m_nConnected, 0) << "nothing to tell the protocol";
        EXPECT_EQ(m_port->Read(&reply, 1, &m_stats), 1402u) << "not a wait on no socket";
        EXPECT_TRUE(master.SeesClose());
    }
    {
        // Close before the hand-over: the new master is simply connected.
        RawConnection master = RawConnection::ConnectTo(listener.Port());
        EXPECT_EQ(m_port->Close(), 0u);
        m_port->PutSocket(listener.Accept().Release());
        m_port->OnConnect();
        EXPECT_TRUE(m_port->IsConnected());
        EXPECT_EQ(m_protocol.m_nConnected, 1);
        reply = Bytes("ok");
        EXPECT_EQ(m_port->Write(&reply, &m_stats), 0u);
        EXPECT_EQ(master.Receive(2), "ok");
        EXPECT_EQ(m_port->Close(), 0u);
    }
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

// A slave's Open forgets that it is connected but keeps the socket; a
// master accepted then must not take that socket's place unclosed.
TEST_F(TCPIPSlave, AMasterAcceptedWhileThePortStillHoldsASocketIsTurnedAway) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection first = ConnectMaster(0);
    const TCPIPSocket hFirst = m_port->Socket();
    EXPECT_EQ(m_port->Open(), 0u);
    EXPECT_FALSE(m_port->IsConnected());

    RawConnection second = RawConnection::ConnectTo(Port());
    ASSERT_TRUE(second.IsValid());
    CSlaveListenThread* pThread = m_port->GetListeningThread();
    int nAccepted = 0;
    EXPECT_TRUE(WaitUntil([&] {
        nAccepted += pThread->ListenForMsg() == 0 ? 1 : 0;
        return second.SeesClose(0ms);
    }));
    EXPECT_EQ(nAccepted, 0);
    EXPECT_EQ(m_port->Socket(), hFirst);
    EXPECT_EQ(m_protocol.m_nConnected, 1);
    EXPECT_EQ(m_port->Close(), 0u);
    EXPECT_TRUE(first.SeesClose());
}

TEST_F(TCPIPSlave, SecondMasterWaitsUntilTheFirstIsLost) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection first = ConnectMaster(0);
    RawConnection second = RawConnection::ConnectTo(Port());
    ASSERT_TRUE(second.IsValid()) << "queued, not accepted";

    CCombuf request = Bytes("one");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 0u);
    EXPECT_EQ(first.Receive(3), "one");
    CCombuf reply;
    EXPECT_EQ(m_port->Read(&reply, 1, &m_stats), 2001u);
    EXPECT_EQ(m_protocol.m_nConnected, 1) << "ten passes of the thread accepted no one";

    first.Close();
    EXPECT_EQ(m_port->Read(&reply, 1, &m_stats), 1400u);
    EXPECT_EQ(m_protocol.m_nDisconnected, 1);
    EXPECT_FALSE(m_port->IsConnected());
    // Listening afresh drops the masters queued on the old socket.
    EXPECT_TRUE(second.SeesClose());

    second = ConnectMaster(1);
    request = Bytes("two");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 0u);
    EXPECT_EQ(second.Receive(3), "two");
}

TEST_F(TCPIPSlave, StopListenKeepsTheMasterAndDestructionClosesIt) {
    const int nBefore = CountOpenDescriptors();
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection master = ConnectMaster(0);

    EXPECT_EQ(m_port->StopListen(), 0u);
    EXPECT_FALSE(m_port->GetListeningThread()->IsThreadRunning());
    EXPECT_FALSE(RawConnection::ConnectTo(Port()).IsValid()) << "no longer listening";
    CCombuf request = Bytes("bye");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 0u);
    EXPECT_EQ(master.Receive(3), "bye");

    m_port.reset();
    EXPECT_TRUE(master.SeesClose());
    master.Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

TEST_F(TCPIPSlave, DestructionWhileListeningWithAMasterEndsTheThreadAndTheSockets) {
    const int nBefore = CountOpenDescriptors();
    ASSERT_EQ(m_port->StartListen(), 0u);
    RawConnection master = ConnectMaster(0);
    m_port.reset();
    EXPECT_TRUE(master.SeesClose());
    master.Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

TEST_F(TCPIPSlave, ListeningOnAPortInUseFailsWithTheSystemError) {
    RawListener other(0);
    m_properties.m_nPortNumber = other.Port();
    EXPECT_EQ(m_port->StartListen(), 1400u);
    EXPECT_FALSE(m_port->GetListeningThread()->IsThreadRunning());

    CSlaveListenThread thread;
    EXPECT_EQ(thread.StartListen(100, m_port.get()), EADDRINUSE);
    EXPECT_FALSE(thread.IsThreadRunning());
}

TEST_F(TCPIPSlave, ListeningAgainOnABusyPortKeepsTryingUntilThePortIsFree) {
    ASSERT_EQ(m_port->StartListen(), 0u);
    auto other = std::make_unique<RawListener>(0);
    m_properties.m_nPortNumber = other->Port();
    m_port->GetListeningThread()->ListenAgain();
    EXPECT_EQ(m_protocol.m_nConnected, 0);

    other.reset();
    // Connects are refused until the thread's next pass listens.
    RawConnection master;
    ASSERT_TRUE(WaitUntil([&] {
        master = RawConnection::ConnectTo(Port());
        return master.IsValid();
    }));
    EXPECT_TRUE(WaitUntil([&] { return m_protocol.m_nConnected == 1; }));
}

TEST_F(TCPIPSlave, ListeningThreadWithoutAPortOrBeforeStartingDoesNothing) {
    CSlaveListenThread thread;
    thread.StopListen();
    EXPECT_EQ(thread.StartListen(100, nullptr), 0);
    EXPECT_FALSE(thread.IsThreadRunning());
    EXPECT_EQ(thread.ListenForMsg(), 0);

    m_port->DropListeningThread();
    EXPECT_EQ(m_port->StartListen(), 1401u);
    EXPECT_EQ(m_port->StopListen(), 1401u);
}

TEST_F(TCPIPSlave, MastersComingAndGoingLeaveNoDescriptorBehind) {
    const int nBefore = CountOpenDescriptors();
    CCombuf reply;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(m_port->StartListen(), 0u);
        RawConnection master = ConnectMaster(2 * i);
        master.Close();
        ASSERT_EQ(m_port->Read(&reply, 1, &m_stats), 1400u);
        master = ConnectMaster(2 * i + 1);
        master.Close();
        ASSERT_EQ(m_port->Read(&reply, 1, &m_stats), 1400u);
        ASSERT_EQ(m_port->StopListen(), 0u);
    }
    EXPECT_EQ(m_protocol.m_nDisconnected, 40);
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

}  // namespace
