// The TCP/IP port as a master: connecting out, exchanging, and starting
// over after every failure, against socat and raw loopback peers.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

#include "support/LoopbackPeer.h"
#include "support/ThreadState.h"

namespace {

using namespace testsupport;

class TCPIPMaster : public ::testing::Test {
protected:
    // A port aimed at nPort on 127.0.0.1.
    void Aim(int nPort) {
        m_properties.m_nPortNumber = nPort;
        m_stats.ActivateCommsLog(true);
    }
    // Opens and waits until the connect has completed; the peer's end.
    RawConnection OpenAndAccept(RawListener& listener) {
        Aim(listener.Port());
        EXPECT_EQ(m_port.Open(), 0u);
        EXPECT_TRUE(WaitUntil([&] { return m_port.TestConnection() == 1; }));
        return listener.Accept();
    }

    TestProtocol m_protocol{CProtocol::PROTOCOL_STYLE_MASTER};
    CTCPIPProperties m_properties;
    ProbedPort m_port{&m_properties, &m_protocol};
    CCommsStats m_stats;
};

TEST_F(TCPIPMaster, ExchangesWithSocatEchoServerCountingAndLoggingTheTraffic) {
    const int nPort = FreePort();
    Socat echo(
        {"TCP-LISTEN:" + std::to_string(nPort) + ",bind=127.0.0.1,reuseaddr,fork", "EXEC:cat"});
    ASSERT_TRUE(echo.Started());
    ASSERT_TRUE(WaitUntil([&] { return RawConnection::ConnectTo(nPort).IsValid(); }));
    Aim(nPort);

    ASSERT_EQ(m_port.Open(), 0u);
    CCombuf request = Bytes("READ 40001 2");
    ASSERT_TRUE(WaitUntil([&] { return m_port.Write(&request, &m_stats) == 0; }));
    CCombuf reply;
    ASSERT_EQ(m_port.Read(&reply, 12, &m_stats), 0u);
    EXPECT_EQ(Text(reply, 12), "READ 40001 2");
    EXPECT_EQ(m_stats.GetTotalBytesOut(), 12u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 12u);
    CString line;
    m_stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, CString("TXREAD 40001 2"));
    m_stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, CString("RXREAD 40001 2"));
    EXPECT_EQ(m_protocol.m_nConnected, 0) << "a master does not report masters";
}

TEST_F(TCPIPMaster, RefusedUntilTheDeviceListensThenConnects) {
    const int nPort = FreePort();
    Aim(nPort);
    CCombuf reply;
    // Never opened: the first call starts the connect itself.
    EXPECT_EQ(m_port.Read(&reply, 4, &m_stats), 1402u);
    EXPECT_EQ(m_port.Read(&reply, 4, &m_stats), 1402u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);
    EXPECT_EQ(m_stats.GetCommsLogCount(), 0);

    Socat echo(
        {"TCP-LISTEN:" + std::to_string(nPort) + ",bind=127.0.0.1,reuseaddr,fork", "EXEC:cat"});
    CCombuf request = Bytes("ping");
    ASSERT_TRUE(WaitUntil([&] { return m_port.Write(&request, &m_stats) == 0; }));
    ASSERT_EQ(m_port.Read(&reply, 4, &m_stats), 0u);
    EXPECT_EQ(Text(reply, 4), "ping");
}

TEST_F(TCPIPMaster, PendingConnectRefusedIsRetriedOnTheSameSocket) {
    const int nPort = FreePort();
    Aim(nPort);
    ASSERT_EQ(m_port.Open(), 0u);
    const TCPIPSocket hSocket = m_port.Socket();
    ASSERT_TRUE(WaitUntil([&] { return ConnectHasFailed(hSocket); }));
    EXPECT_EQ(m_port.TestConnection(), 0);
    EXPECT_TRUE(m_port.ConnectPending());

    RawListener device(nPort);
    ASSERT_EQ(device.Port(), nPort);
    ASSERT_TRUE(WaitUntil([&] { return m_port.TestConnection() == 1; }));
    EXPECT_EQ(m_port.Socket(), hSocket);
    EXPECT_TRUE(m_port.IsConnected());
    EXPECT_TRUE(device.Accept().IsValid());
}

TEST_F(TCPIPMaster, ReadWhileTheConnectIsPendingGives1402AndConnectsAfresh) {
    // The device's listen queue is full: the system drops the port's
    // handshake, so its connect stays under way until the device accepts.
    RawListener listener(0, 0);
    RawConnection queued = RawConnection::ConnectTo(listener.Port());
    ASSERT_TRUE(queued.IsValid());
    Aim(listener.Port());
    ASSERT_EQ(m_port.Open(), 0u);
    const unsigned long nFirst = SocketIdentity(m_port.Socket());
    ASSERT_NE(nFirst, 0u);

    CCombuf reply;
    EXPECT_EQ(m_port.Read(&reply, 4, &m_stats), 1402u);
    EXPECT_FALSE(m_port.IsConnected());
    EXPECT_TRUE(m_port.ConnectPending()) << "a new connect is under way";
    const unsigned long nSecond = SocketIdentity(m_port.Socket());
    EXPECT_NE(nSecond, 0u);
    EXPECT_NE(nSecond, nFirst) << "on a socket of its own";
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);

    // Room in the queue: the handshake's next try gets through, and the
    // next Read finds the connect completed and proceeds.
    EXPECT_TRUE(listener.Accept().IsValid());
    RawConnection device = listener.Accept();
    ASSERT_TRUE(device.IsValid());
    device.Send("pong");
    EXPECT_EQ(m_port.Read(&reply, 4, &m_stats), 0u);
    EXPECT_EQ(Text(reply, 4), "pong");
    EXPECT_EQ(SocketIdentity(m_port.Socket()), nSecond);
}

TEST_F(TCPIPMaster, DeviceClosingWhileReadWaitsGives1400AndReconnects) {
    RawListener listener(0);
    RawConnection device = OpenAndAccept(listener);
    std::atomic<int> nReader{0};
    CCombuf reply;
    auto reading = std::async(std::launch::async, [&] {
        nReader = CurrentThreadId();
        return m_port.Read(&reply, 10, &m_stats);
    });
    ASSERT_TRUE(WaitUntil([&] { return nReader != 0; }));
    // Closing before the reader waits would give the same result; the
    // case under test is the close that wakes the wait.
    ASSERT_TRUE(SleepsInPoll(nReader));
    device.Close();
    EXPECT_EQ(reading.get(), 1400u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);
    EXPECT_FALSE(m_port.IsConnected());
    EXPECT_TRUE(listener.Accept().IsValid()) << "a new connect at once";
}

TEST_F(TCPIPMaster, ShortReplyThenPeerCloseGives2001Then1400AndReconnects) {
    RawListener listener(0);
    RawConnection device = OpenAndAccept(listener);
    device.Send("ABCD");
    device.Close();

    CCombuf reply;
    EXPECT_EQ(m_port.Read(&reply, 10, &m_stats), 2001u);
    EXPECT_EQ(reply.GetSize(), 10);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 4u);
    CString line;
    m_stats.GetFromCommsLog(&line);
    EXPECT_EQ(line, CString("RXABCD......")) << "the whole buffer is logged";

    EXPECT_EQ(m_port.Read(&reply, 10, &m_stats), 1400u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 4u);
    EXPECT_FALSE(m_port.IsConnected());

    RawConnection second = listener.Accept();
    ASSERT_TRUE(second.IsValid()) << "a lost master connects again at once";
    CCombuf request = Bytes("again");
    EXPECT_EQ(m_port.Write(&request, &m_stats), 0u);
    EXPECT_EQ(second.Receive(5), "again");
}

TEST_F(TCPIPMaster, NothingWithinASecondIs2001AndCountsNothing) {
    RawListener listener(0);
    RawConnection device = OpenAndAccept(listener);
    CCombuf reply;
    EXPECT_EQ(m_port.Read(&reply, 8, &m_stats), 2001u);
    EXPECT_EQ(m_stats.GetTotalBytesIn(), 0u);
    EXPECT_EQ(m_stats.GetCommsLogCount(), 0);
    CCombuf empty;
    EXPECT_EQ(m_port.Write(&empty, &m_stats), 0u) << "sending nothing is not a lost connection";
    EXPECT_TRUE(m_port.IsConnected());
}

TEST_F(TCPIPMaster, FullSendBufferGivesPartialWritesThenWouldBlockAndKeepsTheConnection) {
    RawListener listener(0);
    RawConnection device = OpenAndAccept(listener);
    CCombuf block;
    block.SetSize(256 * 1024);
    // Loopback buffers grow while they fill, so partial writes may come
    // more than once before nothing fits.
    DWORD dwResult = 0;
    int nPartial = 0;
    DWORD dwOut = 0;
    for (int i = 0; i < 1000 && dwResult != 1405u; ++i) {
        dwResult = m_port.Write(&block, &m_stats);
        ASSERT_TRUE(dwResult == 0u || dwResult == 2001u || dwResult == 1405u) << dwResult;
        nPartial += dwResult == 2001u;
        if (dwResult != 1405u) {
            EXPECT_GT(m_stats.GetTotalBytesOut(), dwOut);
            dwOut = m_stats.GetTotalBytesOut();
        }
    }
    ASSERT_EQ(dwResult, 1405u);
    EXPECT_GT(nPartial, 0);
    EXPECT_EQ(m_stats.GetTotalBytesOut(), dwOut) << "nothing counted when nothing went";
    EXPECT_TRUE(m_port.IsConnected());
    EXPECT_EQ(device.Receive(dwOut).size(), dwOut) << "what was counted is what went";
}

TEST_F(TCPIPMaster, ClearDiscardsWaitingBytesAndNoticesAClosedPeer) {
    RawListener listener(0);
    RawConnection device = OpenAndAccept(listener);
    device.Send("stale bytes");
    ASSERT_TRUE(BecomesReadable(m_port.Socket()));
    EXPECT_EQ(m_port.Clear(), 0u);
    device.Send("fresh");
    CCombuf reply;
    EXPECT_EQ(m_port.Read(&reply, 5, &m_stats), 0u);
    EXPECT_EQ(Text(reply, 5), "fresh");

    device.Close();
    ASSERT_TRUE(BecomesReadable(m_port.Socket()));
    EXPECT_EQ(m_port.Clear(), 1400u);
    EXPECT_TRUE(listener.Accept().IsValid()) << "the master connects again";
}

TEST_F(TCPIPMaster, AnAddressThatIsNotOneFailsToOpen) {
    m_protocol.m_strAddress = "plc.example";
    Aim(FreePort());
    const int nBefore = CountOpenDescriptors();
    EXPECT_EQ(m_port.Open(), 1400u);
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
    CCombuf request = Bytes("x");
    EXPECT_EQ(m_port.Write(&request, &m_stats), 1402u);
}

TEST_F(TCPIPMaster, OpenCloseAndRefusedCyclesLeaveNoDescriptorBehind) {
    RawListener listener(0);
    Aim(listener.Port());
    const int nBefore = CountOpenDescriptors();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(m_port.Open(), 0u);
        ASSERT_TRUE(WaitUntil([&] { return m_port.TestConnection() == 1; }));
        listener.Accept();
        m_port.Close();
    }
    EXPECT_EQ(CountOpenDescriptors(), nBefore);

    Aim(FreePort());
    CCombuf reply;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(m_port.Read(&reply, 4, &m_stats), 1402u);
    }
    m_port.Close();
    EXPECT_EQ(CountOpenDescriptors(), nBefore);
}

}  // namespace
