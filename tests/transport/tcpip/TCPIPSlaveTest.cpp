// The TCP/IP port as a slave: its listening thread accepts one master at a
// time, hands it to the port, and listens again when the master is lost.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "transport/tcpip/LoopbackPeer.h"

namespace {

using namespace tcpiptest;

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
