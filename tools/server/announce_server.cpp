// Announcing the server's TCP port and web page over DNS-SD, with its source and version.
#include "tools/server/announce_server.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The port after the last ':' of "ADDRESS:PORT" or "http://ADDRESS:PORT/"; 0 when there is none.
std::uint16_t PortOf(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return 0;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, nullptr, 10);
    return port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

}  // namespace

const char* SourceRecord(ServerSource source) {
    switch (source) {
    case ServerSource::Simulate: return "model";
    case ServerSource::Fsuipc: return "fsuipc";
    case ServerSource::XPlane: return "xplane";
    case ServerSource::FlightGear: return "flightgear";
    case ServerSource::Auto: return "auto";
    }
    return "model";
}

std::unique_ptr<plat::Announcer> StartAnnouncing(const ServerOptions& options, const std::string& listenName,
                                                 const std::string& pageUrl) {
    if (!options.announce || options.listenAddress.compare(0, 4, "127.") == 0) return nullptr;
    std::vector<plat::AnnouncedService> services;
    services.push_back({"_kovexfuel._tcp", PortOf(listenName),
                        {{"source", SourceRecord(options.source)}, {"version", KOVEX_VERSION}}});
    if (!pageUrl.empty()) services.push_back({"_http._tcp", PortOf(pageUrl), {{"path", "/"}}});
    return std::make_unique<plat::Announcer>(options.announceName, std::move(services), [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
}
