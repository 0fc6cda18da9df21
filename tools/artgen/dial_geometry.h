// Where the panel artwork puts its dials, scales and needle, shared by the generator and its tests.
#pragma once

namespace artwork {

// Every dial, needle, top and read-out image is this many pixels square.
constexpr int kTexturePixels = 512;

// A plate spans -1..1 units; a masked layer spans -0.95..0.95, both centred on their pivot/centre.
constexpr double kPlateHalfSize = 1.0;
constexpr double kLayerHalfSize = 0.95;

// The needle pivot, in units above the plate's centre.
constexpr double kFuelPivotAbove = 0.0;
constexpr double kOilPivotAbove = 0.06;

// Radii from the pivot, in units. Tick marks reach from their inner radius out to kTickOuter;
// the needle tip ends just inside the ticks so it points at them without hiding them.
constexpr double kBezelOuter = 0.86;
constexpr double kFaceRadius = 0.80;
constexpr double kTickOuter = 0.76;
constexpr double kMajorTickInner = 0.63;
constexpr double kMediumTickInner = 0.67;
constexpr double kMinorTickInner = 0.70;
constexpr double kNumeralRadius = 0.50;
constexpr double kNeedleTip = 0.72;
constexpr double kCapRadius = 0.085;

// Scale ranges, in the units the needles are converted from.
constexpr double kFuelFlowMax = 600.0;      // kg/h
constexpr double kOilPressureMax = 100.0;   // psi
constexpr double kOilTempMin = -30.0;       // deg C; the needle only reads consistently above -40
constexpr double kOilTempMax = 140.0;

// The character sheet: 16 x 16 cells of this many pixels.
constexpr int kLcdCellPixels = 32;

}  // namespace artwork
