// FlightGear as a value source, through its telnet property server ("fgfs --telnet=PORT").
#pragma once

#include <memory>
#include <string>

#include "platform/sockets.h"
#include "tools/bridge/offsetsource.h"

// Connects to FlightGear's property server at target (name is how lines call it), again and again.
std::unique_ptr<OffsetSource> OpenFlightGearSource(const plat::SocketAddressV4& target, const std::string& name,
                                                   std::string& error);
