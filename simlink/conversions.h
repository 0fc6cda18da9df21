// Raw simulator values to gauge units and needle angles (degrees, clockwise from the needle image's up).
#pragma once

#include <cstdint>

double FuelFlowKgPerHour(double poundsPerHour);
float FuelFlowAngle(double kgPerHour);
double OilPressureValue(std::uint16_t raw);
float OilPressureAngle(double pressure);
double OilTemperatureValue(std::int16_t raw);
float OilTemperatureAngle(double temperature);
// Fuel burnt in one second at the given flow, in kilograms.
double FuelPerSecond(double kgPerHour);
