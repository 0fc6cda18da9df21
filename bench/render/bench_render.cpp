// Drawing and window figures: one panel frame beside a bare loop of the same 26 quads, and the
// time of a window re-creation (destroy, create, reload every image), on the GL driver at hand.
// Usage: kovex-bench-render [assets folder]   (SDL_VIDEODRIVER=offscreen runs it without a display)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/clock.h"
#include "platform/gl.h"
#include "render/panelframe.h"
#include "render/textures.h"
#include "shell/KOVEXFuel.h"
#include "shell/glwindow.h"
#include "shell/settings.h"
#include "shell/shellstate.h"
#include "simlink/panelvariables.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Quad(float half) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-half, -half, 0);
    glTexCoord2f(1, 0);
    glVertex3f(half, -half, 0);
    glTexCoord2f(1, 1);
    glVertex3f(half, half, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-half, half, 0);
    glEnd();
}

// The 26 quads of a panel frame with their places, textures and blending, replayed from a table
// without any of the panel's own work.
struct Item {
    float x, y, angle;
    int texture, colour;  // colour < 0: a plate; otherwise a masked layer
};
const Item kItems[] = {
    {-1, 0.3f, 40, texFuel, -1}, {-1, 0.3f, 40, texAgo2Mask, texAgo2}, {-1, 0.3f, 0, texFuelTopMask, texFuelTop},
    {1, 0.3f, 40, texFuel, -1}, {1, 0.3f, 40, texAgo2Mask, texAgo2}, {1, 0.3f, 0, texFuelTopMask, texFuelTop},
    {-1, -1.5f, 0, texFuelDisp, -1}, {1, -1.5f, 0, texFuelDisp, -1},
    {-3, -0.1f, 0, texOil, -1}, {-3, -0.04f, 30, texAgo2Mask, texAgo2},
    {3, -0.1f, 0, texOil, -1}, {3, -0.04f, 30, texAgo2Mask, texAgo2},
    {-3, -0.04f, 240, texAgo2Mask, texAgo2}, {-3, -0.04f, 0, texOilTopMask, texOilTop},
    {3, -0.04f, 240, texAgo2Mask, texAgo2}, {3, -0.04f, 0, texOilTopMask, texOilTop}};

void BareQuads() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (const Item& item : kItems) {
        glLoadIdentity();
        glTranslatef(item.x, item.y, -3.5f);
        glRotatef(-item.angle, 0, 0, 1);
        glBindTexture(GL_TEXTURE_2D, panelTextures[item.texture]);
        if (item.colour < 0) {
            Quad(1.0f);
            continue;
        }
        glEnable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glBlendFunc(GL_DST_COLOR, GL_ZERO);
        Quad(0.95f);
        glBlendFunc(GL_ONE, GL_ONE);
        glBindTexture(GL_TEXTURE_2D, panelTextures[item.colour]);
        Quad(0.95f);
    }
}

template <typename F>
double MsPerCall(int count, F&& f) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        f();
        glFinish();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / count;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path assets = argc > 1 ? argv[1] : KOVEX_SOURCE_DIR "/assets";
    const auto work = std::filesystem::temp_directory_path() / "kovex-bench-render";
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work);
    for (const auto& entry : std::filesystem::directory_iterator(assets)) {
        std::filesystem::copy_file(entry.path(), work / entry.path().filename());
    }
    std::filesystem::current_path(work);
    {
        std::FILE* ini = std::fopen("KOVEXFuel.INI", "wb");
        std::fputs("[WINSIZE]\r\nWIDTH=1104\r\nHEIGHT=400\r\n[WINBORDER]\r\nACTIVE=N\r\n", ini);
        std::fclose(ini);
    }
    LoadSettings();
    SelectPanelRoad();
    recreatingWindow = true;
    if (!CreatePanelWindow("bench", windowWidth, windowHeight, borderless, InitScene)) return 1;
    recreatingWindow = false;
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    FlightSample sample{};
    sample.fuelFlowPph1 = sample.fuelFlowPph2 = 500.0;
    sample.oilPressRaw1 = sample.oilPressRaw2 = 20000;
    sample.oilTempRaw1 = sample.oilTempRaw2 = 4000;  // engines off: no read-outs, the same 26 quads
    // Rounds alternate between the two, so drift of the machine's load affects both alike.
    MsPerCall(20, [&] { DrawPanelFrame(ComposePanelPicture(sample, {}, plat::TickCount(), false)); });
    std::vector<double> panelRounds, bareRounds;
    for (int round = 0; round < 15; ++round) {
        panelRounds.push_back(MsPerCall(30, [&] { DrawPanelFrame(ComposePanelPicture(sample, {}, plat::TickCount(), false)); }));
        bareRounds.push_back(MsPerCall(30, BareQuads));
    }
    const double panel = Median(panelRounds);
    const double bare = Median(bareRounds);

    std::vector<double> recreations;
    for (int i = 0; i < 30; ++i) {
        const auto start = Clock::now();
        if (!RecreateAtPosition("bench")) return 1;
        recreations.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    DestroyPanelWindow();

    std::printf("%-44s %10.3f ms\n", "panel frame at 1104x400, median ms", panel);
    std::printf("%-44s %10.3f ms\n", "bare replay of its 26 quads, median ms", bare);
    std::printf("%-44s %10.2f   (target <= 1.10)\n", "ratio panel / bare", panel / bare);
    std::printf("%-44s %10.2f ms (target < 50 ms)\n", "window re-creation, median of 30", Median(recreations));
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(work);
    return 0;
}
