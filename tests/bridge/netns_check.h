// Whether a test runs inside the network namespace tests/bridge/netns.sh makes for it.
#pragma once

#include <cstdlib>
#include <string>

namespace nettest {

// Empty inside the namespace; otherwise why the test must skip.
inline std::string OutsideNetnsReason() {
    const char* inside = std::getenv("KOVEX_NETNS");
    if (inside && std::string(inside) == "1") return {};
    const char* refused = std::getenv("KOVEX_NETNS_REFUSED");
    return std::string("needs a network namespace of its own (run through tests/bridge/netns.sh): ") +
           (refused ? refused : "not started through it");
}

}  // namespace nettest
