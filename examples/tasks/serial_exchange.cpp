// Example: a serial port opened and a request exchanged.
//
// A CComPort is opened on COM3 at 19200 baud and asks a device for three
// registers: the request is 'R', the first register, the count and an XOR
// checksum; the reply is 'R', the count, two bytes per register and an XOR
// checksum. The port counts and logs the traffic in a CCommsStats. A second
// request goes unanswered and the read says so with 2001. A pseudo-terminal
// has no modem lines, so the port's log says that raising DTR failed.
//
// So that the example runs without hardware, COM3 is mapped to a
// pseudo-terminal whose other side this program serves on a thread, as the
// device. A real program maps the port to its device instead,
// CComPort::MapDevice(3, "/dev/ttyUSB0"). Exits nonzero when the library
// answers anything else.
#include <kelvara/Kelvara.h>
#include <kelvara/platform/PseudoTerminal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The device: register n holds 100 + n; it stays silent for register 99.
Bytes Answer(const Bytes& request) {
    if (request.size() != 4 || request[0] != 'R' || request[1] == 99) {
        return {};
    }
    Bytes reply = {'R', request[2]};
    for (int i = 0; i < request[2]; ++i) {
        reply.push_back(0);
        reply.push_back(static_cast<std::uint8_t>(100 + request[1] + i));
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t by : reply) {
        sum ^= by;
    }
    reply.push_back(sum);
    return reply;
}

// The device's side of the line: answers each request of four bytes until
// told to stop.
void ServeDevice(kelvara::platform::PseudoTerminal& line, const std::atomic<bool>& stop) {
    Bytes request;
    while (!stop.load()) {
        if (line.WaitReadable(20) != 1) {
            continue;
        }
        std::uint8_t buffer[64];
        const std::ptrdiff_t nRead = line.Read(buffer, sizeof buffer);
        if (nRead < 0) {
            return;
        }
        request.insert(request.end(), buffer, buffer + nRead);
        if (request.size() >= 4) {
            const Bytes reply = Answer(Bytes(request.begin(), request.begin() + 4));
            request.erase(request.begin(), request.begin() + 4);
            if (!reply.empty() && !line.Write(reply.data(), reply.size(), 200)) {
                return;
            }
        }
    }
}

// Sends the request for nCount registers from nFirst; the reply's result code.
DWORD Exchange(CComPort& port, CCommsStats& stats, BYTE nFirst, BYTE nCount, CCombuf& reply) {
    CCombuf request;
    request += static_cast<BYTE>('R');
    request += nFirst;
    request += nCount;
    request += request.XOR_CRC(0, -1);
    if (const DWORD dwResult = port.Write(&request, &stats); dwResult != SE_NO_ERROR) {
        return dwResult;
    }
    const DWORD dwResult = port.Read(&reply, 2u + 2u * nCount + 1u, &stats);
    if (dwResult == SE_NO_ERROR && reply.XOR_CRC(0, -1) != 0) {
        return SE_CHECKSUM_ERROR;
    }
    return dwResult;
}

}  // namespace

int main() {
    kelvara::platform::ErrorCategory error{};
    const auto line = kelvara::platform::PseudoTerminal::Open(&error);
    if (!line) {
        std::printf("no pseudo-terminal on this system\n");
        return 1;
    }
    std::atomic<bool> stop{false};
    std::thread device(ServeDevice, std::ref(*line), std::cref(stop));
    CComPort::MapDevice(3, line->DevicePath().c_str());

    CPortProperties portRecord;
    portRecord.m_wPortNumber = 3;
    portRecord.m_dwBaudRate = 19200;
    CFlowProperties flowRecord;
    CTimingProperties timingRecord;
    timingRecord.m_dwTimeout = 200;  // ms for a whole reply
    CProtocol owner;                 // the port's log lines name it by its driver's port name
    CString portName("COM3");
    owner.SetPortName(&portName);
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.LogAsHex(true);

    CComPort port(&portRecord, &flowRecord, &timingRecord, &owner);
    bool ok = port.Open() == SE_NO_ERROR && port.Init() == SE_NO_ERROR;
    CCombuf reply;
    const DWORD dwGood = ok ? Exchange(port, stats, 10, 3, reply) : SE_COM_NOT_CONNECTED;
    ok = ok && dwGood == SE_NO_ERROR && reply.GetSize() == 9 && reply[3] == 110 && reply[7] == 112;
    std::printf("registers 10..12: result %lu, %d bytes\n", static_cast<unsigned long>(dwGood),
                reply.GetSize());
    const DWORD dwSilent = Exchange(port, stats, 99, 1, reply);
    std::printf("register 99: result %lu (%s)\n", static_cast<unsigned long>(dwSilent),
                GetStandardErrorMessage(dwSilent).GetString());
    ok = ok && dwSilent == SE_TIMEOUT;

    std::printf("bytes out %lu, in %lu; comms log:\n",
                static_cast<unsigned long>(stats.GetTotalBytesOut()),
                static_cast<unsigned long>(stats.GetTotalBytesIn()));
    for (CString line; stats.GetCommsLogCount() > 0;) {
        stats.GetFromCommsLog(&line);
        std::printf("  %s\n", line.GetString());
    }
    port.Close();
    stop.store(true);
    device.join();
    CComPort::MapDevice(3, nullptr);
    return ok ? 0 : 1;
}
