// kovex-bench-simlink: one exchange of the ten per-frame reads beside a bare message round trip.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "platform/process.h"
#include "simlink/FPCuser.h"
#include "simlink/panelvariables.h"

namespace {

constexpr int kWarmUp = 200;
constexpr int kRounds = 5000;

struct Figures {
    double median, p99;
};

std::vector<double> micros[2];

template <typename Step>
void Time(Step& step, std::vector<double>& into) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!step()) {
        std::fprintf(stderr, "kovex-bench-simlink: an exchange failed\n");
        std::exit(1);
    }
    const auto t1 = std::chrono::steady_clock::now();
    into.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
}

Figures Summary(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() * 99 / 100]};
}

// The two steps take turns, so a change in the machine's load touches both figures alike.
template <typename StepA, typename StepB>
void MeasureInTurns(StepA a, StepB b, Figures& figuresA, Figures& figuresB) {
    for (int i = 0; i < kWarmUp; ++i) {
        a();
        b();
    }
    for (auto& m : micros) {
        m.clear();
        m.reserve(kRounds);
    }
    for (int i = 0; i < kRounds; ++i) {
        Time(a, micros[0]);
        Time(b, micros[1]);
    }
    figuresA = Summary(micros[0]);
    figuresB = Summary(micros[1]);
}

// The frame's read step without its 1 ms sleep.
bool FrameExchange() {
    FlightSample s{};
    void* fields[10] = {&s.fuelFlowPph1, &s.fuelFlowPph2, &s.oilTempRaw1,  &s.oilTempRaw2, &s.oilPressRaw1,
                        &s.oilPressRaw2, &s.combustion1,  &s.combustion2, &s.paused,      &s.inMenu};
    SimLinkResult result = LinkOk;
    for (int row = 0; row < 10; ++row)
        SimLinkQueueRead(kFrameVariables[row].offset, kFrameVariables[row].bytes, fields[row], result);
    return SimLinkProcess(result);
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kovex-bench-" + std::to_string(plat::CurrentProcessId()));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    plat::SetEnvironmentVariable("KOVEX_IPC_DIR", dir.string().c_str());

    const plat::ChildProcess sim =
        plat::StartChildProcess({KOVEX_BIN_DIR "/kovex-simulator", "--exit-with-parent", "--lifetime", "300"});
    plat::IpcWindow window = 0;
    for (int i = 0; i < 5000 && !window && sim; ++i) {
        window = plat::IpcFindWindow("UIPCMAIN");
        if (!window) plat::SleepMs(1);
    }
    SimLinkResult result = LinkOk;
    if (!window || !SimLinkOpen(0, result)) {
        std::fprintf(stderr, "kovex-bench-simlink: the stand-in could not be reached (code %u)\n",
                     static_cast<unsigned>(result));
        if (sim) plat::StopChildProcess(sim, 2000);
        fs::remove_all(dir);
        return 1;
    }

    const std::uint32_t ping = plat::IpcRegisterMessage("KovexBench:Ping");
    Figures bare{}, frame{};
    MeasureInTurns(
        [&] {
            std::uint32_t reply = 0, error = 0;
            return plat::IpcSendMessage(window, ping, 0, 2000, &reply, &error);
        },
        FrameExchange, bare, frame);

    SimLinkClose();
    plat::StopChildProcess(sim, 2000);
    fs::remove_all(dir);

    std::printf("rounds per figure:             %d\n", kRounds);
    std::printf("bare message round trip:       median %8.1f us   p99 %8.1f us\n", bare.median, bare.p99);
    std::printf("ten-read frame exchange:       median %8.1f us   p99 %8.1f us\n", frame.median, frame.p99);
    const double ratio = frame.median / bare.median;
    std::printf("exchange / bare (median):      %.2f  (target <= 1.50: %s)\n", ratio, ratio <= 1.5 ? "met" : "MISSED");
    return 0;
}
