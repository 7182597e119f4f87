// Example: a serial port opened and a request exchanged.
//
// A CComPort is opened on COM3 at 19200 baud and asks a device for three
// registers: the request is 'R', the first register, the count and an XOR
// checksum; the reply is 'R', the count, two bytes per register and an XOR
// checksum. The port counts and logs the traffic in a CCommsStats. A second
// request goes unanswered and the read says so with 2001.
//
// So that the example runs anywhere, the device is the library's test
// double: its opener stands in for the system's and COM3 is mapped to it.
// A real program maps the port to its device instead,
// CComPort::MapDevice(3, "/dev/ttyUSB0"), and installs no opener. Exits
// nonzero when the library answers anything else.
#include <kelvara/Kelvara.h>
#include <kelvara/platform/FakeSerialDevice.h>

#include <cstdio>
#include <memory>
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
    auto device = std::make_shared<kelvara::platform::FakeSerialDevice>();
    device->SetResponder(Answer);
    kelvara::platform::SetSerialDeviceOpener(device->Opener());
    CComPort::MapDevice(3, "simulated-device");

    CPortProperties portRecord;
    portRecord.m_wPortNumber = 3;
    portRecord.m_dwBaudRate = 19200;
    CFlowProperties flowRecord;
    CTimingProperties timingRecord;
    timingRecord.m_dwTimeout = 200;  // ms for a whole reply
    CProtocol owner;                 // the port names its driver in log lines
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
    kelvara::platform::SetSerialDeviceOpener(nullptr);
    CComPort::MapDevice(3, nullptr);
    return ok ? 0 : 1;
}
