/** \addtogroup platform
 @{ */
// What a command-line host asks of the console it runs in: whether its
// standard output is a terminal (a live progress line suits a person, plain
// lines suit a pipe), and the user's request to stop (Ctrl-C), caught as a
// flag the host polls between blocks instead of ending the process.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

/// True when the process's standard output is a terminal.
KELVARA_API bool IsStandardOutputTerminal();

/// Catches the console's interrupt (Ctrl-C) from now on; None, or the
/// category of the failure (NotSupported where the system cannot).
KELVARA_API ErrorCategory CatchInterrupt();
/// True once an interrupt has come since CatchInterrupt or ClearInterrupt.
KELVARA_API bool InterruptRequested();
/// Forgets an interrupt that came.
KELVARA_API void ClearInterrupt();
/// Lets the interrupt end the process again, as it did before CatchInterrupt.
KELVARA_API void ReleaseInterrupt();

}  // namespace kelvara::platform
/** @} */
