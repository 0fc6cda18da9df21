// Drawing and window figures: one panel frame beside a bare loop of the same 26 quads, and the
// time of a window re-creation (destroy, create, reload every image), on the GL driver at hand.
// Usage: kovex-bench-render [assets folder]   (SDL_VIDEODRIVER=offscreen runs it without a display)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

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

// The same 26 textured quads a panel frame draws, without the panel's logic.
void BareQuads() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int i = 0; i < 26; ++i) {
        glLoadIdentity();
        glTranslatef(-3.0f + 0.25f * static_cast<float>(i % 24), 0.0f, -3.5f);
        glBindTexture(GL_TEXTURE_2D, panelTextures[i % kPanelTextureCount]);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex3f(-1, -1, 0);
        glTexCoord2f(1, 0);
        glVertex3f(1, -1, 0);
        glTexCoord2f(1, 1);
        glVertex3f(1, 1, 0);
        glTexCoord2f(0, 1);
        glVertex3f(-1, 1, 0);
        glEnd();
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
    recreatingWindow = true;
    if (!CreatePanelWindow("bench", windowWidth, windowHeight, borderless)) return 1;
    recreatingWindow = false;
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    FlightSample sample{};
    sample.fuelFlowPph1 = sample.fuelFlowPph2 = 500.0;
    sample.combustion1 = sample.combustion2 = 1;
    const int frames = 400;
    MsPerCall(20, [&] { DrawPanelFromSample(sample, false); });  // warm-up
    const double panel = MsPerCall(frames, [&] { DrawPanelFromSample(sample, false); });
    const double bare = MsPerCall(frames, BareQuads);

    std::vector<double> recreations;
    for (int i = 0; i < 30; ++i) {
        const auto start = Clock::now();
        if (!RecreateAtPosition("bench")) return 1;
        recreations.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    DestroyPanelWindow();

    std::printf("%-44s %10.3f ms\n", "panel frame at 1104x400 (draw only)", panel);
    std::printf("%-44s %10.3f ms\n", "bare loop of 26 textured quads", bare);
    std::printf("%-44s %10.2f   (target <= 1.10)\n", "ratio panel / bare", panel / bare);
    std::printf("%-44s %10.2f ms (target < 50 ms)\n", "window re-creation, median of 30", Median(recreations));
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(work);
    return 0;
}
