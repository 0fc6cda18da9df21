// kovex-server --xplane and --flightgear against the test simulators: the values and their units, a
// simulator that starts late, quits, comes back, falls silent or stalls, and one that sends garbage
// or floods.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "tests/bridge/testsims.h"
#include "tests/server/serverprocess.h"
#include "tools/server/probe.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr std::uint32_t kRowsMs = 30000;  // only a failing run waits this out
constexpr double kStartAt = 400.0;  // climbing: every engine value is far from 0
constexpr Row kFuelFlow1 = {0x0918, "8", "2"};

std::string Ask(ProbeClient& client, const std::string& request) {
    std::string reply;
    EXPECT_EQ(ProbeRoundTrip(client, request, kWaitMs, reply), ProbeResult::Ok) << request;
    return reply;
}

struct Connected {
    explicit Connected(std::uint16_t port) {
        std::string error;
        EXPECT_TRUE(ProbeConnect(client, "127.0.0.1", port, error)) << error;
    }
    ~Connected() { ProbeClose(client); }
    ProbeClient client;
};

// Asks for engine 1's fuel flow until it is (or is not) 0, or the time runs out.
bool WaitForFlow(ProbeClient& client, bool live, std::uint32_t timeoutMs) {
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < timeoutMs) {
        if ((Ask(client, RequestText(kFuelFlow1)) != "0") == live) return true;
        plat::SleepMs(20);
    }
    return false;
}

// Every panel row as the bridge must serve it, the oil rows as the dials must read them; a text per
// row that is off, empty when all are right.
std::string Mismatches(ProbeClient& client, const Aircraft& aircraft) {
    std::string wrong;
    for (const Row& row : kPanelRows) {
        const std::string reply = Ask(client, RequestText(row));
        const double expected = BridgedValue(row, kStartAt, aircraft);
        const double got = DialReading(row, std::strtod(reply.c_str(), nullptr));
        // Text carries FlightGear's values with six decimals; tank levels pass through 32-bit floats;
        // an oil word reads within one of its steps.
        const bool tank = row.offset >= 0x0B7C && row.offset <= 0x0B98;
        const double slack = std::string(row.kind) == "2" ? (aircraft.fromFlightGear ? 1e-4 : 1e-9)
                             : IsOilRow(row)                ? DialReading(row, 1.0)
                             : aircraft.fromFlightGear || tank ? 1.0
                                                               : 0.0;
        if (std::fabs(got - expected) > slack)
            wrong += RequestText(row) + " gave " + reply + " (reads " + std::to_string(got) + "), not " +
                     std::to_string(expected) + "\n";
    }
    return wrong;
}

// Mismatches once every row has arrived (the flight is frozen, so they then stay right), or those
// still off when the time runs out: rows come in separately, each when its subscription is answered.
std::string RowsOnceArrived(ProbeClient& client, const Aircraft& aircraft) {
    const std::uint32_t start = plat::TickCount();
    std::string wrong = Mismatches(client, aircraft);
    while (!wrong.empty() && plat::TickCount() - start < kRowsMs) {
        plat::SleepMs(50);
        wrong = Mismatches(client, aircraft);
    }
    return wrong;
}

// What a server's oil temperature row reads.
double OilTemperature(ProbeClient& client) {
    return DialReading({0x08B8, "2", "4"}, std::strtod(Ask(client, "2232,2,4").c_str(), nullptr));
}

// Complaints are rationed to one a second. Watched for a few seconds (a rate needs a span, so this
// wait is the measurement), a server must show no more than one a second since it started, however
// long the busy machine took to get here.
// A server that drains a flood before answering stalls for seconds; a slow, busy machine (or Wine)
// can still take a scheduling hiccup of a few hundred milliseconds.
constexpr std::uint32_t kFloodBoundMs = 1000;

void ExpectRationed(const ServerProcess& server, const std::string& complaint, std::uint32_t started) {
    const std::uint32_t watching = plat::TickCount();
    while (plat::TickCount() - watching < 3000) plat::SleepMs(50);
    EXPECT_LE(CountOf(server.Log(), complaint), static_cast<int>((plat::TickCount() - started) / 1000) + 2)
        << server.Log();
}

std::string SimAddress(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

}  // namespace

// Catches wrong units, encodings or offsets, oil values the dials misread, an engine the aircraft
// lacks shown running, and oil temperatures in Fahrenheit taken for Celsius.
TEST(BridgeServerTest, XPlaneValuesInThePanelsEncodings) {
    TestSim twin("kovex-test-xplane", {"--start-at", std::to_string(kStartAt)});
    ASSERT_NE(twin.port(), 0) << twin.Log();
    ServerProcess server({"--xplane", "--sim-address", SimAddress(twin.port())});
    ASSERT_NE(server.port(), 0) << server.Log();
    Connected c(server.port());
    ASSERT_TRUE(WaitForFlow(c.client, true, kWaitMs)) << server.Log();
    EXPECT_EQ(RowsOnceArrived(c.client, Aircraft{}), "");
    EXPECT_TRUE(server.WaitForLog("answers; its values are served")) << server.Log();

    TestSim single("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--engines", "1", "--oil-in-f"});
    ServerProcess singleServer({"--xplane", "--sim-address", SimAddress(single.port())});
    Connected s(singleServer.port());
    ASSERT_TRUE(WaitForFlow(s.client, true, kWaitMs)) << singleServer.Log();
    Aircraft one;
    one.engines = 1;
    EXPECT_EQ(RowsOnceArrived(s.client, one), "");
}

// Catches a bridge that must be started after the simulator, that never notices it leave, that
// needs a restart of its own when the simulator restarts, or that stays away after a silence.
TEST(BridgeServerTest, XPlaneStartingLateQuittingAndFallingSilent) {
    const std::uint16_t port = FreeUdpPort();
    ServerProcess server({"--xplane", "--sim-address", SimAddress(port)});
    ASSERT_NE(server.port(), 0) << server.Log();
    EXPECT_TRUE(server.WaitForLog("waiting for its values")) << server.Log();
    Connected c(server.port());
    plat::SleepMs(300);
    EXPECT_EQ(Ask(c.client, RequestText(kFuelFlow1)), "0");
    {
        TestSim late("kovex-test-xplane", {"--start-at", std::to_string(kStartAt)}, port);
        ASSERT_EQ(late.port(), port) << late.Log();
        ASSERT_TRUE(WaitForFlow(c.client, true, 4000)) << server.Log();
        late.Kill();
        ASSERT_TRUE(WaitForFlow(c.client, false, 4000)) << server.Log();
        EXPECT_TRUE(server.WaitForLog("went away", 1)) << server.Log();
    }
    TestSim again("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--silent-after", "1", "--silent-for", "3"}, port);
    ASSERT_TRUE(WaitForFlow(c.client, true, 4000)) << server.Log() << again.Log();
    EXPECT_TRUE(server.WaitForLog("came back", 1)) << server.Log();
    // The silence: gone after 2 s without values, back when they flow again.
    ASSERT_TRUE(WaitForFlow(c.client, false, 4000)) << server.Log();
    ASSERT_TRUE(WaitForFlow(c.client, true, 4000)) << server.Log() << again.Log();
    EXPECT_EQ(CountOf(server.Log(), "went away"), 2) << server.Log();
    EXPECT_EQ(CountOf(server.Log(), "came back"), 2) << server.Log();
}

// Catches garbage taken for values, wild values reaching the panel untamed, a log flooded with
// complaints, and a flooding simulator stalling the server's clients.
TEST(BridgeServerTest, XPlaneGarbageWildValuesAndFlood) {
    TestSim garbage("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--garbage"});
    const std::uint32_t started = plat::TickCount();
    ServerProcess server({"--xplane", "--sim-address", SimAddress(garbage.port())});
    Connected c(server.port());
    ASSERT_TRUE(WaitForFlow(c.client, true, kWaitMs)) << server.Log();
    EXPECT_EQ(RowsOnceArrived(c.client, Aircraft{}), "");
    EXPECT_TRUE(server.WaitForLog("more problems in the last second", 1, static_cast<int>(kRowsMs))) << server.Log();
    EXPECT_GE(CountOf(server.Log(), "ignored"), 2) << server.Log();
    ExpectRationed(server, "ignored", started);

    TestSim wild("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--wild"});
    ServerProcess wildServer({"--xplane", "--sim-address", SimAddress(wild.port())});
    Connected w(wildServer.port());
    ASSERT_TRUE(wildServer.WaitForLog("answers")) << wildServer.Log();
    // The wild oil temperature arriving shows the values flow; the others must then read 0.
    const double step = DialReading({0x08B8, "2", "4"}, 1.0);
    double hot = OilTemperature(w.client);
    for (const std::uint32_t start = plat::TickCount(); std::fabs(hot - 145.0) > step && plat::TickCount() - start < kRowsMs;
         hot = OilTemperature(w.client))
        plat::SleepMs(50);
    EXPECT_NEAR(hot, 145.0, step) << "an oil temperature far beyond the scale";
    EXPECT_EQ(Ask(w.client, "2328,8,2"), "0") << "a negative flow";
    EXPECT_EQ(Ask(w.client, "2234,2,6"), "0") << "NaN oil pressure";
    EXPECT_EQ(Ask(w.client, "2196,2,6"), "0") << "an infinite running flag";

    TestSim flood("kovex-test-xplane", {"--start-at", std::to_string(kStartAt), "--flood"});
    ServerProcess floodServer({"--xplane", "--sim-address", SimAddress(flood.port())});
    Connected f(floodServer.port());
    ASSERT_TRUE(WaitForFlow(f.client, true, kWaitMs)) << floodServer.Log();
    std::uint32_t slowest = 0;
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t start = plat::TickCount();
        Ask(f.client, RequestText(kPanelRows[i % 14]));
        slowest = std::max(slowest, plat::TickCount() - start);
    }
    EXPECT_LT(slowest, kFloodBoundMs) << "the flood held requests up";
    EXPECT_EQ(Mismatches(f.client, Aircraft{}), "");
}

// Catches wrong units or a missing fallback to the flow in gallons, and an absent engine served.
TEST(BridgeServerTest, FlightGearValuesInThePanelsEncodings) {
    TestSim twin("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt)});
    ASSERT_NE(twin.port(), 0) << twin.Log();
    ServerProcess server({"--flightgear", "--sim-address", SimAddress(twin.port())});
    Connected c(server.port());
    ASSERT_TRUE(WaitForFlow(c.client, true, kWaitMs)) << server.Log();
    Aircraft fg;
    fg.fromFlightGear = true;
    EXPECT_EQ(RowsOnceArrived(c.client, fg), "");

    TestSim single("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt), "--engines", "1", "--no-pph"});
    ServerProcess singleServer({"--flightgear", "--sim-address", SimAddress(single.port())});
    Connected s(singleServer.port());
    ASSERT_TRUE(WaitForFlow(s.client, true, kWaitMs)) << singleServer.Log();
    fg.engines = 1;
    EXPECT_EQ(RowsOnceArrived(s.client, fg), "");
}

// Catches a bridge that gives up on a simulator that is not there yet, never notices it quit,
// stall or close mid-line, or needs restarting itself.
TEST(BridgeServerTest, FlightGearStartingLateQuittingStallingAndCutting) {
    const std::uint16_t port = FreeTcpPort();
    ServerProcess server({"--flightgear", "--sim-address", SimAddress(port)});
    ASSERT_NE(server.port(), 0) << server.Log();
    EXPECT_TRUE(server.WaitForLog("fgfs --telnet=" + std::to_string(port))) << server.Log();
    Connected c(server.port());
    plat::SleepMs(700);  // a few refused connects
    EXPECT_EQ(Ask(c.client, RequestText(kFuelFlow1)), "0");
    {
        TestSim late("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt)}, port);
        ASSERT_EQ(late.port(), port) << late.Log();
        ASSERT_TRUE(WaitForFlow(c.client, true, 6000)) << server.Log();
        late.Kill();
        ASSERT_TRUE(WaitForFlow(c.client, false, 3000)) << server.Log();
        EXPECT_TRUE(server.WaitForLog("went away (closed the connection)")) << server.Log();
    }
    {
        TestSim stalling("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt), "--stall-after", "1.5"}, port);
        ASSERT_TRUE(WaitForFlow(c.client, true, 10000)) << server.Log();
        EXPECT_TRUE(server.WaitForLog("came back", 1)) << server.Log();
        ASSERT_TRUE(WaitForFlow(c.client, false, 14000)) << server.Log();
        EXPECT_TRUE(server.WaitForLog("went away (stopped answering)")) << server.Log();
    }
    TestSim cutting("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt), "--cut-after", "2"}, port);
    ASSERT_TRUE(WaitForFlow(c.client, true, 12000)) << server.Log();
    EXPECT_TRUE(server.WaitForLog("went away (closed the connection in the middle of a line)", 1, 5000)) << server.Log();
    EXPECT_EQ(Ask(c.client, RequestText(kFuelFlow1)), "0");
}

// Catches overlong lines breaking the order of answers, and unasked lines stalling the server or
// flooding its log.
TEST(BridgeServerTest, FlightGearGarbageAndFlood) {
    TestSim garbage("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt), "--garbage"});
    const std::uint32_t started = plat::TickCount();
    ServerProcess server({"--flightgear", "--sim-address", SimAddress(garbage.port())});
    Connected c(server.port());
    ASSERT_TRUE(WaitForFlow(c.client, true, kWaitMs)) << server.Log();
    EXPECT_TRUE(server.WaitForLog("ignored a line longer than", 1, static_cast<int>(kRowsMs))) << server.Log();
    ExpectRationed(server, "ignored a line longer than", started);

    TestSim flood("kovex-test-flightgear", {"--start-at", std::to_string(kStartAt), "--flood"});
    const std::uint32_t floodStarted = plat::TickCount();
    ServerProcess floodServer({"--flightgear", "--sim-address", SimAddress(flood.port())});
    Connected f(floodServer.port());
    std::uint32_t slowest = 0;
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 3000) {
        const std::uint32_t asked = plat::TickCount();
        Ask(f.client, RequestText(kFuelFlow1));
        slowest = std::max(slowest, plat::TickCount() - asked);
    }
    EXPECT_LT(slowest, kFloodBoundMs) << "the flood held requests up";
    // A flood line is unasked when it comes between answers and a wrong answer when it comes in place of
    // one: which of the two depends on the machine's pace, so either complaint counts, rationed.
    EXPECT_TRUE(floodServer.WaitForLog("nobody asked for")) << floodServer.Log();
    ExpectRationed(floodServer, "nobody asked for", floodStarted);
}
