// Test support: the panel run as the program runs it, with key presses handed to its window
// procedure, so that tests (and the stepping program) can press keys without a keyboard.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/window.h"
#include "shell/KOVEXFuel.h"
#include "shell/glwindow.h"
#include "shell/settings.h"
#include "shell/shellstate.h"

namespace paneldriver {

constexpr std::uint32_t kF11 = 122;  // position mode
constexpr std::uint32_t kRight = 39;
constexpr std::uint32_t kLeft = 37;

// The start of the program: settings from the current folder, then the window with its scene.
inline bool StartPanel() {
    LoadSettings();
    positionMode = false;
    sizeMode = false;
    recreatingWindow = true;
    const bool created = CreatePanelWindow(SelectPanelRoad().Title(), windowWidth, windowHeight, borderless, InitScene);
    recreatingWindow = false;
    return created;
}

// Handles what is pending, as the main loop does before an idle turn.
inline void DrainMessages() {
    plat::Message msg;
    while (plat::PeekMessage(msg)) {
        if (msg.message != plat::WM_QUIT) plat::DispatchMessage(msg);
    }
}

// A key pressed and released on the panel window, then one turn of the main loop.
inline TurnResult Press(std::uint32_t key) {
    DrainMessages();
    plat::DispatchMessage(plat::Message{mainWindow, plat::WM_KEYDOWN, key, 1});
    const TurnResult result = RunIdleTurn(PanelRoad().Title());
    if (mainWindow) plat::DispatchMessage(plat::Message{mainWindow, plat::WM_KEYUP, key, 1});
    return result;
}

// The panel's twelve pictures as small 8 x 8 bitmaps, so that every creation loads and uploads all
// its textures without the time the full-size artwork takes.
inline void WriteSmallPictures(const std::filesystem::path& dir) {
    std::string bmp = "BM";
    auto le32 = [&bmp](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp += static_cast<char>(v >> (8 * i));
    };
    auto le16 = [&bmp](std::uint16_t v) {
        bmp += static_cast<char>(v);
        bmp += static_cast<char>(v >> 8);
    };
    le32(54 + 8 * 8 * 3); le32(0); le32(54);                      // file header
    le32(40); le32(8); le32(8); le16(1); le16(24); le32(0);        // info header: 8 x 8, 24 bits
    le32(8 * 8 * 3); le32(2835); le32(2835); le32(0); le32(0);
    for (int i = 0; i < 8 * 8; ++i) bmp += std::string{'\x40', static_cast<char>(i * 4), '\x80'};
    for (const char* name : {"fuel.txr", "ago2_mask.txr", "ago2.txr", "fuel_top_mask.txr", "fuel_top.txr", "setpos.txr",
                             "setsize.txr", "oil.txr", "oil_top_mask.txr", "oil_top.txr", "fuel_disp.txr", "lcd.bmp"})
        std::ofstream(dir / name, std::ios::binary) << bmp;
}

}  // namespace paneldriver
