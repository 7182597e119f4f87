#include "kelvara/platform/SerialDevice.h"

#include <map>
#include <mutex>
#include <utility>

#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

namespace {

// A port either has a device of its own, or none at all; a port that is not
// in the table has its default.
struct Registry {
    std::mutex lock;
    SerialDeviceOpener opener;
    std::map<unsigned, std::optional<std::string>> ports;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

constexpr char kComPrefix[] = "\\\\.\\COM";

// The port number of "\\.\COM<n>", or nothing when the text has another form.
std::optional<unsigned> ComPortNumber(const std::string& strPath) {
    const std::string prefix(kComPrefix);
    if (strPath.size() <= prefix.size() || strPath.size() > prefix.size() + 5 ||
        strPath.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    unsigned nPort = 0;
    for (std::size_t i = prefix.size(); i < strPath.size(); ++i) {
        if (strPath[i] < '0' || strPath[i] > '9') {
            return std::nullopt;
        }
        nPort = nPort * 10 + static_cast<unsigned>(strPath[i] - '0');
    }
    return nPort;
}

}  // namespace

void SetSerialDeviceOpener(SerialDeviceOpener opener) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.opener = std::move(opener);
}

std::unique_ptr<SerialDevice> OpenSerialDevice(const std::string& strPath) {
    std::string strDevice = strPath;
    if (const std::optional<unsigned> nPort = ComPortNumber(strPath)) {
        std::optional<std::string> mapped = ComPortDevice(*nPort);
        if (!mapped) {
            FailWith(ErrorCategory::NoDevice);
            return nullptr;
        }
        strDevice = std::move(*mapped);
    }
    SerialDeviceOpener opener;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.lock);
        opener = r.opener;
    }
    return opener ? opener(strDevice) : OpenSystemSerialDevice(strDevice);
}

void MapComPort(unsigned nPort, const std::string& strDevice) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.ports[nPort] = strDevice;
}

void UnmapComPort(unsigned nPort) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.ports[nPort] = std::nullopt;
}

void RestoreComPortDefault(unsigned nPort) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.ports.erase(nPort);
}

std::optional<std::string> ComPortDevice(unsigned nPort) {
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> guard(r.lock);
        const auto it = r.ports.find(nPort);
        if (it != r.ports.end()) {
            return it->second;
        }
    }
    return DefaultComPortDevice(nPort);
}

}  // namespace kelvara::platform
