// The panel's pictures: dial faces, needle, caps, read-out panel, banners, character sheet, icon.
#pragma once

#include <string>

namespace artwork {

// Writes the eleven .txr images, lcd.bmp, plane2.ico and a sample KOVEXFuel.INI into dir.
// False with the first file that could not be written named in failed.
bool GenerateArtwork(const std::string& dir, std::string& failed);

bool WriteSettingsSample(const std::string& path);

}  // namespace artwork
