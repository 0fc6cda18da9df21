// Win32 end requests: none; the desktop ends the panel through its window's close message.
#include "platform/endsignals.h"

namespace plat {

void InstallEndSignals() {}

EndSignal EndSignalReceived() { return EndSignal::None; }

}  // namespace plat
