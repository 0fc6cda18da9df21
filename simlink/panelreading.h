// One frame's reading: the road's sample turned into needle angles, fuel used and read-out texts.
#pragma once

#include <cstdint>
#include <string>

struct FlightSample;
class IPanelRoad;

// The fuel-used timer: the tick count of the last step and the seconds it measured.
extern std::uint32_t fuelTimerStart;
extern double fuelTimerElapsed;

// What the user asked of this frame.
struct PanelCommands {
    bool positionBanner = false;
    bool sizeBanner = false;
    bool resetFuelUsed1 = false;
    bool resetFuelUsed2 = false;
};

// Everything one frame draws, and nothing else.
struct PanelPicture {
    float fuelFlowAngle1 = 0, fuelFlowAngle2 = 0;
    float oilPressAngle1 = 0, oilPressAngle2 = 0;
    float oilTempAngle1 = 0, oilTempAngle2 = 0;
    bool positionBanner = false;
    bool sizeBanner = false;
    bool showReadOut1 = false, showReadOut2 = false;  // an engine's read-out shows while it burns
    std::string readOut1, readOut2;
};

// Reads one sample from the road and composes its picture at the current tick count.
PanelPicture ReadPanelFrame(IPanelRoad& road, const PanelCommands& commands);

// Sets panelValues from the sample (needles, fuel used at tick count now, resets) and gives the
// picture. Where burnsOnlyWhileCombustion, an engine burns fuel only while its combustion flag is 1.
PanelPicture ComposePanelPicture(const FlightSample& sample, const PanelCommands& commands, std::uint32_t now,
                                 bool burnsOnlyWhileCombustion);

// Fuel-used accumulation at tick count `now` for flows k1, k2 in kg/h.
void StepFuelUsed(std::uint32_t now, double k1, double k2, const FlightSample& sample, bool network);
// The read-out text of a total: its whole part, padded on the left to four digits.
std::string FuelUsedText(double totalKg);
