// PNG reader for tests: decodes reference renderings to plain 8-bit RGBA, top row first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbaPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// False when the file is missing or not a PNG libpng can read.
bool ReadPngRgba(const std::string& path, RgbaPicture& out);
