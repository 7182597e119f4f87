/** \addtogroup platform
 @{ */
// Handles: 32-bit values that stand for the system objects the ARCNET port
// works with (its device and its events), as the card's kernel driver sees
// them.
//
// A handle value is what a port registers with a driver (four bytes), so it
// has to be a number rather than a pointer. Every use looks the value up in
// the process's table of open objects: a value that was closed, or never
// opened, fails (BadHandle) instead of reaching a released object. Values are
// not reused until the 32-bit count has wrapped, so a stale value that a
// driver still holds cannot reach a newer object.
#pragma once

#include <cstdint>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// An event or a device opened through the platform layer.
using Handle = std::uint32_t;

/// Never an open object: what a port holds before it opened anything, and
/// what it holds after it closed something.
constexpr Handle kNullHandle = 0;
constexpr Handle kInvalidHandle = 0xFFFFFFFFu;  ///< What a failed device open gives.

/// Closes an event or a device. A thread waiting on the event wakes with a
/// failed wait; a device request already under way finishes on the device.
/// False (BadHandle) when the value is not open.
KELVARA_API bool CloseHandle(Handle hObject);

}  // namespace kelvara::platform
/** @} */
