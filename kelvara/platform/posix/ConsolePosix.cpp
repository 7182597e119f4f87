#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "kelvara/platform/Console.h"

namespace kelvara::platform {

namespace {

// Only a lock-free atomic may be touched from a signal handler.
std::atomic<bool> g_bInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    g_bInterrupted.store(true, std::memory_order_relaxed);
}

bool SetInterruptAction(void (*pfnHandler)(int)) {
    struct sigaction action {};
    action.sa_handler = pfnHandler;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a transfer under way finishes, and the host sees the
    // flag at the next block.
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

bool IsStandardOutputTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

ErrorCategory CatchInterrupt() {
    ClearInterrupt();
    return SetInterruptAction(OnInterrupt) ? ErrorCategory::None : LastErrorCategory();
}

bool InterruptRequested() {
    return g_bInterrupted.load(std::memory_order_relaxed);
}

void ClearInterrupt() {
    g_bInterrupted.store(false, std::memory_order_relaxed);
}

void ReleaseInterrupt() {
    SetInterruptAction(SIG_DFL);
}

}  // namespace kelvara::platform
