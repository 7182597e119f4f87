/** \addtogroup platform
 @{ */
// Events: the signals between a device driver and the threads of its port.
//
// An event is set or reset; a wait takes it when it is set, and an
// automatic-reset event taken by a wait is reset by that wait (one set wakes
// one wait). The name is kept for diagnostics only: unlike a system-wide
// named event, two events of the same name are two events, so two ports in
// one process never wake each other.
#pragma once

#include <cstdint>
#include <string>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/Handle.h"

namespace kelvara::platform {

/// Results of WaitForObjects: kWaitObject0 + the index of the event taken;
/// kWaitTimeout; kWaitFailed (an argument is not an open event, or an event
/// was closed during the wait; the reason is the last system error).
/// kWaitAbandoned0 is part of the numbering but events never give it.
constexpr std::uint32_t kWaitObject0 = 0;
constexpr std::uint32_t kWaitAbandoned0 = 0x80;       ///< Never given by events.
constexpr std::uint32_t kWaitTimeout = 0x102;         ///< No event was set in time.
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;    ///< The wait could not be made.
constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFFu;  ///< A wait without a time limit.

/// A new event; kNullHandle when none could be made.
KELVARA_API Handle CreateEventHandle(bool bManualReset, bool bInitiallySet,
                                     const std::string& strName);
/// Sets the event, waking its waiters; false when it is not open.
KELVARA_API bool SetEvent(Handle hEvent);
/// Clears the event; false when it is not open.
KELVARA_API bool ResetEvent(Handle hEvent);

/// Waits up to nTimeoutMs (kWaitInfinite: no limit) until one of the nCount
/// events (1 to 64) is set and takes the first of them in array order. An
/// event closed during the wait fails it only while none of the others that
/// are still open is set.
KELVARA_API std::uint32_t WaitForObjects(const Handle* pHandles, std::uint32_t nCount,
                                         std::uint32_t nTimeoutMs);
/// WaitForObjects for one event.
inline std::uint32_t WaitForObject(Handle hEvent, std::uint32_t nTimeoutMs) {
    return WaitForObjects(&hEvent, 1, nTimeoutMs);
}

}  // namespace kelvara::platform
/** @} */
