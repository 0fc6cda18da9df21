// Drawing of the dials, needles and LCD read-outs as textured quads.
#pragma once

#include <cstdint>
#include <string>

void DrawFuelFlowGauges(float angle1, float angle2);
void DrawOilGauges(float tempAngle1, float pressAngle1, float tempAngle2, float pressAngle2);
void DrawOilTemperatureNeedles(float tempAngle1, float tempAngle2);
// Text from the LCD character sheet, first character's lower left corner at (x, y), depth 7.
void DrawLcdText(const std::string& text, float x, float y);
// A dial face, read-out panel or banner: half-size 1 under the current blending.
void DrawPlate(std::uint32_t texture);
