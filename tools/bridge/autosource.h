// The source behind --auto: the built-in model until a simulator is found, then X-Plane found by its
// beacon or FlightGear found by probing its property server's port, and whichever comes next when
// that one goes.
#pragma once

#include <memory>
#include <string>

#include "tools/bridge/offsetsource.h"

// Serves the model from startAt seconds at timeScale until a simulator answers. FlightGear is looked
// for on this machine's port 5401 and, when probeAddress ("HOST[:PORT]") is not empty, there too.
// At start X-Plane's beacon is waited for a moment before a FlightGear is taken, so X-Plane wins when
// both run; after that a simulator that answers is kept until it goes. Null with the reason in error
// when probeAddress cannot be used.
std::unique_ptr<OffsetSource> OpenAutoSource(const std::string& probeAddress, double startAtSeconds, double timeScale,
                                             std::string& error);
