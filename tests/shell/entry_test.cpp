// The program entry: settings errors reach the top-level handler, and the titles are exact.
#include "shell/KOVEXFuel.h"
#include "shell_fixture.h"

// Catches an error escaping the process instead of being shown, and a wrong exit code.
TEST_F(ShellTest, UnconvertibleSettingIsShownAndEndsTheProgram) {
    WriteSettings("[WINSIZE]\r\nWIDTH=\r\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ProgramEntry(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "KOVEXFuel: '' is not a valid integer value\n");
    EXPECT_EQ(mainWindow, nullptr);
}

TEST_F(ShellTest, EscapeGivesExitCodeZero) {
    keyDown[27] = true;
    EXPECT_EQ(ProgramEntry(), 0);
    EXPECT_FALSE(SettingsExist()) << "nothing is written at start or exit";
}

TEST(Titles, AreExact) {
    EXPECT_STREQ(kTitleFsuipc, "Kelvo Oil - Fuel Flow v1.2 - Freeware [FSUIPC]");
    EXPECT_STREQ(kTitleNetwork, "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NETWORK]");
    EXPECT_STREQ(kTitleNotConnected, "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware [NOT CONNECTED]");
}
