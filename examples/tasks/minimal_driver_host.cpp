// Example: a host loading the minimal driver plug-in and reading its block.
//
// Usage: kelvara_example_minimal_driver_host PLUGIN (the shared object built
// from minimal_driver.cpp). The host loads the plug-in with CDriverLibrary,
// starts the driver, reads registers R10 to R12 in one block and checks
// their values; an address outside the driver's format is refused before
// any transfer. Destroys the driver before the library that holds its code.
//
// So that the example runs anywhere, the device is the library's test
// double, put behind the driver's serial port; a real host maps the port
// to its device instead (CComPort::MapDevice(1, "/dev/ttyUSB0")). Exits
// nonzero when the library answers anything else.
#include <kelvara/Kelvara.h>
#include <kelvara/platform/FakeSerialDevice.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The device: register n holds 1000 + n.
Bytes Answer(const Bytes& request) {
    if (request.size() != 4 || request[0] != 'R') {
        return {};
    }
    Bytes reply = {'R', request[2]};
    for (int i = 0; i < request[2]; ++i) {
        const int nValue = 1000 + request[1] + i;
        reply.push_back(static_cast<std::uint8_t>(nValue >> 8));
        reply.push_back(static_cast<std::uint8_t>(nValue & 0xFF));
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t by : reply) {
        sum ^= by;
    }
    reply.push_back(sum);
    return reply;
}

bool ReadRegisters(CProtocol& driver) {
    CRemoteAddress wrong("Q10", driver.GetEDFFormatRemote()->m_strFormat, "");
    CRemoteAddress first("R10", driver.GetEDFFormatRemote()->m_strFormat, "");
    if (driver.ValidateRemoteAddress(&wrong) == EDF_OK ||
        driver.ValidateRemoteAddress(&first) != EDF_OK) {
        std::printf("the driver's address format is not what the host expects\n");
        return false;
    }
    CComBlock block(&first, 2, 1, 3, 2);  // three registers of two bytes
    driver.TransferData(&block);
    std::printf("R10 x 3: %s, log \"%s\"\n", block.IsBlockGood() ? "good" : "bad",
                block.CreateLogString().GetString());
    CByteArray value;
    for (DWORD i = 0; i < 3; ++i) {
        if (!block.GetBlockElement(i, value) || (value[0] | value[1] << 8) != 1010 + int(i)) {
            return false;
        }
        std::printf("  R%lu = %d\n", static_cast<unsigned long>(10 + i), value[0] | value[1] << 8);
    }
    return block.IsBlockGood() != 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: kelvara_example_minimal_driver_host PLUGIN\n");
        return 2;
    }
    auto device = std::make_shared<kelvara::platform::FakeSerialDevice>();
    device->SetResponder(Answer);
    kelvara::platform::SetSerialDeviceOpener(device->Opener());

    CDriverLibrary library;
    if (!library.Load(argv[1])) {
        std::printf("cannot load %s: %s\n", argv[1], library.GetLastError().GetString());
        return 1;
    }
    bool ok = false;
    {
        std::unique_ptr<CProtocol> driver(library.CreateDriver());
        std::printf("loaded \"%s\" (%s)\n", library.GetDriverName().GetString(),
                    driver->GetVersionInfo().GetString());
        CComPort::MapDevice(driver->GetPortNumber(), "simulated-device");
        const DWORD dwStarted = driver->StartProtocol();
        ok = dwStarted == SE_NO_ERROR && ReadRegisters(*driver);
        std::printf("start: %lu; blocks %lu, bytes out %lu, in %lu\n",
                    static_cast<unsigned long>(dwStarted),
                    static_cast<unsigned long>(driver->GetBlockCount()),
                    static_cast<unsigned long>(driver->GetTotalBytesOut()),
                    static_cast<unsigned long>(driver->GetTotalBytesIn()));
        driver->StopProtocol();
        CComPort::MapDevice(driver->GetPortNumber(), nullptr);
    }
    kelvara::platform::SetSerialDeviceOpener(nullptr);
    return ok ? 0 : 1;
}
