// X-Plane 11 and 12 as a value source, through data-reference subscriptions over UDP.
#pragma once

#include <memory>
#include <string>

#include "platform/sockets.h"
#include "tools/bridge/offsetsource.h"

// Subscribes from an ephemeral local port to X-Plane at target (name is how lines call it).
std::unique_ptr<OffsetSource> OpenXPlaneSource(const plat::SocketAddressV4& target, const std::string& name,
                                               std::string& error);
