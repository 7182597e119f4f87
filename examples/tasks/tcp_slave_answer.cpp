// Example: a TCP slave answering a master's requests.
//
// A CTCPIPPort in the slave role listens on a free loopback port; its
// listening thread accepts a master and tells the protocol
// (MasterConnected). The slave then reads each six-byte request "GET n\n"
// and answers with channel n's reading ("+021.5\n") until the master
// closes, which its read reports as 1400 and the protocol hears as
// MasterDisconnected; the port then listens for the next master. The
// master is a CTCPIPPort on a thread of its own. Exits nonzero when the
// library answers anything else.
#include <kelvara/Kelvara.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The protocol gives the port its role and hears masters come and go (on
// the listening thread, hence the atomics).
class CLoopbackProtocol : public CProtocol {
public:
    explicit CLoopbackProtocol(ProtocolStyle eStyle) { m_eProtocolStyle = eStyle; }
    void GetFirstIPAddress(CString& strAddress) override { strAddress = "127.0.0.1"; }
    void MasterConnected() override { ++m_nConnected; }
    void MasterDisconnected() override { ++m_nDisconnected; }

    std::atomic<int> m_nConnected{0};
    std::atomic<int> m_nDisconnected{0};
};

// Reads exactly nCount bytes by the deadline; the bytes-in count says how
// many each read brought.
DWORD ReadFrame(CTCPIPPort& port, CCommsStats& stats, DWORD nCount, CCombuf& frame,
                Clock::time_point deadline) {
    frame.SetSize(0);
    while (static_cast<DWORD>(frame.GetSize()) < nCount) {
        if (Clock::now() >= deadline) {
            return SE_TIMEOUT;
        }
        const DWORD dwBefore = stats.GetTotalBytesIn();
        CCombuf part;
        const DWORD dwResult = port.Read(&part, nCount - frame.GetSize(), &stats);
        for (DWORD i = 0; i < stats.GetTotalBytesIn() - dwBefore; ++i) {
            frame += part[static_cast<int>(i)];
        }
        if (dwResult != SE_NO_ERROR && dwResult != SE_TIMEOUT) {
            return dwResult;
        }
    }
    return SE_NO_ERROR;
}

// The master: asks for channels 1 and 2, then closes; how many replies
// were right.
void RunMaster(int nPort, Clock::time_point deadline, std::atomic<int>& nRight) {
    CLoopbackProtocol protocol(CProtocol::PROTOCOL_STYLE_MASTER);
    CTCPIPProperties record;
    record.m_nPortNumber = nPort;
    CTCPIPPort port(&record, &protocol);
    CCommsStats stats;
    port.Open();
    while (port.TestConnection() != 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // look again
    }
    for (const char* pszRequest : {"GET 1\n", "GET 2\n"}) {
        CCombuf request;
        request = pszRequest;
        CCombuf reply;
        if (port.Write(&request, &stats) == SE_NO_ERROR &&
            ReadFrame(port, stats, 7, reply, deadline) == SE_NO_ERROR &&
            std::memcmp(reply.GetData(), pszRequest[4] == '1' ? "+021.5\n" : "+019.0\n", 7) == 0) {
            ++nRight;
        }
    }
    port.Close();
}

}  // namespace

int main() {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    CLoopbackProtocol protocol(CProtocol::PROTOCOL_STYLE_SLAVE);
    CTCPIPProperties record;
    CTCPIPPort port(&record, &protocol);
    // A free port: the first of a few that can be listened on.
    const int nStart = 61000 + static_cast<int>(std::random_device{}() % 4000);
    DWORD dwListen = SE_TCPIP_SOCKET_ERROR;
    for (int i = 0; i < 100 && dwListen != SE_NO_ERROR; ++i) {
        record.m_nPortNumber = nStart + i;
        dwListen = port.StartListen();
    }
    if (dwListen != SE_NO_ERROR) {
        std::printf("no free port to listen on\n");
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", static_cast<int>(record.m_nPortNumber));
    std::atomic<int> nRight{0};
    std::thread master(RunMaster, static_cast<int>(record.m_nPortNumber), deadline,
                       std::ref(nRight));

    // Serve: one request, one answer, until the master goes.
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    int nAnswered = 0;
    DWORD dwResult = SE_NO_ERROR;
    while (dwResult != SE_TCPIP_SOCKET_ERROR && Clock::now() < deadline) {
        if (!port.IsConnected()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // look again
            continue;
        }
        CCombuf request;
        dwResult = ReadFrame(port, stats, 6, request, deadline);
        if (dwResult == SE_NO_ERROR) {
            CCombuf reply;
            reply = request[4] == '1' ? "+021.5\n" : "+019.0\n";
            nAnswered += port.Write(&reply, &stats) == SE_NO_ERROR ? 1 : 0;
        }
    }
    master.join();
    port.StopListen();
    port.Close();

    std::printf("answered %d requests; master connected %d time(s), gone %d time(s)\n", nAnswered,
                protocol.m_nConnected.load(), protocol.m_nDisconnected.load());
    for (CString line; stats.GetCommsLogCount() > 0;) {
        stats.GetFromCommsLog(&line);
        std::printf("  %s\n", line.GetString());
    }
    const bool ok = nAnswered == 2 && nRight == 2 && protocol.m_nConnected == 1 &&
                    protocol.m_nDisconnected == 1;
    return ok ? 0 : 1;
}
