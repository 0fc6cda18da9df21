// Choosing and opening a value source; the simulator address and the help text the programs share.
#include "tools/bridge/offsetsource.h"

#include <cstdlib>

#include "platform/sockets.h"
#include "tools/bridge/flightgear.h"
#include "tools/bridge/xplane.h"

namespace {

constexpr std::uint16_t kXPlanePort = 49000;     // where X-Plane listens for data requests
constexpr std::uint16_t kFlightGearPort = 5401;  // the port the help text tells the user to open

}  // namespace

bool ParseSimAddress(const std::string& text, std::string& host, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    const std::string name = text.substr(0, colon);
    if (name.empty() || name.find_first_of(" \t:") != std::string::npos) return false;
    if (colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
        const long value = std::strtol(digits.c_str(), nullptr, 10);
        if (value < 1 || value > 65535) return false;
        port = static_cast<std::uint16_t>(value);
    }
    host = name;
    return true;
}

std::unique_ptr<OffsetSource> OpenSimulatorBridge(SimulatorKind kind, const std::string& address, std::string& error) {
    std::string host = "127.0.0.1";
    std::uint16_t port = kind == SimulatorKind::XPlane ? kXPlanePort : kFlightGearPort;
    if (!address.empty() && !ParseSimAddress(address, host, port)) {
        error = "bad simulator address: " + address;
        return nullptr;
    }
    // Both backends need the socket library started; a started library may be started again.
    if (plat::SocketStartup(0x0202) != 0) {
        error = "the socket library did not start";
        return nullptr;
    }
    plat::SocketAddressV4 target;
    target.port = static_cast<std::uint16_t>((port >> 8) | (port << 8));
    if (!plat::ResolveHostName(host, target.address)) {
        error = "cannot find the simulator's host " + host;
        return nullptr;
    }
    const std::string name = host + ":" + std::to_string(port);
    if (kind == SimulatorKind::XPlane) return OpenXPlaneSource(target, name, error);
    if (kind == SimulatorKind::FlightGear) return OpenFlightGearSource(target, name, error);
    error = "no simulator chosen";
    return nullptr;
}

const char* SimulatorUsage() {
    return "Simulator (instead of the built-in model; it may start, quit and come back at any time,\n"
           "and while it is away every value reads 0):\n"
           "  --xplane             from X-Plane 11 or 12 through its UDP data subscriptions; nothing to set\n"
           "                       up in X-Plane\n"
           "  --flightgear         from FlightGear 2020.3 or later through its property server; start it with\n"
           "                           fgfs --telnet=5401\n"
           "  --auto               whichever simulator is there, found without an address: X-Plane by the\n"
           "                       beacon it multicasts (239.255.1.1 port 49707, heard on every interface),\n"
           "                       FlightGear by a connect to its property server on 127.0.0.1:5401 (and on\n"
           "                       --sim-address, default port 5401). Until one is found the built-in model\n"
           "                       is served; once one answers it is kept until it goes, and then whichever\n"
           "                       comes next is taken. When both run at start X-Plane wins: its beacon is\n"
           "                       its own word, an open port is only a guess, so FlightGear is taken only\n"
           "                       after 1.5 s without a beacon.\n"
           "  --sim-address HOST[:PORT]\n"
           "                       where the simulator runs (default 127.0.0.1; port 49000 for X-Plane,\n"
           "                       5401 for FlightGear)\n"
           "  Lines \"X-Plane at HOST:PORT: answers ...\", \"... went away (REASON); values read 0 ...\" and\n"
           "  \"... came back ...\" follow the simulator; bad input from it is named at most once a second.\n"
           "  With --auto, \"auto: no simulator found yet; serving the built-in flight model ...\" comes first,\n"
           "  then \"auto: X-Plane found by its beacon at HOST:PORT ...\" or \"auto: FlightGear found ...\" each\n"
           "  time a simulator is taken up.\n";
}
