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

void Engine(std::string& out, bool running, double poundsPerHour, std::uint16_t pressRaw, std::int16_t tempRaw) {
    const double flow = FuelFlowKgPerHour(poundsPerHour);
    const double pressure = OilPressureValue(pressRaw);
    const double temperature = OilTemperatureValue(tempRaw);
    out += running ? "{\"running\":true," : "{\"running\":false,";
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
    std::string out = "{";
    Number(out, "t", sampledAtMs);
    out += sample.paused != 0 ? "\"paused\":true," : "\"paused\":false,";
    out += sample.inMenu != 0 ? "\"menu\":true," : "\"menu\":false,";
    out += "\"engines\":[";
    Engine(out, sample.combustion1 == 1, sample.fuelFlowPph1, sample.oilPressRaw1, sample.oilTempRaw1);
    out += ',';
    Engine(out, sample.combustion2 == 1, sample.fuelFlowPph2, sample.oilPressRaw2, sample.oilTempRaw2);
    out += "]}";
    return out;
}
