// A small scripted twin-engine model: start-up, idle, run-up, take-off, climb, cruise, pause and menu.
#pragma once

#include <cstdint>

struct EngineModel {
    double rpm;
    double fuelFlowKgh;
    double oilPressPsi;  // in the units the panel's pressure scale is printed in
    double oilTempC;
    bool running;        // combustion
};

struct FlightModel {
    double scriptSeconds;  // time along the scripted flight, also while paused
    EngineModel engine[2];
    double fuelKg[2];           // left and right main tank
    std::int32_t capacityGal[2];
    bool paused;
    bool inMenu;
};

constexpr double kAmbientC = 15.0;

void FlightModelReset(FlightModel& model);
// Moves the model on by some seconds of simulator time; pause and menu phases freeze the aircraft.
void FlightModelAdvance(FlightModel& model, double seconds);
// The phase at the model's time, for people watching a demo: "engines off", "start 1", "cruise" ...
const char* FlightModelPhase(const FlightModel& model);
