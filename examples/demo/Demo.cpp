// Kelvara demo host: what a host program does with a driver plug-in.
//
// It loads a driver, gives it its properties (as name=value lines, and
// through an archive), starts it, builds blocks from address texts,
// transfers them, and prints each block's data and log line, the driver's
// statistics and its comms log in hex. It keeps two blocks in an archive
// file and loads them back, as a host does between runs.
//
// By default the device is simulated in this process: the Modbus TCP slave
// plug-in listens on a free loopback port and the Modbus TCP master plug-in
// talks to it, so the demo needs nothing else. Options point the master at
// a real device instead:
//
//   kelvara_demo                          simulated Modbus TCP device
//   kelvara_demo --host 192.168.0.7:502   a real Modbus TCP device
//   kelvara_demo --rtu /dev/ttyUSB0       a real Modbus RTU device (19200 8N1)
//   kelvara_demo --arcnet                 the ARCNET driver on a virtual segment
//   kelvara_demo --node 3 --polls 5000    node id and length of the polling run
//   kelvara_demo --errors                 also print the standard error texts
#include <kelvara/Kelvara.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ArcnetRegisterStation.h"

namespace {

struct Options {
    std::string host;       // empty: the simulated device
    int tcpPort = 502;      // with host
    std::string rtuDevice;  // nonempty: Modbus RTU on this serial device
    int node = 1;
    int polls = 2000;
    bool errors = false;
    bool arcnet = false;
};

void Usage() {
    std::printf(
        "usage: kelvara_demo [--host ADDRESS[:PORT] | --rtu DEVICE | --arcnet] [--node N] "
        "[--polls N] [--errors]\n"
        "  with neither --host nor --rtu the demo starts a simulated Modbus TCP device on "
        "loopback\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--host" && hasValue) {
            options.host = argv[++i];
            const auto colon = options.host.find(':');
            if (colon != std::string::npos) {
                options.tcpPort = std::atoi(options.host.c_str() + colon + 1);
                options.host.resize(colon);
            }
        } else if (arg == "--rtu" && hasValue) {
            options.rtuDevice = argv[++i];
        } else if (arg == "--node" && hasValue) {
            options.node = std::atoi(argv[++i]);
        } else if (arg == "--polls" && hasValue) {
            options.polls = std::atoi(argv[++i]);
        } else if (arg == "--arcnet") {
            options.arcnet = true;
        } else if (arg == "--errors") {
            options.errors = true;
        } else {
            return false;
        }
    }
    return options.node >= 1 && options.node <= 247 && options.polls >= 0 && options.tcpPort > 0 &&
           options.tcpPort < 65536 && (options.host.empty() || options.rtuDevice.empty());
}

// A driver plug-in and one driver made by it. The driver must go before the
// library that holds its code, hence the order of the members.
struct Plugin {
    CDriverLibrary library;
    std::unique_ptr<CProtocol> driver;

    bool Load(const char* pszPath) {
        if (!library.Load(pszPath)) {
            std::printf("cannot load %s: %s\n", pszPath, library.GetLastError().GetString());
            return false;
        }
        driver.reset(library.CreateDriver());
        std::printf("loaded \"%s\" (%s)\n", library.GetDriverName().GetString(),
                    driver->GetVersionInfo().GetString());
        return true;
    }
};

// Sets one property line ("Record.Field") the way a host's configuration
// screen would: the driver dumps its lines, the host edits one, the driver
// takes them all back.
bool SetProperty(CProtocol& driver, const char* pszKey, const CString& value) {
    CStringList lines;
    driver.DumpToStringList(lines);
    const CString prefix = CString(pszKey) + "=";
    for (POSITION pos = lines.GetHeadPosition(); pos != nullptr;) {
        POSITION here = pos;
        if (lines.GetNext(pos).Find(prefix) == 0) {
            lines.SetAt(here, prefix + value);
            return driver.UpdateFromStringList(&lines);
        }
    }
    std::printf("the driver has no property %s\n", pszKey);
    return false;
}

CString Number(long value) {
    CString text;
    text.Format("%ld", value);
    return text;
}

// Bits (coils, discrete inputs) travel as one byte each, registers as two,
// low byte first.
bool IsBitArea(const char* pszAddress) {
    return std::strncmp(pszAddress, "CO", 2) == 0 || std::strncmp(pszAddress, "DI", 2) == 0;
}

std::unique_ptr<CComBlock> MakeBlock(CProtocol& driver, const char* pszAddress, DWORD count,
                                     const std::vector<int>* pWrite = nullptr) {
    CRemoteAddress address(pszAddress, driver.GetEDFFormatRemote()->m_strFormat, "");
    if (driver.ValidateRemoteAddress(&address) != EDF_OK) {
        std::printf("%-10s not an address of this driver\n", pszAddress);
        return nullptr;
    }
    const DWORD size = IsBitArea(pszAddress) ? 1 : 2;
    auto block = std::make_unique<CComBlock>(&address, static_cast<WORD>(size), 1, count, size);
    if (pWrite != nullptr) {
        CByteArray data;
        for (int value : *pWrite) {
            data.Add(static_cast<BYTE>(value & 0xFF));
            if (size == 2) {
                data.Add(static_cast<BYTE>((value >> 8) & 0xFF));
            }
        }
        block->FillWriteBuffer(&data);
    }
    return block;
}

std::vector<int> BlockValues(CComBlock& block) {
    std::vector<int> values;
    CByteArray element;
    for (DWORD i = 0; block.GetBlockElement(i, element); ++i) {
        values.push_back(element.GetSize() == 2 ? element[0] | element[1] << 8 : element[0]);
    }
    return values;
}

void PrintBlock(const char* pszAddress, CComBlock& block) {
    std::printf("%-10s %s", pszAddress, block.GetReadOrWrite() == RW_WRITE ? "write" : "read ");
    if (block.IsBlockGood()) {
        std::printf(" ok:");
        for (int value : BlockValues(block)) {
            std::printf(" %d", value);
        }
        std::printf("\n");
    } else {
        std::printf(" failed: %lu \"%s\"", static_cast<unsigned long>(block.GetStandardErrorCode()),
                    block.GetStandardErrorString()->GetString());
        if (block.GetDeviceErrorCode() != 0) {
            std::printf(", device error %lu \"%s\"",
                        static_cast<unsigned long>(block.GetDeviceErrorCode()),
                        block.GetDeviceErrorString()->GetString());
        }
        std::printf("\n");
    }
    std::printf("           log: %s\n", block.CreateLogString().GetString());
}

// Transfers one block and prints it; the block, for the caller to check.
std::unique_ptr<CComBlock> Transfer(CProtocol& driver, const char* pszAddress, DWORD count,
                                    const std::vector<int>* pWrite = nullptr) {
    auto block = MakeBlock(driver, pszAddress, count, pWrite);
    if (block) {
        driver.TransferData(block.get());
        PrintBlock(pszAddress, *block);
    }
    return block;
}

bool IsGood(const std::unique_ptr<CComBlock>& block) {
    return block && block->IsBlockGood();
}

void PrintStatistics(CProtocol& driver) {
    std::printf(
        "blocks %lu in %lu ms (average %lu ms, %lu blocks/s, %lu bytes/s); bytes in %lu, out "
        "%lu\n",
        static_cast<unsigned long>(driver.GetBlockCount()),
        static_cast<unsigned long>(driver.GetTotalCommsTime()),
        static_cast<unsigned long>(driver.GetAveBlockExecutionTime()),
        static_cast<unsigned long>(driver.GetBlocksPerSecond()),
        static_cast<unsigned long>(driver.GetBytesPerSecond()),
        static_cast<unsigned long>(driver.GetTotalBytesIn()),
        static_cast<unsigned long>(driver.GetTotalBytesOut()));
    std::printf(
        "errors %lu (device %lu, time-outs %lu, checksum %lu), retries %lu; last error: "
        "\"%s\"\n",
        static_cast<unsigned long>(driver.GetNumberStandardErrors()),
        static_cast<unsigned long>(driver.GetNumberDeviceErrors()),
        static_cast<unsigned long>(driver.GetNumberTimeoutErrors()),
        static_cast<unsigned long>(driver.GetNumberCRCErrors()),
        static_cast<unsigned long>(driver.GetNumberOfRetries()),
        driver.GetLastErrorString().GetString());
}

// Drains the comms log, printing at most nShow lines; how many there were.
int DrainCommsLog(CProtocol& driver, int nShow) {
    int count = 0;
    for (CString line; driver.GetCommsLogCount() > 0; ++count) {
        driver.GetFromCommsLog(&line);
        if (count < nShow) {
            std::printf("  %s\n", line.GetString());
        }
    }
    if (nShow > 0 && count > nShow) {
        std::printf("  ... and %d more lines\n", count - nShow);
    }
    return count;
}

void PrintErrorTable() {
    std::printf("== Standard error texts\n");
    const DWORD ranges[][2] = {{0, 0}, {1100, 1108}, {1200, 1204}, {1400, 1405}, {2000, 2013}};
    for (const auto& range : ranges) {
        for (DWORD code = range[0]; code <= range[1]; ++code) {
            std::printf("%5lu  %s\n", static_cast<unsigned long>(code),
                        GetStandardErrorMessage(code).GetString());
        }
    }
    std::printf("\n");
}

// The simulated device: the slave plug-in on a free loopback port, its
// table seeded through blocks as a host sets a device's values.
bool StartSimulatedDevice(Plugin& device, int& port) {
    std::printf("== Simulated device\n");
    if (!device.Load(KELVARA_DEMO_SLAVE)) {
        return false;
    }
    CProtocol& slave = *device.driver;
    if (!SetProperty(slave, "TCPIP.PortNumber", "0") || slave.StartProtocol() != SE_NO_ERROR) {
        std::printf("the simulated device cannot listen\n");
        return false;
    }
    port = slave.GetPortNumber();
    std::vector<int> holding;
    std::vector<int> inputs;
    for (int i = 0; i < 10; ++i) {
        holding.push_back(1000 + i);
        inputs.push_back(i * i);
    }
    const std::vector<int> coils = {1, 0, 1, 1, 0, 0, 1, 0};
    const bool seeded = IsGood(Transfer(slave, "HR:0", 10, &holding)) &&
                        IsGood(Transfer(slave, "IR:0", 10, &inputs)) &&
                        IsGood(Transfer(slave, "CO:0", 8, &coils));
    std::printf("listening on 127.0.0.1:%d\n\n", port);
    return seeded;
}

// The host's configuration of the master, then the same settings stored
// in an archive and loaded back, as a host keeps them between runs.
bool ConfigureMaster(CProtocol& master, const Options& options, int port) {
    std::printf("== Properties\n");
    bool ok = SetProperty(master, "Modbus.NodeId", Number(options.node)) &&
              SetProperty(master, "Timing.Timeout", "300") &&
              SetProperty(master, "Timing.RetryCount", "2");
    if (options.rtuDevice.empty()) {
        ok = ok &&
             SetProperty(master, "Modbus.Host",
                         CString(options.host.empty() ? "127.0.0.1" : options.host.c_str())) &&
             SetProperty(master, "TCPIP.PortNumber", Number(port));
    } else {
        CComPort::MapDevice(1, options.rtuDevice.c_str());
        ok = ok && SetProperty(master, "Port.PortNumber", "1") &&
             SetProperty(master, "Port.BaudRate", "19200");
    }
    CStringList lines;
    master.DumpToStringList(lines);
    for (POSITION pos = lines.GetHeadPosition(); pos != nullptr;) {
        std::printf("  %s\n", lines.GetNext(pos).GetString());
    }

    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        master.SerializeProperties(ar);
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    master.SerializeProperties(ar);
    std::printf("stored in an archive as %llu bytes and loaded back\n\n",
                static_cast<unsigned long long>(file.GetLength()));
    return ok;
}

// A host keeps its blocks between runs in an archive file: the blocks are
// stored one after another behind their count, and come back as new blocks
// with the same addresses, status and data. A block record holds no id: a
// loaded block keeps the id it was built with.
bool ArchiveBlocks(const std::vector<CComBlock*>& blocks) {
    std::printf("== Blocks kept in an archive file\n");
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("kelvara-demo-blocks-" + std::to_string(std::random_device{}()) + ".arc");
    bool ok = true;
    try {
        {
            CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
            if (!file.IsOpen()) {
                std::printf("cannot create %s\n", path.c_str());
                return false;
            }
            CArchive ar(&file, CArchive::store);
            ar << static_cast<DWORD>(blocks.size());
            for (CComBlock* pBlock : blocks) {
                pBlock->Serialize(ar);
            }
            ar.Close();
        }
        std::printf("stored %zu blocks in %s (%llu bytes)\n", blocks.size(), path.c_str(),
                    static_cast<unsigned long long>(std::filesystem::file_size(path)));

        CFile file(path.c_str(), CFile::modeRead);
        CArchive ar(&file, CArchive::load);
        DWORD count = 0;
        ar >> count;
        ok = count == blocks.size();
        for (DWORD i = 0; ok && i < count; ++i) {
            CComBlock loaded;
            loaded.Serialize(ar);
            CComBlock& original = *blocks[i];
            const char* pszAddress = loaded.GetFirstAddress()->m_strAddress.GetString();
            std::printf("block %lu loaded as block %lu: ",
                        static_cast<unsigned long>(original.GetBlockId()),
                        static_cast<unsigned long>(loaded.GetBlockId()));
            PrintBlock(pszAddress, loaded);
            ok = loaded.GetFirstAddress()->m_strAddress ==
                     original.GetFirstAddress()->m_strAddress &&
                 loaded.GetReadOrWrite() == original.GetReadOrWrite() &&
                 BlockValues(loaded) == BlockValues(original);
        }
    } catch (CArchiveException& e) {
        std::printf("the archive file is damaged: %s\n", e.what());
        ok = false;
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::printf("%s\n\n", ok ? "every block came back as it was stored"
                             : "a block did not come back as it was stored");
    return ok;
}

// Reads and writes every kind of point, and shows what a refused request
// and a bad address look like.
bool ShowTransfers(CProtocol& master) {
    std::printf("== Blocks\n");
    bool ok = IsGood(Transfer(master, "HR:0", 10));
    ok = IsGood(Transfer(master, "IR:0", 5)) && ok;
    ok = IsGood(Transfer(master, "CO:0", 8)) && ok;
    const std::vector<int> values = {12345, 42, 7};
    auto written = Transfer(master, "HR:20", 3, &values);
    ok = IsGood(written) && ok;
    auto readBack = Transfer(master, "HR:20", 3);
    ok = IsGood(readBack) && BlockValues(*readBack) == values && ok;
    const std::vector<int> coil = {1};
    ok = IsGood(Transfer(master, "CO:9", 1, &coil)) && ok;
    // Past the end of the device's table: the device refuses.
    auto refused = Transfer(master, "HR:9995", 10);
    ok = refused && !refused->IsBlockGood() && ok;
    ok = !MakeBlock(master, "XY:1", 1) && ok;
    std::printf("\n");
    if (written && readBack) {
        ok = ArchiveBlocks({written.get(), readBack.get()}) && ok;
    }
    return ok;
}

// A host's polling loop: the same block over and over, with progress
// lines and the comms log drained as it goes so that it stays short.
bool RunPolls(CProtocol& master, int polls) {
    if (polls == 0) {
        return true;
    }
    std::printf("== Polling HR:0 x 10, %d times\n", polls);
    auto block = MakeBlock(master, "HR:0", 10);
    int bad = 0;
    const int step = polls >= 10 ? polls / 10 : 1;
    for (int i = 1; i <= polls; ++i) {
        master.TransferData(block.get());
        bad += block->IsBlockGood() ? 0 : 1;
        if (i % step == 0 || i == polls) {
            const int lines = DrainCommsLog(master, 0);
            std::printf("  %5d/%d blocks, %d failed, %lu ms per block, %d log lines\n", i, polls,
                        bad, static_cast<unsigned long>(master.GetAveBlockExecutionTime()), lines);
            std::fflush(stdout);
        }
    }
    std::printf("\n");
    return bad == 0;
}

// The device goes away: the master retries, then reports the failure in
// the block; the device comes back on the same port and the master
// reconnects by itself.
bool ShowDeviceOutage(CProtocol& master, CProtocol& slave) {
    std::printf("== The device goes away and comes back\n");
    const int port = slave.GetPortNumber();
    slave.StopProtocol();
    auto lost = Transfer(master, "HR:0", 2);
    const bool restarted = SetProperty(slave, "TCPIP.PortNumber", Number(port)) &&
                           slave.StartProtocol() == SE_NO_ERROR;
    auto back = Transfer(master, "HR:0", 2);
    std::printf("\n");
    return lost && !lost->IsBlockGood() && restarted && IsGood(back);
}

// The ARCNET driver: no card here, so the library's virtual segment stands
// in for it, with a simulated register station as the device.
int RunArcnet(const Options& options) {
    std::printf("== Virtual ARCNET segment\n");
    CVirtualArcnetSegment segment;
    segment.Install();
    const BYTE node = static_cast<BYTE>(options.node == 1 ? 12 : options.node);
    CArcnetRegisterStation station(&segment, node);
    for (int i = 0; i < 10; ++i) {
        station.SetRegister(i, static_cast<WORD>(500 + i));
        station.SetInput(i, static_cast<WORD>(i * 3));
    }
    std::printf("station %u online with registers R0..R9 = 500..509\n\n", node);

    std::printf("== Driver\n");
    Plugin plugin;
    if (!plugin.Load(KELVARA_DEMO_ARCNET)) {
        return 1;
    }
    CProtocol& driver = *plugin.driver;
    std::printf("address format %s\n", driver.GetEDFFormatRemote()->m_strFormat.GetString());
    driver.ActivateCommsLog(true);
    driver.LogAsHex(true);
    if (driver.StartProtocol() != SE_NO_ERROR) {
        std::printf("the driver does not start\n");
        return 1;
    }
    std::printf("\n== Blocks\n");
    CString at;
    at.Format("%u:R0", node);
    bool ok = IsGood(Transfer(driver, at, 10));
    const std::vector<int> values = {4321, 17};
    at.Format("%u:R20", node);
    ok = IsGood(Transfer(driver, at, 2, &values)) && ok;
    auto readBack = Transfer(driver, at, 2);
    ok = IsGood(readBack) && BlockValues(*readBack) == values && ok;
    at.Format("%u:I0", node);
    ok = IsGood(Transfer(driver, at, 4)) && ok;
    // Inputs are the station's own: it refuses a write.
    auto refused = Transfer(driver, at, 1, &values);
    ok = refused && !refused->IsBlockGood() && ok;
    // A station that has stopped answering.
    station.SetSilent(TRUE);
    at.Format("%u:R0", node);
    auto silent = Transfer(driver, at, 10);
    ok = silent && silent->GetStandardErrorCode() == SE_TIMEOUT && ok;
    std::printf("\n== Comms log\n");
    DrainCommsLog(driver, 24);
    std::printf("\n== Statistics\n");
    PrintStatistics(driver);
    driver.StopProtocol();
    std::printf("\n%s\n", ok ? "demo finished: every check passed" : "demo FAILED");
    return ok ? 0 : 1;
}

int Run(const Options& options) {
    if (options.errors) {
        PrintErrorTable();
    }
    if (options.arcnet) {
        return RunArcnet(options);
    }
    const bool simulated = options.host.empty() && options.rtuDevice.empty();
    Plugin device;
    int port = options.tcpPort;
    if (simulated && !StartSimulatedDevice(device, port)) {
        return 1;
    }

    std::printf("== Driver\n");
    Plugin plugin;
    if (!plugin.Load(options.rtuDevice.empty() ? KELVARA_DEMO_TCP_MASTER
                                               : KELVARA_DEMO_RTU_MASTER)) {
        return 1;
    }
    CProtocol& master = *plugin.driver;
    std::printf("address format %s\n\n", master.GetEDFFormatRemote()->m_strFormat.GetString());
    bool ok = ConfigureMaster(master, options, port);
    master.ActivateCommsLog(true);
    master.LogAsHex(true);
    const DWORD started = master.StartProtocol();
    if (started != SE_NO_ERROR) {
        std::printf("the driver does not start: %lu \"%s\"\n", static_cast<unsigned long>(started),
                    GetStandardErrorMessage(started).GetString());
        return 1;
    }
    ok = ShowTransfers(master) && ok;
    std::printf("== Comms log so far\n");
    DrainCommsLog(master, 24);
    std::printf("\n");
    ok = RunPolls(master, options.polls) && ok;
    if (simulated) {
        ok = ShowDeviceOutage(master, *device.driver) && ok;
        DrainCommsLog(master, 0);
    }
    std::printf("== Statistics\n");
    PrintStatistics(master);
    master.StopProtocol();
    if (simulated) {
        std::printf("device side: ");
        PrintStatistics(*device.driver);
        device.driver->StopProtocol();
    }
    std::printf("\n%s\n", ok ? "demo finished: every check passed" : "demo FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Progress lines should show up as they happen, in order with the log
    // lines the drivers write to stderr.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        Usage();
        return 0;
    }
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    return Run(options);
}
