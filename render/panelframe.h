// One complete panel picture per call, for the FSUIPC road and for the network road.
#pragma once

#include <cstdint>
#include <string>

struct FlightSample;

// The FSUIPC road's frame first tries to open the simulator link again when it is not open and
// the last attempt is at least kSimLinkRetryMs old, so a simulator started after the panel is found.
bool DrawPanelFsuipc();
bool DrawPanelNetwork();

constexpr std::uint32_t kSimLinkRetryMs = 2000;
// Opens the simulator link and, once it opens, reads the tanks. Silent: a simulator that is not
// there yet is no error, and a link that is already open stays as it is.
void OpenSimulatorLink();

// Everything of a frame after its read step. On the network road an engine burns fuel only
// while its combustion flag is 1.
void DrawPanelFromSample(const FlightSample& sample, bool network);
// Fuel-used accumulation at tick count `now` for flows k1, k2 in kg/h.
void StepFuelUsed(std::uint32_t now, double k1, double k2, const FlightSample& sample, bool network);
// The read-out text of a total: its whole part, padded on the left to four digits.
std::string FuelUsedText(double totalKg);
