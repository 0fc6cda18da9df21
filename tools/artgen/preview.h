// Software composition of the panel as the GL program draws it, for looking at the artwork.
#pragma once

#include <string>

namespace artwork {

struct PreviewValues {
    double fuelFlow1 = 350, fuelFlow2 = 0;          // kg/h
    double oilPressure1 = 60, oilPressure2 = 40;    // psi
    double oilTemperature1 = 80, oilTemperature2 = 100;  // deg C
    std::string readout1 = "0123", readout2 = "1045";
    bool positionBanner = false, sizeBanner = false;
};

// Draws the panel from the image files in assetDir into a PNG of width x height pixels.
// False with a reason when an image is missing or the PNG can't be written.
bool RenderPreview(const std::string& assetDir, const std::string& pngPath, int width, int height,
                   const PreviewValues& values, std::string& error);

}  // namespace artwork
