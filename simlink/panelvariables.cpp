// The panel's simulator variables: tables, the FSUIPC read steps, the conversions into panelValues.
#include "simlink/panelvariables.h"

#include <cmath>
#include <cstring>

#include "net/remotevariables.h"
#include "platform/clock.h"
#include "simlink/FPCuser.h"
#include "simlink/conversions.h"

const PanelVariable kFrameVariables[10] = {
    {0x0918, 8, "8", "2"}, {0x09B0, 8, "8", "2"}, {0x08B8, 2, "2", "4"}, {0x0950, 2, "2", "4"},
    {0x08BA, 2, "2", "6"}, {0x0952, 2, "2", "6"}, {0x0894, 2, "2", "6"}, {0x092C, 2, "2", "6"},
    {0x0264, 2, "2", "4"}, {0x3365, 1, "1", "3"},
};

const PanelVariable kStartupVariables[4] = {
    {0x0B80, 4, "4", "1"},
    {0x0B98, 4, "4", "1"},
    {0x0B7C, 4, "4", "1"},
    {0x0B94, 4, "4", "1"},
};

PanelValues panelValues{};
std::int64_t mainTankLeftContents = 0;
std::int64_t mainTankRightContents = 0;

namespace {

// The sample's fields in table order.
void* FieldOf(FlightSample& sample, int row) {
    switch (row) {
        case 0: return &sample.fuelFlowPph1;
        case 1: return &sample.fuelFlowPph2;
        case 2: return &sample.oilTempRaw1;
        case 3: return &sample.oilTempRaw2;
        case 4: return &sample.oilPressRaw1;
        case 5: return &sample.oilPressRaw2;
        case 6: return &sample.combustion1;
        case 7: return &sample.combustion2;
        case 8: return &sample.paused;
        case 9: return &sample.inMenu;
        default: return nullptr;
    }
}

}  // namespace

std::int64_t TankContents(std::int32_t capacity, std::int32_t level) {
    // level x 100 wraps as 32-bit arithmetic would, without undefined overflow.
    const auto percentTimes8M =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(level) * 100u);
    return RoundHalfEven(capacity * (percentTimes8M / 8388608.0 * 0.01));
}

void ReadStartupTanksFsuipc() {
    std::int32_t values[4] = {0, 0, 0, 0};
    SimLinkResult result = LinkOk;
    for (int i = 0; i < 4; ++i) SimLinkQueueRead(kStartupVariables[i].offset, 4, &values[i], result);
    SimLinkProcess(result);
    mainTankLeftContents = TankContents(values[0], values[2]);
    mainTankRightContents = TankContents(values[1], values[3]);
}

void ReadFlightSampleFsuipc(FlightSample& sample) {
    std::memset(&sample, 0, sizeof sample);
    SimLinkResult result = LinkOk;
    for (int row = 0; row < 10; ++row)
        SimLinkQueueRead(kFrameVariables[row].offset, kFrameVariables[row].bytes, FieldOf(sample, row), result);
    SimLinkProcess(result);
    plat::SleepMs(1);
}

void ReadStartupTanksNetwork() {
    std::int32_t values[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const PanelVariable& v = kStartupVariables[i];
        values[i] = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(RoundHalfEven(RequestRemoteVariable(v.offset, v.sizeText, v.kindText))));
    }
    mainTankLeftContents = TankContents(values[0], values[2]);
    mainTankRightContents = TankContents(values[1], values[3]);
}

void ReadFlightSampleNetwork(FlightSample& sample) {
    std::memset(&sample, 0, sizeof sample);
    for (int row = 0; row < 10; ++row) {
        const PanelVariable& v = kFrameVariables[row];
        StoreNetworkNumber(sample, row, RequestRemoteVariable(v.offset, v.sizeText, v.kindText));
    }
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

void StoreNetworkNumber(FlightSample& sample, int row, double value) {
    if (row == 0 || row == 1) {
        *static_cast<double*>(FieldOf(sample, row)) = value;
        return;
    }
    void* field = FieldOf(sample, row);
    if (!field) return;
    const auto bits = static_cast<std::uint64_t>(RoundHalfEven(value));
    if (row == 9) {
        sample.inMenu = static_cast<std::uint8_t>(bits);
        return;
    }
    const auto low16 = static_cast<std::uint16_t>(bits);
    std::memcpy(field, &low16, sizeof low16);  // same bits for the signed fields
}
