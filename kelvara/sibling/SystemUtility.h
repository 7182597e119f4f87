/** \addtogroup sibling
 @{ */
// The utility library's system helpers: the last system error in words and
// the current time as a file time.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

/// The system's text for the calling thread's last system error. Call it
/// right after the failed call: almost any other call may replace the error.
KELVARA_API CString GetLastErrorMessage();

/// Now, in 100 ns units since 1601-01-01 00:00 UTC.
KELVARA_API void GetCurrentFileTime(FILETIME& ft);
/** @} */
