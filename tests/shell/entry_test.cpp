// The program entry: settings errors reach the top-level handler, and the titles are exact.
#include "shell/KOVEXFuel.h"
#include "platform/window.h"
#include "shell_fixture.h"

// Catches an error escaping the process instead of being shown, and a wrong exit code.
TEST_F(ShellTest, UnconvertibleSettingIsShownAndEndsTheProgram) {
    WriteSettings("[WINSIZE]\r\nWIDTH=\r\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), kExitError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KOVEXFuel: '' is not a valid integer value\n");
    EXPECT_EQ(mainWindow, nullptr);
}

TEST_F(ShellTest, EscapeGivesExitCodeZero) {
    keyDown[27] = true;
    EXPECT_EQ(ProgramEntry(), 0);
    EXPECT_FALSE(SettingsExist()) << "nothing is written at start or exit";
}

// Catches a failed start reported as success: the window's own failures end with their own code.
TEST_F(ShellTest, WindowThatCannotBeMadeGivesItsExitCode) {
    ASSERT_TRUE(plat::RegisterWindowClass("OPENGL", 0, PanelWindowProc, nullptr));  // the name is taken
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), kExitNoWindow);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Failed To Register The Window Class.\n");
    ASSERT_TRUE(plat::UnregisterWindowClass("OPENGL"));
}

// Catches a release failure that goes unreported to the caller, which turns it into the exit code.
TEST_F(ShellTest, ReleaseFailureIsReportedToTheCaller) {
#ifdef _WIN32
    GTEST_SKIP() << "the desktop refuses to unregister a class while its window lives";
#endif
    StartWindow();
    ASSERT_TRUE(plat::UnregisterWindowClass("OpenGl"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DestroyPanelWindow());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SHUTDOWN ERROR: Could Not Unregister Class.\n");
    StartWindow();
    EXPECT_TRUE(DestroyPanelWindow());
}

TEST(Titles, AreExact) {
    EXPECT_STREQ(kTitleFsuipc, "Kelvo Oil - Fuel Flow v1.2 - Freeware [FSUIPC]");
    EXPECT_STREQ(kTitleNetwork, "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NETWORK]");
    EXPECT_STREQ(kTitleNotConnected, "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NOT CONNECTED]");
}
