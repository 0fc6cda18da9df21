// The panel frame: read, convert, draw the dials and banners, count fuel used, draw the read-outs.
#include "render/panelframe.h"

#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "platform/gl.h"
#include "render/gauges.h"
#include "render/textures.h"
#include "shell/shellstate.h"
#include "simlink/FPCuser.h"
#include "simlink/conversions.h"
#include "simlink/panelvariables.h"

namespace {

// When the last attempt to open the simulator link ended.
std::uint32_t lastLinkAttempt = 0;

void DrawBanner(TextureSlot slot) {
    glLoadIdentity();
    glColor3f(0.0f, 1.0f, 0.0f);
    glTranslatef(0.0f, 0.0f, -4.5f);
    DrawPlate(panelTextures[slot]);
    glColor3f(1.0f, 1.0f, 1.0f);
}

// A flow that is not a number, infinite or negative burns nothing.
double Burnt(double kgPerHour, double seconds) {
    if (!std::isfinite(kgPerHour) || kgPerHour <= 0.0) return 0.0;
    return FuelPerSecond(kgPerHour) * seconds;
}

void DrawReadOut(std::uint16_t combustion, const std::string& text, float x) {
    if (combustion != 1) return;
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawLcdText(text, x, -1.73f);
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

void DrawPanelFromSample(const FlightSample& sample, bool network) {
    const FuelFlowKg flow = ApplySampleToPanel(sample);
    DrawFuelFlowGauges(panelValues.fuelFlowAngle1, panelValues.fuelFlowAngle2);
    DrawOilGauges(panelValues.oilTempAngle1, panelValues.oilPressAngle1, panelValues.oilTempAngle2,
                  panelValues.oilPressAngle2);

    if (positionMode) DrawBanner(texSetPos);
    if (sizeMode) DrawBanner(texSetSize);

    StepFuelUsed(plat::TickCount(), flow.engine1, flow.engine2, sample, network);
    if (resetFuelUsed1) {
        panelValues.fuelUsed1 = 0.0;
        resetFuelUsed1 = false;
    }
    if (resetFuelUsed2) {
        panelValues.fuelUsed2 = 0.0;
        resetFuelUsed2 = false;
    }

    panelValues.fuelUsedShown1 = std::trunc(panelValues.fuelUsed1);
    panelValues.fuelUsedShown2 = std::trunc(panelValues.fuelUsed2);
    DrawReadOut(sample.combustion1, FuelUsedText(panelValues.fuelUsed1), -2.8f);
    DrawReadOut(sample.combustion2, FuelUsedText(panelValues.fuelUsed2), 1.2f);
}

void OpenSimulatorLink() {
    SimLinkResult result = LinkOk;
    if (SimLinkOpen(0, result)) ReadStartupTanksFsuipc();
    // Counted from the end: an attempt that met a slow simulator does not start the next at once.
    lastLinkAttempt = plat::TickCount();
}

bool DrawPanelFsuipc() {
    if (!simLinkState.areaStart && plat::TickCount() - lastLinkAttempt >= kSimLinkRetryMs) OpenSimulatorLink();
    FlightSample sample{};
    ReadFlightSampleFsuipc(sample);
    DrawPanelFromSample(sample, false);
    return true;
}

bool DrawPanelNetwork() {
    FlightSample sample{};
    ReadFlightSampleNetwork(sample);
    DrawPanelFromSample(sample, true);
    return true;
}
