// One complete panel picture per call, for the FSUIPC road and for the network road.
#pragma once

#include <cstdint>
#include <string>

struct FlightSample;

bool DrawPanelFsuipc();
bool DrawPanelNetwork();

// Everything of a frame after its read step. On the network road an engine burns fuel only
// while its combustion flag is 1.
void DrawPanelFromSample(const FlightSample& sample, bool network);
// Fuel-used accumulation at tick count `now` for flows k1, k2 in kg/h.
void StepFuelUsed(std::uint32_t now, double k1, double k2, const FlightSample& sample, bool network);
// The read-out text of a total: its whole part, padded on the left to four digits.
std::string FuelUsedText(double totalKg);
