// The model's values at their FSUIPC offsets, in the simulator's encodings, in a 64 KiB offset space.
#pragma once

#include <cstdint>

#include "tools/flightmodel/flightmodel.h"

constexpr std::uint32_t kOffsetSpaceSize = 0x10000;

// Raw encodings of the oil values, inverse to the panel's conversions, clamped to their fields.
std::uint16_t OilPressureRaw(double psi);
std::int16_t OilTemperatureRaw(double celsius);

// Writes every variable of the model into space (kOffsetSpaceSize bytes): fuel flows in pounds per
// hour as doubles, oil words, combustion flags, pause, menu, tank capacities and levels.
void WriteModelOffsets(const FlightModel& model, std::uint8_t* space);
