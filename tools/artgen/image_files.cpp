// Image file writers for the artwork generator: 24-bit BMP pictures and multi-size icon files.
#include "tools/artgen/image_files.h"

#include <fstream>

namespace {

void Put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

std::uint32_t PixelAt(cairo_surface_t* surface, int x, int y) {
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    return *reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride + x * 4);
}

bool WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

cairo_status_t AppendPng(void* closure, const unsigned char* data, unsigned int length) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// A 32-bit icon bitmap: info header with doubled height, straight-alpha BGRA rows bottom-up, then
// the AND mask (set where fully transparent) for programs that ignore alpha.
std::vector<std::uint8_t> BitmapEntry(cairo_surface_t* surface) {
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    std::vector<std::uint8_t> b;
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(w));
    Put32(b, static_cast<std::uint32_t>(2 * h));
    Put16(b, 1);
    Put16(b, 32);
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = PixelAt(surface, x, y);
            const std::uint32_t a = p >> 24;
            for (int shift : {0, 8, 16}) {
                const std::uint32_t c = (p >> shift) & 0xFF;
                b.push_back(static_cast<std::uint8_t>(a == 0 ? 0 : (c * 255 + a / 2) / a));
            }
            b.push_back(static_cast<std::uint8_t>(a));
        }
    const int maskStride = ((w + 31) / 32) * 4;
    for (int y = h - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(maskStride), 0);
        for (int x = 0; x < w; ++x)
            if ((PixelAt(surface, x, y) >> 24) == 0) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

// The surface's pixels, each turned into three bytes by toRgb(premultiplied ARGB pixel, out).
template <typename PixelToRgb>
RgbPicture MapPixels(cairo_surface_t* surface, PixelToRgb toRgb) {
    cairo_surface_flush(surface);
    RgbPicture out;
    out.width = cairo_image_surface_get_width(surface);
    out.height = cairo_image_surface_get_height(surface);
    out.rgb.reserve(static_cast<std::size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) toRgb(PixelAt(surface, x, y), out.rgb);
    return out;
}

}  // namespace

RgbPicture ColourOverBlack(cairo_surface_t* surface) {
    return MapPixels(surface, [](std::uint32_t p, std::vector<std::uint8_t>& rgb) {
        rgb.insert(rgb.end(), {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                               static_cast<std::uint8_t>(p)});
    });
}

RgbPicture CutOutMask(cairo_surface_t* surface) {
    return MapPixels(surface, [](std::uint32_t p, std::vector<std::uint8_t>& rgb) {
        const std::uint8_t keep = static_cast<std::uint8_t>(255 - (p >> 24));
        rgb.insert(rgb.end(), {keep, keep, keep});
    });
}

bool WriteBmp24(const std::string& path, const RgbPicture& picture) {
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) & ~std::size_t{3};
    const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * picture.height);
    std::vector<std::uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, 54 + dataSize);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(picture.width));
    Put32(b, static_cast<std::uint32_t>(picture.height));
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, dataSize);
    Put32(b, 2835);  // 72 dpi
    Put32(b, 2835);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        const std::uint8_t* row = picture.rgb.data() + static_cast<std::size_t>(y) * picture.width * 3;
        for (int x = 0; x < picture.width; ++x) {
            b.push_back(row[x * 3 + 2]);
            b.push_back(row[x * 3 + 1]);
            b.push_back(row[x * 3]);
        }
        b.resize(b.size() + (stride - static_cast<std::size_t>(picture.width) * 3), 0);
    }
    return WriteAll(path, b);
}

bool WriteIcon(const std::string& path, const std::vector<cairo_surface_t*>& sizes) {
    std::vector<std::vector<std::uint8_t>> entries;
    for (cairo_surface_t* surface : sizes) {
        cairo_surface_flush(surface);
        if (cairo_image_surface_get_width(surface) <= 64) {
            entries.push_back(BitmapEntry(surface));
        } else {
            std::vector<std::uint8_t> png;
            if (cairo_surface_write_to_png_stream(surface, AppendPng, &png) != CAIRO_STATUS_SUCCESS) return false;
            entries.push_back(std::move(png));
        }
    }
    std::vector<std::uint8_t> b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(sizes.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const int side = cairo_image_surface_get_width(sizes[i]);
        b.push_back(static_cast<std::uint8_t>(side >= 256 ? 0 : side));
        b.push_back(static_cast<std::uint8_t>(side >= 256 ? 0 : side));
        b.push_back(0);
        b.push_back(0);
        Put16(b, 1);
        Put16(b, 32);
        Put32(b, static_cast<std::uint32_t>(entries[i].size()));
        Put32(b, offset);
        offset += static_cast<std::uint32_t>(entries[i].size());
    }
    for (const auto& e : entries) b.insert(b.end(), e.begin(), e.end());
    return WriteAll(path, b);
}
