// The flight model moved on with the clock and written at its offsets.
#include "tools/bridge/modelsource.h"

#include <cstdio>

#include "platform/clock.h"
#include "tools/flightmodel/offsetspace.h"

ModelSource::ModelSource(double startAtSeconds, double timeScale) : timeScale_(timeScale), last_(plat::TickCount()) {
    FlightModelReset(model_);
    FlightModelAdvance(model_, startAtSeconds);
}

void ModelSource::Poll(std::uint32_t now) {
    const std::uint32_t elapsed = now - last_;
    if (elapsed == 0) return;
    last_ = now;
    if (timeScale_ > 0.0) FlightModelAdvance(model_, elapsed / 1000.0 * timeScale_);
}

void ModelSource::WriteOffsets(std::uint8_t* space) const { WriteModelOffsets(model_, space); }

std::string ModelSource::Describe() const {
    const EngineModel& e1 = model_.engine[0];
    const EngineModel& e2 = model_.engine[1];
    char line[320];
    std::snprintf(line, sizeof line,
                  "t=%6.0fs %-12s | eng1 %4.0f rpm %5.1f kg/h oil %5.1f psi %5.1f C | eng2 %4.0f rpm %5.1f kg/h "
                  "oil %5.1f psi %5.1f C | fuel %.1f/%.1f kg",
                  model_.scriptSeconds, FlightModelPhase(model_), e1.rpm, e1.fuelFlowKgh, e1.oilPressPsi, e1.oilTempC,
                  e2.rpm, e2.fuelFlowKgh, e2.oilPressPsi, e2.oilTempC, model_.fuelKg[0], model_.fuelKg[1]);
    return line;
}

std::unique_ptr<OffsetSource> OpenModelSource(double startAtSeconds, double timeScale) {
    return std::make_unique<ModelSource>(startAtSeconds, timeScale);
}
