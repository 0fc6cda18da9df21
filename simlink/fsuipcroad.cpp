// The FSUIPC road: opening the link silently with its start-up read, and the frame's one exchange.
#include "simlink/fsuipcroad.h"

#include "platform/clock.h"
#include "simlink/FPCuser.h"
#include "simlink/panelvariables.h"

const char* const kTitleFsuipc = "Kelvo Oil - Fuel Flow v1.2 - Freeware [FSUIPC]";

std::string TFsuipcRoad::Title() const { return kTitleFsuipc; }

void TFsuipcRoad::OpenLink() {
    SimLinkResult result = LinkOk;
    if (SimLinkOpen(0, result)) ReadStartupTanksFsuipc();
    // Counted from the end: an attempt that met a slow simulator does not start the next at once.
    lastLinkAttempt_ = plat::TickCount();
}

bool TFsuipcRoad::Open() {
    OpenLink();
    return true;
}

void TFsuipcRoad::ReadSample(FlightSample& sample) {
    if (!simLinkState.areaStart && plat::TickCount() - lastLinkAttempt_ >= kSimLinkRetryMs) OpenLink();
    ReadFlightSampleFsuipc(sample);
}
