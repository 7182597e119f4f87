/** \addtogroup platform
 @{ */
// The calling thread's last operating-system error: its category, which the
// library acts on, and the system's own number and text, which it reports.
//
// Transports read the error right after a failed system call, before any
// other call can replace it. Only the per-system files know the system's
// numbers; everything else asks for the category, and code that fails on its
// own (a fake, a handle that is not open) sets a category, which the system's
// file turns into the number that system would have given.
#pragma once

#include <cstdint>
#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// What the library makes of a system error: the few kinds it acts on.
enum class ErrorCategory : std::uint8_t {
    None,          ///< no error
    WouldBlock,    ///< a non-blocking call has nothing to do now, or has started
    TimedOut,      ///< the time allowed ran out
    Refused,       ///< the peer refused the connection
    Closed,        ///< the peer closed or reset the connection
    NoDevice,      ///< no device behind the name or number
    NotFound,      ///< no file or driver of that name
    Busy,          ///< the device or resource is held by someone else
    NotSupported,  ///< the device has no such feature
    Invalid,       ///< an argument the call cannot take
    BadHandle,     ///< the handle is not open, or no longer is
    Aborted,       ///< the call was stopped by an earlier error
    Other,         ///< anything else: only the number says more
};

/// The calling thread's last system error number (the C library's on POSIX,
/// GetLastError on Windows), for messages.
KELVARA_API int LastSystemError();
/// Sets it, as a failed system call would; to keep an error across calls
/// that may replace it.
KELVARA_API void SetLastSystemError(int nError);
/// The system's text for an error number, without a line break at its end;
/// a number the system does not know still gets a text.
KELVARA_API std::string SystemErrorText(int nError);

/// The category of a system error number.
KELVARA_API ErrorCategory ErrorCategoryOf(int nError);
/// The number by which this system says an error of that category (0 for
/// None).
KELVARA_API int SystemErrorOf(ErrorCategory category);

/// The category of the calling thread's last system error.
inline ErrorCategory LastErrorCategory() {
    return ErrorCategoryOf(LastSystemError());
}
/// Leaves the error a system call of this category would leave; returns
/// false, so a failing call can end with `return FailWith(...)`.
inline bool FailWith(ErrorCategory category) {
    SetLastSystemError(SystemErrorOf(category));
    return false;
}

}  // namespace kelvara::platform
/** @} */
