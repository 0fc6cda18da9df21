// The message the web view pushes: one sample's values in dial units and as needle angles.
#pragma once

#include <string>

struct FlightSample;

// A JSON object: "t" the sample's time on the web clock (ms), "paused", "menu", and "engines", two
// objects with "running", the dial values ("fuelFlow" kg/h, "oilPressure" psi, "oilTemperature" C)
// and their needle angles ("fuelFlowAngle", "oilPressureAngle", "oilTemperatureAngle", degrees
// clockwise). Numbers that are not finite are sent as 0.
std::string PanelMessage(const FlightSample& sample, double sampledAtMs);

// One engine in dial units, as a broker's subscriber has them.
struct PanelEngine {
    bool running;
    double fuelFlow;        // kg/h
    double oilPressure;     // psi
    double oilTemperature;  // degrees C
};
// The same message from dial values, the angles through the panel's own conversions.
std::string PanelMessageOf(double sampledAtMs, bool paused, bool menu, const PanelEngine engines[2]);
