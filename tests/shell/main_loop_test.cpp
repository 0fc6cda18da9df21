// The idle turn's keyboard commands on a real offscreen window, and the loop's orderly end.
#include "platform/window.h"
#include "shell/KOVEXFuel.h"
#include "shell_fixture.h"
#include "simlink/panelvariables.h"

namespace {

constexpr int kEsc = 27, kLeft = 37, kUp = 38, kRight = 39, kDown = 40;
constexpr int kF1 = 112, kF2 = 113, kF9 = 120, kF11 = 122, kF12 = 123;

void ClientGeometry(int& x, int& y, int& w, int& h) { ASSERT_TRUE(plat::GetClientGeometry(mainWindow, x, y, w, h)); }

}  // namespace

// Catches modes that do not exclude each other or keys that act more than once.
TEST_F(ShellTest, F11AndF9ToggleTheirModeAndSwitchTheOtherOff) {
    StartWindow();
    keyDown[kF11] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_TRUE(positionMode);
    EXPECT_FALSE(keyDown[kF11]);
    keyDown[kF9] = true;
    RunIdleTurn("t");
    EXPECT_TRUE(sizeMode);
    EXPECT_FALSE(positionMode);
    keyDown[kF9] = true;
    RunIdleTurn("t");
    EXPECT_FALSE(sizeMode);
    EXPECT_FALSE(positionMode);
}

TEST_F(ShellTest, FuelResetKeysZeroOnlyTheirEngine) {
    StartWindow();
    panelValues.fuelUsed1 = 12.0;
    panelValues.fuelUsed2 = 34.0;
    keyDown[kF2] = true;
    RunIdleTurn("t");
    EXPECT_EQ(panelValues.fuelUsed2, 0.0);
    EXPECT_EQ(panelValues.fuelUsed1, 12.0);
    EXPECT_FALSE(keyDown[kF2]);
    EXPECT_FALSE(resetFuelUsed2) << "the frame consumes the request";
}

// Catches arrows acting outside a mode, or a step that does not go through the file.
TEST_F(ShellTest, ArrowWithoutModeWaitsAndActsOnceAModeIsOn) {
    StartWindow();
    const std::uint32_t generation = panelWindowGeneration;
    keyDown[kRight] = true;
    RunIdleTurn("t");
    RunIdleTurn("t");
    EXPECT_TRUE(keyDown[kRight]) << "a held arrow keeps its flag until a mode is on";
    EXPECT_EQ(panelWindowGeneration, generation);
    EXPECT_FALSE(SettingsExist());

    keyDown[kF11] = true;  // pressed while the arrow is still held: one step in this turn
    RunIdleTurn("t");
    EXPECT_FALSE(keyDown[kRight]);
    EXPECT_EQ(panelWindowGeneration, generation + 1);
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "1");
    EXPECT_EQ(windowX, 1);
    int x, y, w, h;
    ClientGeometry(x, y, w, h);
    EXPECT_EQ(x, 1 + plat::GetSystemMetrics(plat::SM_CXFRAME));
}

TEST_F(ShellTest, PositionStepsReadTheFileAndRecreateOncePerArrow) {
    WriteSettings("[WINDOW]\r\nX=10\r\nY= 20 \r\n");
    StartWindow();
    windowX = 999;  // the step starts from the stored value, not from memory
    const std::uint32_t generation = panelWindowGeneration;
    positionMode = true;
    keyDown[kRight] = keyDown[kLeft] = keyDown[kUp] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_EQ(panelWindowGeneration, generation + 3);
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "10");
    EXPECT_EQ(ReadSettingText("WINDOW", "Y", "?"), "19");
    EXPECT_EQ(windowX, 10);
    EXPECT_EQ(windowY, 19);
}

TEST_F(ShellTest, SizeStepsHaveNoLimitAndResizeTheWindow) {
    WriteSettings("[WINSIZE]\r\nWIDTH=300\r\nHEIGHT=200\r\n");
    StartWindow();
    const std::uint32_t generation = panelWindowGeneration;
    sizeMode = true;
    keyDown[kRight] = keyDown[kDown] = true;
    RunIdleTurn("t");
    EXPECT_EQ(panelWindowGeneration, generation + 2);
    EXPECT_EQ(ReadSettingText("WINSIZE", "WIDTH", "?"), "301");
    EXPECT_EQ(ReadSettingText("WINSIZE", "HEIGHT", "?"), "201");
    int x, y, w, h;
    ClientGeometry(x, y, w, h);
    // The stored size is the outer size: the client area is what the frame and caption leave of it.
    const int frame = plat::GetSystemMetrics(plat::SM_CXFRAME);
    EXPECT_EQ(w, 301 - 2 * frame);
    EXPECT_EQ(h, 201 - 2 * frame - plat::GetSystemMetrics(plat::SM_CYCAPTION));
    keyDown[kUp] = true;
    RunIdleTurn("t");
    EXPECT_EQ(ReadSettingText("WINSIZE", "HEIGHT", "?"), "200");
    EXPECT_EQ(windowHeight, 200);
}

// Catches F12 using the in-memory size or storing the border state.
TEST_F(ShellTest, F12TogglesTheBorderWithTheStoredSize) {
    StartWindow();
    EXPECT_FALSE(borderless);
    WriteSettings("[WINSIZE]\r\nWIDTH=500\r\nHEIGHT=300\r\n");
    keyDown[kF12] = true;
    RunIdleTurn("t");
    EXPECT_TRUE(borderless);
    EXPECT_FALSE(keyDown[kF12]);
    EXPECT_EQ(windowWidth, 500);
    EXPECT_EQ(windowHeight, 300);
    int x, y, w, h;
    ClientGeometry(x, y, w, h);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 300);
    EXPECT_EQ(Settings(), "[WINSIZE]\r\nWIDTH=500\r\nHEIGHT=300\r\n");
}

// Catches Esc cutting the turn short: the other keys of that turn still act.
TEST_F(ShellTest, EscFinishesTheTurnThenEnds) {
    StartWindow();
    panelValues.fuelUsed1 = 5.0;
    keyDown[kEsc] = keyDown[kF1] = keyDown[kF11] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Done);
    EXPECT_EQ(panelValues.fuelUsed1, 0.0) << "the turn's frame still ran";
    EXPECT_TRUE(positionMode);
}

TEST_F(ShellTest, MinimisedWindowSkipsTheFrameButKeepsTurning) {
    StartWindow();
    windowActive = false;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
}

// Catches a loop that leaks the window or class at its end.
TEST_F(ShellTest, MainLoopEndsOnEscAndOnQuitAndReleasesTheWindow) {
    LoadSettings();
    keyDown[kEsc] = true;
    recreatingWindow = true;
    RunMainLoop();
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_EQ(renderContext, nullptr);
    EXPECT_FALSE(SettingsExist());
    ASSERT_TRUE(plat::RegisterWindowClass("OpenGl", 0, PanelWindowProc, nullptr)) << "class left registered";
    ASSERT_TRUE(plat::UnregisterWindowClass("OpenGl"));

    keyDown[kEsc] = false;
    plat::PostQuitMessage(0);
    RunMainLoop();
    EXPECT_EQ(mainWindow, nullptr);
}

// Catches a re-creation failure that is not noticed and leaves the loop running on nothing.
TEST_F(ShellTest, FailedRecreationEndsTheTurnWithoutAWindow) {
    StartWindow();
    std::filesystem::remove(dir_ / "plane2.ico");
    std::ofstream(dir_ / "plane2.ico") << "garbage";
    keyDown[kF12] = true;
    EXPECT_THROW(RunIdleTurn("t"), std::exception);
    EXPECT_EQ(mainWindow, nullptr);
    // A server that cannot be reached fails the creation itself: the turn reports it.
    testutil::WriteTinyIcon(dir_ / "plane2.ico");
    StartWindow();
    useLan = true;
    serverAddress = "127.0.0.1";
    serverPort = "1";
    SelectPanelRoad();
    keyDown[kF12] = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::CreationFailed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: initialization failed.\n");
    useLan = false;
    SelectPanelRoad();
    EXPECT_EQ(mainWindow, nullptr);
}

namespace {

// A key pressed and released before the idle turn looks, as during a slow frame: both messages go
// through the window's queue and procedure first.
void Tap(int key) {
    plat::DispatchMessage(plat::Message{mainWindow, plat::WM_KEYDOWN, static_cast<plat::WParam>(key), 1});
    plat::DispatchMessage(plat::Message{mainWindow, plat::WM_KEYUP, static_cast<plat::WParam>(key), 1});
}

}  // namespace

// Catches taps that are lost because the key was up again before the turn looked, and arrows that
// step without being held.
TEST_F(ShellTest, TapsReleasedBeforeTheTurnAreActedOnAndArrowsAreNot) {
    WriteSettings("[WINDOW]\r\nX=10\r\nY=20\r\n");
    StartWindow();
    panelValues.fuelUsed1 = 7.0;
    panelValues.fuelUsed2 = 8.0;
    for (int key : {kF1, kF2, kF12, kF11}) Tap(key);
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_EQ(panelValues.fuelUsed1, 0.0);
    EXPECT_EQ(panelValues.fuelUsed2, 0.0);
    EXPECT_TRUE(borderless);
    EXPECT_TRUE(positionMode);
    for (int key : {kF1, kF2, kF12, kF11}) EXPECT_FALSE(keyDown[key]) << "acted on once: " << key;

    const std::uint32_t generation = panelWindowGeneration;
    Tap(kRight);
    Tap(kF9);
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_TRUE(sizeMode);
    EXPECT_FALSE(positionMode);
    EXPECT_EQ(panelWindowGeneration, generation) << "a released arrow took a step";
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "10");

    Tap(kEsc);
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Done);
    borderless = false;
}

// Catches a signed overflow at the ends of the stored 32-bit values (the sanitizer build stops on
// it) and a step that does not wrap round as the type does.
TEST_F(ShellTest, StepsAtTheIntegerLimitsWrapRound) {
    WriteSettings("[WINDOW]\r\nX=2147483647\r\nY=-2147483648\r\n[WINSIZE]\r\nWIDTH=-2147483648\r\nHEIGHT=300\r\n");
    StartWindow();
    positionMode = true;
    keyDown[kRight] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    keyDown[kUp] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_EQ(ReadSettingText("WINDOW", "X", "?"), "-2147483648");
    EXPECT_EQ(ReadSettingText("WINDOW", "Y", "?"), "2147483647");
    EXPECT_EQ(windowX, INT32_MIN);
    EXPECT_EQ(windowY, INT32_MAX);
    positionMode = false;
    sizeMode = true;
    keyDown[kLeft] = true;
    EXPECT_EQ(RunIdleTurn("t"), TurnResult::Continue);
    EXPECT_EQ(ReadSettingText("WINSIZE", "WIDTH", "?"), "2147483647");
    EXPECT_EQ(windowWidth, INT32_MAX);
}
