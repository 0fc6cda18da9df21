// Encoding of the model's values at their FSUIPC offsets.
#include "tools/flightmodel/offsetspace.h"

#include <cmath>
#include <cstring>

namespace {

void Put(std::uint8_t* space, std::uint32_t offset, const void* value, std::size_t size) {
    std::memcpy(space + offset, value, size);  // the offset space is little-endian, as is the host
}

template <typename T>
void PutValue(std::uint8_t* space, std::uint32_t offset, T value) {
    Put(space, offset, &value, sizeof value);
}

struct EngineOffsets {
    std::uint32_t fuelFlow, oilTemp, oilPress, combustion;
};
constexpr EngineOffsets kEngineOffsets[2] = {{0x0918, 0x08B8, 0x08BA, 0x0894}, {0x09B0, 0x0950, 0x0952, 0x092C}};
constexpr std::uint32_t kCapacity[2] = {0x0B80, 0x0B98};
constexpr std::uint32_t kLevel[2] = {0x0B7C, 0x0B94};
constexpr double kKgPerPound = 0.4536;
constexpr double kKgPerGallon = 2.72;

}  // namespace

std::uint16_t OilPressureRaw(double psi) {
    const double raw = std::round(psi * 16384.0 * 2.0959531 / 55.0);
    if (!(raw > 0.0)) return 0;
    return raw >= 65535.0 ? 65535 : static_cast<std::uint16_t>(raw);
}

std::int16_t OilTemperatureRaw(double celsius) {
    const double raw = std::round(celsius * 16384.0 / (2.485284 * 140.0));
    if (std::isnan(raw)) return 0;
    if (raw >= 32767.0) return 32767;
    if (raw <= -32768.0) return -32768;
    return static_cast<std::int16_t>(raw);
}

void WriteModelOffsets(const FlightModel& model, std::uint8_t* space) {
    for (int i = 0; i < 2; ++i) {
        const EngineModel& e = model.engine[i];
        const EngineOffsets& at = kEngineOffsets[i];
        PutValue<double>(space, at.fuelFlow, e.fuelFlowKgh / kKgPerPound);
        PutValue<std::int16_t>(space, at.oilTemp, OilTemperatureRaw(e.oilTempC));
        PutValue<std::uint16_t>(space, at.oilPress, OilPressureRaw(e.oilPressPsi));
        PutValue<std::uint16_t>(space, at.combustion, e.running ? 1 : 0);
        PutValue<std::int32_t>(space, kCapacity[i], model.capacityGal[i]);
        const double full = model.capacityGal[i] * kKgPerGallon;
        const double level = full > 0.0 ? model.fuelKg[i] / full * 8388608.0 : 0.0;
        PutValue<std::int32_t>(space, kLevel[i], static_cast<std::int32_t>(std::lround(level)));
    }
    PutValue<std::uint16_t>(space, 0x0264, model.paused ? 1 : 0);
    PutValue<std::uint8_t>(space, 0x3365, model.inMenu ? 1 : 0);
}
