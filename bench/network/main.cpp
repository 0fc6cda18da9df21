// kovex-bench-network: a frame's ten requests through the panel's own network road (TVqTcpBlockClient
// and RequestRemoteVariable) beside ten bare TCP round trips of the same bytes, both against kovex-server
// on loopback, in alternating rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "net/networkroad.h"
#include "platform/process.h"
#include "simlink/panelvariables.h"
#include "tools/server/launch.h"
#include "tools/server/probe.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const std::string log = TempLogPath("network-server");
    plat::ChildProcess server = 0;
    const std::uint16_t port =
        StartServerOnFreePort(KOVEX_BIN_DIR "/kovex-server", {"--time-scale", "0", "--start-at", "600"}, server, log);
    if (port == 0) {
        std::fprintf(stderr, "kovex-server did not start:\n%s", ReadWholeTextFile(log).c_str());
        return 1;
    }
    TNetworkRoad road("127.0.0.1", std::to_string(port));
    ProbeClient bare;
    std::string error;
    if (!road.Open() || !ProbeConnect(bare, "127.0.0.1", port, error)) {
        std::fprintf(stderr, "cannot connect: %s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> requests;
    for (const PanelVariable& v : kFrameVariables)
        requests.push_back(std::to_string(v.offset) + "," + v.sizeText + "," + v.kindText);

    const int framesPerRound = 500;
    std::vector<double> clientRounds, bareRounds;
    FlightSample sample{};
    std::string reply;
    for (int round = 0; round < 12; ++round) {
        auto start = Clock::now();
        for (int f = 0; f < framesPerRound; ++f) road.ReadSample(sample);
        clientRounds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / framesPerRound);
        start = Clock::now();
        for (int f = 0; f < framesPerRound; ++f)
            for (const std::string& r : requests) ProbeRoundTrip(bare, r, 5000, reply);
        bareRounds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / framesPerRound);
    }
    const double client = Median(clientRounds);
    const double raw = Median(bareRounds);
    std::printf("%-48s %10.1f us\n", "frame of ten requests, panel client (median)", client);
    std::printf("%-48s %10.1f us\n", "ten bare TCP round trips, same bytes (median)", raw);
    std::printf("%-48s %10.2f   (target >= 0.80)\n", "rate of the panel client / bare rate", raw / client);

    road.Close();
    ProbeClose(bare);
    plat::StopChildProcess(server, 2000);
    std::filesystem::remove(log);
    return 0;
}
