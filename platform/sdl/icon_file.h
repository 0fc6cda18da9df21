// Windows icon (.ico) reader: the largest picture of an icon file as RGBA, for the window icon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4 bytes, top row first
};

// Largest side accepted for one icon picture.
constexpr int kMaxIconSide = 1024;

// Decodes the largest entry of the icon directory: a device-independent bitmap (1, 4, 8, 24 or
// 32 bits, with its AND mask) or an embedded PNG. False, with out untouched, for anything
// truncated or inconsistent.
bool DecodeIcon(const std::uint8_t* bytes, std::size_t size, IconImage& out);

// Reads and decodes a whole regular file; false when it is missing, is not a regular file (a pipe,
// a device), can't be read or isn't a usable icon.
bool ReadIconFile(const std::string& path, IconImage& out);
