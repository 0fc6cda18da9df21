// Start-up and memory figures: time to the panel's first frame and its resident memory, or the same
// for a bare GL window, one per process so each resident set is its own.
// Usage: kovex-bench-startup --panel|--bare [assets folder]   (SDL_VIDEODRIVER=offscreen: no display)
// Prints "first frame ms N" and "resident KiB N".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/gl.h"
#include "platform/window.h"
#include "render/panelframe.h"
#include "shell/glwindow.h"
#include "shell/settings.h"
#include "shell/shellstate.h"
#include "simlink/panelvariables.h"

namespace {

using Clock = std::chrono::steady_clock;

// The resident set as the system reports it; -1 where it cannot be read.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

plat::LResult BareProc(plat::WindowHandle window, std::uint32_t message, plat::WParam w, plat::LParam l) {
    return plat::DefWindowProc(window, message, w, l);
}

// A window with a GL context and one cleared, shown frame: what any GL program pays.
bool BareFirstFrame() {
    const plat::PixelFormatRequest request;
    if (!plat::RegisterWindowClass("KovexBare", plat::CS_OWNDC, BareProc, nullptr)) return false;
    plat::WindowHandle window = plat::CreateWindowExA(0, "KovexBare", "bare", plat::WS_POPUP, 0, 0, 1104, 400);
    if (!window) return false;
    plat::DeviceContext dc = plat::GetDC(window);
    const int format = plat::ChoosePixelFormat(dc, request);
    if (!format || !plat::SetPixelFormat(dc, format, request)) return false;
    plat::RenderContext rc = plat::CreateGLContext(dc);
    if (!rc || !plat::MakeCurrent(dc, rc)) return false;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    plat::SwapBuffers(dc);
    glFinish();
    return true;
}

// The panel's own start: settings, window, context, every texture, one drawn and shown frame.
bool PanelFirstFrame() {
    LoadSettings();
    recreatingWindow = true;
    if (!CreatePanelWindow("bench", windowWidth, windowHeight, borderless)) return false;
    recreatingWindow = false;
    FlightSample sample{};
    sample.fuelFlowPph1 = sample.fuelFlowPph2 = 500.0;
    sample.oilPressRaw1 = sample.oilPressRaw2 = 20000;
    sample.oilTempRaw1 = sample.oilTempRaw2 = 4000;
    DrawPanelFromSample(sample, false);
    plat::SwapBuffers(deviceContext);
    glFinish();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool panel = argc > 1 && std::strcmp(argv[1], "--panel") == 0;
    if (argc < 2 || (!panel && std::strcmp(argv[1], "--bare") != 0)) {
        std::printf("usage: kovex-bench-startup --panel|--bare [assets folder]\n");
        return 2;
    }
    const std::filesystem::path assets = argc > 2 ? argv[2] : KOVEX_SOURCE_DIR "/assets";
    const auto work = std::filesystem::temp_directory_path() / "kovex-bench-startup";
    if (panel) {
        // The panel reads its images and settings from its own folder; copying them is not timed.
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work);
        for (const auto& entry : std::filesystem::directory_iterator(assets))
            std::filesystem::copy_file(entry.path(), work / entry.path().filename());
        std::filesystem::current_path(work);
        std::FILE* ini = std::fopen("KOVEXFuel.INI", "wb");
        if (!ini) return 1;
        std::fputs("[WINSIZE]\r\nWIDTH=1104\r\nHEIGHT=400\r\n[WINBORDER]\r\nACTIVE=N\r\n", ini);
        std::fclose(ini);
    }
    const auto start = Clock::now();
    const bool ok = panel ? PanelFirstFrame() : BareFirstFrame();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "kovex-bench-startup: the window could not be made\n");
        return 1;
    }
    std::printf("first frame ms %.2f\n", ms);
    std::printf("resident KiB %ld\n", ResidentKiB());
    if (panel) {
        DestroyPanelWindow();
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        std::filesystem::remove_all(work);
    }
    return 0;
}
