// A plug-in built for another driver interface than this library's: it has
// every entry point, and a host must still refuse it.
#include <kelvara/Kelvara.h>

extern "C" KELVARA_PLUGIN_EXPORT CProtocol* KelvaraCreateDriver() {
    return new CProtocol;
}
extern "C" KELVARA_PLUGIN_EXPORT DWORD KelvaraDriverInterfaceVersion() {
    return KELVARA_DRIVER_INTERFACE_VERSION + 1;
}
extern "C" KELVARA_PLUGIN_EXPORT const char* KelvaraDriverName() {
    return "Driver of another interface";
}
