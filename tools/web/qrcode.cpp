// QR codes through libqrencode; the picture written by libpng into memory.
#include "tools/web/qrcode.h"

#include <memory>
#include <vector>

#include <png.h>
#include <qrencode.h>

namespace {

constexpr int kQuietZone = 4;  // modules of light margin the standard asks for around the code
constexpr int kPixelsPerModule = 8;

// The code's modules, true for dark, with the quiet zone around them; empty when encoding fails.
std::vector<std::vector<bool>> Modules(const std::string& text) {
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
    if (!code) return {};
    const int side = code->width + 2 * kQuietZone;
    std::vector<std::vector<bool>> rows(side, std::vector<bool>(side, false));
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x)
            rows[y + kQuietZone][x + kQuietZone] = (code->data[y * code->width + x] & 1) != 0;
    }
    return rows;
}

void AppendToString(png_structp png, png_bytep data, png_size_t size) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

}  // namespace

bool QrCodesAvailable() { return true; }

std::string QrTerminalText(const std::string& text, bool utf8) {
    const std::vector<std::vector<bool>> rows = Modules(text);
    std::string out;
    if (utf8) {
        // Light modules are drawn in a white foreground on black, so the characters show the light
        // parts: on a dark terminal that ignores colours the code still reads dark on light.
        const int side = static_cast<int>(rows.size());
        for (int y = 0; y < side; y += 2) {
            out += "\x1b[97;40m";
            for (int x = 0; x < side; ++x) {
                const bool topLight = !rows[y][x], bottomLight = y + 1 >= side || !rows[y + 1][x];
                out += topLight && bottomLight ? "\u2588" : topLight ? "\u2580" : bottomLight ? "\u2584" : " ";
            }
            out += "\x1b[0m\n";
        }
        return out;
    }
    for (const std::vector<bool>& row : rows) {
        for (std::size_t x = 0; x < row.size(); ++x) {
            if (x == 0 || row[x] != row[x - 1]) out += row[x] ? "\x1b[40m" : "\x1b[107m";
            out += "  ";
        }
        out += "\x1b[0m\n";
    }
    return out;
}

std::string QrPng(const std::string& text) {
    const std::vector<std::vector<bool>> rows = Modules(text);
    if (rows.empty()) return {};
    const png_uint_32 side = static_cast<png_uint_32>(rows.size() * kPixelsPerModule);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::string out;
    std::vector<png_byte> line(side);
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &out, AppendToString, nullptr);
        png_set_IHDR(png, info, side, side, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (png_uint_32 y = 0; y < side; ++y) {
            const std::vector<bool>& row = rows[y / kPixelsPerModule];
            for (png_uint_32 x = 0; x < side; ++x) line[x] = row[x / kPixelsPerModule] ? 0 : 255;
            png_write_row(png, line.data());
        }
        png_write_end(png, nullptr);
    } else {
        out.clear();  // libpng gave up part way
    }
    png_destroy_write_struct(&png, &info);
    return out;
}
