// One frame's reading: sample, conversions, fuel-used steps and the read-out texts.
#include "simlink/panelreading.h"

#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "simlink/conversions.h"
#include "simlink/panelroad.h"
#include "simlink/panelvariables.h"

std::uint32_t fuelTimerStart = 0;
double fuelTimerElapsed = 0.0;

namespace {

// A flow that is not a number, infinite or negative burns nothing.
double Burnt(double kgPerHour, double seconds) {
    if (!std::isfinite(kgPerHour) || kgPerHour <= 0.0) return 0.0;
    return FuelPerSecond(kgPerHour) * seconds;
}

}  // namespace

std::string FuelUsedText(double totalKg) {
    const double whole = std::trunc(totalKg);
    if (!std::isfinite(whole)) return "0000";
    char buffer[400];  // the largest double written out in full has 309 digits
    std::snprintf(buffer, sizeof buffer, "%.0f", whole);
    std::string text = buffer;
    if (whole < 10) return "000" + text;
    if (whole < 100) return "00" + text;
    if (whole < 1000) return "0" + text;
    return text;
}

void StepFuelUsed(std::uint32_t now, double k1, double k2, const FlightSample& sample, bool network) {
    fuelTimerElapsed = static_cast<std::uint32_t>(now - fuelTimerStart) / 1000.0;
    // Paused or in a menu: that time is never counted, so the timer starts again from here.
    if (sample.paused != 0 || sample.inMenu != 0) {
        fuelTimerStart = now;
        return;
    }
    if (fuelTimerElapsed <= 0.95) return;
    // The fuel of the time that really passed, not one second's worth per step.
    if (!network || sample.combustion1 == 1) panelValues.fuelUsed1 += Burnt(k1, fuelTimerElapsed);
    if (!network || sample.combustion2 == 1) panelValues.fuelUsed2 += Burnt(k2, fuelTimerElapsed);
    fuelTimerStart = now;
}

PanelPicture ComposePanelPicture(const FlightSample& sample, const PanelCommands& commands, std::uint32_t now,
                                 bool burnsOnlyWhileCombustion) {
    const FuelFlowKg flow = ApplySampleToPanel(sample);
    StepFuelUsed(now, flow.engine1, flow.engine2, sample, burnsOnlyWhileCombustion);
    if (commands.resetFuelUsed1) panelValues.fuelUsed1 = 0.0;
    if (commands.resetFuelUsed2) panelValues.fuelUsed2 = 0.0;
    panelValues.fuelUsedShown1 = std::trunc(panelValues.fuelUsed1);
    panelValues.fuelUsedShown2 = std::trunc(panelValues.fuelUsed2);

    PanelPicture picture;
    picture.fuelFlowAngle1 = panelValues.fuelFlowAngle1;
    picture.fuelFlowAngle2 = panelValues.fuelFlowAngle2;
    picture.oilPressAngle1 = panelValues.oilPressAngle1;
    picture.oilPressAngle2 = panelValues.oilPressAngle2;
    picture.oilTempAngle1 = panelValues.oilTempAngle1;
    picture.oilTempAngle2 = panelValues.oilTempAngle2;
    picture.positionBanner = commands.positionBanner;
    picture.sizeBanner = commands.sizeBanner;
    picture.showReadOut1 = sample.combustion1 == 1;
    picture.showReadOut2 = sample.combustion2 == 1;
    picture.readOut1 = FuelUsedText(panelValues.fuelUsed1);
    picture.readOut2 = FuelUsedText(panelValues.fuelUsed2);
    return picture;
}

PanelPicture ReadPanelFrame(IPanelRoad& road, const PanelCommands& commands) {
    FlightSample sample{};
    road.ReadSample(sample);
    return ComposePanelPicture(sample, commands, plat::TickCount(), road.BurnsOnlyWhileCombustion());
}
