// The scripted twin-engine model: throttle by phase, first-order engine, oil and fuel responses.
#include "tools/flightmodel/flightmodel.h"

#include <cmath>

namespace {

constexpr double kIdleRpm = 700.0;
constexpr double kMaxRpm = 2700.0;
constexpr double kCrankRpm = 250.0;
constexpr double kCrankSeconds = 3.0;
constexpr double kKgPerGallon = 2.72;

// One scripted phase, from its start time on.
struct Phase {
    double start;
    const char* name;
    double throttle;  // 0 idle .. 1 full power
    bool paused;
    bool inMenu;
};
constexpr double kStart1 = 10.0;
constexpr double kStart2 = 25.0;
const Phase kPhases[] = {
    {0.0, "engines off", 0.0, false, false},   {kStart1, "start 1", 0.0, false, false},
    {kStart2, "start 2", 0.0, false, false},   {40.0, "idle", 0.0, false, false},
    {90.0, "run-up", 0.55, false, false},      {120.0, "idle", 0.0, false, false},
    {150.0, "take-off", 1.0, false, false},    {210.0, "climb", 0.9, false, false},
    {510.0, "cruise", 0.8, false, false},      {600.0, "paused", 0.8, true, false},
    {630.0, "cruise", 0.8, false, false},      {700.0, "menu", 0.8, false, true},
    {720.0, "cruise", 0.8, false, false},
};

const Phase& PhaseAt(double t) {
    const Phase* current = &kPhases[0];
    for (const Phase& p : kPhases)
        if (t >= p.start) current = &p;
    return *current;
}

// First-order approach of value to target with time constant tau over dt.
double Approach(double value, double target, double tau, double dt) {
    return target + (value - target) * std::exp(-dt / tau);
}

void StepEngine(EngineModel& e, double& fuelKg, double startTime, double throttle, double t, double dt) {
    const bool cranking = t >= startTime && t < startTime + kCrankSeconds;
    if (t >= startTime + kCrankSeconds && fuelKg > 0.0) e.running = true;
    if (fuelKg <= 0.0) e.running = false;

    double rpmTarget = 0.0;
    if (e.running)
        rpmTarget = kIdleRpm + (kMaxRpm - kIdleRpm) * throttle;
    else if (cranking)
        rpmTarget = kCrankRpm;
    e.rpm = Approach(e.rpm, rpmTarget, e.running || cranking ? 1.5 : 4.0, dt);

    // Flow follows the rpm, from about 20 kg/h at idle to 300 kg/h at full power.
    const double load = std::fmax(0.0, (e.rpm - kIdleRpm) / (kMaxRpm - kIdleRpm));
    e.fuelFlowKgh = e.running ? (20.0 + 280.0 * load) * std::fmin(1.0, e.rpm / kIdleRpm) : 0.0;
    fuelKg = std::fmax(0.0, fuelKg - e.fuelFlowKgh * dt / 3600.0);

    // Pressure follows the rpm at once: about 38 at idle, 77 in cruise, 85 at full power.
    e.oilPressPsi = 85.0 * std::pow(std::fmax(0.0, e.rpm) / kMaxRpm, 0.6);

    // Temperature creeps over minutes towards a power-dependent level; cools slowly when stopped.
    const double tempTarget = e.running ? 75.0 + 43.0 * load : kAmbientC;
    e.oilTempC = Approach(e.oilTempC, tempTarget, e.running ? 150.0 : 600.0, dt);
}

}  // namespace

void FlightModelReset(FlightModel& model) {
    model = FlightModel{};
    for (int i = 0; i < 2; ++i) {
        model.engine[i].oilTempC = kAmbientC;
        model.capacityGal[i] = 100;
        model.fuelKg[i] = 0.75 * model.capacityGal[i] * kKgPerGallon;
    }
}

void FlightModelAdvance(FlightModel& model, double seconds) {
    if (!(seconds > 0.0)) return;
    while (seconds > 0.0) {
        const double dt = std::fmin(seconds, 0.1);
        seconds -= dt;
        model.scriptSeconds += dt;
        const Phase& phase = PhaseAt(model.scriptSeconds);
        model.paused = phase.paused;
        model.inMenu = phase.inMenu;
        if (model.paused || model.inMenu) continue;
        StepEngine(model.engine[0], model.fuelKg[0], kStart1, phase.throttle, model.scriptSeconds, dt);
        StepEngine(model.engine[1], model.fuelKg[1], kStart2, phase.throttle, model.scriptSeconds, dt);
    }
}

const char* FlightModelPhase(const FlightModel& model) { return PhaseAt(model.scriptSeconds).name; }
