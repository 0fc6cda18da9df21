// Unit conversions and the encoding of a simulator's values at their FSUIPC offsets.
#include "tools/bridge/simvalues.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/artgen/dial_geometry.h"
#include "tools/flightmodel/offsetspace.h"

namespace {

constexpr double kKgPerPound = 0.45359237;
// Avgas, the fuel of the twins this panel belongs to; only the tanks' start-up values use it.
constexpr double kKgPerUsGallon = 2.72;
// Far beyond any engine's flow, so a wild value cannot spin the needle round its dial.
constexpr double kMostPph = 100000.0;
constexpr double kMostGallons = 1e6;
// Oil values beyond a dial's printed scale rest just past its last mark, as a real gauge's needle
// stops at its pin: further on, the temperature needle would sweep into the pressure scale (or
// jump at -40, where its line changes) and the pressure needle would reach the temperature scale.
constexpr double kMostOilPsi = artwork::kOilPressureMax + 2.0;
constexpr double kLeastOilC = artwork::kOilTempMin - 5.0;
constexpr double kMostOilC = artwork::kOilTempMax + 5.0;

struct EngineOffsets {
    std::uint32_t fuelFlow, oilTemp, oilPress, combustion;
};
constexpr EngineOffsets kEngine[2] = {{0x0918, 0x08B8, 0x08BA, 0x0894}, {0x09B0, 0x0950, 0x0952, 0x092C}};
constexpr std::uint32_t kCapacity[2] = {0x0B80, 0x0B98};
constexpr std::uint32_t kLevel[2] = {0x0B7C, 0x0B94};
constexpr std::uint32_t kPaused = 0x0264;
constexpr std::uint32_t kMenu = 0x3365;

// Rounds into [low, high]; NaN gives 0, infinities the nearer limit.
double Saturate(double value, double low, double high) {
    if (std::isnan(value)) return 0.0;
    const double rounded = std::round(value);
    return rounded < low ? low : rounded > high ? high : rounded;
}

// Holds into [low, high]; a value that is not finite gives 0.
double Hold(double value, double low, double high) {
    if (!std::isfinite(value)) return 0.0;
    return value < low ? low : value > high ? high : value;
}

double Flag(double value) { return std::isfinite(value) && value >= 0.5 ? 1.0 : 0.0; }

template <typename T>
void Put(std::uint8_t* space, std::uint32_t offset, T value) {
    std::memcpy(space + offset, &value, sizeof value);  // the offset space is little-endian, as is the host
}

}  // namespace

double PoundsPerHourFromKgPerSecond(double kgPerSecond) { return kgPerSecond * 3600.0 / kKgPerPound; }

double CelsiusFromFahrenheit(double fahrenheit) { return (fahrenheit - 32.0) * 5.0 / 9.0; }

double GallonsFromKg(double kg) { return kg / kKgPerUsGallon; }

void WriteSimValues(const SimValues& v, std::uint8_t* space) {
    for (int i = 0; i < 2; ++i) {
        const EngineOffsets& at = kEngine[i];
        const double flow = v.fuelFlowPph[i];
        Put<double>(space, at.fuelFlow, std::isfinite(flow) && flow > 0.0 ? std::fmin(flow, kMostPph) : 0.0);
        // Encoded as the built-in flight does, so the dials read the simulator's own psi and degrees.
        Put<std::int16_t>(space, at.oilTemp, OilTemperatureRaw(Hold(v.oilTemperatureC[i], kLeastOilC, kMostOilC)));
        Put<std::uint16_t>(space, at.oilPress, OilPressureRaw(Hold(v.oilPressurePsi[i], 0.0, kMostOilPsi)));
        Put<std::uint16_t>(space, at.combustion, static_cast<std::uint16_t>(Flag(v.running[i])));
        Put<std::int32_t>(space, kCapacity[i], static_cast<std::int32_t>(Saturate(v.tankCapacityGal[i], 0.0, kMostGallons)));
        Put<std::int32_t>(space, kLevel[i], static_cast<std::int32_t>(Saturate(v.tankLevel[i] * 8388608.0, 0.0, 8388608.0)));
    }
    Put<std::uint16_t>(space, kPaused, static_cast<std::uint16_t>(Flag(v.paused)));
    Put<std::uint8_t>(space, kMenu, 0);  // neither simulator says when a menu holds it
}

std::string DescribeSimValues(const SimValues& v) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "eng1 %.1f pph %.1f psi %.1f C %s | eng2 %.1f pph %.1f psi %.1f C %s | paused %d",
                  v.fuelFlowPph[0], v.oilPressurePsi[0], v.oilTemperatureC[0], Flag(v.running[0]) ? "on" : "off",
                  v.fuelFlowPph[1], v.oilPressurePsi[1], v.oilTemperatureC[1], Flag(v.running[1]) ? "on" : "off",
                  static_cast<int>(Flag(v.paused)));
    return line;
}
