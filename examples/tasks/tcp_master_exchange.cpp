// Example: a TCP master exchanging requests with its device.
//
// A CTCPIPPort in the master role connects to 127.0.0.1 on the device's
// port, sends "GET n\n" and reads the seven-byte reply ("+021.5\n"). The
// port's Read takes what one receive brings, so the master reads until its
// frame is whole, by a deadline. The device is a CTCPIPPort slave on a
// thread of its own, listening on a free loopback port. Exits nonzero when
// the library answers anything else.
#include <kelvara/Kelvara.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kReplySize = 7;

// The protocol tells the port its role and where to connect.
class CLoopbackProtocol : public CProtocol {
public:
    explicit CLoopbackProtocol(ProtocolStyle eStyle) { m_eProtocolStyle = eStyle; }
    void GetFirstIPAddress(CString& strAddress) override { strAddress = "127.0.0.1"; }
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

// The device: answers each "GET n\n" with channel n's reading until the
// master goes or the deadline passes.
void ServeDevice(CTCPIPPort& port, Clock::time_point deadline) {
    CCommsStats stats;
    CCombuf request;
    while (Clock::now() < deadline) {
        const DWORD dwResult = port.IsConnected() ? ReadFrame(port, stats, 6, request, deadline)
                                                  : SE_TCPIP_NOT_CONNECTED;
        if (dwResult == SE_TCPIP_SOCKET_ERROR) {
            return;  // the master closed the connection
        }
        if (dwResult == SE_NO_ERROR) {
            CCombuf reply;
            reply = request[4] == '1' ? "+021.5\n" : "+019.0\n";
            port.Write(&reply, &stats);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // look again
        }
    }
}

}  // namespace

int main() {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    CLoopbackProtocol deviceProtocol(CProtocol::PROTOCOL_STYLE_SLAVE);
    CTCPIPProperties deviceRecord;
    CTCPIPPort device(&deviceRecord, &deviceProtocol);
    // A free port: the first of a few that can be listened on.
    const int nStart = 61000 + static_cast<int>(std::random_device{}() % 4000);
    DWORD dwListen = SE_TCPIP_SOCKET_ERROR;
    for (int i = 0; i < 100 && dwListen != SE_NO_ERROR; ++i) {
        deviceRecord.m_nPortNumber = nStart + i;
        dwListen = device.StartListen();
    }
    if (dwListen != SE_NO_ERROR) {
        std::printf("no free port to listen on\n");
        return 1;
    }
    std::thread deviceThread(ServeDevice, std::ref(device), deadline);

    // The master: the same TCP port in its record, the address from its protocol.
    CLoopbackProtocol protocol(CProtocol::PROTOCOL_STYLE_MASTER);
    CTCPIPProperties record;
    record.m_nPortNumber = deviceRecord.m_nPortNumber;
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    CTCPIPPort port(&record, &protocol);
    bool ok = port.Open() == SE_NO_ERROR;
    // The connect goes on in the background; the port says when it is done.
    while (ok && port.TestConnection() != 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ok = ok && port.IsConnected();
    CCombuf reply;
    for (const char* pszRequest : {"GET 1\n", "GET 2\n"}) {
        CCombuf request;
        request = pszRequest;
        const DWORD dwResult = ok ? port.Write(&request, &stats) : SE_TCPIP_NOT_CONNECTED;
        const DWORD dwRead = dwResult == SE_NO_ERROR
                                 ? ReadFrame(port, stats, kReplySize, reply, deadline)
                                 : dwResult;
        ok = ok && dwRead == SE_NO_ERROR &&
             std::memcmp(reply.GetData(), pszRequest[4] == '1' ? "+021.5\n" : "+019.0\n",
                         kReplySize) == 0;
        std::printf("channel %c: result %lu\n", pszRequest[4], static_cast<unsigned long>(dwRead));
    }
    port.Close();
    deviceThread.join();
    device.StopListen();
    device.Close();

    std::printf("bytes out %lu, in %lu; comms log:\n",
                static_cast<unsigned long>(stats.GetTotalBytesOut()),
                static_cast<unsigned long>(stats.GetTotalBytesIn()));
    for (CString line; stats.GetCommsLogCount() > 0;) {
        stats.GetFromCommsLog(&line);
        std::printf("  %s\n", line.GetString());
    }
    return ok ? 0 : 1;
}
