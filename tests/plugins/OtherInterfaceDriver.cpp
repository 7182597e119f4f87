// A plug-in built for another driver interface than this library's: it has
// every entry point, and a host must still refuse it.
#include <kelvara/Kelvara.h>

extern "C" __attribute__((visibility("default"))) CProtocol* KelvaraCreateDriver() {
    return new CProtocol;
}
extern "C" __attribute__((visibility("default"))) DWORD KelvaraDriverInterfaceVersion() {
    return KELVARA_DRIVER_INTERFACE_VERSION + 1;
}
extern "C" __attribute__((visibility("default"))) const char* KelvaraDriverName() {
    return "Driver of another interface";
}
