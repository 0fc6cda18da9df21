// The panel fed by the test simulators on both roads: X-Plane through kovex-server (network road),
// FlightGear through kovex-simulator (FSUIPC road, the panel's default settings); the needles stand
// at the angles the conversions give for the bridged values.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "simlink/conversions.h"
#include "simlink/panelvariables.h"
#include "tests/bridge/testsims.h"
#include "tests/faults/panel_driver.h"
#include "tests/server/serverprocess.h"
#include "tests/shell/shell_fixture.h"
#include "tests/simlink/standin.h"

namespace {

constexpr double kStartAt = 400.0;

struct Angles {
    float fuelFlow[2], oilPress[2], oilTemp[2];
};

// The needles' angles for the values the bridge serves, through the panel's own conversions.
Angles ExpectedAngles(const Aircraft& aircraft) {
    const Row flow[2] = {{0x0918, "8", "2"}, {0x09B0, "8", "2"}};
    const Row press[2] = {{0x08BA, "2", "6"}, {0x0952, "2", "6"}};
    const Row temp[2] = {{0x08B8, "2", "4"}, {0x0950, "2", "4"}};
    Angles a{};
    for (int n = 0; n < 2; ++n) {
        a.fuelFlow[n] = FuelFlowAngle(FuelFlowKgPerHour(BridgedValue(flow[n], kStartAt, aircraft)));
        a.oilPress[n] = OilPressureAngle(BridgedValue(press[n], kStartAt, aircraft));
        a.oilTemp[n] = OilTemperatureAngle(BridgedValue(temp[n], kStartAt, aircraft));
    }
    return a;
}

// Runs the panel's turns until its needles stand where expected (within tolerance), or 5 s pass.
std::string RunUntilNeedlesAt(const Angles& want, float tolerance) {
    std::string off;
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 5000) {
        paneldriver::DrainMessages();
        EXPECT_EQ(RunIdleTurn(useLan ? kTitleNetwork : kTitleFsuipc), TurnResult::Continue);
        const float got[6] = {panelValues.fuelFlowAngle1, panelValues.fuelFlowAngle2, panelValues.oilPressAngle1,
                              panelValues.oilPressAngle2, panelValues.oilTempAngle1, panelValues.oilTempAngle2};
        const float expected[6] = {want.fuelFlow[0], want.fuelFlow[1], want.oilPress[0],
                                   want.oilPress[1], want.oilTemp[0], want.oilTemp[1]};
        off.clear();
        for (int i = 0; i < 6; ++i)
            if (std::fabs(got[i] - expected[i]) > tolerance)
                off += "needle " + std::to_string(i) + " at " + std::to_string(got[i]) + ", not " +
                       std::to_string(expected[i]) + "\n";
        if (off.empty()) return off;
        plat::SleepMs(10);
    }
    return off;
}

class BridgePanelTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        paneldriver::WriteSmallPictures(dir_);
    }
    void TearDown() override {
        ShellTest::TearDown();
        useLan = false;
    }
};

}  // namespace

// Catches a bridged value that leaves the panel's needles anywhere but where the conversions put
// them: engine 1's 60 psi and 80 C must stand at the printed scale's 60 and 80 marks (the artwork
// draws each mark at the conversion's angle for its value), and engine 2's values beyond the scales
// at the pins just past their ends (102 psi, -35 C), not wrapped round into the other scale.
TEST_F(BridgePanelTest, XPlaneThroughTheServer) {
    TestSim sim("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--oil", "60,80,130,-60"});
    ASSERT_NE(sim.port(), 0) << sim.Log();
    ServerProcess server({"--xplane", "--sim-address", "127.0.0.1:" + std::to_string(sim.port())});
    ASSERT_NE(server.port(), 0) << server.Log();
    ASSERT_TRUE(server.WaitForLog("answers")) << server.Log();
    WriteSettings("[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=" + std::to_string(server.port()) + "\r\n");
    ASSERT_TRUE(paneldriver::StartPanel());
    ASSERT_TRUE(useLan);
    Angles want = ExpectedAngles(Aircraft{});
    want.oilPress[0] = OilPressureAngle(60.0);
    want.oilTemp[0] = OilTemperatureAngle(80.0);
    want.oilPress[1] = OilPressureAngle(102.0);
    want.oilTemp[1] = OilTemperatureAngle(-35.0);
    // One step of an oil word turns a needle by at most 0.023 degrees.
    EXPECT_EQ(RunUntilNeedlesAt(want, 0.03f), "");
}

TEST_F(BridgePanelTest, FlightGearThroughTheStandIn) {
    PrivateIpcDir ipc;
    TestSim sim("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt)});
    ASSERT_NE(sim.port(), 0) << sim.Log();
    StandIn standIn({"--flightgear", "--sim-address", "127.0.0.1:" + std::to_string(sim.port())});
    ASSERT_TRUE(standIn.ready());
    ASSERT_TRUE(paneldriver::StartPanel());
    ASSERT_FALSE(useLan);
    Aircraft fg;
    fg.fromFlightGear = true;
    // Six decimals of FlightGear's text and a rounded oil word move a needle by well under 0.1 degree.
    EXPECT_EQ(RunUntilNeedlesAt(ExpectedAngles(fg), 0.1f), "");
}
