// kovex-server --auto in a network namespace of its own: X-Plane found by its beacon among garbage
// ones, lost and found again on another port; FlightGear found on its port after the server started;
// and which one wins when both are there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "tests/bridge/testsims.h"
#include "tests/server/serverprocess.h"
#include "tools/server/probe.h"
#include "tests/bridge/netns_check.h"

namespace {

constexpr int kWaitMs = 8000;
constexpr Row kFuelFlow1 = {0x0918, "8", "2"};
constexpr double kXPlaneAt = 400.0;  // the simulators' flights, each with its own fuel flow
constexpr double kFlightGearAt = 900.0;
const std::vector<std::string> kServerArgs = {"--auto", "--start-at", "200", "--time-scale", "0"};

// Beacons ten times a second from 127.0.0.1 (the namespace's loopback has no other address).
std::vector<std::string> BeaconingXPlane(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--start-at", std::to_string(kXPlaneAt), "--beacon", "100", "--beacon-interface",
                                  "127.0.0.1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

double XPlaneFlow() { return BridgedValue(kFuelFlow1, kXPlaneAt, Aircraft{}); }
double FlightGearFlow() {
    Aircraft fg;
    fg.fromFlightGear = true;
    return BridgedValue(kFuelFlow1, kFlightGearAt, fg);
}

class AutoTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string outside = nettest::OutsideNetnsReason();
        if (!outside.empty()) GTEST_SKIP() << outside;
        ASSERT_GT(std::fabs(XPlaneFlow() - FlightGearFlow()), 1.0) << "the flights must tell the simulators apart";
    }

    // Engine 1's fuel flow as the server answers it, 0 when it does not answer.
    static double Flow(std::uint16_t port) {
        ProbeClient client;
        std::string error, reply;
        if (!ProbeConnect(client, "127.0.0.1", port, error)) return -1.0;
        const bool ok = ProbeRoundTrip(client, RequestText(kFuelFlow1), kWaitMs, reply) == ProbeResult::Ok;
        ProbeClose(client);
        return ok ? std::strtod(reply.c_str(), nullptr) : -1.0;
    }

    // Asks until the flow is near expected, or the time runs out; the last flow seen in last.
    static bool WaitForFlow(std::uint16_t port, double expected, double& last) {
        const std::uint32_t start = plat::TickCount();
        do {
            last = Flow(port);
            if (std::fabs(last - expected) < 1e-3) return true;
            plat::SleepMs(20);
        } while (plat::TickCount() - start < static_cast<std::uint32_t>(kWaitMs));
        return false;
    }
};

std::string Found(const TestSim& sim) {
    return "X-Plane found by its beacon at 127.0.0.1:" + std::to_string(sim.port()) + " (";
}

}  // namespace

// Catches garbage beacons followed, a beacon not heard on the loopback interface, an X-Plane that
// quits and is still served, and one that comes back on another port and is not found again.
TEST_F(AutoTest, XPlaneFoundByItsBeaconLostAndFoundOnAnotherPort) {
    ServerProcess server(kServerArgs);
    ASSERT_NE(server.port(), 0) << server.Log();
    ASSERT_TRUE(server.WaitForLog("auto: no simulator found yet; serving the built-in flight model")) << server.Log();
    const double model = Flow(server.port());
    EXPECT_GT(model, 0.0) << "the built-in model is served until a simulator is found";
    EXPECT_GT(std::fabs(model - XPlaneFlow()), 1.0);

    double flow = 0.0;
    {
        // Its first rounds are malformed beacons and beacons of an external visual, naming another port.
        TestSim first("kovex-test-xplane", BeaconingXPlane({"--garbage-beacons", "3"}));
        ASSERT_NE(first.port(), 0) << first.Log();
        ASSERT_TRUE(WaitForFlow(server.port(), XPlaneFlow(), flow)) << flow << "\n" << server.Log() << first.Log();
        EXPECT_NE(first.Log().find("garbage beacons sent, round 3\nbeacon sent"), std::string::npos) << first.Log();
        EXPECT_EQ(CountOf(server.Log(), "X-Plane found by its beacon"), 1) << server.Log();
        EXPECT_NE(server.Log().find(Found(first)), std::string::npos) << server.Log();
        EXPECT_NE(server.Log().find("auto: ignored a beacon from 127.0.0.1: "), std::string::npos) << server.Log();
        first.Kill();
        ASSERT_TRUE(WaitForFlow(server.port(), 0.0, flow)) << flow << "\n" << server.Log();
        EXPECT_TRUE(server.WaitForLog("went away")) << server.Log();
    }
    TestSim again("kovex-test-xplane", BeaconingXPlane());
    ASSERT_NE(again.port(), 0) << again.Log();
    ASSERT_TRUE(WaitForFlow(server.port(), XPlaneFlow(), flow)) << flow << "\n" << server.Log() << again.Log();
    EXPECT_NE(server.Log().find(Found(again)), std::string::npos) << server.Log();
    EXPECT_EQ(CountOf(server.Log(), "X-Plane found by its beacon"), 2) << server.Log();
}

// Catches a probe that gives up on a FlightGear that starts after the server, an X-Plane that takes
// over from a FlightGear that answers, and no X-Plane taken up once FlightGear goes.
TEST_F(AutoTest, FlightGearFoundAfterTheServerThenXPlaneWhenItGoes) {
    ServerProcess server(kServerArgs);
    ASSERT_NE(server.port(), 0) << server.Log();
    ASSERT_TRUE(server.WaitForLog("auto: no simulator found yet")) << server.Log();
    double flow = 0.0;
    TestSim flightgear("kovex-test-flightgear", {"--start-at", std::to_string(kFlightGearAt)}, 5401);
    ASSERT_EQ(flightgear.port(), 5401) << flightgear.Log();
    ASSERT_TRUE(WaitForFlow(server.port(), FlightGearFlow(), flow)) << flow << "\n" << server.Log();
    EXPECT_TRUE(server.WaitForLog("auto: FlightGear found: its property server answers at 127.0.0.1:5401")) << server.Log();

    TestSim xplane("kovex-test-xplane", BeaconingXPlane());
    ASSERT_NE(xplane.port(), 0) << xplane.Log();
    ASSERT_TRUE(server.WaitForLog("X-Plane at 127.0.0.1:" + std::to_string(xplane.port()) + " announced itself; staying"))
        << server.Log();
    EXPECT_NEAR(Flow(server.port()), FlightGearFlow(), 1e-3) << server.Log();

    flightgear.Kill();
    ASSERT_TRUE(WaitForFlow(server.port(), XPlaneFlow(), flow)) << flow << "\n" << server.Log();
    EXPECT_TRUE(server.WaitForLog("FlightGear at 127.0.0.1:5401: went away")) << server.Log();
    EXPECT_NE(server.Log().find(Found(xplane)), std::string::npos) << server.Log();
}

// Catches FlightGear's probe winning over X-Plane's beacon when both run as the server starts.
TEST_F(AutoTest, XPlaneWinsWhenBothAreThereAtStart) {
    TestSim flightgear("kovex-test-flightgear", {"--start-at", std::to_string(kFlightGearAt)}, 5401);
    ASSERT_EQ(flightgear.port(), 5401) << flightgear.Log();
    TestSim xplane("kovex-test-xplane", BeaconingXPlane());
    ASSERT_NE(xplane.port(), 0) << xplane.Log();
    ServerProcess server(kServerArgs);
    ASSERT_NE(server.port(), 0) << server.Log();
    double flow = 0.0;
    ASSERT_TRUE(WaitForFlow(server.port(), XPlaneFlow(), flow)) << flow << "\n" << server.Log();
    EXPECT_EQ(server.Log().find("FlightGear found"), std::string::npos) << server.Log();
}
