// PNG reader for tests: libpng's low-level reader with every format expanded to 8-bit RGBA.
#include "tests/bitmap/png_reference.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Objects with destructors live from before the setjmp, since libpng's errors return through longjmp.
bool ReadRows(std::FILE* file, RgbaPicture* out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out->width = static_cast<int>(png_get_image_width(png, info));
    out->height = static_cast<int>(png_get_image_height(png, info));
    out->rgba.assign(static_cast<std::size_t>(out->width) * out->height * 4, 0);
    rows.resize(static_cast<std::size_t>(out->height));
    for (int y = 0; y < out->height; ++y) rows[y] = out->rgba.data() + static_cast<std::size_t>(y) * out->width * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool ReadPngRgba(const std::string& path, RgbaPicture& out) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    return ReadRows(file.get(), &out);
}
