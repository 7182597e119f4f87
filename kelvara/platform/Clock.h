/** \addtogroup platform
 @{ */
// Wall-clock time as a file time, a millisecond tick count, and sleep.
#pragma once

#include <cstdint>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// Now, in 100 ns units since 1601-01-01 00:00 UTC.
KELVARA_API std::uint64_t CurrentFileTime();
/// Milliseconds from a fixed point in the past, unaffected by changes of
/// the wall clock; wraps modulo 2^32 like the system tick count.
KELVARA_API std::uint32_t TickCount();
/// Blocks the calling thread for at least nMilliseconds (a signal does not
/// cut it short).
KELVARA_API void SleepFor(std::uint32_t nMilliseconds);

}  // namespace kelvara::platform
/** @} */
