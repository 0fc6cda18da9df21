// Test support: the scripted twin-engine flight the test simulators play, in each simulator's units.
#pragma once

#include "tools/flightmodel/flightmodel.h"

namespace script {

constexpr double kKgPerPound = 0.45359237;
constexpr double kPoundsPerGallon = 6.0;  // the fuel density the test FlightGear names
constexpr double kKgPerGallon = 2.72;     // what the test X-Plane's tank capacity is counted in
constexpr double kTankShare = 0.5;        // each main tank's share of X-Plane's fuel capacity

inline FlightModel FlightAt(double seconds) {
    FlightModel model;
    FlightModelReset(model);
    FlightModelAdvance(model, seconds);
    return model;
}

inline double Fahrenheit(double celsius) { return celsius * 9.0 / 5.0 + 32.0; }

}  // namespace script
