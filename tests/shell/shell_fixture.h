// Test fixture: a fresh working folder with an icon and the panel's pictures, and the shell state
// back at its start values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "shell/glwindow.h"
#include "shell/settings.h"
#include "shell/shellstate.h"
#include "tests/faults/panel_driver.h"

namespace testutil {

// A valid one-pixel icon: directory, one entry, a 32-bit DIB with its AND mask.
inline void WriteTinyIcon(const std::filesystem::path& file) {
    const std::uint8_t bytes[] = {
        0, 0, 1, 0, 1, 0,                                   // icon directory, one image
        1, 1, 0, 0, 1, 0, 32, 0, 48, 0, 0, 0, 22, 0, 0, 0,  // 1x1, 32 bpp, 48 bytes at 22
        40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32, 0,   // header: 1 wide, 2 high (with mask)
        0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x20, 0x60, 0xC0, 0xFF,                              // one BGRA pixel
        0, 0, 0, 0};                                         // AND mask row
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The client of the panel's network road for the current window, or null on another road.
inline TVqTcpBlockClient* PanelClient() {
    auto* road = dynamic_cast<TNetworkRoad*>(&PanelRoad());
    return road ? road->Client() : nullptr;
}

}  // namespace testutil

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("kovex-shell-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        testutil::WriteTinyIcon(dir_ / "plane2.ico");
        paneldriver::WriteSmallPictures(dir_);  // a missing picture would be named on standard error
        for (bool& k : keyDown) k = false;
        windowActive = true;
        positionMode = sizeMode = false;
        resetFuelUsed1 = resetFuelUsed2 = false;
    }
    void TearDown() override {
        if (mainWindow || deviceContext || renderContext) DestroyPanelWindow();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    void WriteSettings(const std::string& text) { std::ofstream(dir_ / "KOVEXFuel.INI", std::ios::binary) << text; }
    std::string Settings() const { return testutil::ReadFile(dir_ / "KOVEXFuel.INI"); }
    bool SettingsExist() const { return std::filesystem::exists(dir_ / "KOVEXFuel.INI"); }
    // Loads the settings and creates the window as the program's start does.
    void StartWindow(const std::string& title = "test") {
        LoadSettings();
        SelectPanelRoad();
        recreatingWindow = true;
        ASSERT_TRUE(CreatePanelWindow(title, windowWidth, windowHeight, borderless, InitScene));
        recreatingWindow = false;
    }

    std::filesystem::path previous_;
    std::filesystem::path dir_;
};
