// POSIX millisecond clock on CLOCK_MONOTONIC.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace plat {

std::uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);  // wraps like the desktop's 32-bit tick count
}

void SleepMs(std::uint32_t milliseconds) {
    timespec req{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}

}  // namespace plat
