// What another thread of the test is doing, as the kernel tells it: lets a
// test act once a thread is really blocked in a wait, not after a sleep.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

constexpr long kThreadRunning = -1;
constexpr long kThreadStateUnknown = -2;

// The calling thread's kernel id.
inline int CurrentThreadId() {
    return static_cast<int>(::syscall(SYS_gettid));
}

// The number of the system call that thread nThreadId of this process is
// blocked in; kThreadRunning when it is not in one, kThreadStateUnknown
// when the kernel does not tell. Allocates nothing, so that asking cannot
// hold up the thread asked about.
inline long BlockedSystemCall(int nThreadId) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/syscall", nThreadId);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    char text[32] = {};
    const ssize_t nRead = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
    ::close(fd);
    // "running", or "-1 ..." for a thread in the kernel outside a call.
    return nRead <= 0                       ? kThreadStateUnknown
           : text[0] < '0' || text[0] > '9' ? kThreadRunning
                                            : std::strtol(text, nullptr, 10);
}

// The calls a thread sleeps in while it waits for a socket (poll) and for a
// condition variable (futex).
inline bool IsPollCall(long nCall) {
#ifdef SYS_poll
    return nCall == SYS_poll || nCall == SYS_ppoll;
#else
    return nCall == SYS_ppoll;
#endif
}
inline bool IsFutexCall(long nCall) {
    return nCall == SYS_futex;
}

}  // namespace testsupport
