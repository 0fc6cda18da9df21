// Millisecond clock and sleep.
// Backends:
// - posix: CLOCK_MONOTONIC in milliseconds, nanosleep.
// - win32: the desktop's tick count and Sleep.
#pragma once

#include <cstdint>

namespace plat {

// Milliseconds since an arbitrary start, wrapping at 2^32 like the desktop's tick count.
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);

}  // namespace plat
