// Windows bitmap (BMP) reader: turns a file into RGB rows ready for a GL texture upload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// height rows of width pixels, 3 bytes each (red, green, blue); the first row is the picture's
// bottom row and every row starts on a 4-byte boundary (GL's default unpack alignment).
struct ImageRecord {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> data;
};

// Largest picture accepted, in pixels (16 Mpixel: 48 MB of RGB), and largest side.
constexpr std::int64_t kMaxBitmapPixels = 16 * 1024 * 1024;
constexpr std::int32_t kMaxBitmapSide = 32768;

// Bytes from the start of one output row to the next.
std::size_t BitmapRowStride(std::int32_t width);

// Reads: file header + core (OS/2 1.x), info, V2, V3, OS/2 2.x, V4 and V5 headers; 1, 2, 4 and
// 8 bits with a palette; 16 and 32 bits (default layout or bit fields); 24 bits; RLE8 and RLE4;
// top-down files. Anything truncated, inconsistent or beyond the size caps gives none, and then
// whyNot (if given) says why in a few words ("truncated", "not a BMP file", ...); it is emptied on success.
std::optional<ImageRecord> DecodeBitmap(const std::uint8_t* bytes, std::size_t size, std::string* whyNot = nullptr);

// Reads a whole regular file and decodes it; none when the file is missing, is not a regular file,
// can't be read or isn't a usable bitmap, with the reason in whyNot as for DecodeBitmap.
std::optional<ImageRecord> LoadBitmapFile(const std::string& path, std::string* whyNot = nullptr);
