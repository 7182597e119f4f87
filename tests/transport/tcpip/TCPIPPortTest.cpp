// The TCP/IP port against loopback peers: first what holds in both roles,
// then what only a master or only a slave does.
#include <gtest/gtest.h>

#include <memory>

#include "support/LoopbackPeer.h"

namespace {

using namespace testsupport;

// A port in the role of the parameter, and the raw peer at its other end:
// the device a master connects out to, or a master that connects in.
class TCPIPPort : public ::testing::TestWithParam<CProtocol::ProtocolStyle> {
protected:
    TCPIPPort() {
        m_properties.m_nPortNumber = IsMaster() ? m_device.Port() : FreePort();
        m_stats.ActivateCommsLog(true);
    }
    bool IsMaster() const { return GetParam() == CProtocol::PROTOCOL_STYLE_MASTER; }
    int Port() const { return m_properties.m_nPortNumber; }
    // The peer's end of a new connection.
    RawConnection Connect() {
        if (IsMaster()) {
            EXPECT_EQ(m_port->Open(), 0u);
            EXPECT_TRUE(WaitUntil([&] { return m_port->TestConnection() == 1; }));
        } else if (!m_port->GetListeningThread()->IsThreadRunning()) {
            EXPECT_EQ(m_port->StartListen(), 0u);
        }
        return NextPeer();
    }
    // After a lost connection a master has already connected again; a
    // slave listens afresh and takes the next master.
    RawConnection NextPeer() {
        if (IsMaster()) {
            return m_device.Accept();
        }
        const int nBefore = m_protocol.m_nConnected;
        RawConnection master = RawConnection::ConnectTo(Port());
        EXPECT_TRUE(WaitUntil([&] { return m_protocol.m_nConnected == nBefore + 1; }));
        return master;
    }

    TestProtocol m_protocol{GetParam()};
    RawListener m_device{0};
    CTCPIPProperties m_properties;
    CCommsStats m_stats;
    std::unique_ptr<ProbedPort> m_port = std::make_unique<ProbedPort>(&m_properties, &m_protocol);
    CCombuf m_reply;
};

INSTANTIATE_TEST_SUITE_P(Roles, TCPIPPort,
                         ::testing::Values(CProtocol::PROTOCOL_STYLE_MASTER,
                                           CProtocol::PROTOCOL_STYLE_SLAVE));

TEST_P(TCPIPPort, SilenceAndShortReadsGive2001CountingWhatCameAndLoggingTheWholeBuffer) {
    RawConnection peer = Connect();
    EXPECT_EQ(m_port->Clear(), 0u) << "nothing waiting: the socket does not block";
    EXPECT_EQ(m_port->Read(&m_reply, 8, &m_stats), 2001u);
    CCombuf empty;
    EXPECT_EQ(m_port->Write(&empty, &m_stats), 0u) << "sending nothing is no lost connection";
    EXPECT_EQ(m_stats.GetCommsLogCount(), 0);
    peer.Send("ABCD");
    ASSERT_TRUE(BecomesReadable(m_port->Socket()));
    EXPECT_EQ(m_port->Read(&m_reply, 10, &m_stats), 2001u);
    EXPECT_EQ(m_reply.GetSize(), 10);
    EXPECT_EQ(Text(m_reply, 4), "ABCD");
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 4u);
    EXPECT_EQ(DrainCommsLog(m_stats), std::vector<std::string>{"RXABCD......"});
    EXPECT_TRUE(m_port->IsConnected()) << "short is not lost";

    peer.Send("stale bytes");
    ASSERT_TRUE(BecomesReadable(m_port->Socket()));
    EXPECT_EQ(m_port->Clear(), 0u) << "discarded";
    peer.Send("EFGHIJ");
    EXPECT_EQ(m_port->Read(&m_reply, 6, &m_stats), 0u);
    EXPECT_EQ(Text(m_reply), "EFGHIJ");
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 10u);
}

// A slave serves one master at a time; one that comes meanwhile waits in
// the queue, which listening afresh after the loss drops.
TEST_P(TCPIPPort, PeerClosingGives1400AndTheNextConnectionServes) {
    RawConnection peer = Connect();
    RawConnection queued;
    if (!IsMaster()) {
        queued = RawConnection::ConnectTo(Port());
        ASSERT_TRUE(queued.IsValid());
        EXPECT_EQ(m_port->Read(&m_reply, 1, &m_stats), 2001u);
        EXPECT_EQ(m_protocol.m_nConnected, 1) << "ten passes of the thread accepted no one";
    }
    peer.Close();
    EXPECT_EQ(m_port->Read(&m_reply, 10, &m_stats), 1400u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);
    EXPECT_FALSE(m_port->IsConnected());
    EXPECT_EQ(m_protocol.m_nDisconnected, IsMaster() ? 0 : 1) << "only a slave reports masters";
    if (!IsMaster()) {
        EXPECT_EQ(m_port->Socket(), TCPIP_INVALID_SOCKET) << "the lost master's socket is closed";
        EXPECT_TRUE(queued.SeesClose());
    }

    peer = NextPeer();
    ASSERT_TRUE(peer.IsValid()) << "a master connects again at once; a slave listens again";
    CCombuf request = Bytes("back");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 0u);
    EXPECT_EQ(peer.Receive(4), "back");
    EXPECT_EQ(m_stats.GetTotalBytesOut(), 4u);
    EXPECT_EQ(DrainCommsLog(m_stats), std::vector<std::string>{"TXback"});

    peer.Close();
    ASSERT_TRUE(BecomesReadable(m_port->Socket()));
    EXPECT_EQ(m_port->Clear(), 1400u) << "Clear notices the close too";
    EXPECT_TRUE(NextPeer().IsValid());
}

TEST_P(TCPIPPort, FullSendBufferGivesPartialWritesThenWouldBlockAndKeepsTheConnection) {
    RawConnection peer = Connect();
    CCombuf block;
    block.SetSize(256 * 1024);
    // Loopback buffers grow while they fill, so partial writes may come
    // more than once before nothing fits.
    DWORD dwResult = 0;
    int nPartial = 0;
    DWORD dwOut = 0;
    for (int i = 0; i < 1000 && dwResult != 1405u; ++i) {
        dwResult = m_port->Write(&block, &m_stats);
        ASSERT_TRUE(dwResult == 0u || dwResult == 2001u || dwResult == 1405u) << dwResult;
        nPartial += dwResult == 2001u;
        EXPECT_EQ(m_stats.GetTotalBytesOut() > dwOut, dwResult != 1405u) << "counted what went";
        dwOut = m_stats.GetTotalBytesOut();
    }
    ASSERT_EQ(dwResult, 1405u);
    EXPECT_GT(nPartial, 0);
    EXPECT_TRUE(m_port->IsConnected());
    EXPECT_EQ(peer.Receive(dwOut).size(), dwOut) << "what was counted is what went";
}

TEST_P(TCPIPPort, ConnectionsComingAndGoingLeaveNoDescriptorBehind) {
    const int nBefore = CountOpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        RawConnection peer = Connect();
        peer.Close();
        ASSERT_EQ(m_port->Read(&m_reply, 1, &m_stats), 1400u);
        if (IsMaster()) {
            ASSERT_TRUE(NextPeer().IsValid()) << "a master connects again at once";
            m_port->Close();
        } else {
            ASSERT_EQ(m_port->StopListen(), 0u);
        }
    }
    EXPECT_EQ(m_protocol.m_nDisconnected, IsMaster() ? 0 : 20);
    // Nor does a port destroyed while connected (a slave also listening).
    RawConnection last = Connect();
    m_port.reset();
    EXPECT_TRUE(last.SeesClose());
    last.Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

// ---- Master ----------------------------------------------------------------

class TCPIPMaster : public TCPIPPort {};
INSTANTIATE_TEST_SUITE_P(Master, TCPIPMaster, ::testing::Values(CProtocol::PROTOCOL_STYLE_MASTER));

TEST_P(TCPIPMaster, RefusedOrUnaddressableCallsFailAndLeaveNoDescriptorBehind) {
    const int nPort = FreePort();
    m_properties.m_nPortNumber = nPort;
    const int nBefore = CountOpenDescriptors();
    // Never opened: the first call starts the connect itself.
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(m_port->Read(&m_reply, 4, &m_stats), 1402u);
    }
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);
    EXPECT_EQ(m_stats.GetCommsLogCount(), 0);

    RawListener device(nPort);
    CCombuf request = Bytes("ping");
    ASSERT_TRUE(WaitUntil([&] { return m_port->Write(&request, &m_stats) == 0; }));
    // Connects given up while refused may have reached the queue first.
    std::string received;
    for (int i = 0; i < 5 && received.empty(); ++i) {
        received = device.Accept().Receive(4);
    }
    EXPECT_EQ(received, "ping");
    m_port->Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore + 1) << "the device's listener only";

    m_protocol.m_strAddress = "plc.example";
    EXPECT_EQ(m_port->Open(), 1400u);
    EXPECT_EQ(m_port->Write(&request, &m_stats), 1402u);
    EXPECT_EQ(CountOpenDescriptors(), nBefore + 1);
}

// ---- Slave -----------------------------------------------------------------

class TCPIPSlave : public TCPIPPort {};
INSTANTIATE_TEST_SUITE_P(Slave, TCPIPSlave, ::testing::Values(CProtocol::PROTOCOL_STYLE_SLAVE));

// The listening thread puts the socket it accepted in the port and then
// calls OnConnect; the driver's Close may come in between.
TEST_P(TCPIPSlave, CloseDuringTheHandOverLeavesThePortUnconnectedAndTheSocketClosed) {
    const int nBefore = CountOpenDescriptors();
    RawConnection master = RawConnection::ConnectTo(m_device.Port());
    ASSERT_TRUE(m_port->TakeAcceptedSocket(m_device.Accept().Release()));
    EXPECT_EQ(m_port->Close(), 0u);
    m_port->OnConnect();
    EXPECT_FALSE(m_port->IsConnected());
    EXPECT_EQ(m_protocol.m_nConnected, 0);
    EXPECT_EQ(m_port->Read(&m_reply, 1, &m_stats), 1402u) << "not a wait on no socket";
    EXPECT_TRUE(master.SeesClose());
    master.Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

// A slave's Open forgets that it is connected but keeps the socket; a
// master accepted then must not take that socket's place unclosed.
TEST_P(TCPIPSlave, AMasterAcceptedWhileThePortStillHoldsASocketIsTurnedAway) {
    RawConnection first = Connect();
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

// A port in use fails StartListen at once; when listening again finds it
// in use, the thread keeps trying until it is free.
TEST_P(TCPIPSlave, ListeningOnAPortInUseFailsButListeningAgainKeepsTrying) {
    const int nFree = Port();
    m_properties.m_nPortNumber = m_device.Port();
    EXPECT_EQ(m_port->StartListen(), 1400u);
    EXPECT_FALSE(m_port->GetListeningThread()->IsThreadRunning());
    CCombuf request = Bytes("x");
    EXPECT_EQ(m_port->Write(&request, &m_stats), 1402u);

    m_properties.m_nPortNumber = nFree;
    ASSERT_EQ(m_port->StartListen(), 0u);
    auto other = std::make_unique<RawListener>(0);
    m_properties.m_nPortNumber = other->Port();
    m_port->GetListeningThread()->ListenAgain();
    other.reset();
    // Connects are refused until the thread's next pass listens.
    RawConnection master;
    ASSERT_TRUE(WaitUntil([&] {
        master = RawConnection::ConnectTo(Port());
        return master.IsValid();
    }));
    EXPECT_TRUE(WaitUntil([&] { return m_protocol.m_nConnected == 1; }));
}

}  // namespace
