// Windows bitmap (BMP) reader: every variant the desktop's own loader reads, with hard bounds checks.
#include "render/bitmap.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/files.h"

namespace {

constexpr std::size_t kFileHeaderSize = 14;
// Files larger than this can't hold a picture under the pixel cap (32 bits per pixel plus headers).
constexpr std::uint64_t kMaxFileBytes = 80ull * 1024 * 1024;

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
};

// A channel mask must be one run of set bits (or empty, which reads as 0).
bool MakeChannel(std::uint32_t mask, Channel& out) {
    out = Channel{mask, 0, 0};
    if (mask == 0) return true;
    while (((mask >> out.shift) & 1u) == 0) ++out.shift;
    const std::uint64_t run = static_cast<std::uint64_t>(mask) >> out.shift;
    if ((run & (run + 1)) != 0) return false;
    while ((run >> out.bits) != 0) ++out.bits;
    return true;
}

std::uint8_t Expand(std::uint32_t pixel, const Channel& c) {
    if (c.bits == 0) return 0;
    const std::uint64_t value = (pixel & c.mask) >> c.shift;
    const std::uint64_t max = (1ull << c.bits) - 1;
    return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
}

// Records why a file is refused; the first reason found is the one given.
bool Refuse(std::string& why, std::string reason) {
    if (why.empty()) why = std::move(reason);
    return false;
}

constexpr const char* kTruncated = "truncated";

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool topDown = false;
    int bpp = 0;
    std::uint32_t compression = kRgb;
    std::size_t offset = 0;
    std::uint32_t imageSize = 0;
    std::vector<Rgb> palette;
    std::array<Channel, 3> channels;
};

void Put(ImageRecord& image, std::size_t stride, std::int64_t row, std::int64_t x, Rgb c) {
    std::uint8_t* p = image.data.data() + static_cast<std::size_t>(row) * stride + static_cast<std::size_t>(x) * 3;
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

// Parses both headers and the palette; false for anything the decoder must not trust.
bool ReadLayout(const std::uint8_t* bytes, std::size_t size, Layout& out, std::string& why) {
    if (size == 0) return Refuse(why, "empty file");
    if (size < 2 || bytes[0] != 'B' || bytes[1] != 'M') return Refuse(why, "not a BMP file");
    if (size < kFileHeaderSize + 4) return Refuse(why, kTruncated);
    out.offset = U32(bytes + 10);
    const std::uint32_t headerSize = U32(bytes + kFileHeaderSize);
    static constexpr std::uint32_t kKnownSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
    if (std::find(std::begin(kKnownSizes), std::end(kKnownSizes), headerSize) == std::end(kKnownSizes))
        return Refuse(why, "unknown BMP header of " + std::to_string(headerSize) + " bytes");
    if (kFileHeaderSize + headerSize > size) return Refuse(why, kTruncated);
    const std::uint8_t* h = bytes + kFileHeaderSize;
    const bool core = headerSize == 12;
    const bool os2v2 = headerSize == 16 || headerSize == 64;

    // Fields beyond a short header read as zero.
    std::array<std::uint8_t, 124> info{};
    std::copy(h, h + headerSize, info.begin());
    std::int64_t rawHeight = 0;
    int planes = 0;
    if (core) {
        out.width = U16(h + 4);
        rawHeight = U16(h + 6);
        planes = U16(h + 8);
        out.bpp = U16(h + 10);
    } else {
        out.width = static_cast<std::int32_t>(U32(info.data() + 4));
        rawHeight = static_cast<std::int32_t>(U32(info.data() + 8));
        planes = U16(info.data() + 12);
        out.bpp = U16(info.data() + 14);
        out.compression = U32(info.data() + 16);
        out.imageSize = U32(info.data() + 20);
    }
    if (planes != 1) return Refuse(why, "damaged header (" + std::to_string(planes) + " colour planes)");
    out.topDown = rawHeight < 0;
    out.height = out.topDown ? -rawHeight : rawHeight;
    if (out.width <= 0 || out.height <= 0)
        return Refuse(why, "empty picture (" + std::to_string(out.width) + " x " + std::to_string(rawHeight) + ")");
    if (out.width > kMaxBitmapSide || out.height > kMaxBitmapSide || out.width * out.height > kMaxBitmapPixels)
        return Refuse(why, "picture too large (" + std::to_string(out.width) + " x " + std::to_string(out.height) + ")");
    const std::string depth = "unsupported depth of " + std::to_string(out.bpp) + " bits per pixel";
    const std::string compression = "unsupported compression " + std::to_string(out.compression) + " at " +
                                    std::to_string(out.bpp) + " bits per pixel";

    const bool paletted = out.bpp == 1 || out.bpp == 2 || out.bpp == 4 || out.bpp == 8;
    switch (out.compression) {
    case kRgb:
        if (!paletted && out.bpp != 16 && out.bpp != 24 && out.bpp != 32) return Refuse(why, depth);
        break;
    case kRle8:
    case kRle4:
        // Run-length data is stored bottom-up only.
        if (out.bpp != (out.compression == kRle8 ? 8 : 4)) return Refuse(why, compression);
        if (out.topDown) return Refuse(why, "damaged header (run-length data stored top-down)");
        break;
    case kBitFields:
    case kAlphaBitFields:
        // OS/2 2.x reuses these codes for Huffman and RLE24, which are not read.
        if (os2v2 || (out.bpp != 16 && out.bpp != 32)) return Refuse(why, compression);
        break;
    default:
        return Refuse(why, compression);
    }

    std::size_t paletteStart = kFileHeaderSize + headerSize;
    std::array<std::uint32_t, 3> masks{};
    if (out.bpp == 16) masks = {0x7C00, 0x03E0, 0x001F};
    if (out.bpp == 32) masks = {0xFF0000, 0xFF00, 0xFF};
    if (out.compression == kBitFields || out.compression == kAlphaBitFields) {
        if (headerSize >= 52) {
            masks = {U32(info.data() + 40), U32(info.data() + 44), U32(info.data() + 48)};
        } else {
            const std::size_t maskBytes = out.compression == kBitFields ? 12 : 16;
            if (paletteStart + maskBytes > size) return Refuse(why, kTruncated);
            masks = {U32(bytes + paletteStart), U32(bytes + paletteStart + 4), U32(bytes + paletteStart + 8)};
            paletteStart += maskBytes;
        }
        if ((masks[0] | masks[1] | masks[2]) == 0) return Refuse(why, "damaged colour masks");
    }
    if (out.bpp == 16 && ((masks[0] | masks[1] | masks[2]) >> 16) != 0) return Refuse(why, "damaged colour masks");
    if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0)
        return Refuse(why, "damaged colour masks");
    for (std::size_t i = 0; i < 3; ++i)
        if (!MakeChannel(masks[i], out.channels[i])) return Refuse(why, "damaged colour masks");

    if (out.offset > size) return Refuse(why, kTruncated);
    if (out.offset < paletteStart) return Refuse(why, "damaged header (pixels start inside the header)");
    if (paletted) {
        const std::size_t entrySize = core ? 3 : 4;
        const std::size_t available = (out.offset - paletteStart) / entrySize;
        const std::size_t maxEntries = std::size_t{1} << out.bpp;
        const std::uint32_t declared = core ? 0 : U32(info.data() + 32);
        std::size_t count = 0;
        if (declared == 0) {
            count = std::min(maxEntries, available);
        } else {
            if (declared > available) return Refuse(why, "damaged palette (more colours than room for them)");
            count = std::min<std::size_t>(declared, maxEntries);
        }
        if (count == 0) return Refuse(why, "damaged palette (no colours)");
        out.palette.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* e = bytes + paletteStart + i * entrySize;
            out.palette[i] = Rgb{e[2], e[1], e[0]};
        }
    }
    return true;
}

bool DecodeUncompressed(const std::uint8_t* bytes, std::size_t size, const Layout& l, ImageRecord& image,
                        std::size_t stride, std::string& why) {
    const std::uint64_t srcStride = ((static_cast<std::uint64_t>(l.width) * l.bpp + 31) / 32) * 4;
    if (srcStride * static_cast<std::uint64_t>(l.height) > size - l.offset) return Refuse(why, kTruncated);
    // A stated image size larger than the whole file contradicts the file.
    if (l.imageSize > size) return Refuse(why, kTruncated);
    const int perByte = l.bpp < 8 ? 8 / l.bpp : 1;
    const std::uint32_t indexMask = (1u << (l.bpp < 8 ? l.bpp : 8)) - 1;
    for (std::int64_t y = 0; y < l.height; ++y) {
        const std::uint8_t* row = bytes + l.offset + static_cast<std::size_t>(y * srcStride);
        const std::int64_t outRow = l.topDown ? l.height - 1 - y : y;
        for (std::int64_t x = 0; x < l.width; ++x) {
            Rgb c;
            if (l.bpp <= 8) {
                const std::uint8_t byte = row[x / perByte];
                const int shift = 8 - l.bpp * (static_cast<int>(x % perByte) + 1);
                const std::uint32_t index = (byte >> shift) & indexMask;
                if (index >= l.palette.size()) return Refuse(why, "damaged pixels (colour beyond the palette)");
                c = l.palette[index];
            } else if (l.bpp == 24) {
                const std::uint8_t* p = row + x * 3;
                c = Rgb{p[2], p[1], p[0]};
            } else {
                const std::uint32_t pixel = l.bpp == 16 ? U16(row + x * 2) : U32(row + x * 4);
                c = Rgb{Expand(pixel, l.channels[0]), Expand(pixel, l.channels[1]), Expand(pixel, l.channels[2])};
            }
            Put(image, stride, outRow, x, c);
        }
    }
    return true;
}

// Runs may not leave the picture; pixels the stream skips take palette entry 0.
bool DecodeRunLength(const std::uint8_t* bytes, std::size_t size, const Layout& l, ImageRecord& image,
                     std::size_t stride, std::string& why) {
    std::size_t length = size - l.offset;
    if (l.imageSize != 0) {
        if (l.imageSize > length) return Refuse(why, kTruncated);
        length = l.imageSize;
    }
    const std::string damaged = "damaged run-length data";
    const std::uint8_t* d = bytes + l.offset;
    const bool rle8 = l.compression == kRle8;
    std::vector<std::uint8_t> indices(static_cast<std::size_t>(l.width * l.height), 0);
    auto put = [&](std::int64_t x, std::int64_t y, std::uint8_t index) {
        indices[static_cast<std::size_t>(y * l.width + x)] = index;
    };
    std::size_t i = 0;
    std::int64_t x = 0, y = 0;
    for (;;) {
        if (i + 2 > length) {
            // Data that ends without an end-of-picture code is accepted only after the last row.
            if (y >= l.height) break;
            return Refuse(why, kTruncated);
        }
        const std::uint8_t a = d[i], b = d[i + 1];
        i += 2;
        if (a > 0) {
            if (y >= l.height || x + a > l.width) return Refuse(why, damaged);
            for (int k = 0; k < a; ++k)
                put(x + k, y, rle8 ? b : static_cast<std::uint8_t>(k % 2 == 0 ? b >> 4 : b & 15));
            x += a;
        } else if (b == 0) {
            x = 0;
            if (++y > l.height) return Refuse(why, damaged);
        } else if (b == 1) {
            break;
        } else if (b == 2) {
            if (i + 2 > length) return Refuse(why, kTruncated);
            x += d[i];
            y += d[i + 1];
            i += 2;
            if (x > l.width || y > l.height) return Refuse(why, damaged);
        } else {
            const std::size_t dataBytes = rle8 ? b : (b + 1u) / 2;
            if (i + dataBytes > length) return Refuse(why, kTruncated);
            if (y >= l.height || x + b > l.width) return Refuse(why, damaged);
            for (int k = 0; k < b; ++k) {
                const std::uint8_t v = rle8 ? d[i + k] : d[i + k / 2];
                put(x + k, y, rle8 ? v : static_cast<std::uint8_t>(k % 2 == 0 ? v >> 4 : v & 15));
            }
            x += b;
            i += (dataBytes + 1) & ~std::size_t{1};
        }
    }
    for (std::int64_t row = 0; row < l.height; ++row)
        for (std::int64_t col = 0; col < l.width; ++col) {
            const std::uint8_t index = indices[static_cast<std::size_t>(row * l.width + col)];
            if (index >= l.palette.size()) return Refuse(why, "damaged pixels (colour beyond the palette)");
            Put(image, stride, row, col, l.palette[index]);
        }
    return true;
}

std::optional<ImageRecord> Decode(const std::uint8_t* bytes, std::size_t size, std::string& why) {
    Layout layout;
    if (!ReadLayout(bytes, size, layout, why)) return std::nullopt;
    ImageRecord image;
    image.width = static_cast<std::int32_t>(layout.width);
    image.height = static_cast<std::int32_t>(layout.height);
    const std::size_t stride = BitmapRowStride(image.width);
    image.data.assign(stride * static_cast<std::size_t>(image.height), 0);
    const bool ok = layout.compression == kRle8 || layout.compression == kRle4
                        ? DecodeRunLength(bytes, size, layout, image, stride, why)
                        : DecodeUncompressed(bytes, size, layout, image, stride, why);
    if (!ok) return std::nullopt;
    return image;
}

}  // namespace

std::size_t BitmapRowStride(std::int32_t width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

std::optional<ImageRecord> DecodeBitmap(const std::uint8_t* bytes, std::size_t size, std::string* whyNot) {
    std::string why;
    std::optional<ImageRecord> image = bytes == nullptr ? std::nullopt : Decode(bytes, size, why);
    if (whyNot != nullptr) *whyNot = image ? std::string() : (why.empty() ? std::string("not a BMP file") : why);
    return image;
}

std::optional<ImageRecord> LoadBitmapFile(const std::string& path, std::string* whyNot) {
    std::string why;
    std::string bytes;
    std::optional<ImageRecord> image;
    if (path.empty()) {
        why = "missing";
    } else {
        switch (plat::ReadWholeFile(path, bytes, kMaxFileBytes)) {
        case plat::ReadStatus::Read:
            image = DecodeBitmap(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &why);
            break;
        case plat::ReadStatus::Missing:
            why = "missing";
            break;
        case plat::ReadStatus::NotRegular:
            why = "not a regular file";
            break;
        case plat::ReadStatus::TooLarge:
            why = "larger than " + std::to_string(kMaxFileBytes / (1024 * 1024)) + " MiB";
            break;
        case plat::ReadStatus::Failed:
            why = "cannot be read";
            break;
        }
    }
    if (whyNot != nullptr) *whyNot = image ? std::string() : why;
    return image;
}
