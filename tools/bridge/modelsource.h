// The built-in twin-engine flight model as a value source.
#pragma once

#include <cstdint>
#include <string>

#include "tools/bridge/offsetsource.h"
#include "tools/flightmodel/flightmodel.h"

class ModelSource : public OffsetSource {
public:
    ModelSource(double startAtSeconds, double timeScale);
    void Poll(std::uint32_t now) override;
    void WriteOffsets(std::uint8_t* space) const override;
    std::string Describe() const override;

private:
    FlightModel model_;
    double timeScale_;
    std::uint32_t last_;
};
