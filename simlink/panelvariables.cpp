// The panel's simulator variables: tables, the FSUIPC read steps, the conversions into panelValues.
#include "simlink/panelvariables.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "platform/clock.h"
#include "simlink/FPCuser.h"
#include "simlink/conversions.h"

// A new gauge variable is one row here, one field of FlightSample and its conversion.
const PanelVariable kFrameVariables[10] = {
    {0x0918, 8, "8", "2", offsetof(FlightSample, fuelFlowPph1), FieldType::Float64},
    {0x09B0, 8, "8", "2", offsetof(FlightSample, fuelFlowPph2), FieldType::Float64},
    {0x08B8, 2, "2", "4", offsetof(FlightSample, oilTempRaw1), FieldType::Int16},
    {0x0950, 2, "2", "4", offsetof(FlightSample, oilTempRaw2), FieldType::Int16},
    {0x08BA, 2, "2", "6", offsetof(FlightSample, oilPressRaw1), FieldType::UInt16},
    {0x0952, 2, "2", "6", offsetof(FlightSample, oilPressRaw2), FieldType::UInt16},
    {0x0894, 2, "2", "6", offsetof(FlightSample, combustion1), FieldType::UInt16},
    {0x092C, 2, "2", "6", offsetof(FlightSample, combustion2), FieldType::UInt16},
    {0x0264, 2, "2", "4", offsetof(FlightSample, paused), FieldType::Int16},
    {0x3365, 1, "1", "3", offsetof(FlightSample, inMenu), FieldType::UInt8},
};

const PanelVariable kStartupVariables[4] = {
    {0x0B80, 4, "4", "1", offsetof(StartupSample, capacityLeft), FieldType::Int32},
    {0x0B98, 4, "4", "1", offsetof(StartupSample, capacityRight), FieldType::Int32},
    {0x0B7C, 4, "4", "1", offsetof(StartupSample, levelLeft), FieldType::Int32},
    {0x0B94, 4, "4", "1", offsetof(StartupSample, levelRight), FieldType::Int32},
};

PanelValues panelValues{};
std::int64_t mainTankLeftContents = 0;
std::int64_t mainTankRightContents = 0;

namespace {

// Queues every variable of a table into its record and exchanges them all at once.
void ExchangeTable(const PanelVariable* table, std::size_t count, void* record) {
    SimLinkResult result = LinkOk;
    for (std::size_t i = 0; i < count; ++i)
        SimLinkQueueRead(table[i].offset, table[i].bytes, FieldOf(record, table[i]), result);
    SimLinkProcess(result);
}

void RequestTable(const PanelVariable* table, std::size_t count, void* record, const RemoteVariableReader& read) {
    for (std::size_t i = 0; i < count; ++i) StoreNetworkNumber(record, table[i], read(table[i]));
}

void KeepTankContents(const StartupSample& tanks) {
    mainTankLeftContents = TankContents(tanks.capacityLeft, tanks.levelLeft);
    mainTankRightContents = TankContents(tanks.capacityRight, tanks.levelRight);
}

}  // namespace

void* FieldOf(void* record, const PanelVariable& variable) { return static_cast<char*>(record) + variable.field; }

std::int64_t TankContents(std::int32_t capacity, std::int32_t level) {
    // level x 100 wraps as 32-bit arithmetic would, without undefined overflow.
    const auto percentTimes8M =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(level) * 100u);
    return RoundHalfEven(capacity * (percentTimes8M / 8388608.0 * 0.01));
}

void ReadStartupTanksFsuipc() {
    StartupSample tanks{};
    ExchangeTable(kStartupVariables, std::size(kStartupVariables), &tanks);
    KeepTankContents(tanks);
}

void ReadFlightSampleFsuipc(FlightSample& sample) {
    std::memset(&sample, 0, sizeof sample);
    ExchangeTable(kFrameVariables, std::size(kFrameVariables), &sample);
    plat::SleepMs(1);
}

void ReadStartupTanksNetwork(const RemoteVariableReader& read) {
    StartupSample tanks{};
    RequestTable(kStartupVariables, std::size(kStartupVariables), &tanks, read);
    KeepTankContents(tanks);
}

void ReadFlightSampleNetwork(FlightSample& sample, const RemoteVariableReader& read) {
    std::memset(&sample, 0, sizeof sample);
    RequestTable(kFrameVariables, std::size(kFrameVariables), &sample, read);
}

FuelFlowKg ApplySampleToPanel(const FlightSample& sample) {
    const FuelFlowKg k{FuelFlowKgPerHour(sample.fuelFlowPph1), FuelFlowKgPerHour(sample.fuelFlowPph2)};
    panelValues.fuelFlowAngle1 = FuelFlowAngle(k.engine1);
    panelValues.fuelFlowAngle2 = FuelFlowAngle(k.engine2);
    panelValues.oilPressAngle1 = OilPressureAngle(OilPressureValue(sample.oilPressRaw1));
    panelValues.oilPressAngle2 = OilPressureAngle(OilPressureValue(sample.oilPressRaw2));
    panelValues.oilTempAngle1 = OilTemperatureAngle(OilTemperatureValue(sample.oilTempRaw1));
    panelValues.oilTempAngle2 = OilTemperatureAngle(OilTemperatureValue(sample.oilTempRaw2));
    return k;
}

std::int64_t RoundHalfEven(double value) {
    // 2^63 itself is beyond the signed range; -2^63 is the last value inside it.
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0) return 0;
    const double whole = std::floor(value);
    const double fraction = value - whole;
    double rounded = whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) rounded = whole + 1.0;
    if (rounded >= 9223372036854775808.0) return 0;
    return static_cast<std::int64_t>(rounded);
}

void StoreNetworkNumber(void* record, const PanelVariable& variable, double value) {
    void* field = FieldOf(record, variable);
    if (variable.type == FieldType::Float64) {
        std::memcpy(field, &value, sizeof value);
        return;
    }
    const auto bits = static_cast<std::uint64_t>(RoundHalfEven(value));
    switch (variable.type) {
        case FieldType::Int32: {
            const auto low32 = static_cast<std::uint32_t>(bits);
            std::memcpy(field, &low32, sizeof low32);
            break;
        }
        case FieldType::Int16:
        case FieldType::UInt16: {
            const auto low16 = static_cast<std::uint16_t>(bits);
            std::memcpy(field, &low16, sizeof low16);
            break;
        }
        case FieldType::UInt8: {
            const auto low8 = static_cast<std::uint8_t>(bits);
            std::memcpy(field, &low8, sizeof low8);
            break;
        }
        case FieldType::Float64:
            break;
    }
}

void StoreNetworkNumber(FlightSample& sample, int row, double value) {
    if (row < 0 || row >= static_cast<int>(std::size(kFrameVariables))) return;
    StoreNetworkNumber(&sample, kFrameVariables[row], value);
}
