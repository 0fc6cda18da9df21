// Draws the panel's pictures with Cairo: dial faces whose scales come from the needle conversions,
// the needle, centre caps, the read-out panel, the banners, the character sheet and the icon.
#include "tools/artgen/artwork.h"

#include "simlink/conversions.h"
#include "tools/artgen/dial_geometry.h"
#include "tools/artgen/image_files.h"

#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace artwork {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr const char* kFont = "DejaVu Sans";
constexpr const char* kMonoFont = "DejaVu Sans Mono";

struct Colour {
    double r, g, b;
};
constexpr Colour kWhite{0.96, 0.96, 0.94};
constexpr Colour kAmber{1.0, 0.70, 0.20};
constexpr Colour kGreen{0.15, 0.75, 0.25};
constexpr Colour kRed{0.90, 0.12, 0.10};
constexpr Colour kLcdInk{1.0, 0.86, 0.56};

void SetColour(cairo_t* cr, Colour c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

cairo_surface_t* NewSurface(int size) { return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size); }

void FillBlack(cairo_t* cr) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
}

// A dial in pixel space: pivot position and pixels per unit. Angles are clockwise from straight up,
// the needle's own convention.
struct Dial {
    cairo_t* cr;
    double cx;
    double cy;
    double scale;
};

void PointAt(const Dial& d, double angleDeg, double radius, double& x, double& y) {
    const double a = angleDeg * kPi / 180.0;
    x = d.cx + radius * d.scale * std::sin(a);
    y = d.cy - radius * d.scale * std::cos(a);
}

void Tick(const Dial& d, double angleDeg, double inner, double width, Colour c) {
    double x0, y0, x1, y1;
    PointAt(d, angleDeg, inner, x0, y0);
    PointAt(d, angleDeg, kTickOuter, x1, y1);
    cairo_set_line_cap(d.cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_width(d.cr, width * d.scale);
    SetColour(d.cr, c);
    cairo_move_to(d.cr, x0, y0);
    cairo_line_to(d.cr, x1, y1);
    cairo_stroke(d.cr);
}

// A band between two radii from one needle angle to another (in either order).
void Band(const Dial& d, double fromDeg, double toDeg, double inner, double outer, Colour c) {
    const double a0 = (std::fmin(fromDeg, toDeg) - 90.0) * kPi / 180.0;
    const double a1 = (std::fmax(fromDeg, toDeg) - 90.0) * kPi / 180.0;
    cairo_new_path(d.cr);
    cairo_arc(d.cr, d.cx, d.cy, outer * d.scale, a0, a1);
    cairo_arc_negative(d.cr, d.cx, d.cy, inner * d.scale, a1, a0);
    cairo_close_path(d.cr);
    SetColour(d.cr, c);
    cairo_fill(d.cr);
}

void CentredText(cairo_t* cr, const std::string& text, double x, double y, double sizePx, Colour c,
                 const char* family = kFont, bool bold = true) {
    cairo_select_font_face(cr, family, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, sizePx);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    SetColour(cr, c);
    cairo_move_to(cr, x - e.width / 2 - e.x_bearing, y - e.height / 2 - e.y_bearing);
    cairo_show_text(cr, text.c_str());
}

void Screw(cairo_t* cr, double x, double y, double r) {
    cairo_pattern_t* p = cairo_pattern_create_radial(x - r * 0.3, y - r * 0.3, r * 0.1, x, y, r);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.55, 0.55, 0.56);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.16, 0.16, 0.17);
    cairo_set_source(cr, p);
    cairo_arc(cr, x, y, r, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_set_line_width(cr, r * 0.3);
    cairo_move_to(cr, x - r * 0.7, y + r * 0.35);
    cairo_line_to(cr, x + r * 0.7, y - r * 0.35);
    cairo_stroke(cr);
}

// Bezel ring, black face and four mounting screws, all centred on the pivot.
void Instrument(const Dial& d) {
    cairo_t* cr = d.cr;
    const double outer = kBezelOuter * d.scale, face = kFaceRadius * d.scale;
    cairo_pattern_t* ring = cairo_pattern_create_linear(d.cx - outer, d.cy - outer, d.cx + outer, d.cy + outer);
    cairo_pattern_add_color_stop_rgb(ring, 0, 0.62, 0.62, 0.64);
    cairo_pattern_add_color_stop_rgb(ring, 1, 0.10, 0.10, 0.11);
    cairo_set_source(cr, ring);
    cairo_arc(cr, d.cx, d.cy, outer, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(ring);
    const double lip = (face + outer) / 2;
    cairo_pattern_t* inner = cairo_pattern_create_linear(d.cx - lip, d.cy - lip, d.cx + lip, d.cy + lip);
    cairo_pattern_add_color_stop_rgb(inner, 0, 0.08, 0.08, 0.09);
    cairo_pattern_add_color_stop_rgb(inner, 1, 0.42, 0.42, 0.44);
    cairo_set_source(cr, inner);
    cairo_arc(cr, d.cx, d.cy, lip, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(inner);
    cairo_pattern_t* faceGradient = cairo_pattern_create_radial(d.cx, d.cy - face * 0.3, 0, d.cx, d.cy, face);
    cairo_pattern_add_color_stop_rgb(faceGradient, 0, 0.11, 0.11, 0.12);
    cairo_pattern_add_color_stop_rgb(faceGradient, 1, 0.035, 0.035, 0.04);
    cairo_set_source(cr, faceGradient);
    cairo_arc(cr, d.cx, d.cy, face, 0, 2 * kPi);
    cairo_fill(cr);
    cairo_pattern_destroy(faceGradient);
    const double screwDistance = 0.975 * d.scale / std::sqrt(2.0);
    for (int sx : {-1, 1})
        for (int sy : {-1, 1}) Screw(cr, d.cx + sx * screwDistance, d.cy + sy * screwDistance, 0.045 * d.scale);
}

enum class TickKind { Major, Medium, Minor };

// One scale: a tick for every value the caller lists, numerals on the major ticks, and a thin
// base line along the tick ends. The angle function is the needle's own conversion.
void Scale(const Dial& d, const std::function<double(double)>& angle, double from, double to, double step,
           const std::function<TickKind(double)>& kind, Colour c, double numeralPx) {
    const double base = kTickOuter - 0.004;
    cairo_set_line_width(d.cr, 0.008 * d.scale);
    SetColour(d.cr, c);
    const double a0 = angle(from), a1 = angle(to);
    cairo_new_path(d.cr);
    cairo_arc(d.cr, d.cx, d.cy, base * d.scale, (std::fmin(a0, a1) - 90) * kPi / 180,
              (std::fmax(a0, a1) - 90) * kPi / 180);
    cairo_stroke(d.cr);
    for (double v = from; v <= to + 1e-9; v += step) {
        const double a = angle(v);
        const TickKind k = kind(v);
        const double inner = k == TickKind::Major ? kMajorTickInner : k == TickKind::Medium ? kMediumTickInner
                                                                                             : kMinorTickInner;
        const double width = k == TickKind::Major ? 0.022 : k == TickKind::Medium ? 0.015 : 0.010;
        Tick(d, a, inner, width, c);
        if (k == TickKind::Major) {
            double x, y;
            PointAt(d, a, kNumeralRadius, x, y);
            CentredText(d.cr, std::to_string(static_cast<int>(std::lround(v))), x, y, numeralPx, c);
        }
    }
}

Dial PlateDial(cairo_t* cr, double pivotAbove) {
    const double scale = kTexturePixels / (2 * kPlateHalfSize);
    return Dial{cr, kTexturePixels / 2.0, kTexturePixels / 2.0 - pivotAbove * scale, scale};
}

void FuelDial(cairo_t* cr) {
    FillBlack(cr);
    const Dial d = PlateDial(cr, kFuelPivotAbove);
    Instrument(d);
    auto angle = [](double kgPerHour) { return static_cast<double>(FuelFlowAngle(kgPerHour)); };
    Band(d, angle(100), angle(450), 0.595, 0.625, kGreen);
    auto kind = [](double v) {
        const long n = std::lround(v);
        return n % 100 == 0 ? TickKind::Major : n % 50 == 0 ? TickKind::Medium : TickKind::Minor;
    };
    Scale(d, angle, 0, kFuelFlowMax, 25, kind, kWhite, 0.115 * d.scale);
    CentredText(cr, "FUEL FLOW", d.cx, d.cy - 0.27 * d.scale, 0.075 * d.scale, kWhite);
    CentredText(cr, "KG/H", d.cx, d.cy + 0.27 * d.scale, 0.075 * d.scale, kWhite);
    // The lowest 0.2 units lie under the read-out panel, whose colours are added there: keep them black.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, 0, kTexturePixels * 0.9, kTexturePixels, kTexturePixels * 0.1);
    cairo_fill(cr);
}

void OilDial(cairo_t* cr) {
    FillBlack(cr);
    const Dial d = PlateDial(cr, kOilPivotAbove);
    Instrument(d);
    auto pressure = [](double p) { return static_cast<double>(OilPressureAngle(p)); };
    auto temperature = [](double t) { return static_cast<double>(OilTemperatureAngle(t)); };
    Band(d, pressure(0), pressure(20), 0.595, 0.625, kRed);
    Band(d, pressure(30), pressure(80), 0.595, 0.625, kGreen);
    Band(d, temperature(40), temperature(100), 0.595, 0.625, kGreen);
    Band(d, temperature(120), temperature(kOilTempMax), 0.595, 0.625, kRed);
    // Pressure: 10 psi steps on the flat stretch below 40, 5 psi steps on the steep one above.
    auto pressureKind = [](double p) {
        const long n = std::lround(p);
        if (n == 0 || n == 40 || n == 60 || n == 80 || n == 100) return TickKind::Major;
        return n % 10 == 0 ? TickKind::Medium : TickKind::Minor;
    };
    Scale(d, pressure, 0, 40, 10, pressureKind, kWhite, 0.105 * d.scale);
    Scale(d, pressure, 40, kOilPressureMax, 5, pressureKind, kWhite, 0.105 * d.scale);
    auto temperatureKind = [](double t) {
        const long n = std::lround(t);
        if (n == 0 || n == 40 || n == 80 || n == 120) return TickKind::Major;
        return n % 20 == 0 || n == -30 ? TickKind::Medium : TickKind::Minor;
    };
    // Two stretches, since the needle's slope changes at 40 (and the tick at 40 sits where the
    // needle points for exactly 40).
    Scale(d, temperature, kOilTempMin, 30, 10, temperatureKind, kAmber, 0.105 * d.scale);
    Scale(d, temperature, 40, kOilTempMax, 10, temperatureKind, kAmber, 0.105 * d.scale);
    CentredText(cr, "OIL PSI", d.cx, d.cy - 0.27 * d.scale, 0.075 * d.scale, kWhite);
    CentredText(cr, "OIL \u00B0C", d.cx, d.cy + 0.27 * d.scale, 0.075 * d.scale, kAmber);
}

Dial LayerDial(cairo_t* cr) {
    const double scale = kTexturePixels / (2 * kLayerHalfSize);
    return Dial{cr, kTexturePixels / 2.0, kTexturePixels / 2.0, scale};
}

// The needle points straight up from the pivot, with a short counterweight behind it.
void Needle(cairo_t* cr) {
    const Dial d = LayerDial(cr);
    auto to = [&](double x, double y, bool line) {
        if (line) cairo_line_to(cr, d.cx + x * d.scale, d.cy - y * d.scale);
        else cairo_move_to(cr, d.cx + x * d.scale, d.cy - y * d.scale);
    };
    cairo_new_path(cr);
    to(-0.017, 0.0, false);
    to(-0.010, kNeedleTip - 0.10, true);
    to(0.0, kNeedleTip, true);
    to(0.010, kNeedleTip - 0.10, true);
    to(0.017, 0.0, true);
    to(0.026, -0.03, true);
    to(0.026, -0.14, true);
    cairo_arc(cr, d.cx, d.cy + 0.14 * d.scale, 0.026 * d.scale, 0, kPi);
    to(-0.026, -0.03, true);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, kWhite.r, kWhite.g, kWhite.b);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
    cairo_set_line_width(cr, 0.005 * d.scale);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

// The centre cap that holds the needles.
void Cap(cairo_t* cr) {
    const Dial d = LayerDial(cr);
    const double r = kCapRadius * d.scale;
    cairo_pattern_t* p = cairo_pattern_create_radial(d.cx - r * 0.35, d.cy - r * 0.35, r * 0.05, d.cx, d.cy, r);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.50, 0.50, 0.52);
    cairo_pattern_add_color_stop_rgb(p, 0.6, 0.18, 0.18, 0.19);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.07, 0.07, 0.08);
    cairo_set_source(cr, p);
    cairo_arc(cr, d.cx, d.cy, r, 0, 2 * kPi);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgb(cr, 0.02, 0.02, 0.02);
    cairo_set_line_width(cr, 0.006 * d.scale);
    cairo_stroke(cr);
}

// Adds a closed, clockwise sub-path, so several shapes can be filled as one.
void RoundedRect(cairo_t* cr, double x0, double y0, double x1, double y1, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x1 - r, y0 + r, r, -kPi / 2, 0);
    cairo_arc(cr, x1 - r, y1 - r, r, 0, kPi / 2);
    cairo_arc(cr, x0 + r, y1 - r, r, kPi / 2, kPi);
    cairo_arc(cr, x0 + r, y0 + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// u, v texture coordinates (v from the bottom) to pixels.
double Px(double u) { return u * kTexturePixels; }
double Py(double v) { return (1.0 - v) * kTexturePixels; }

// Only the top part (v above about 0.52) shows; the digits land in u 0.30..0.67, v 0.82..0.95.
void FuelDisplay(cairo_t* cr) {
    FillBlack(cr);
    const double x0 = Px(0.06), x1 = Px(0.94), y0 = Py(0.962), y1 = Py(0.56);
    cairo_pattern_t* body = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgb(body, 0, 0.24, 0.24, 0.25);
    cairo_pattern_add_color_stop_rgb(body, 1, 0.12, 0.12, 0.13);
    RoundedRect(cr, x0, y0, x1, y1, 14);
    cairo_set_source(cr, body);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(body);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_set_line_width(cr, 3);
    cairo_stroke(cr);
    for (double u : {0.10, 0.90}) Screw(cr, Px(u), Py(0.89), 9);
    // The LCD window, a little larger than the four digit cells' ink.
    const double wx0 = Px(0.28), wx1 = Px(0.69), wy0 = Py(0.952), wy1 = Py(0.80);
    RoundedRect(cr, wx0 - 4, wy0 - 4, wx1 + 4, wy1 + 4, 6);
    cairo_set_source_rgb(cr, 0.06, 0.06, 0.06);
    cairo_fill(cr);
    RoundedRect(cr, wx0, wy0, wx1, wy1, 4);
    cairo_set_source_rgb(cr, 0.015, 0.025, 0.02);
    cairo_fill(cr);
    CentredText(cr, "FUEL USED", (wx0 + wx1) / 2, Py(0.73), 26, kWhite);
    CentredText(cr, "KG", Px(0.78), (wy0 + wy1) / 2, 26, kWhite);
    CentredText(cr, "F1 / F2 RESET", (wx0 + wx1) / 2, Py(0.64), 17, Colour{0.6, 0.6, 0.6}, kFont, false);
}

void Banner(cairo_t* cr, const std::vector<std::string>& lines) {
    FillBlack(cr);
    RoundedRect(cr, 24, 96, kTexturePixels - 24, kTexturePixels - 96, 20);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 6);
    cairo_stroke(cr);
    const double top = 160, gap = (kTexturePixels - 2 * top) / (lines.size() - 1);
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // Shrink a line that would not fit inside the frame.
        double size = i == 0 ? 52 : 44;
        cairo_set_font_size(cr, size);
        cairo_text_extents_t e;
        cairo_text_extents(cr, lines[i].c_str(), &e);
        size = std::fmin(size, size * 420 / e.width);
        CentredText(cr, lines[i], kTexturePixels / 2.0, top + i * gap, size, Colour{1, 1, 1});
    }
}

// Seven segments a..g in a cell's ink box, slanted a little like a real read-out.
void SevenSegments(cairo_t* cr, double left, double top, unsigned segments) {
    const double w = 16, h = 26, t = 3.2, slant = 0.10;
    auto point = [&](double x, double y, bool line) {
        const double px = left + x + slant * (h - y), py = top + y;
        if (line) cairo_line_to(cr, px, py);
        else cairo_move_to(cr, px, py);
    };
    auto horizontal = [&](double y) {
        point(t * 0.6, y, false);
        point(t * 1.1, y - t / 2, true);
        point(w - t * 1.1, y - t / 2, true);
        point(w - t * 0.6, y, true);
        point(w - t * 1.1, y + t / 2, true);
        point(t * 1.1, y + t / 2, true);
        cairo_close_path(cr);
    };
    auto vertical = [&](double x, double y0, double y1) {
        point(x, y0 + t * 0.6, false);
        point(x + t / 2, y0 + t * 1.1, true);
        point(x + t / 2, y1 - t * 1.1, true);
        point(x, y1 - t * 0.6, true);
        point(x - t / 2, y1 - t * 1.1, true);
        point(x - t / 2, y0 + t * 1.1, true);
        cairo_close_path(cr);
    };
    cairo_new_path(cr);
    if (segments & 0x01) horizontal(t / 2);              // a: top
    if (segments & 0x02) vertical(w - t / 2, t / 2, h / 2);  // b: upper right
    if (segments & 0x04) vertical(w - t / 2, h / 2, h - t / 2);  // c: lower right
    if (segments & 0x08) horizontal(h - t / 2);          // d: bottom
    if (segments & 0x10) vertical(t / 2, h / 2, h - t / 2);  // e: lower left
    if (segments & 0x20) vertical(t / 2, t / 2, h / 2);  // f: upper left
    if (segments & 0x40) horizontal(h / 2);              // g: middle
    cairo_fill(cr);
}

// Latin-1 code to UTF-8 for Cairo's text API.
std::string Utf8(int code) {
    std::string s;
    if (code < 0x80) {
        s.push_back(static_cast<char>(code));
    } else {
        s.push_back(static_cast<char>(0xC0 | (code >> 6)));
        s.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return s;
}

void LcdSheet(cairo_t* cr) {
    FillBlack(cr);
    static const unsigned kDigits[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    SetColour(cr, kLcdInk);
    for (int code = 33; code < 256; ++code) {
        if (code >= 127 && code <= 160) continue;  // control codes and no-break space draw nothing
        const int cell = code - 32;
        const double left = (cell % 16) * kLcdCellPixels, top = (cell / 16) * kLcdCellPixels;
        // The pen advances 0.32 of a 0.52 cell, so the ink stays in the middle 60 % of the cell.
        if (code >= '0' && code <= '9') {
            SevenSegments(cr, left + 7.5, top + 3, kDigits[code - '0']);
        } else if (code == '-') {
            SevenSegments(cr, left + 7.5, top + 3, 0x40);
        } else {
            // Other characters from the font, shrunk where needed to the same 17 x 26 ink box.
            cairo_select_font_face(cr, kMonoFont, CAIRO_FONT_SLANT_OBLIQUE, CAIRO_FONT_WEIGHT_BOLD);
            const std::string text = Utf8(code);
            cairo_text_extents_t e;
            cairo_set_font_size(cr, 26);
            cairo_text_extents(cr, text.c_str(), &e);
            cairo_set_font_size(cr, 26 * std::fmin(1.0, std::fmin(17 / e.width, 25 / e.height)));
            cairo_text_extents(cr, text.c_str(), &e);
            double baseline = top + 24;
            baseline += std::fmax(0.0, top + 3.5 - (baseline + e.y_bearing));
            baseline -= std::fmax(0.0, baseline + e.y_bearing + e.height - (top + 28.5));
            cairo_move_to(cr, left + 16 - (e.x_bearing + e.width / 2), baseline);
            cairo_show_text(cr, text.c_str());
        }
    }
}

// A twin-engine aeroplane seen from above, nose up, in a 256-unit square.
void PlaneIcon(cairo_t* cr, int size) {
    cairo_save(cr);
    cairo_scale(cr, size / 256.0, size / 256.0);
    cairo_new_path(cr);
    // Fuselage.
    cairo_move_to(cr, 128, 14);
    cairo_curve_to(cr, 142, 20, 144, 50, 144, 80);
    cairo_line_to(cr, 140, 200);
    cairo_line_to(cr, 134, 228);
    cairo_line_to(cr, 122, 228);
    cairo_line_to(cr, 116, 200);
    cairo_line_to(cr, 112, 80);
    cairo_curve_to(cr, 112, 50, 114, 20, 128, 14);
    cairo_close_path(cr);
    // Wings, tailplane and the two engine nacelles.
    RoundedRect(cr, 14, 96, 242, 124, 10);
    RoundedRect(cr, 78, 200, 178, 220, 8);
    RoundedRect(cr, 66, 66, 90, 140, 10);
    RoundedRect(cr, 166, 66, 190, 140, 10);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.10, 0.16, 0.32);
    cairo_set_line_width(cr, size <= 16 ? 22 : size <= 32 ? 14 : 8);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke_preserve(cr);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
    cairo_fill(cr);
    cairo_restore(cr);
}

using Painter = std::function<void(cairo_t*)>;

cairo_surface_t* Paint(int size, const Painter& painter) {
    cairo_surface_t* surface = NewSurface(size);
    cairo_t* cr = cairo_create(surface);
    painter(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
}

bool WritePlate(const std::string& path, int size, const Painter& painter) {
    cairo_surface_t* surface = Paint(size, painter);
    const bool ok = WriteBmp24(path, ColourOverBlack(surface));
    cairo_surface_destroy(surface);
    return ok;
}

// A masked layer: the shape's colours over black, and a mask that is black where the shape is.
bool WriteLayer(const std::string& colourPath, const std::string& maskPath, const Painter& painter) {
    cairo_surface_t* surface = Paint(kTexturePixels, painter);
    const bool ok = WriteBmp24(colourPath, ColourOverBlack(surface)) && WriteBmp24(maskPath, CutOutMask(surface));
    cairo_surface_destroy(surface);
    return ok;
}

}  // namespace

bool WriteSettingsSample(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    // 1104 x 400 shows the whole panel: its width must be at least 2.76 times its height.
    out << "[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=40\r\nY=40\r\n[WINSIZE]\r\nWIDTH=1104\r\nHEIGHT=400\r\n"
           "[WINBORDER]\r\nACTIVE=Y\r\n";
    return static_cast<bool>(out);
}

bool GenerateArtwork(const std::string& dir, std::string& failed) {
    const std::string d = dir + "/";
    struct Job {
        std::string name;
        std::function<bool()> write;
    };
    const std::vector<Job> jobs = {
        {"fuel.txr", [&] { return WritePlate(d + "fuel.txr", kTexturePixels, FuelDial); }},
        {"ago2.txr", [&] { return WriteLayer(d + "ago2.txr", d + "ago2_mask.txr", Needle); }},
        {"fuel_top.txr", [&] { return WriteLayer(d + "fuel_top.txr", d + "fuel_top_mask.txr", Cap); }},
        {"setpos.txr",
         [&] {
             return WritePlate(d + "setpos.txr", kTexturePixels, [](cairo_t* cr) {
                 Banner(cr, {"POSITION MODE", "ARROW KEYS", "MOVE THE WINDOW", "F11 ENDS"});
             });
         }},
        {"setsize.txr",
         [&] {
             return WritePlate(d + "setsize.txr", kTexturePixels, [](cairo_t* cr) {
                 Banner(cr, {"SIZE MODE", "ARROW KEYS", "RESIZE THE WINDOW", "F9 ENDS"});
             });
         }},
        {"oil.txr", [&] { return WritePlate(d + "oil.txr", kTexturePixels, OilDial); }},
        {"oil_top.txr", [&] { return WriteLayer(d + "oil_top.txr", d + "oil_top_mask.txr", Cap); }},
        {"fuel_disp.txr", [&] { return WritePlate(d + "fuel_disp.txr", kTexturePixels, FuelDisplay); }},
        {"lcd.bmp", [&] { return WritePlate(d + "lcd.bmp", 16 * kLcdCellPixels, LcdSheet); }},
        {"plane2.ico",
         [&] {
             std::vector<cairo_surface_t*> sizes;
             for (int size : {16, 32, 48, 256})
                 sizes.push_back(Paint(size, [size](cairo_t* cr) { PlaneIcon(cr, size); }));
             const bool ok = WriteIcon(d + "plane2.ico", sizes);
             for (cairo_surface_t* s : sizes) cairo_surface_destroy(s);
             return ok;
         }},
        {"KOVEXFuel.INI", [&] { return WriteSettingsSample(d + "KOVEXFuel.INI"); }},
    };
    for (const Job& job : jobs)
        if (!job.write()) {
            failed = job.name;
            return false;
        }
    return true;
}

}  // namespace artwork
