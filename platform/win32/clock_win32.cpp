// Win32 millisecond clock: the desktop's tick count and Sleep.
#include "platform/clock.h"

#include "platform/win32/win32_common.h"

namespace plat {

std::uint32_t TickCount() { return static_cast<std::uint32_t>(::GetTickCount()); }

void SleepMs(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace plat
