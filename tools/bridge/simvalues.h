// A simulator's values in the units the offsets count in, their conversions from the units X-Plane
// and FlightGear give, and their encoding into the offset space.
#pragma once

#include <cstdint>
#include <string>

// Anything not known stays 0; non-finite and out-of-range values are tamed when written.
struct SimValues {
    double fuelFlowPph[2] = {};
    double oilPressurePsi[2] = {};
    double oilTemperatureC[2] = {};
    double running[2] = {};  // 1 while the engine burns fuel
    double paused = 0.0;
    double tankCapacityGal[2] = {};  // left and right main tank, US gallons
    double tankLevel[2] = {};        // fraction of the capacity
};

double PoundsPerHourFromKgPerSecond(double kgPerSecond);
double CelsiusFromFahrenheit(double fahrenheit);
// US gallons of fuel of this many kilograms, for a simulator that counts its tanks by mass.
double GallonsFromKg(double kg);

// Writes every value at its offset in space (kOffsetSpaceSize bytes): flows as doubles, flags 1 or 0,
// the menu flag 0, capacities in whole gallons and levels with 8388608 for a full tank, as a
// simulator's FSUIPC interface does; the oil words as the built-in flight writes them, so the panel's
// conversions read them as the same psi and degrees Celsius on the dials, each held within 0..102 psi
// and -35..145 C (just past the printed scales). A value that is not finite reads 0.
void WriteSimValues(const SimValues& values, std::uint8_t* space);

// The values in one line: "eng1 120.5 pph 60.0 psi 80.0 C on | eng2 ... | paused 0".
std::string DescribeSimValues(const SimValues& values);
