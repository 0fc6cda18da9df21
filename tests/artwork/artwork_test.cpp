// Checks of the committed panel artwork: loadable power-of-two BMPs, consistent masks, scale marks
// where the needles point, a character sheet whose glyphs fit the pen advance, the icon and settings.
#include "platform/sdl/icon_file.h"
#include "render/bitmap.h"
#include "simlink/conversions.h"
#include "tools/artgen/dial_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

const std::string kAssets = std::string(KOVEX_SOURCE_DIR) + "/assets/";

const char* const kImages[] = {"fuel.txr",    "ago2_mask.txr", "ago2.txr",      "fuel_top_mask.txr",
                               "fuel_top.txr", "setpos.txr",   "setsize.txr",   "oil.txr",
                               "oil_top_mask.txr", "oil_top.txr", "fuel_disp.txr", "lcd.bmp"};

const ImageRecord& Image(const std::string& name) {
    static std::map<std::string, ImageRecord> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        auto loaded = LoadBitmapFile(kAssets + name);
        it = cache.emplace(name, loaded ? std::move(*loaded) : ImageRecord{}).first;
    }
    return it->second;
}

// Pixel at column x and row y counted from the bottom, as stored.
const std::uint8_t* Pixel(const ImageRecord& image, int x, int y) {
    return image.data.data() + static_cast<std::size_t>(y) * BitmapRowStride(image.width) + x * 3;
}

int MaxChannel(const std::uint8_t* p) { return std::max({p[0], p[1], p[2]}); }

bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

// Catches an image the program's loader can't read, a size GL 1.1 can't upload, or a file that is
// not the plain bottom-up 24-bit layout.
TEST(ArtworkFiles, EveryImageLoadsAsPowerOfTwo24BitBottomUp) {
    for (const char* name : kImages) {
        SCOPED_TRACE(name);
        const ImageRecord& image = Image(name);
        ASSERT_FALSE(image.data.empty());
        EXPECT_TRUE(PowerOfTwo(image.width));
        EXPECT_TRUE(PowerOfTwo(image.height));
        std::ifstream in(kAssets + name, std::ios::binary);
        char header[30] = {};
        in.read(header, sizeof header);
        EXPECT_EQ(static_cast<std::uint8_t>(header[28]), 24);           // bits per pixel
        EXPECT_EQ(static_cast<std::uint8_t>(header[25]) & 0x80, 0);     // positive height: bottom-up
    }
}

// Catches a colour image that shows outside its mask's cut-out (it would be added onto the dial
// there) or a mask that cuts out more than its picture fills.
TEST(ArtworkFiles, MasksCutOutExactlyWhatTheirColourImagesAdd) {
    for (auto [colourName, maskName] : {std::pair{"ago2.txr", "ago2_mask.txr"},
                                         std::pair{"fuel_top.txr", "fuel_top_mask.txr"},
                                         std::pair{"oil_top.txr", "oil_top_mask.txr"}}) {
        SCOPED_TRACE(colourName);
        const ImageRecord& colour = Image(colourName);
        const ImageRecord& mask = Image(maskName);
        ASSERT_EQ(colour.width, mask.width);
        ASSERT_EQ(colour.height, mask.height);
        int shape = 0;
        for (int y = 0; y < colour.height; ++y)
            for (int x = 0; x < colour.width; ++x) {
                const std::uint8_t* c = Pixel(colour, x, y);
                const std::uint8_t* m = Pixel(mask, x, y);
                ASSERT_TRUE(m[0] == m[1] && m[1] == m[2]) << x << "," << y;
                // kept picture + added colour never exceeds full brightness: no glow at the edges
                ASSERT_LE(MaxChannel(c) + m[0], 256) << x << "," << y;
                if (m[0] == 0) ++shape;
            }
        EXPECT_GT(shape, 100);
        // The corners lie outside every shape: mask white, colour black.
        EXPECT_EQ(Pixel(mask, 0, 0)[0], 255);
        EXPECT_EQ(MaxChannel(Pixel(colour, colour.width - 1, colour.height - 1)), 0);
    }
}

// Catches a needle that does not point straight up at angle 0 about the layer's centre, or one
// too long or too short to reach the scales.
TEST(ArtworkFiles, NeedlePointsUpFromTheLayerCentreToTheTicks) {
    const ImageRecord& mask = Image("ago2_mask.txr");
    const double perUnit = mask.width / (2 * artwork::kLayerHalfSize);
    int top = -1;
    for (int y = mask.height - 1; y >= 0 && top < 0; --y)
        for (int x = 0; x < mask.width; ++x)
            if (Pixel(mask, x, y)[0] < 128) {
                top = y;
                EXPECT_NEAR(x, mask.width / 2.0, 2.0);
                break;
            }
    const double tip = (top - mask.height / 2.0) / perUnit;
    EXPECT_GT(tip, artwork::kMinorTickInner - 0.05);
    EXPECT_LT(tip, artwork::kTickOuter);
    EXPECT_LT(Pixel(mask, mask.width / 2, mask.height / 2)[0], 128);  // the pivot is on the needle
}

namespace {

// Looks along rays from the pivot through the tick band within +-3 degrees of the expected angle
// and reports the angle where the marks are brightest, with that mark's colour.
struct Peak {
    double angle = 0;
    int brightness = 0;
    int edgeBrightness = 0;
    std::uint8_t colour[3] = {};
};

Peak FindMark(const ImageRecord& dial, double pivotAbove, double expectedAngle) {
    const double perUnit = dial.width / (2 * artwork::kPlateHalfSize);
    const double cx = dial.width / 2.0, cy = dial.height / 2.0 + pivotAbove * perUnit;
    auto rayBrightness = [&](double angle, std::uint8_t* colour) {
        int sum = 0, best = -1;
        const double a = angle * 3.14159265358979 / 180;
        for (double r = artwork::kMinorTickInner + 0.005; r <= artwork::kTickOuter - 0.012; r += 0.002) {
            const int x = static_cast<int>(std::lround(cx + r * perUnit * std::sin(a)));
            const int y = static_cast<int>(std::lround(cy + r * perUnit * std::cos(a)));
            const std::uint8_t* p = Pixel(dial, x, y);
            sum += MaxChannel(p);
            if (colour != nullptr && MaxChannel(p) > best) {
                best = MaxChannel(p);
                std::copy(p, p + 3, colour);
            }
        }
        return sum;
    };
    Peak peak;
    peak.brightness = -1;
    for (double a = expectedAngle - 3; a <= expectedAngle + 3; a += 0.05) {
        const int b = rayBrightness(a, nullptr);
        if (b > peak.brightness) {
            peak.brightness = b;
            peak.angle = a;
        }
    }
    rayBrightness(peak.angle, peak.colour);
    peak.edgeBrightness = std::max(rayBrightness(expectedAngle - 3, nullptr), rayBrightness(expectedAngle + 3, nullptr));
    return peak;
}

void ExpectMark(const char* dialName, double pivotAbove, double angle, bool amber) {
    const Peak peak = FindMark(Image(dialName), pivotAbove, angle);
    EXPECT_NEAR(peak.angle, angle, 0.75);
    EXPECT_GT(peak.brightness, 4 * peak.edgeBrightness + 100);  // a distinct mark, not a bright area
    if (amber) {
        EXPECT_GT(peak.colour[0], 180);
        EXPECT_LT(peak.colour[2], 120);
    } else {
        EXPECT_GT(std::min({peak.colour[0], peak.colour[1], peak.colour[2]}), 170);
    }
}

}  // namespace

// Catches scales drawn with other arithmetic than the needles use, or about the wrong pivot:
// for each value the mark must sit where the needle for that value points.
TEST(ArtworkScales, MarksLieWhereTheNeedlesPoint) {
    for (double kgPerHour : {0.0, 350.0, 600.0}) {
        SCOPED_TRACE(testing::Message() << kgPerHour << " kg/h");
        ExpectMark("fuel.txr", artwork::kFuelPivotAbove, FuelFlowAngle(kgPerHour), false);
    }
    for (double psi : {0.0, 40.0, 100.0}) {
        SCOPED_TRACE(testing::Message() << psi << " psi");
        ExpectMark("oil.txr", artwork::kOilPivotAbove, OilPressureAngle(psi), false);
    }
    for (double celsius : {-30.0, 0.0, 100.0, 140.0}) {
        SCOPED_TRACE(testing::Message() << celsius << " deg C");
        ExpectMark("oil.txr", artwork::kOilPivotAbove, OilTemperatureAngle(celsius), true);
    }
}

// Catches plates that would add colour where other plates overlap them: the read-out panel covers
// the lowest 0.2 units of the fuel-flow dial, and the digits land on the panel's LCD window.
TEST(ArtworkLayout, OverlapsStayBlackAndTheDigitWindowIsDark) {
    const ImageRecord& fuel = Image("fuel.txr");
    for (int y = 0; y < fuel.height / 10; ++y)
        for (int x = 0; x < fuel.width; ++x) ASSERT_EQ(MaxChannel(Pixel(fuel, x, y)), 0) << x << "," << y;
    const ImageRecord& panel = Image("fuel_disp.txr");
    // Four digits at depth 7 from x = -2.8 (0.32 apart, cells 0.52) seen on the panel at depth 3.5.
    const double u0 = (-2.8 / 2 + 2) / 2, u1 = ((-2.8 + 3 * 0.32 + 0.52) / 2 + 2) / 2;
    const double v0 = (-1.73 / 2 + 2.5) / 2, v1 = ((-1.73 + 0.52) / 2 + 2.5) / 2;
    int lighter = 0;
    for (int y = static_cast<int>(v0 * panel.height); y < v1 * panel.height; ++y)
        for (int x = static_cast<int>(u0 * panel.width); x < u1 * panel.width; ++x)
            ASSERT_LT(MaxChannel(Pixel(panel, x, y)), 24) << x << "," << y;
    for (int x = 0; x < panel.width; ++x) lighter += MaxChannel(Pixel(panel, x, static_cast<int>(0.7 * panel.height))) > 24;
    EXPECT_GT(lighter, panel.width / 2);  // the panel itself shows around the window
}

// Catches glyphs that overlap their neighbours (the pen advances 0.32 of a 0.52 cell), touch the
// cell edge (linear filtering would bleed into the next cell) or sit in the wrong cell.
TEST(ArtworkLcd, GlyphsFitTheirCellsAndThePenAdvance) {
    const ImageRecord& sheet = Image("lcd.bmp");
    const int cell = sheet.width / 16;
    ASSERT_EQ(sheet.height, sheet.width);
    const int maxInk = static_cast<int>(cell * 0.32 / 0.52);
    for (int code = 32; code < 256; ++code) {
        SCOPED_TRACE(code);
        const int column = (code - 32) % 16, rowFromTop = (code - 32) / 16;
        int left = cell, right = -1, ink = 0;
        for (int y = 0; y < cell; ++y)
            for (int x = 0; x < cell; ++x) {
                const int px = column * cell + x, py = sheet.height - 1 - (rowFromTop * cell + y);
                if (MaxChannel(Pixel(sheet, px, py)) > 24) {
                    ++ink;
                    left = std::min(left, x);
                    right = std::max(right, x);
                    ASSERT_TRUE(x > 0 && x < cell - 1 && y > 0 && y < cell - 1);
                }
            }
        const bool printable = (code > 32 && code < 127) || code > 160;
        if (!printable) {
            EXPECT_EQ(ink, 0);
            continue;
        }
        EXPECT_GT(ink, code == '.' || code == '\'' || code == ',' || code == '`' ? 4 : 10);
        EXPECT_LT(right - left, maxInk);
    }
}

// Catches an icon the window backend can't read or one without transparency around the plane.
TEST(ArtworkIcon, IconLoadsWithALargeEntryAndTransparentSurround) {
    IconImage icon;
    ASSERT_TRUE(ReadIconFile(kAssets + "plane2.ico", icon));
    EXPECT_GE(icon.width, 64);
    EXPECT_EQ(icon.width, icon.height);
    EXPECT_EQ(icon.rgba[3], 0);  // corner
    const std::size_t centre = (static_cast<std::size_t>(icon.height / 2) * icon.width + icon.width / 2) * 4;
    EXPECT_EQ(icon.rgba[centre + 3], 255);
}

// Catches a sample settings file that selects the network road or a window too narrow for the panel.
TEST(ArtworkSettings, SampleSelectsFsuipcAndShowsTheWholePanel) {
    std::ifstream in(kAssets + "KOVEXFuel.INI");
    ASSERT_TRUE(in);
    std::map<std::string, std::string> keys;
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') section = line.substr(1, line.find(']') - 1);
        const auto eq = line.find('=');
        if (eq != std::string::npos) keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
    }
    EXPECT_EQ(keys["LAN/USELAN"], "N");
    EXPECT_EQ(keys["WINBORDER/ACTIVE"], "Y");
    EXPECT_FALSE(keys["WINDOW/X"].empty());
    EXPECT_FALSE(keys["WINDOW/Y"].empty());
    const int width = std::stoi(keys["WINSIZE/WIDTH"]), height = std::stoi(keys["WINSIZE/HEIGHT"]);
    EXPECT_GE(width, 2.76 * height);
}
