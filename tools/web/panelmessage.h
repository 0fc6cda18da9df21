// The message the web view pushes: one sample's values in dial units and as needle angles.
#pragma once

#include <string>

struct FlightSample;

// A JSON object: "t" the sample's time on the web clock (ms), "paused", "menu", and "engines", two
// objects with "running", the dial values ("fuelFlow" kg/h, "oilPressure" psi, "oilTemperature" C)
// and their needle angles ("fuelFlowAngle", "oilPressureAngle", "oilTemperatureAngle", degrees
// clockwise). Numbers that are not finite are sent as 0.
std::string PanelMessage(const FlightSample& sample, double sampledAtMs);
