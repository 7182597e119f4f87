/** \addtogroup platform
 @{ */
// Device I/O: devices opened by name and driven by control requests, the way
// a kernel driver is reached.
//
// No device driver of that kind exists on this system, so devices come from
// providers registered by name in this process: a provider plays the driver
// (the virtual ARCNET segment is one). Opening a name that no provider serves
// fails (NotFound), as opening a device whose driver is not installed does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kelvara/platform/Handle.h"

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// One opened device, as its provider sees it. Its calls may come from
/// several threads at once.
class KELVARA_API DeviceFile {
public:
    virtual ~DeviceFile() = default;

    /// Serves one control request: reads nInSize bytes at pIn, writes up to
    /// nOutSize bytes at pOut and their number to *pReturned. False with the
    /// reason as the last system error (SetLastSystemError) when it fails.
    virtual bool IoControl(std::uint32_t dwCode, const void* pIn, std::uint32_t nInSize, void* pOut,
                           std::uint32_t nOutSize, std::uint32_t* pReturned) = 0;
    /// The handle was closed. Requests that had already started may still
    /// finish afterwards.
    virtual void Close() = 0;
};

/// Opens the devices of one name; registered with the device registry.
class KELVARA_API DeviceProvider {
public:
    virtual ~DeviceProvider() = default;
    /// A newly opened device (opened for reading and writing, shared, the
    /// device must exist); nullptr with the reason as the last system error.
    virtual std::shared_ptr<DeviceFile> OpenDevice() = 0;
};

/// Serves strName with pProvider from now on, in place of any provider
/// before it.
KELVARA_API void RegisterDeviceProvider(const std::string& strName,
                                        std::shared_ptr<DeviceProvider> pProvider);
/// Stops serving strName, but only when pProvider is still the one serving
/// it; devices already open stay open. False when it was not.
KELVARA_API bool UnregisterDeviceProvider(const std::string& strName,
                                          const DeviceProvider* pProvider);

/// Opens the device strName for reading and writing; kInvalidHandle with the
/// reason as the last system error when it cannot.
KELVARA_API Handle OpenDevice(const std::string& strName);
/// Sends one control request to an open device. False with the reason as the
/// last system error; BadHandle when hDevice is not an open device.
KELVARA_API bool DeviceIoControl(Handle hDevice, std::uint32_t dwCode, const void* pIn,
                                 std::uint32_t nInSize, void* pOut, std::uint32_t nOutSize,
                                 std::uint32_t* pReturned);

}  // namespace kelvara::platform
/** @} */
