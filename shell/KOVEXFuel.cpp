// The program's spine: entry, main loop, keyboard commands, window re-creation and scene set-up.
#include "shell/KOVEXFuel.h"

#include "platform/gl.h"

#include <cstdint>
#include <exception>
#include <memory>

#include "net/networkroad.h"
#include "platform/clock.h"
#include "platform/endsignals.h"
#include "platform/msgbox.h"
#include "platform/fpu.h"
#include "platform/window.h"
#include "render/panelframe.h"
#include "render/textures.h"
#include "shell/glwindow.h"
#include "shell/keys.h"
#include "shell/settings.h"
#include "shell/shellstate.h"
#include "simlink/fsuipcroad.h"
#include "simlink/panelreading.h"

namespace {

// The road chosen at start; it lives as long as the program.
std::unique_ptr<IPanelRoad> panelRoad;

struct ArrowStep {
    int key;
    int delta;
    bool vertical;
};
// Arrow keys in the order they are acted on; Up and Down move in screen direction.
constexpr ArrowStep kArrowSteps[] = {
    {kVkRight, +1, false}, {kVkLeft, -1, false}, {kVkUp, -1, true}, {kVkDown, +1, true}};

// The stored values are 32-bit integers: a step past either end wraps round, as the type does.
std::int32_t StepWrapped(std::int32_t value, int delta) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(delta);
    if (bits <= 0x7FFFFFFFu) return static_cast<std::int32_t>(bits);
    return static_cast<std::int32_t>(bits - 0x80000000u) + INT32_MIN;
}

bool TakeKey(int key) {
    if (!keyDown[key]) return false;
    keyDown[key] = false;
    return true;
}

// Arrow steps of position or size mode; false when a re-creation failed.
bool RunArrowSteps(bool sizeSteps, const std::string& title) {
    for (const ArrowStep& step : kArrowSteps) {
        if (!keyDown[step.key]) continue;
        if (sizeSteps) {
            const char* key = step.vertical ? "HEIGHT" : "WIDTH";
            const std::int32_t value = StepWrapped(ReadSettingInt("WINSIZE", key, "400"), step.delta);
            (step.vertical ? windowHeight : windowWidth) = value;
            WriteSettingInt("WINSIZE", key, value);
            if (!RecreateWithSize(windowWidth, windowHeight, title)) return false;
        } else {
            const char* key = step.vertical ? "Y" : "X";
            const std::int32_t value = StepWrapped(ReadSettingInt("WINDOW", key, "0"), step.delta);
            (step.vertical ? windowY : windowX) = value;
            WriteSettingInt("WINDOW", key, value);
            if (!RecreateAtPosition(title)) return false;
        }
        keyDown[step.key] = false;
    }
    return true;
}

bool EndRequested() { return plat::EndSignalReceived() != plat::EndSignal::None; }

// The code of an ending the user asked for, once everything was released.
ExitCode UserEnding(bool released) {
    if (!released) return kExitReleaseFailed;
    return plat::EndSignalReceived() == plat::EndSignal::HangUp ? kExitHangUp : kExitUserEnded;
}

}  // namespace

bool RecreateAtPosition(const std::string& title) { return RecreateWithSize(windowWidth, windowHeight, title); }

IPanelRoad& SelectPanelRoad() {
    if (useLan) {
        panelRoad = std::make_unique<TNetworkRoad>(serverAddress, serverPort);
    } else {
        panelRoad = std::make_unique<TFsuipcRoad>();
    }
    return *panelRoad;
}

IPanelRoad& PanelRoad() {
    if (!panelRoad) SelectPanelRoad();
    return *panelRoad;
}

PanelCommands TakePanelCommands() {
    const PanelCommands commands{positionMode, sizeMode, resetFuelUsed1, resetFuelUsed2};
    resetFuelUsed1 = resetFuelUsed2 = false;
    return commands;
}

bool ReleasePanelWindow() {
    const bool released = DestroyPanelWindow();
    if (panelRoad) panelRoad->Close();
    return released;
}

bool CreateWindowWithScene(const std::string& title, int width, int height) {
    return CreatePanelWindow(title, width, height, borderless, InitScene);
}

bool RecreateWithSize(int width, int height, const std::string& title) {
    ReleasePanelWindow();
    recreatingWindow = true;
    const bool created = CreateWindowWithScene(title, width, height);
    recreatingWindow = false;
    return created;
}

int InitScene() {
    IPanelRoad& road = PanelRoad();
    const bool opened = road.Open();
    // An opening that an end request cut short is no unreachable server: the loop ends before it draws.
    if (EndRequested()) return 0;
    if (!opened) {
        plat::SetWindowTitle(mainWindow, road.Title().c_str());
        return 3;
    }
    const int loaded = LoadTextures();
    if (loaded != 0) return loaded;
    glEnable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return 0;
}

TurnResult RunIdleTurn(const std::string& title) {
    TurnResult result = TurnResult::Continue;
    if (keyDown[kVkEscape]) result = TurnResult::Done;  // the rest of the turn still runs
    if (TakeKey(kVkF1)) resetFuelUsed1 = true;
    if (TakeKey(kVkF2)) resetFuelUsed2 = true;
    if (keyDown[kVkF12]) {
        ReleasePanelWindow();
        borderless = !borderless;
        windowWidth = ReadSettingInt("WINSIZE", "WIDTH", "400");
        windowHeight = ReadSettingInt("WINSIZE", "HEIGHT", "400");
        recreatingWindow = true;
        const bool created = CreateWindowWithScene(title, windowWidth, windowHeight);
        recreatingWindow = false;
        if (!created) return TurnResult::CreationFailed;
        keyDown[kVkF12] = false;
    }
    if (TakeKey(kVkF11)) {
        positionMode = !positionMode;
        sizeMode = false;
    }
    if (positionMode && !RunArrowSteps(false, title)) return TurnResult::CreationFailed;
    if (TakeKey(kVkF9)) {
        sizeMode = !sizeMode;
        positionMode = false;
    }
    if (sizeMode && !RunArrowSteps(true, title)) return TurnResult::CreationFailed;
    if (windowActive) DrawPanelFrame(ReadPanelFrame(PanelRoad(), TakePanelCommands()));
    plat::SwapBuffers(deviceContext);
    return result;
}

ExitCode RunMainLoop() {
    resetFuelUsed1 = false;
    resetFuelUsed2 = false;
    const std::string title = PanelRoad().Title();
    if (!CreateWindowWithScene(title, windowWidth, windowHeight)) return kExitNoWindow;
    recreatingWindow = false;
    bool done = false;
    while (!done && !EndRequested()) {
        plat::Message msg;
        if (plat::PeekMessage(msg)) {
            if (msg.message == plat::WM_QUIT) done = true;
            else plat::DispatchMessage(msg);
            continue;
        }
        const TurnResult turn = RunIdleTurn(title);
        if (turn == TurnResult::CreationFailed) return kExitNoWindow;  // the failed creation cleaned up already
        if (turn == TurnResult::Done) done = true;
    }
    return UserEnding(ReleasePanelWindow());
}

int ProgramEntry() {
    plat::MaskFloatingPointExceptions();
    plat::InstallEndSignals();
    try {
        LoadSettings();
        SelectPanelRoad();
        positionMode = false;
        sizeMode = false;
        recreatingWindow = true;
        fuelTimerStart = plat::TickCount();
        fuelTimerElapsed = 0.0;
        return RunMainLoop();
    } catch (const std::exception& error) {
        // An end request cuts blocking waits short, and they fail from below: the user's ending.
        if (EndRequested()) return UserEnding(ReleasePanelWindow());
        // Any error nobody handled: show it and end; the end of the process releases the window.
        plat::MessageBox(error.what(), "KOVEXFuel", plat::MessageIcon::Error);
        return kExitError;
    }
}
