// The gauges drawn into a real offscreen GL context with marker images, read back pixel by pixel.
#include <cmath>
#include <cstdlib>

#include "image_writer.h"
#include "platform/clock.h"
#include "platform/gl.h"
#include "render/gauges.h"
#include "render/panelframe.h"
#include "render/textures.h"
#include "shell/KOVEXFuel.h"
#include "simlink/panelvariables.h"
#include "tests/shell/shell_fixture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};

struct Pixel {
    int r, g, b;
};

// One frame of the FSUIPC road from a given sample, with the commands the shell holds.
void DrawFromSample(const FlightSample& sample) {
    DrawPanelFrame(ComposePanelPicture(sample, TakePanelCommands(), plat::TickCount(), false));
}

class GaugeTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        WriteSettings("[WINSIZE]\r\nWIDTH=1104\r\nHEIGHT=400\r\n[WINBORDER]\r\nACTIVE=N\r\n");
    }

    // Marker images: dark blue dial faces, dark green read-out panels, a red needle pointing up
    // from the centre, top rings that change nothing, an LCD sheet whose cells carry their index.
    void WriteMarkerImages() {
        WriteSolidBmp("fuel.txr", {0, 0, 100});
        WriteSolidBmp("oil.txr", {0, 0, 100});
        WriteSolidBmp("fuel_disp.txr", {0, 100, 0});
        WriteSolidBmp("setpos.txr", kWhite);
        WriteSolidBmp("setsize.txr", kWhite);
        auto needle = [](int x, int y) { return x >= 28 && x < 36 && y >= 32 && y < 62; };
        WriteBmp("ago2_mask.txr", 64, 64, [&](int x, int y) { return needle(x, y) ? kBlack : kWhite; });
        WriteBmp("ago2.txr", 64, 64, [&](int x, int y) { return needle(x, y) ? Rgb{255, 0, 0} : kBlack; });
        for (const char* name : {"fuel_top_mask.txr", "oil_top_mask.txr"}) WriteSolidBmp(name, kWhite);
        for (const char* name : {"fuel_top.txr", "oil_top.txr"}) WriteSolidBmp(name, kBlack);
        // Cell (column k, row r from the top) is coloured (16k + 8, 16r + 8, 200).
        WriteBmp("lcd.bmp", 256, 256, [](int x, int y) {
            const int k = x / 16, r = 15 - y / 16;
            return Rgb{static_cast<std::uint8_t>(16 * k + 8), static_cast<std::uint8_t>(16 * r + 8), 200};
        });
    }

    // Window pixel of a point given in eye coordinates (identity model-view).
    static void Project(double x, double y, double z, int& px, int& py) {
        GLdouble model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        GLdouble projection[16];
        GLint viewport[4];
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        GLdouble wx, wy, wz;
        gluProject(x, y, z, model, projection, viewport, &wx, &wy, &wz);
        px = static_cast<int>(std::lround(wx));
        py = static_cast<int>(std::lround(wy));
    }

    static Pixel At(double x, double y, double z) {
        int px, py;
        Project(x, y, z, px, py);
        unsigned char rgba[4] = {};
        glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return {rgba[0], rgba[1], rgba[2]};
    }

    // Red where the needle of the dial at (cx, cy) should point for `angle`, none elsewhere.
    static void ExpectNeedle(double cx, double cy, double angle) {
        const double a = angle * kPi / 180.0;
        for (double r : {0.3, 0.6}) {
            const Pixel on = At(cx + r * std::sin(a), cy + r * std::cos(a), -3.5);
            EXPECT_GT(on.r, 200) << "no needle at r=" << r << " for angle " << angle;
            const Pixel off = At(cx - r * std::sin(a), cy - r * std::cos(a), -3.5);
            EXPECT_LT(off.r, 50) << "needle drawn backwards for angle " << angle;
            const Pixel side = At(cx + r * std::cos(a), cy - r * std::sin(a), -3.5);
            EXPECT_LT(side.r, 50) << "needle a quarter turn off for angle " << angle;
        }
    }
};

}  // namespace

// Catches a needle turned the wrong way, by the wrong amount, or about the wrong pivot.
TEST_F(GaugeTest, NeedlesPointWhereTheirAnglesSay) {
    WriteMarkerImages();
    StartWindow();
    for (float angle : {0.0f, 90.0f, 450.0f, 310.0f}) {
        DrawFuelFlowGauges(angle, angle + 180.0f);
        ExpectNeedle(-1.0, 0.3, angle);
        ExpectNeedle(1.0, 0.3, angle + 180.0);
    }
    // Oil dials: pressure and temperature needles share the pivot 0.06 above the plate centre.
    DrawFuelFlowGauges(0, 0);
    DrawOilGauges(0.0f, 45.0f, 135.0f, 270.0f);
    ExpectNeedle(-3.0, -0.04, 45.0);
    ExpectNeedle(-3.0, -0.04, 0.0);
    ExpectNeedle(3.0, -0.04, 270.0);
    ExpectNeedle(3.0, -0.04, 135.0);
}

// Catches plates that replace instead of add once the first masked layer has run.
TEST_F(GaugeTest, FirstLayerTurnsOnAdditiveBlendingForTheRestOfTheContext) {
    WriteMarkerImages();
    StartWindow();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    DrawFuelFlowGauges(0, 0);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE);
    // The read-out panel overlaps the lowest 0.2 of the dial face: there the colours add.
    const Pixel overlap = At(-1.5, -0.6, -3.5);
    EXPECT_NEAR(overlap.g, 100, 3);
    EXPECT_NEAR(overlap.b, 100, 3);
    const Pixel dialOnly = At(-1.5, 0.0, -3.5);
    EXPECT_NEAR(dialOnly.g, 0, 3);
    EXPECT_NEAR(dialOnly.b, 100, 3);
    // A second frame shows the same picture: the cleared buffer is black under the additive plates.
    DrawFuelFlowGauges(0, 0);
    const Pixel again = At(-1.5, 0.0, -3.5);
    EXPECT_NEAR(again.b, 100, 3);
}

// Catches characters placed at the wrong pen position or taken from the wrong cell.
TEST_F(GaugeTest, LcdCharactersLandInTheirPlacesAndCells) {
    WriteMarkerImages();
    StartWindow();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
    DrawLcdText("0123", -2.8f, -1.73f);
    for (int i = 0; i < 4; ++i) {
        const Pixel p = At(-2.8 + 0.32 * i + 0.26, -1.73 + 0.26, -7.0);
        EXPECT_NEAR(p.r, 16 * i + 8, 4) << "character " << i;
        EXPECT_NEAR(p.g, 16 * 1 + 8, 4) << "character " << i;
        EXPECT_NEAR(p.b, 200, 4);
    }
    // A control byte draws nothing and does not move the pen; 255 is column 15 of row 13.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    DrawLcdText(std::string("\n") + static_cast<char>(255), -2.8f, -1.73f);
    const Pixel first = At(-2.8 + 0.26, -1.73 + 0.26, -7.0);
    EXPECT_NEAR(first.r, 16 * 15 + 8, 4);
    EXPECT_NEAR(first.g, 16 * 13 + 8, 4);
    const Pixel second = At(-2.8 + 0.32 + 0.4, -1.73 + 0.26, -7.0);
    EXPECT_EQ(second.b, 0) << "the control byte moved the pen";
}

// Catches a missing dial image that stops the program instead of drawing plain quads.
TEST_F(GaugeTest, MissingFuelImageDrawsUntexturedAndKeepsRunning) {
    WriteMarkerImages();
    std::remove("fuel.txr");
    StartWindow();
    for (std::uint32_t name : panelTextures) EXPECT_EQ(name, 0u);
    EXPECT_EQ(texLcd, 0u);
    FlightSample sample{};
    DrawFromSample(sample);
    const Pixel plate = At(-1.0, 0.9, -3.5);
    EXPECT_GT(plate.r + plate.g + plate.b, 600) << "an untextured plate shows the current colour";
}

TEST_F(GaugeTest, MissingImageBesideFuelLeavesOnlyItsSlotEmpty) {
    WriteMarkerImages();
    std::remove("setsize.txr");
    StartWindow();
    EXPECT_NE(panelTextures[texFuel], 0u);
    EXPECT_EQ(panelTextures[texSetSize], 0u);
    EXPECT_NE(panelTextures[texOilTop], 0u);
    EXPECT_NE(texLcd, 0u);
}

// Catches banners shown in the wrong mode or left tinting what follows them.
TEST_F(GaugeTest, BannerShowsGreenWhileItsModeIsOn) {
    WriteMarkerImages();
    StartWindow();
    FlightSample sample{};
    positionMode = true;
    DrawFromSample(sample);
    const Pixel banner = At(0.0, 0.0, -4.5);
    EXPECT_GT(banner.g, 200);
    EXPECT_LT(banner.r, 50);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[0], 1.0f);
    positionMode = false;
    DrawFromSample(sample);
    EXPECT_LT(At(0.0, 0.0, -4.5).g, 50);
}

// Catches read-outs drawn for engines that are not running, and resets that lose to a step.
TEST_F(GaugeTest, ReadOutsShowOnlyForRunningEnginesAndResetsWin) {
    WriteMarkerImages();
    StartWindow();
    FlightSample sample{};
    sample.combustion1 = 1;
    sample.combustion2 = 2;
    sample.fuelFlowPph1 = 1000.0;
    panelValues.fuelUsed1 = 50.0;
    panelValues.fuelUsed2 = 7.0;
    resetFuelUsed1 = true;
    fuelTimerStart -= 5000;  // a step is due in this frame
    DrawFromSample(sample);
    EXPECT_EQ(panelValues.fuelUsed1, 0.0);
    EXPECT_FALSE(resetFuelUsed1);
    EXPECT_EQ(panelValues.fuelUsedShown2, 7.0);
    // Engine 1's read-out shows character '0' (cell 0 of row 1); engine 2's panel stays empty.
    const Pixel one = At(-2.8 + 0.26, -1.73 + 0.26, -7.0);
    EXPECT_GT(one.b, 150);
    const Pixel two = At(1.2 + 0.26, -1.73 + 0.26, -7.0);
    EXPECT_LT(two.b, 50);
}
