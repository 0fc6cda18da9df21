// The panel window on a real offscreen GL context: creation, release and the window procedure.
#include "platform/gl.h"

#include <cmath>

#include "base/errors.h"
#include "platform/window.h"
#include "shell_fixture.h"

namespace {

plat::LParam Pack(int low, int high) {
    return static_cast<plat::LParam>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) | static_cast<std::uint32_t>(low & 0xFFFF));
}

plat::LResult Send(std::uint32_t message, plat::WParam wParam = 0, plat::LParam lParam = 0) {
    return PanelWindowProc(mainWindow, message, wParam, lParam);
}

int Frame() { return plat::GetSystemMetrics(plat::SM_CXFRAME); }
int Caption() { return plat::GetSystemMetrics(plat::SM_CYCAPTION); }

}  // namespace

// Catches creation that skips a step, misplaces the window or leaves the wrong GL state.
TEST_F(ShellTest, CreatesBorderedWindowAtStoredGeometryWithSceneState) {
    WriteSettings("[WINDOW]\r\nX=40\r\nY=30\r\n[WINSIZE]\r\nWIDTH=640\r\nHEIGHT=320\r\n");
    const std::string before = Settings();
    StartWindow();
    ASSERT_NE(mainWindow, nullptr);
    ASSERT_NE(deviceContext, nullptr);
    ASSERT_NE(renderContext, nullptr);
    int x, y, w, h;
    ASSERT_TRUE(plat::GetClientGeometry(mainWindow, x, y, w, h));
    EXPECT_EQ(x, 40 + Frame());
    EXPECT_EQ(y, 30 + Frame() + Caption());
    // The size report of showing the window set the viewport to the client area.
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], w);
    EXPECT_EQ(viewport[3], h);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depthFunc = 0, shade = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(shade, GL_SMOOTH);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[3], 0.5f);
    EXPECT_FLOAT_EQ(clear[0] + clear[1] + clear[2], 0.0f);
    // Creation reports geometry, but nothing reaches the settings file.
    EXPECT_EQ(Settings(), before);
}

TEST_F(ShellTest, BorderlessWindowSetsItsViewportFromTheGivenSize) {
    WriteSettings("[WINBORDER]\r\nACTIVE=N\r\n[WINSIZE]\r\nWIDTH=300\r\nHEIGHT=200\r\n");
    StartWindow();
    EXPECT_TRUE(borderless);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 200);
}

// Catches a release sequence that stops early, acts twice or forgets a handle.
TEST_F(ShellTest, DestroyReleasesEverythingAndReportsAMissingClass) {
    StartWindow();
    testing::internal::CaptureStderr();
    DestroyPanelWindow();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_EQ(deviceContext, nullptr);
    EXPECT_EQ(renderContext, nullptr);
    testing::internal::CaptureStderr();
    DestroyPanelWindow();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SHUTDOWN ERROR: Could Not Unregister Class.\n");
}

TEST_F(ShellTest, ClassThatCannotBeRegisteredFailsCreationWithItsMessage) {
    ASSERT_TRUE(plat::RegisterWindowClass("OPENGL", 0, PanelWindowProc, nullptr));
    LoadSettings();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CreatePanelWindow("t", 200, 200, false, InitScene));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Failed To Register The Window Class.\n");
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_TRUE(plat::UnregisterWindowClass("OpenGl"));
}

TEST_F(ShellTest, MissingOrBrokenIconIsAnErrorNamingTheFile) {
    LoadSettings();
    std::filesystem::remove(dir_ / "plane2.ico");
    try {
        CreatePanelWindow("t", 200, 200, false, InitScene);
        FAIL() << "no error for a missing icon";
    } catch (const KovexError& e) {
        EXPECT_NE(std::string(e.what()).find("plane2.ico"), std::string::npos);
    }
    std::ofstream(dir_ / "plane2.ico") << "not an icon";
    EXPECT_THROW(CreatePanelWindow("t", 200, 200, false, InitScene), KovexError);
    // Nothing was left registered: a good icon creates the window.
    testutil::WriteTinyIcon(dir_ / "plane2.ico");
    EXPECT_TRUE(CreatePanelWindow("t", 200, 200, false, InitScene));
}

// Catches key, activation and close handling that drifts from the message contract.
TEST_F(ShellTest, ProcedureRecordsKeysActivationAndClose) {
    StartWindow();
    EXPECT_EQ(Send(plat::WM_KEYDOWN, 39), 0);
    EXPECT_TRUE(keyDown[39]);
    Send(plat::WM_KEYUP, 39);
    EXPECT_FALSE(keyDown[39]) << "an arrow counts only while held";
    Send(plat::WM_KEYDOWN, 112);
    Send(plat::WM_KEYUP, 112);
    EXPECT_TRUE(keyDown[112]) << "a command key's press waits for the idle turn";
    Send(plat::WM_ACTIVATE, plat::WA_INACTIVE | (1u << 16));
    EXPECT_FALSE(windowActive);
    Send(plat::WM_ACTIVATE, plat::WA_INACTIVE);  // focus lost to another window
    EXPECT_TRUE(windowActive);
    EXPECT_EQ(Send(plat::WM_SYSCOMMAND, plat::SC_SCREENSAVE), 0);
    EXPECT_EQ(Send(plat::WM_SYSCOMMAND, plat::SC_MONITORPOWER), 0);

    plat::Message msg;
    while (plat::PeekMessage(msg)) {
    }
    EXPECT_EQ(Send(plat::WM_CLOSE), 0);
    ASSERT_TRUE(plat::PeekMessage(msg));
    EXPECT_EQ(msg.message, plat::WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
    int x, y, w, h;
    EXPECT_TRUE(plat::GetClientGeometry(mainWindow, x, y, w, h)) << "close must not destroy the window";
}

// Catches wrong frame arithmetic, missing clamps and a stale in-memory geometry after a report.
TEST_F(ShellTest, MoveAndSizeReportsAreStoredAndReloaded) {
    StartWindow();
    Send(plat::WM_MOVE, 0, Pack(120 + Frame(), 80 + Frame() + Caption()));
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "120");
    EXPECT_EQ(ReadSettingText("WINDOW", "Y", "?"), "80");
    EXPECT_EQ(windowX, 120);
    EXPECT_EQ(windowY, 80);

    Send(plat::WM_MOVE, 0, Pack(40000, 0xFFF0));  // far right, and above the screen
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "0");
    EXPECT_EQ(ReadSettingText("WINDOW", "Y", "?"), "0");

    Send(plat::WM_SIZE, plat::SIZE_RESTORED, Pack(700, 250));
    EXPECT_EQ(ReadSettingText("WINSIZE", "WIDTH", "?"), std::to_string(700 + Frame()));
    EXPECT_EQ(ReadSettingText("WINSIZE", "HEIGHT", "?"), std::to_string(250 + Frame() + Caption()));
    EXPECT_EQ(windowWidth, 700 + Frame());
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 700);
    EXPECT_EQ(viewport[3], 250);
}

TEST_F(ShellTest, ZeroHeightGivesViewportOfOneRowAndFiniteProjection) {
    StartWindow();
    Send(plat::WM_SIZE, plat::SIZE_RESTORED, Pack(500, 0));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[3], 1);
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    for (float v : projection) EXPECT_TRUE(std::isfinite(v));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}

// Catches geometry written while the window is rebuilt, or the minimised window's place being kept.
TEST_F(ShellTest, NothingIsStoredDuringRecreationOrWhileMinimised) {
    StartWindow();
    recreatingWindow = true;
    Send(plat::WM_MOVE, 0, Pack(300, 300));
    Send(plat::WM_SIZE, plat::SIZE_RESTORED, Pack(300, 300));
    recreatingWindow = false;
    EXPECT_FALSE(SettingsExist());

    Send(plat::WM_MOVE, 0, Pack(50 + Frame(), 60 + Frame() + Caption()));
    Send(plat::WM_SIZE, plat::SIZE_RESTORED, Pack(640, 240));
    const std::string stored = Settings();

    Send(plat::WM_ACTIVATE, plat::WA_INACTIVE | (1u << 16));
    Send(plat::WM_MOVE, 0, Pack(-32000, -32000));
    Send(plat::WM_SIZE, plat::SIZE_MINIMIZED, Pack(0, 0));
    EXPECT_EQ(Settings(), stored);
    EXPECT_EQ(windowX, 50);
    EXPECT_EQ(windowWidth, 640 + Frame());

    Send(plat::WM_ACTIVATE, plat::WA_ACTIVE);
    Send(plat::WM_SIZE, plat::SIZE_RESTORED, Pack(660, 240));
    Send(plat::WM_MOVE, 0, Pack(70 + Frame(), 60 + Frame() + Caption()));
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "70");
    EXPECT_EQ(ReadSettingText("WINSIZE", "WIDTH", "?"), std::to_string(660 + Frame()));
}
