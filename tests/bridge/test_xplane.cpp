// kovex-test-xplane: answers X-Plane's UDP data subscriptions ("RREF") with a scripted twin-engine
// flight, and on request falls silent, sends garbage, floods, sends wild values, or holds the oil
// values fixed; with --beacon it announces its port as X-Plane's beacon does.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/multicast.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "tests/bridge/flight_script.h"

namespace {

struct Options {
    int port = 49000;
    double startAt = 300.0;
    double timeScale = 0.0;
    int engines = 2;
    bool oilInFahrenheit = false;
    double silentAfter = -1.0, silentFor = 0.0;  // seconds after the first subscription
    bool garbage = false, flood = false, wild = false;
    bool clock = false;  // engine 1's flow carries the tick of its last change (ms modulo 10000, as kg/s / 1000)
    bool fixedOil = false;  // --oil PSI,C[,PSI,C]: both engines' oil (or each engine's), instead of the flight's
    double oilPsi[2] = {}, oilC[2] = {};
    double lifetime = 120.0;
    int beaconMs = 0;  // a beacon this often; 0: none
    std::string beaconTo = "239.255.1.1:49707";
    std::string beaconInterface;  // the local address beacons leave by; empty: the routes' choice
    int garbageBeacons = 0;       // rounds of malformed beacons, naming another port, before the first true one
};

struct Subscription {
    plat::SocketAddressV4 client;
    std::int32_t index;
    std::int32_t frequency;
    std::string name;
    std::uint32_t lastSent;
};

Options options;
FlightModel model;
std::uint32_t changedAt = 0;
std::vector<Subscription> subscriptions;

std::int32_t Int32At(const std::uint8_t* at) {
    return static_cast<std::int32_t>(at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24);
}

void PutInt32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The dataref's value in X-Plane's units; an unknown name reads 0, as X-Plane sends for it.
float ValueOf(const std::string& name) {
    if (options.clock && name == "sim/cockpit2/engine/indicators/fuel_flow_kg_sec[0]")
        return static_cast<float>(changedAt % 10000u / 1000.0);  // seconds, within the flows a bridge serves
    if (options.wild) {
        if (name.find("fuel_flow") != std::string::npos) return -1.0f;
        if (name.find("oil_pressure") != std::string::npos) return NAN;
        if (name.find("oil_temperature") != std::string::npos) return 1e9f;
        if (name.find("ENGN_running") != std::string::npos) return INFINITY;
    }
    const std::size_t open = name.find('[');
    const std::string base = name.substr(0, open);
    const int n = open == std::string::npos ? 0 : std::atoi(name.c_str() + open + 1);
    const EngineModel& e = model.engine[n == 1 ? 1 : 0];
    const double psi = options.fixedOil ? options.oilPsi[n == 1 ? 1 : 0] : e.oilPressPsi;
    const double celsius = options.fixedOil ? options.oilC[n == 1 ? 1 : 0] : e.oilTempC;
    if (base == "sim/cockpit2/engine/indicators/fuel_flow_kg_sec") return static_cast<float>(e.fuelFlowKgh / 3600.0);
    if (base == "sim/cockpit2/engine/indicators/oil_pressure_psi") return static_cast<float>(psi);
    if (base == "sim/cockpit2/engine/indicators/oil_temperature_deg_C")
        return static_cast<float>(options.oilInFahrenheit ? script::Fahrenheit(celsius) : celsius);
    if (base == "sim/flightmodel/engine/ENGN_running") return e.running ? 1.0f : 0.0f;
    if (base == "sim/time/paused") return model.paused ? 1.0f : 0.0f;
    if (base == "sim/aircraft/engine/acf_oilT_is_C") return options.oilInFahrenheit ? 0.0f : 1.0f;
    if (base == "sim/aircraft/engine/acf_num_engines") return static_cast<float>(options.engines);
    if (base == "sim/flightmodel/weight/m_fuel") return static_cast<float>(model.fuelKg[n == 1 ? 1 : 0]);
    if (base == "sim/aircraft/overflow/acf_tank_rat") return static_cast<float>(script::kTankShare);
    if (base == "sim/aircraft/weight/acf_m_fuel_tot")
        return static_cast<float>((model.capacityGal[0] + model.capacityGal[1]) * script::kKgPerGallon);
    return 0.0f;
}

void TakeRequest(const std::uint8_t* data, std::int32_t size, const plat::SocketAddressV4& from) {
    if (size != 413 || std::memcmp(data, "RREF", 4) != 0 || data[4] != 0) {
        std::printf("ignored a %d-byte packet\n", size);
        return;
    }
    const std::int32_t frequency = Int32At(data + 5);
    const std::int32_t index = Int32At(data + 9);
    const std::string name(reinterpret_cast<const char*>(data + 13), strnlen(reinterpret_cast<const char*>(data + 13), 400));
    for (std::size_t i = 0; i < subscriptions.size(); ++i) {
        Subscription& s = subscriptions[i];
        if (s.client.address == from.address && s.client.port == from.port && s.index == index) {
            if (frequency <= 0) {
                subscriptions.erase(subscriptions.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
            s.frequency = frequency;
            s.name = name;
            return;
        }
    }
    if (frequency > 0) subscriptions.push_back(Subscription{from, index, frequency, name, 0});
}

void Send(plat::SocketHandle socket, const std::vector<std::uint8_t>& packet, const plat::SocketAddressV4& to) {
    plat::SendDatagram(socket, packet.data(), static_cast<std::int32_t>(packet.size()), to);
}

void SendGarbage(plat::SocketHandle socket, const plat::SocketAddressV4& to) {
    Send(socket, {'R', 'R'}, to);                                             // short
    Send(socket, std::vector<std::uint8_t>(4000, 'R'), to);                  // oversized
    Send(socket, {'D', 'A', 'T', 'A', '*', 1, 0, 0, 0, 0, 0, 0x80, 0x3F}, to);  // another packet kind
    Send(socket, {'R', 'R', 'E', 'F', ',', 1, 0, 0}, to);                     // ragged pairs
    std::vector<std::uint8_t> unknown{'R', 'R', 'E', 'F', ','};              // an index nobody asked for
    PutInt32(unknown, 977);
    PutInt32(unknown, 0x42C80000u);
    Send(socket, unknown, to);
}

bool SameClient(const plat::SocketAddressV4& a, const plat::SocketAddressV4& b) {
    return a.address == b.address && a.port == b.port;
}

// Sends what is due to each client in one packet per client, as X-Plane does.
void SendDue(plat::SocketHandle socket, std::uint32_t now) {
    std::vector<plat::SocketAddressV4> clients;
    for (const Subscription& s : subscriptions) {
        bool known = false;
        for (const plat::SocketAddressV4& c : clients) known = known || SameClient(c, s.client);
        if (!known) clients.push_back(s.client);
    }
    for (const plat::SocketAddressV4& client : clients) {
        std::vector<std::uint8_t> packet{'R', 'R', 'E', 'F', ','};
        for (Subscription& s : subscriptions) {
            if (!SameClient(s.client, client)) continue;
            const std::uint32_t period = 1000u / static_cast<std::uint32_t>(s.frequency);
            if (!options.flood && now - s.lastSent < period) continue;
            s.lastSent = now - s.lastSent < 2 * period ? s.lastSent + period : now;  // keeps the cadence
            const float value = ValueOf(s.name);
            std::uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            PutInt32(packet, static_cast<std::uint32_t>(s.index));
            PutInt32(packet, bits);
        }
        if (packet.size() == 5) continue;
        Send(socket, packet, client);
        if (options.garbage) SendGarbage(socket, client);
    }
}

// "PSI,C" for both engines or "PSI,C,PSI,C" for each.
bool ParseOil(const char* text) {
    double v[4] = {};
    int n = 0;
    for (const char* at = text;;) {
        char* end;
        if (n == 4) return false;
        v[n++] = std::strtod(at, &end);
        if (end == at || (*end != ',' && *end != '\0')) return false;
        if (*end == '\0') break;
        at = end + 1;
    }
    if (n != 2 && n != 4) return false;
    options.fixedOil = true;
    for (int i = 0; i < 2; ++i) {
        options.oilPsi[i] = v[n == 4 ? 2 * i : 0];
        options.oilC[i] = v[n == 4 ? 2 * i + 1 : 1];
    }
    return true;
}

// A beacon laid out byte by byte, little-endian: "BECN", a zero byte, versions 1.2, host id 1 (X-Plane),
// version 12.1.0, role, the port its interface listens on, the computer's name and its zero byte.
std::vector<std::uint8_t> BeaconPacket(std::uint32_t role, int port) {
    std::vector<std::uint8_t> packet{'B', 'E', 'C', 'N', 0, 1, 2};
    PutInt32(packet, 1);
    PutInt32(packet, 120100);
    PutInt32(packet, role);
    packet.push_back(static_cast<std::uint8_t>(port & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(port >> 8 & 0xFF));
    for (const char c : std::string("test-xplane-host")) packet.push_back(static_cast<std::uint8_t>(c));
    packet.push_back(0);
    return packet;
}

// Each one is what a careless or hostile sender might put out, all naming a port nobody serves.
void SendGarbageBeacons(plat::SocketHandle socket, const plat::SocketAddressV4& to, int decoyPort) {
    std::vector<std::uint8_t> shortOne = BeaconPacket(1, decoyPort);
    shortOne.resize(12);
    Send(socket, shortOne, to);
    std::vector<std::uint8_t> oversized = BeaconPacket(1, decoyPort);
    oversized.resize(1400, 'x');
    Send(socket, oversized, to);
    Send(socket, BeaconPacket(2, decoyPort), to);  // an external visual, not a master
    std::vector<std::uint8_t> header = BeaconPacket(1, decoyPort);
    header[3] = 'X';
    Send(socket, header, to);
    std::vector<std::uint8_t> endless = BeaconPacket(1, decoyPort);
    endless.back() = 'x';  // the name never ends
    Send(socket, endless, to);
}

bool ParseAddress(const std::string& text, std::uint16_t defaultPort, plat::SocketAddressV4& address) {
    const std::size_t colon = text.rfind(':');
    const int port = colon == std::string::npos ? defaultPort : std::atoi(text.c_str() + colon + 1);
    if (port <= 0 || port > 65535 || !plat::ResolveHostName(text.substr(0, colon), address.address)) return false;
    address.port = static_cast<std::uint16_t>((port >> 8 & 0xFF) | (port & 0xFF) << 8);
    return true;
}

bool Parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        auto number = [&]() { ++i; return std::atof(value); };
        auto text = [&]() { ++i; return std::string(value); };
        if (arg == "--port") options.port = static_cast<int>(number());
        else if (arg == "--start-at") options.startAt = number();
        else if (arg == "--time-scale") options.timeScale = number();
        else if (arg == "--engines") options.engines = static_cast<int>(number());
        else if (arg == "--oil-in-f") options.oilInFahrenheit = true;
        else if (arg == "--silent-after") options.silentAfter = number();
        else if (arg == "--silent-for") options.silentFor = number();
        else if (arg == "--garbage") options.garbage = true;
        else if (arg == "--flood") options.flood = true;
        else if (arg == "--wild") options.wild = true;
        else if (arg == "--clock") options.clock = true;
        else if (arg == "--lifetime") options.lifetime = number();
        else if (arg == "--oil" && ParseOil(value)) ++i;
        else if (arg == "--beacon") options.beaconMs = static_cast<int>(number());
        else if (arg == "--beacon-to") options.beaconTo = text();
        else if (arg == "--beacon-interface") options.beaconInterface = text();
        else if (arg == "--garbage-beacons") options.garbageBeacons = static_cast<int>(number());
        else {
            std::fprintf(stderr, "kovex-test-xplane: unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!Parse(argc, argv)) return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    plat::SocketStartup(0x0202);
    const plat::SocketHandle socket = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeDatagram, plat::kProtocolUdp);
    plat::SocketAddressV4 local;
    local.address = 0x0100007Fu;  // 127.0.0.1 in network order on this little-endian host
    local.port = static_cast<std::uint16_t>((options.port >> 8 & 0xFF) | (options.port & 0xFF) << 8);
    if (socket == plat::kNoSocket || plat::BindSocket(socket, local) != 0 || plat::LocalAddress(socket, local) != 0) {
        std::fprintf(stderr, "kovex-test-xplane: cannot bind UDP port %d (socket error %d)\n", options.port,
                     plat::LastSocketError());
        return 1;
    }
    const int port = (local.port >> 8) | (local.port & 0xFF) << 8;
    std::printf("listening on 127.0.0.1:%d\n", port);
    plat::SocketHandle beacon = plat::kNoSocket;
    plat::SocketAddressV4 beaconTo, beaconFrom;
    if (options.beaconMs > 0) {
        beacon = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeDatagram, plat::kProtocolUdp);
        if (beacon == plat::kNoSocket || !ParseAddress(options.beaconTo, 49707, beaconTo) ||
            (!options.beaconInterface.empty() &&
             (!ParseAddress(options.beaconInterface, 1, beaconFrom) ||
              plat::SetMulticastInterface(beacon, beaconFrom.address) != 0))) {
            std::fprintf(stderr, "kovex-test-xplane: cannot beacon to %s (socket error %d)\n", options.beaconTo.c_str(),
                         plat::LastSocketError());
            return 1;
        }
    }
    int beaconRounds = 0;
    std::uint32_t lastBeacon = 0;
    model = script::FlightAt(options.startAt);
    const std::uint32_t start = plat::TickCount();
    std::uint32_t last = start;
    bool silent = false;
    std::uint32_t served = start;  // since when someone has subscribed
    for (;;) {
        const std::uint32_t now = plat::TickCount();
        const double alive = (now - start) / 1000.0;
        if (alive >= options.lifetime || plat::StandardInputClosed()) break;
        FlightModelAdvance(model, (now - last) / 1000.0 * options.timeScale);
        // Changes out of step with the sending schedule, each one slower than a period so every
        // change is sent and waits for its turn as a simulator's values do.
        if (now - changedAt >= 137) changedAt = now;
        last = now;
        if (subscriptions.empty()) served = now;
        const double serving = (now - served) / 1000.0;
        const bool wasSilent = silent;
        silent = options.silentAfter >= 0.0 && serving >= options.silentAfter && serving < options.silentAfter + options.silentFor;
        if (silent != wasSilent) std::printf(silent ? "silent\n" : "speaking again\n");
        std::uint8_t buffer[1024];
        plat::SocketAddressV4 from;
        for (;;) {
            const std::int32_t got = plat::ReceiveDatagram(socket, buffer, sizeof buffer, from);
            if (got < 0 && plat::LastSocketError() == plat::kErrorWouldBlock) break;
            if (got >= 0) TakeRequest(buffer, got, from);
        }
        const bool beaconDue = beaconRounds == 0 || now - lastBeacon >= static_cast<std::uint32_t>(options.beaconMs);
        if (beacon != plat::kNoSocket && beaconDue) {
            lastBeacon = now;
            if (beaconRounds < options.garbageBeacons) {
                SendGarbageBeacons(beacon, beaconTo, port + 1);
                std::printf("garbage beacons sent, round %d\n", beaconRounds + 1);
            } else {
                Send(beacon, BeaconPacket(1, port), beaconTo);
                if (beaconRounds == options.garbageBeacons) std::printf("beacon sent to %s\n", options.beaconTo.c_str());
            }
            ++beaconRounds;
        }
        if (!silent) SendDue(socket, now);
        if (!options.flood) plat::WaitSocketReadable(socket, 0, 500);
    }
    if (beacon != plat::kNoSocket) plat::CloseSocket(beacon);
    plat::CloseSocket(socket);
    return 0;
}
