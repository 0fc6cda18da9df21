// Start-up and memory figures: time to the panel's first frame and its resident memory, or the same
// for a bare GL window, one per process so each resident set is its own. With --loop, the panel's own
// main loop beside the simulator stand-in for some seconds: the processor time it takes per frame shown.
// Usage: kovex-bench-startup --panel|--bare [assets folder]   (SDL_VIDEODRIVER=offscreen: no display)
//        kovex-bench-startup --loop SECONDS [assets folder]   (a display whose swaps show the frames)
// Prints "first frame ms N" and "resident KiB N"; with --loop "frames per s N", "cpu ms per frame N",
// "wall ms per frame N" and "swap interval accepted yes|no".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/gl.h"
#include "platform/ipc.h"
#include "platform/process.h"
#include "platform/window.h"
#include "render/panelframe.h"
#include "shell/KOVEXFuel.h"
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
    SelectPanelRoad();
    recreatingWindow = true;
    if (!CreatePanelWindow("bench", windowWidth, windowHeight, borderless, InitScene)) return false;
    recreatingWindow = false;
    FlightSample sample{};
    sample.fuelFlowPph1 = sample.fuelFlowPph2 = 500.0;
    sample.oilPressRaw1 = sample.oilPressRaw2 = 20000;
    sample.oilTempRaw1 = sample.oilTempRaw2 = 4000;
    DrawPanelFrame(ComposePanelPicture(sample, {}, plat::TickCount(), false));
    plat::SwapBuffers(deviceContext);
    glFinish();
    return true;
}

// The panel's main loop, turn by turn as the program runs it, for `seconds` beside a running
// stand-in; prints its frame rate and the processor time of the whole process (drawing threads of the
// GL driver included) per frame shown.
int PanelLoop(double seconds) {
    const std::string rendezvous = (std::filesystem::current_path() / "ipc").string();
    std::filesystem::create_directories(rendezvous);
    plat::SetEnvironmentVariable("KOVEX_IPC_DIR", rendezvous.c_str());
    const plat::ChildProcess sim = plat::StartChildProcess(
        {KOVEX_BIN_DIR "/kovex-simulator", "--exit-with-parent", "--start-at", "520", "--lifetime", "600"});
    const std::uint32_t waitStart = plat::TickCount();
    while (sim && !plat::IpcFindWindow("UIPCMAIN") && plat::TickCount() - waitStart < 10000) plat::SleepMs(5);
    if (!sim || !plat::IpcFindWindow("UIPCMAIN")) {
        std::fprintf(stderr, "kovex-bench-startup: the simulator stand-in did not start\n");
        return 1;
    }
    LoadSettings();
    SelectPanelRoad();
    recreatingWindow = true;
    if (!CreatePanelWindow(kTitleFsuipc, windowWidth, windowHeight, borderless, InitScene)) return 1;
    recreatingWindow = false;
    const bool paced = plat::SetSwapInterval(deviceContext, 1);

    long frames = 0;
    const std::clock_t cpuStart = std::clock();
    const auto start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        plat::Message msg;
        if (plat::PeekMessage(msg)) {
            if (msg.message != plat::WM_QUIT) plat::DispatchMessage(msg);
            continue;
        }
        if (RunIdleTurn(kTitleFsuipc) != TurnResult::Continue) break;
        ++frames;
    }
    glFinish();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    DestroyPanelWindow();
    plat::StopChildProcess(sim, 3000);
    if (frames == 0) return 1;
    std::printf("frames per s %.1f\n", frames * 1000.0 / wallMs);
    std::printf("cpu ms per frame %.3f\n", cpuMs / frames);
    std::printf("wall ms per frame %.3f\n", wallMs / frames);
    std::printf("swap interval accepted %s\n", paced ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool panel = argc > 1 && std::strcmp(argv[1], "--panel") == 0;
    const bool loop = argc > 2 && std::strcmp(argv[1], "--loop") == 0;
    if (argc < 2 || (!panel && !loop && std::strcmp(argv[1], "--bare") != 0)) {
        std::printf("usage: kovex-bench-startup --panel|--bare [assets folder]\n"
                    "       kovex-bench-startup --loop SECONDS [assets folder]\n");
        return 2;
    }
    const int assetsArg = loop ? 3 : 2;
    const std::filesystem::path assets = argc > assetsArg ? argv[assetsArg] : KOVEX_SOURCE_DIR "/assets";
    const auto work = std::filesystem::temp_directory_path() /
                      ("kovex-bench-startup-" + std::to_string(plat::CurrentProcessId()));
    if (panel || loop) {
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
    if (loop) {
        const int result = PanelLoop(std::atof(argv[2]));
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        std::filesystem::remove_all(work);
        return result;
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
