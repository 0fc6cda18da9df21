// kovex-test-flightgear: FlightGear's telnet property server ("data" and "prompt" modes, "get"),
// answering with a scripted twin-engine flight; on request it stalls, sends garbage, floods, or
// closes in the middle of a line.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/eventloop.h"
#include "platform/process.h"
#include "tests/bridge/flight_script.h"

namespace {

struct Options {
    int port = 5401;
    double startAt = 300.0;
    double timeScale = 0.0;
    int engines = 2;
    bool noPph = false;          // an aircraft that gives its fuel flow in gallons alone
    double stallAfter = -1.0;    // seconds after the first connection, then no more answers
    double cutAfter = -1.0;      // seconds after the first connection, then half a line and the connection closed
    bool garbage = false, flood = false;
    double lifetime = 120.0;
};

struct Client {
    plat::NetSocket socket;
    std::string input, output;
    bool dataMode = false;
    bool closing = false;
};

Options options;
FlightModel model;

std::string Number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", v);
    return text;
}

// The property's value as FlightGear prints it; empty for a property the aircraft does not have.
std::string Property(const std::string& path) {
    for (int n = 0; n < 2; ++n) {
        const std::string engine = "/engines/engine[" + std::to_string(n) + "]/";
        if (path.compare(0, engine.size(), engine) == 0) {
            if (n >= options.engines) return "";
            const EngineModel& e = model.engine[n];
            const std::string leaf = path.substr(engine.size());
            const double pph = e.fuelFlowKgh / script::kKgPerPound;
            if (leaf == "fuel-flow_pph") return options.noPph ? "" : Number(pph);
            if (leaf == "fuel-flow-gph") return Number(pph / script::kPoundsPerGallon);
            if (leaf == "oil-pressure-psi") return Number(e.oilPressPsi);
            if (leaf == "oil-temperature-degf") return Number(script::Fahrenheit(e.oilTempC));
            if (leaf == "running") return e.running ? "true" : "false";
            return "";
        }
        const std::string tank = "/consumables/fuel/tank[" + std::to_string(n) + "]/";
        if (path.compare(0, tank.size(), tank) == 0) {
            const std::string leaf = path.substr(tank.size());
            const double gallons = model.fuelKg[n] / script::kKgPerPound / script::kPoundsPerGallon;
            if (leaf == "level-gal_us") return Number(gallons);
            if (leaf == "capacity-gal_us") return Number(model.capacityGal[n]);
            if (leaf == "density-ppg") return Number(script::kPoundsPerGallon);
            return "";
        }
    }
    if (path == "/sim/freeze/master") return model.paused ? "true" : "false";
    return "";
}

void Command(Client& c, const std::string& line) {
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "data") {
        c.dataMode = true;
    } else if (word == "prompt") {
        c.dataMode = false;
    } else if (word == "get" || word == "show") {
        std::string value = Property(argument);
        // Now and then an answer that is too long or no number in its place.
        const int roll = options.garbage ? std::rand() % 40 : -1;
        if (roll == 0) value = std::string(3000, 'x');
        if (roll == 1) value = "12.5 knots";
        if (c.dataMode)
            c.output += value + "\r\n";
        else
            c.output += argument + " = '" + value + "' (double)\r\n";
    } else if (word == "quit") {
        c.closing = true;
    } else if (!word.empty()) {
        c.output += "Unknown command\r\n";
    }
    if (!c.dataMode) c.output += "/> ";
}

bool Parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        auto number = [&]() { ++i; return std::atof(value); };
        if (arg == "--port") options.port = static_cast<int>(number());
        else if (arg == "--start-at") options.startAt = number();
        else if (arg == "--time-scale") options.timeScale = number();
        else if (arg == "--engines") options.engines = static_cast<int>(number());
        else if (arg == "--no-pph") options.noPph = true;
        else if (arg == "--stall-after") options.stallAfter = number();
        else if (arg == "--cut-after") options.cutAfter = number();
        else if (arg == "--garbage") options.garbage = true;
        else if (arg == "--flood") options.flood = true;
        else if (arg == "--lifetime") options.lifetime = number();
        else {
            std::fprintf(stderr, "kovex-test-flightgear: unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!Parse(argc, argv)) return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string error;
    const plat::NetSocket listener = plat::NetListen("127.0.0.1", static_cast<std::uint16_t>(options.port), error);
    if (listener == plat::kNoNetSocket) {
        std::fprintf(stderr, "kovex-test-flightgear: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s\n", plat::NetLocalName(listener).c_str());
    model = script::FlightAt(options.startAt);
    std::vector<Client> clients;
    const std::uint32_t start = plat::TickCount();
    std::uint32_t last = start;
    std::uint32_t connected = start;
    bool everConnected = false;
    for (;;) {
        const std::uint32_t now = plat::TickCount();
        const double alive = (now - start) / 1000.0;
        if (alive >= options.lifetime || plat::StandardInputClosed()) break;
        FlightModelAdvance(model, (now - last) / 1000.0 * options.timeScale);
        last = now;
        if (!everConnected) connected = now;
        const double serving = (now - connected) / 1000.0;
        const bool stalled = options.stallAfter >= 0.0 && serving >= options.stallAfter;
        const bool cut = options.cutAfter >= 0.0 && serving >= options.cutAfter;

        std::vector<plat::NetPollItem> items{{listener, true, false, false, false}};
        for (const Client& c : clients) items.push_back({c.socket, !stalled, !c.output.empty() || options.flood, false, false});
        plat::NetPoll(items.data(), items.size(), 5);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client& c = clients[i];
            if (items[i + 1].readable) {
                char buffer[4096];
                const long got = plat::NetRead(c.socket, buffer, sizeof buffer);
                if (got == plat::kNetClosed) c.closing = true;
                for (long k = 0; k < got; ++k) {
                    if (buffer[k] == '\n') {
                        if (!c.input.empty() && c.input.back() == '\r') c.input.pop_back();
                        Command(c, c.input);
                        c.input.clear();
                    } else {
                        c.input += buffer[k];
                    }
                }
            }
            if (cut && !c.closing) {
                c.output += "12.5";  // half an answer, then gone
                c.closing = true;
            }
            if (options.flood && c.output.size() < 65536) c.output += "flood of lines nobody asked for\r\n";
            if (!c.output.empty()) {
                const long put = plat::NetWrite(c.socket, c.output.data(), c.output.size());
                if (put > 0) c.output.erase(0, static_cast<std::size_t>(put));
                if (put == plat::kNetClosed) c.closing = true;
            }
        }
        for (std::size_t i = clients.size(); i-- > 0;) {
            if (!clients[i].closing) continue;
            plat::NetClose(clients[i].socket);
            clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            std::printf("client left\n");
        }
        if (items[0].readable) {
            std::string peer;
            const plat::NetSocket s = plat::NetAccept(listener, peer, error);
            if (s != plat::kNoNetSocket) {
                clients.push_back(Client{s, {}, {}, false, false});
                everConnected = true;
                std::printf("client %s connected\n", peer.c_str());
            }
        }
        if (cut) {
            // After the cut it takes no one again: the bridge must keep trying until the restart.
            if (clients.empty()) break;
        }
    }
    for (Client& c : clients) plat::NetClose(c.socket);
    plat::NetClose(listener);
    return 0;
}
