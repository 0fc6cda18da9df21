// The pushed values come from the conversions the panel itself draws with.
#include "tools/web/panelmessage.h"

#include <cmath>
#include <cstdio>

#include "simlink/conversions.h"
#include "simlink/panelvariables.h"

namespace {

void Number(std::string& out, const char* name, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "\"%s\":%.9g,", name, std::isfinite(value) ? value : 0.0);
    out += text;
}

void Engine(std::string& out, const PanelEngine& engine) {
    const double flow = engine.fuelFlow, pressure = engine.oilPressure, temperature = engine.oilTemperature;
    out += engine.running ? "{\"running\":true," : "{\"running\":false,";
    Number(out, "fuelFlow", flow);
    Number(out, "oilPressure", pressure);
    Number(out, "oilTemperature", temperature);
    Number(out, "fuelFlowAngle", FuelFlowAngle(flow));
    Number(out, "oilPressureAngle", OilPressureAngle(pressure));
    Number(out, "oilTemperatureAngle", OilTemperatureAngle(temperature));
    out.back() = '}';
}

}  // namespace

std::string PanelMessage(const FlightSample& sample, double sampledAtMs) {
    const PanelEngine engines[2] = {
        {sample.combustion1 == 1, FuelFlowKgPerHour(sample.fuelFlowPph1), OilPressureValue(sample.oilPressRaw1),
         OilTemperatureValue(sample.oilTempRaw1)},
        {sample.combustion2 == 1, FuelFlowKgPerHour(sample.fuelFlowPph2), OilPressureValue(sample.oilPressRaw2),
         OilTemperatureValue(sample.oilTempRaw2)},
    };
    return PanelMessageOf(sampledAtMs, sample.paused != 0, sample.inMenu != 0, engines);
}

std::string PanelMessageOf(double sampledAtMs, bool paused, bool menu, const PanelEngine engines[2]) {
    std::string out = "{";
    Number(out, "t", sampledAtMs);
    out += paused ? "\"paused\":true," : "\"paused\":false,";
    out += menu ? "\"menu\":true," : "\"menu\":false,";
    out += "\"engines\":[";
    Engine(out, engines[0]);
    out += ',';
    Engine(out, engines[1]);
    out += "]}";
    return out;
}
