// Writes small 24-bit BMP files for tests: marker images whose pixels say where they were drawn.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
    std::uint8_t r, g, b;
};

// pixel(x, y) with y counted from the bottom row, as the file stores it.
inline void WriteBmp(const std::string& path, int width, int height, const std::function<Rgb(int, int)>& pixel) {
    const int rowBytes = (width * 3 + 3) & ~3;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(rowBytes * height);
    std::vector<std::uint8_t> file(54 + dataSize, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    file[26] = 1;
    file[28] = 24;
    put32(34, dataSize);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            const std::size_t at = 54 + static_cast<std::size_t>(y * rowBytes + x * 3);
            file[at] = c.b;
            file[at + 1] = c.g;
            file[at + 2] = c.r;
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

inline void WriteSolidBmp(const std::string& path, Rgb colour, int size = 8) {
    WriteBmp(path, size, size, [colour](int, int) { return colour; });
}
