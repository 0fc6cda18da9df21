// kovex-bench-bridge: how old a value from the test X-Plane is when the server's reply carries it, and
// what one request costs the server with the X-Plane bridge and with the built-in model.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "tools/server/launch.h"
#include "tools/server/probe.h"

namespace {

constexpr double kSubscriptionPeriodMs = 50.0;  // the bridge subscribes at 20 Hz
constexpr int kRounds = 8;  // short alternating slices, best of each: other load hurts both sides alike

// The test X-Plane on a free port: its port, 0 when it did not come up.
std::uint16_t StartXPlane(const std::vector<std::string>& extra, plat::ChildProcess& child, const std::string& log) {
    std::vector<std::string> args{KOVEX_BIN_DIR "/kovex-test-xplane", "--port", "0", "--lifetime", "120", "--start-at", "400"};
    args.insert(args.end(), extra.begin(), extra.end());
    child = StartLogged(args, log);
    const std::string marker = "listening on 127.0.0.1:";
    const std::uint32_t start = plat::TickCount();
    while (child && plat::TickCount() - start < 10000) {
        const std::string text = ReadWholeTextFile(log);
        if (text.rfind(marker, 0) == 0 && text.find('\n') != std::string::npos)
            return static_cast<std::uint16_t>(std::atoi(text.c_str() + marker.size()));
        plat::SleepMs(5);
    }
    return 0;
}

bool Ask(ProbeClient& client, const std::string& request, std::string& reply) {
    return ProbeRoundTrip(client, request, 5000, reply) == ProbeResult::Ok;
}

// Microseconds per request over durationMs of a panel frame's ten requests in turn, one client.
double MicrosecondsPerRequest(std::uint16_t port, std::uint32_t durationMs) {
    static const char* const kFrame[] = {"2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6",
                                         "2386,2,6", "2196,2,6", "2348,2,6", "612,2,4",  "13157,1,3"};
    ProbeClient client;
    std::string error, reply;
    if (!ProbeConnect(client, "127.0.0.1", port, error)) return 0.0;
    Ask(client, kFrame[0], reply);
    std::uint64_t count = 0;
    const std::uint32_t start = plat::TickCount();
    std::uint32_t elapsed = 0;
    while ((elapsed = plat::TickCount() - start) < durationMs)
        if (Ask(client, kFrame[count % 10], reply)) ++count;
    ProbeClose(client);
    return count ? elapsed * 1000.0 / count : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::printf("usage: kovex-bench-bridge [--seconds S]\n"
                        "The age of an X-Plane value when the server's reply carries it, measured for 3 S seconds\n"
                        "against the test X-Plane, whose engine 1 flow changes every 137 ms and carries the time\n"
                        "of its last change; and the server's microseconds per request (one client, a panel frame's\n"
                        "requests in turn) with the X-Plane bridge and with the built-in model, best of 8 alternating\n"
                        "slices of S / 6 seconds each (default S 3).\n");
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (!(seconds > 0.0) || seconds > 60.0) seconds = 3.0;
    const std::uint32_t durationMs = static_cast<std::uint32_t>(seconds * 1000.0);

    const std::string xplaneLog = TempLogPath("xplane"), bridgeLog = TempLogPath("bridge-server"),
                      modelLog = TempLogPath("model-server");
    plat::ChildProcess xplane = 0, bridge = 0, model = 0;
    const std::uint16_t xplanePort = StartXPlane({"--clock"}, xplane, xplaneLog);
    const std::uint16_t bridgePort =
        xplanePort ? StartServerOnFreePort(KOVEX_BIN_DIR "/kovex-server",
                                           {"--xplane", "--sim-address", "127.0.0.1:" + std::to_string(xplanePort)},
                                           bridge, bridgeLog)
                   : 0;
    const std::uint16_t modelPort = StartServerOnFreePort(KOVEX_BIN_DIR "/kovex-server", {}, model, modelLog);
    if (!xplanePort || !bridgePort || !modelPort) {
        std::fprintf(stderr, "a program did not start:\n%s%s%s", ReadWholeTextFile(xplaneLog).c_str(),
                     ReadWholeTextFile(bridgeLog).c_str(), ReadWholeTextFile(modelLog).c_str());
        return 1;
    }

    // Ages: each new value seen in a reply, from the tick it carries to the tick the reply came.
    ProbeClient client;
    std::string error, reply;
    if (!ProbeConnect(client, "127.0.0.1", bridgePort, error)) return 1;
    std::vector<double> ages;
    long last = -1;
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 3 * durationMs + 1000) {
        if (!Ask(client, "2328,8,2", reply)) break;
        const std::uint32_t now = plat::TickCount();
        const long changed = std::lround(std::strtod(reply.c_str(), nullptr) * 0.45359237 / 3600.0 * 1000.0);
        if (changed == 0 || changed == last) continue;
        last = changed;
        if (now - start >= 1000)  // the first second settles the subscription
            ages.push_back(static_cast<double>((now % 10000u + 10000u - static_cast<std::uint32_t>(changed)) % 10000u));
    }
    ProbeClose(client);

    double bridged = 0.0, modelled = 0.0;
    for (int round = 0; round < kRounds; ++round) {
        const double b = MicrosecondsPerRequest(bridgePort, durationMs / 6);
        const double m = MicrosecondsPerRequest(modelPort, durationMs / 6);
        bridged = round == 0 ? b : std::min(bridged, b);
        modelled = round == 0 ? m : std::min(modelled, m);
    }
    for (plat::ChildProcess c : {bridge, model, xplane}) plat::StopChildProcess(c, 2000);
    for (const std::string& log : {xplaneLog, bridgeLog, modelLog}) std::remove(log.c_str());

    if (ages.empty()) {
        std::fprintf(stderr, "no changing value reached the server's replies\n");
        return 1;
    }
    std::sort(ages.begin(), ages.end());
    auto at = [&ages](double q) { return ages[static_cast<std::size_t>(q * (ages.size() - 1))]; };
    std::printf("value age, change to reply (ms): median %.0f p99 %.0f max %.0f over %zu changes (target <= %.0f)\n",
                at(0.5), at(0.99), ages.back(), ages.size(), kSubscriptionPeriodMs + 2.0);
    std::printf("server per request, X-Plane bridge / built-in model (us): %.2f %.2f ratio %.3f (target <= 1.1)\n",
                bridged, modelled, modelled > 0.0 ? bridged / modelled : 0.0);
    return 0;
}
