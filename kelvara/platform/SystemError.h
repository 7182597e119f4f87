// The calling thread's last operating-system error and its text.
//
// Transports read the error right after a failed system call, before any
// other call can replace it.
#pragma once

#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

// The calling thread's last system error number (errno on POSIX).
KELVARA_API int LastSystemError();
// Sets it, as a failed system call would; for fakes and tests.
KELVARA_API void SetLastSystemError(int nError);
// The system's text for an error number, without a line break at its end;
// a number the system does not know still gets a text.
KELVARA_API std::string SystemErrorText(int nError);

}  // namespace kelvara::platform
