// The panel on the FSUIPC road with a real simulator stand-in that starts after the panel.
#include "platform/clock.h"
#include "render/panelframe.h"
#include "shell/KOVEXFuel.h"
#include "shell_fixture.h"
#include "simlink/FPCuser.h"
#include "simlink/panelvariables.h"
#include "tests/faults/panel_driver.h"
#include "tests/simlink/standin.h"

// Catches a panel that shows zeros for ever when the simulator comes after it, one that nags about
// a simulator that is simply not there yet, and a pick-up without the start-up tank read.
TEST_F(ShellTest, SimulatorStartedAfterThePanelIsPickedUpWithinTheRetryTime) {
    PrivateIpcDir ipc;
    SimLinkClose();
    paneldriver::WriteSmallPictures(dir_);
    // A small window: the offscreen driver's swaps never wait, so drawing must keep up by itself.
    WriteSettings("[WINSIZE]\r\nWIDTH=64\r\nHEIGHT=64\r\n");
    FlightSample nothing{};
    ApplySampleToPanel(nothing);
    const PanelValues zero = panelValues;
    mainTankLeftContents = mainTankRightContents = 0;

    testing::internal::CaptureStderr();
    StartWindow(kTitleFsuipc);
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 3000) ASSERT_EQ(RunIdleTurn(kTitleFsuipc), TurnResult::Continue);
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    EXPECT_EQ(panelValues.fuelFlowAngle1, zero.fuelFlowAngle1);

    // Cruise: both engines run, so every needle has somewhere to go.
    StandIn sim({"--start-at", "520"});
    ASSERT_TRUE(sim.ready());
    const std::uint32_t arrived = plat::TickCount();
    while (!simLinkState.areaStart && plat::TickCount() - arrived < 10000) RunIdleTurn(kTitleFsuipc);
    const std::uint32_t tookMs = plat::TickCount() - arrived;
    ASSERT_NE(simLinkState.areaStart, nullptr) << "never picked up";
    EXPECT_LE(tookMs, kSimLinkRetryMs + 1000);
    EXPECT_GT(mainTankLeftContents, 0) << "no start-up tank read at the pick-up";
    EXPECT_GT(mainTankRightContents, 0);
    RunIdleTurn(kTitleFsuipc);
    EXPECT_NE(panelValues.fuelFlowAngle1, zero.fuelFlowAngle1);
    EXPECT_NE(panelValues.oilPressAngle2, zero.oilPressAngle2);
    EXPECT_NE(panelValues.oilTempAngle1, zero.oilTempAngle1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a late simulator is no error";
    DestroyPanelWindow();
    SimLinkClose();
}
