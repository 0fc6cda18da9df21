// Software composition of the panel as the GL program draws it: same placement, projection, masks
// and additive blending, so the artwork can be judged without a window.
#include "tools/artgen/preview.h"

#include "render/bitmap.h"
#include "simlink/conversions.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace artwork {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Frame {
    int width;
    int height;
    std::vector<float> rgb;  // top row first
};

enum class Blend { Add, Multiply };

struct Quad {
    double cx, cy, depth;      // where the model-view origin lands
    double x0, y0, x1, y1;     // quad corners in model space
    double s0, t0, s1, t1;     // texture coordinates at those corners
    double angle = 0;          // needle angle: turned clockwise on screen by this much
    float tint[3] = {1, 1, 1};
};

void Sample(const ImageRecord& image, double s, double t, float out[3]) {
    // GL_LINEAR with texel centres at half steps; edges clamp, which only matters at black borders.
    const double x = std::clamp(s * image.width - 0.5, 0.0, image.width - 1.0);
    const double y = std::clamp(t * image.height - 0.5, 0.0, image.height - 1.0);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
    const double fx = x - x0, fy = y - y0;
    const std::size_t stride = BitmapRowStride(image.width);
    auto at = [&](int px, int py, int c) { return image.data[py * stride + px * 3 + c] / 255.0; };
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<float>((at(x0, y0, c) * (1 - fx) + at(x1, y0, c) * fx) * (1 - fy) +
                                    (at(x0, y1, c) * (1 - fx) + at(x1, y1, c) * fx) * fy);
}

void Draw(Frame& frame, const ImageRecord& image, const Quad& q, Blend blend) {
    const double tanHalf = std::tan(22.5 * kPi / 180.0), aspect = double(frame.width) / frame.height;
    const double a = q.angle * kPi / 180.0, ca = std::cos(a), sa = std::sin(a);
    for (int py = 0; py < frame.height; ++py)
        for (int px = 0; px < frame.width; ++px) {
            const double nx = (px + 0.5) / frame.width * 2 - 1, ny = 1 - (py + 0.5) / frame.height * 2;
            const double dx = nx * tanHalf * aspect * q.depth - q.cx, dy = ny * tanHalf * q.depth - q.cy;
            // Undo the clockwise turn to get model coordinates.
            const double lx = dx * ca - dy * sa, ly = dx * sa + dy * ca;
            const double fu = (lx - q.x0) / (q.x1 - q.x0), fv = (ly - q.y0) / (q.y1 - q.y0);
            if (fu < 0 || fu > 1 || fv < 0 || fv > 1) continue;
            float texel[3];
            Sample(image, q.s0 + fu * (q.s1 - q.s0), q.t0 + fv * (q.t1 - q.t0), texel);
            float* dst = frame.rgb.data() + (static_cast<std::size_t>(py) * frame.width + px) * 3;
            for (int c = 0; c < 3; ++c)
                dst[c] = blend == Blend::Add ? std::min(1.0f, dst[c] + texel[c] * q.tint[c]) : dst[c] * texel[c];
        }
}

Quad Square(double cx, double cy, double depth, double half, double angle = 0) {
    Quad q{cx, cy, depth, -half, -half, half, half, 0, 0, 1, 1};
    q.angle = angle;
    return q;
}

}  // namespace

bool RenderPreview(const std::string& assetDir, const std::string& pngPath, int width, int height,
                   const PreviewValues& v, std::string& error) {
    std::map<std::string, ImageRecord> images;
    for (const char* name : {"fuel.txr", "ago2_mask.txr", "ago2.txr", "fuel_top_mask.txr", "fuel_top.txr",
                             "setpos.txr", "setsize.txr", "oil.txr", "oil_top_mask.txr", "oil_top.txr",
                             "fuel_disp.txr", "lcd.bmp"}) {
        auto image = LoadBitmapFile(assetDir + "/" + name);
        if (!image) {
            error = std::string("cannot load ") + name;
            return false;
        }
        images[name] = std::move(*image);
    }
    Frame frame{width, height, std::vector<float>(static_cast<std::size_t>(width) * height * 3, 0.0f)};
    auto layer = [&](const char* mask, const char* colour, double x, double y, double angle) {
        Draw(frame, images[mask], Square(x, y, 3.5, 0.95, angle), Blend::Multiply);
        Draw(frame, images[colour], Square(x, y, 3.5, 0.95, angle), Blend::Add);
    };
    const double fuelAngles[2] = {FuelFlowAngle(v.fuelFlow1), FuelFlowAngle(v.fuelFlow2)};
    for (int e = 0; e < 2; ++e) {
        const double x = e == 0 ? -1 : 1;
        Draw(frame, images["fuel.txr"], Square(x, 0.3, 3.5, 1), Blend::Add);
        layer("ago2_mask.txr", "ago2.txr", x, 0.3, fuelAngles[e]);
        layer("fuel_top_mask.txr", "fuel_top.txr", x, 0.3, 0);
    }
    for (double x : {-1.0, 1.0}) Draw(frame, images["fuel_disp.txr"], Square(x, -1.5, 3.5, 1), Blend::Add);
    const double press[2] = {OilPressureAngle(v.oilPressure1), OilPressureAngle(v.oilPressure2)};
    const double temp[2] = {OilTemperatureAngle(v.oilTemperature1), OilTemperatureAngle(v.oilTemperature2)};
    for (int e = 0; e < 2; ++e) {
        const double x = e == 0 ? -3 : 3;
        Draw(frame, images["oil.txr"], Square(x, -0.1, 3.5, 1), Blend::Add);
        layer("ago2_mask.txr", "ago2.txr", x, -0.04, press[e]);
    }
    for (int e = 0; e < 2; ++e) {
        const double x = e == 0 ? -3 : 3;
        layer("ago2_mask.txr", "ago2.txr", x, -0.04, temp[e]);
        layer("oil_top_mask.txr", "oil_top.txr", x, -0.04, 0);
    }
    for (int banner = 0; banner < 2; ++banner) {
        if (!(banner == 0 ? v.positionBanner : v.sizeBanner)) continue;
        Quad q = Square(0, 0, 4.5, 1);
        q.tint[0] = q.tint[2] = 0;
        Draw(frame, images[banner == 0 ? "setpos.txr" : "setsize.txr"], q, Blend::Add);
    }
    for (int e = 0; e < 2; ++e) {
        double pen = e == 0 ? -2.8 : 1.2;
        for (unsigned char c : e == 0 ? v.readout1 : v.readout2) {
            if (c <= 31) continue;
            const double s0 = ((c - 32) % 16) / 16.0, tTop = 1 - ((c - 32) / 16) / 16.0;
            Quad q{pen, -1.73, 7, 0, 0, 0.52, 0.52, s0, tTop - 0.0625, s0 + 0.0625, tTop};
            Draw(frame, images["lcd.bmp"], q, Blend::Add);
            pen += 0.32;
        }
    }

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float* p = frame.rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            auto byte = [](float f) { return static_cast<std::uint32_t>(std::lround(std::clamp(f, 0.0f, 1.0f) * 255)); };
            *reinterpret_cast<std::uint32_t*>(data + y * stride + x * 4) = byte(p[0]) << 16 | byte(p[1]) << 8 | byte(p[2]);
        }
    cairo_surface_mark_dirty(surface);
    const bool ok = cairo_surface_write_to_png(surface, pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!ok) error = "cannot write " + pngPath;
    return ok;
}

}  // namespace artwork
