#include <time.h>

#include <cerrno>

#include "kelvara/platform/Clock.h"

namespace kelvara::platform {

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kEpochDifference = 11644473600ull;

}  // namespace

std::uint64_t CurrentFileTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const auto seconds = static_cast<std::uint64_t>(ts.tv_sec) + kEpochDifference;
    return seconds * 10000000ull + static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

std::uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void SleepFor(std::uint32_t nMilliseconds) {
    timespec left{static_cast<time_t>(nMilliseconds / 1000u),
                  static_cast<long>(nMilliseconds % 1000u) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace kelvara::platform
