// The FSUIPC road: the simulator on this machine through the link, retried while it is not there.
#pragma once

#include <cstdint>

#include "simlink/panelroad.h"

extern const char* const kTitleFsuipc;

// While the link is not open, a frame tries to open it again once this long after the last attempt.
constexpr std::uint32_t kSimLinkRetryMs = 2000;

class TFsuipcRoad : public IPanelRoad {
public:
    std::string Title() const override;
    // Never fails: a simulator that is not there yet is no error, and an open link stays open.
    bool Open() override;
    void ReadSample(FlightSample& sample) override;
    // The link lives as long as the process.
    void Close() override {}
    bool BurnsOnlyWhileCombustion() const override { return false; }

private:
    void OpenLink();
    std::uint32_t lastLinkAttempt_ = 0;
};
