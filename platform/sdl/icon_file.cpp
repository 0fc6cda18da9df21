// Windows icon (.ico) reader: directory, bitmap entries with AND masks, and PNG entries through libpng.
#include "platform/sdl/icon_file.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "platform/files.h"

namespace {

constexpr std::size_t kDirHeader = 6;
constexpr std::size_t kDirEntry = 16;
constexpr std::size_t kMaxIconFileBytes = 16ull * 1024 * 1024;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A bitmap entry: info header, palette, colour rows, then 1-bit AND rows (set = transparent);
// the header's height counts both sets of rows.
bool DecodeBitmapEntry(const std::uint8_t* d, std::size_t size, IconImage& out) {
    if (size < 40) return false;
    const std::uint32_t headerSize = U32(d);
    if (headerSize < 40 || headerSize > size) return false;
    const std::int32_t width = static_cast<std::int32_t>(U32(d + 4));
    const std::int32_t doubledHeight = static_cast<std::int32_t>(U32(d + 8));
    const int planes = U16(d + 12);
    const int bpp = U16(d + 14);
    const std::uint32_t compression = U32(d + 16);
    const std::uint32_t colorsUsed = U32(d + 32);
    if (planes != 1 || compression != 0) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
    const std::int32_t height = doubledHeight / 2;
    if (width <= 0 || width > kMaxIconSide || height <= 0 || height > kMaxIconSide) return false;

    std::size_t pos = headerSize;
    std::size_t paletteCount = 0;
    if (bpp <= 8) {
        paletteCount = colorsUsed == 0 ? (std::size_t{1} << bpp) : colorsUsed;
        if (paletteCount > (std::size_t{1} << bpp)) return false;
    }
    const std::uint8_t* palette = d + pos;
    if (paletteCount * 4 > size - pos) return false;
    pos += paletteCount * 4;

    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    const std::size_t colorStride = ((w * bpp + 31) / 32) * 4;
    const std::size_t maskStride = ((w + 31) / 32) * 4;
    if (colorStride * h > size - pos) return false;
    const std::uint8_t* colors = d + pos;
    pos += colorStride * h;
    // 32-bit entries carry their own alpha and may leave the mask out.
    const bool hasMask = maskStride * h <= size - pos;
    if (!hasMask && bpp != 32) return false;
    const std::uint8_t* mask = hasMask ? d + pos : nullptr;

    std::vector<std::uint8_t> rgba(w * h * 4);
    bool anyAlpha = false;
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* row = colors + (h - 1 - y) * colorStride;
        std::uint8_t* dst = rgba.data() + y * w * 4;
        for (std::size_t x = 0; x < w; ++x, dst += 4) {
            if (bpp <= 8) {
                const int perByte = 8 / bpp;
                const int shift = 8 - bpp * (static_cast<int>(x % perByte) + 1);
                const std::size_t index = (row[x / perByte] >> shift) & ((1u << bpp) - 1);
                if (index >= paletteCount) return false;
                const std::uint8_t* e = palette + index * 4;
                dst[0] = e[2], dst[1] = e[1], dst[2] = e[0], dst[3] = 255;
            } else {
                const std::uint8_t* p = row + x * (bpp / 8);
                dst[0] = p[2], dst[1] = p[1], dst[2] = p[0];
                dst[3] = bpp == 32 ? p[3] : 255;
                anyAlpha = anyAlpha || (bpp == 32 && p[3] != 0);
            }
        }
    }
    // Old 32-bit icons leave the alpha bytes at zero and rely on the mask alone.
    const bool useMask = mask != nullptr && (bpp != 32 || !anyAlpha);
    if (useMask) {
        for (std::size_t y = 0; y < h; ++y) {
            const std::uint8_t* row = mask + (h - 1 - y) * maskStride;
            for (std::size_t x = 0; x < w; ++x) {
                const bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
                rgba[(y * w + x) * 4 + 3] = transparent ? 0 : 255;
            }
        }
    }
    out.width = width;
    out.height = height;
    out.rgba = std::move(rgba);
    return true;
}

struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep target, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->size - source->pos) png_error(png, "icon PNG truncated");
    std::memcpy(target, source->data + source->pos, length);
    source->pos += length;
}

// A damaged icon is an ordinary refusal, not something to print.
void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void QuietWarning(png_structp, png_const_charp) {}

// Objects with destructors live from before the setjmp, since libpng's errors return through longjmp.
bool DecodePngEntry(const std::uint8_t* d, std::size_t size, IconImage& out) {
    PngSource source{d, size, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    std::vector<std::uint8_t> rgba;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, ReadFromMemory);
    png_set_user_limits(png, kMaxIconSide, kMaxIconSide);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (png_get_rowbytes(png, info) != w * 4) png_error(png, "unexpected PNG row layout");
    rgba.resize(w * h * 4);
    rows.resize(h);
    for (std::size_t y = 0; y < h; ++y) rows[y] = rgba.data() + y * w * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.rgba = std::move(rgba);
    return true;
}

}  // namespace

bool DecodeIcon(const std::uint8_t* bytes, std::size_t size, IconImage& out) {
    if (bytes == nullptr || size < kDirHeader) return false;
    if (U16(bytes) != 0 || U16(bytes + 2) != 1) return false;
    const std::size_t count = U16(bytes + 4);
    if (count == 0 || kDirHeader + count * kDirEntry > size) return false;

    // The directory's own sizes choose the entry (0 stands for 256); more colour bits break ties.
    std::size_t best = count;
    std::uint32_t bestArea = 0, bestBits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = bytes + kDirHeader + i * kDirEntry;
        const std::uint32_t w = e[0] == 0 ? 256 : e[0], h = e[1] == 0 ? 256 : e[1];
        const std::uint32_t bits = U16(e + 6);
        if (best == count || w * h > bestArea || (w * h == bestArea && bits > bestBits)) {
            best = i;
            bestArea = w * h;
            bestBits = bits;
        }
    }
    const std::uint8_t* e = bytes + kDirHeader + best * kDirEntry;
    const std::uint32_t length = U32(e + 8), offset = U32(e + 12);
    if (offset < kDirHeader + count * kDirEntry || offset > size || length > size - offset) return false;

    IconImage image;
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::uint8_t* entry = bytes + offset;
    const bool ok = length >= 8 && std::memcmp(entry, kPngSignature, 8) == 0 ? DecodePngEntry(entry, length, image)
                                                                             : DecodeBitmapEntry(entry, length, image);
    if (!ok) return false;
    out = std::move(image);
    return true;
}

bool ReadIconFile(const std::string& path, IconImage& out) {
    // Only a regular file is read, so an icon that is a pipe cannot hold up the start.
    std::string bytes;
    if (plat::ReadWholeFile(path, bytes, kMaxIconFileBytes) != plat::ReadStatus::Read || bytes.empty()) return false;
    return DecodeIcon(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out);
}
