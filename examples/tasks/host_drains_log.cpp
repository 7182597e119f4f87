// Example: a host loading a driver plug-in, running blocks and draining the
// driver's comms log.
//
// Usage: kelvara_example_host_drains_log MASTER SLAVE (the Modbus TCP master
// and slave sample plug-ins). The slave plug-in plays the device on a free
// loopback port; a real host points the master's "Modbus.Host" and
// "TCPIP.PortNumber" at its device instead. The host loads the master with
// CDriverLibrary, sets its properties, turns its comms log on (in hex),
// writes two registers and reads them back twenty times. The log grows by a
// line per frame until it is drained, so a thread of the host drains it on
// a timer while the blocks run (the log has its own lock), and the host
// drains what is left after the last block. Exits nonzero when the library
// answers anything else.
#include <kelvara/Kelvara.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// A plug-in and its driver; the driver goes before the library holding its code.
struct Plugin {
    CDriverLibrary library;
    std::unique_ptr<CProtocol> driver;
};

bool Load(Plugin& plugin, const char* pszPath) {
    if (!plugin.library.Load(pszPath)) {
        std::printf("cannot load %s: %s\n", pszPath, plugin.library.GetLastError().GetString());
        return false;
    }
    plugin.driver.reset(plugin.library.CreateDriver());
    return true;
}

// Dumps the driver's property lines, changes one, gives them all back.
bool SetProperty(CProtocol& driver, const char* pszKey, const CString& value) {
    CStringList lines;
    driver.DumpToStringList(lines);
    for (POSITION pos = lines.GetHeadPosition(); pos != nullptr;) {
        POSITION here = pos;
        if (lines.GetNext(pos).Find(CString(pszKey) + "=") == 0) {
            lines.SetAt(here, CString(pszKey) + "=" + value);
            return driver.UpdateFromStringList(&lines);
        }
    }
    return false;
}

// Takes every line the log holds, printing the first nShow; how many there
// were.
int Drain(CProtocol& driver, int nShow) {
    int nLines = 0;
    for (CString line; driver.GetCommsLogCount() > 0; ++nLines) {
        driver.GetFromCommsLog(&line);
        if (nLines < nShow) {
            std::printf("  %s\n", line.GetString());
        }
    }
    return nLines;
}

}  // namespace

int main(int argc, char** argv) {
    Plugin device;
    Plugin master;
    if (argc != 3 || !Load(master, argv[1]) || !Load(device, argv[2])) {
        std::printf("usage: kelvara_example_host_drains_log MASTER SLAVE\n");
        return 2;
    }
    CProtocol& driver = *master.driver;
    if (!SetProperty(*device.driver, "TCPIP.PortNumber", "0") ||
        device.driver->StartProtocol() != SE_NO_ERROR) {
        std::printf("the device cannot listen\n");
        return 1;
    }
    CString port;
    port.Format("%u", static_cast<unsigned>(device.driver->GetPortNumber()));
    bool ok = SetProperty(driver, "Modbus.Host", "127.0.0.1") &&
              SetProperty(driver, "TCPIP.PortNumber", port) &&
              SetProperty(driver, "Timing.Timeout", "300");
    driver.ActivateCommsLog(true);
    driver.LogAsHex(true);
    ok = ok && driver.StartProtocol() == SE_NO_ERROR;

    // The host's timer: drains every 20 ms until told to stop.
    std::mutex mutex;
    std::condition_variable wake;
    bool bStop = false;
    int nDrained = 0;
    std::thread drainer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(20), [&] { return bStop; })) {
            nDrained += Drain(driver, 0);
        }
    });

    CRemoteAddress address("HR:5", driver.GetEDFFormatRemote()->m_strFormat, "");
    CComBlock write(&address, 2, 1, 2, 2);
    CByteArray values;
    for (const BYTE by : {0x39, 0x30, 0x2A, 0x00}) {  // 12345 and 42, low byte first
        values.Add(by);
    }
    write.FillWriteBuffer(&values);
    driver.TransferData(&write);
    ok = ok && write.IsBlockGood();
    for (int i = 0; i < 20 && ok; ++i) {
        CComBlock read(&address, 2, 1, 2, 2);
        driver.TransferData(&read);
        CByteArray data;
        read.GetBlockData(data);
        ok = read.IsBlockGood() && data.GetSize() == 4 && data[0] == 0x39 && data[2] == 0x2A;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bStop = true;
    }
    wake.notify_one();
    drainer.join();
    std::printf("%lu blocks; the timer drained %d log line(s); what was left begins:\n",
                static_cast<unsigned long>(driver.GetBlockCount()), nDrained);
    const int nTotal = nDrained + Drain(driver, 6);
    // Each block is one request and its reply, which may come in parts.
    ok = ok && driver.GetBlockCount() == 21 && nTotal >= 2 * 21 && driver.GetCommsLogCount() == 0;
    driver.StopProtocol();
    device.driver->StopProtocol();
    std::printf("%d log lines in all\n", nTotal);
    return ok ? 0 : 1;
}
