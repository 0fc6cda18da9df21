// End-to-end tests of kovex-server --fsuipc: values bridged from the simulator stand-in over the FSUIPC link;
// and the stand-in's own word when it cannot own its window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "tests/server/panelrows.h"
#include "tests/server/serverprocess.h"
#include "tests/simlink/standin.h"
#include "tools/server/probe.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr double kStartAt = 300.0;

std::string Ask(ProbeClient& client, const std::string& request) {
    std::string reply;
    EXPECT_EQ(ProbeRoundTrip(client, request, kWaitMs, reply), ProbeResult::Ok) << request;
    return reply;
}

// Asks for the fuel flow until it stops reading 0 or the time runs out.
bool WaitForLiveValue(ProbeClient& client, std::uint32_t timeoutMs) {
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < timeoutMs) {
        if (Ask(client, "2328,8,2") != "0") return true;
        plat::SleepMs(20);
    }
    return false;
}

}  // namespace

// Catches the bridge reading the wrong bytes, or answering from anywhere but the simulator.
TEST(ServerFsuipcTest, PanelTablesBridgedFromTheSimulator) {
    PrivateIpcDir dir;
    StandIn simulator({"--time-scale", "0", "--start-at", std::to_string(kStartAt)});
    ASSERT_TRUE(simulator.ready());
    ServerProcess server({"--fsuipc"});
    ASSERT_NE(server.port(), 0) << server.Log();
    EXPECT_TRUE(server.WaitForLog("simulator link open")) << server.Log();
    ProbeClient client;
    std::string error;
    ASSERT_TRUE(ProbeConnect(client, "127.0.0.1", server.port(), error)) << error;
    int nonZero = 0;
    for (const Row& row : kPanelRows) {
        const std::string reply = Ask(client, RequestText(row));
        const double expected = Expected(row, kStartAt);
        EXPECT_TRUE(ReplyMatches(row, reply, expected)) << RequestText(row) << " -> " << reply;
        if (expected != 0.0) ++nonZero;
    }
    EXPECT_GE(nonZero, 12);
    // Several clients' requests of one turn travel in one exchange; each still gets its own value.
    std::vector<ProbeClient> more(5);
    for (ProbeClient& c : more) ASSERT_TRUE(ProbeConnect(c, "127.0.0.1", server.port(), error)) << error;
    for (std::size_t i = 0; i < more.size(); ++i)
        ASSERT_EQ(ProbeSendRequest(more[i], RequestText(kPanelRows[i]), kWaitMs), ProbeResult::Ok);
    for (std::size_t i = 0; i < more.size(); ++i) {
        std::string reply;
        ASSERT_EQ(ProbeReceive(more[i], '\0', kWaitMs, reply), ProbeResult::Ok);
        EXPECT_TRUE(ReplyMatches(kPanelRows[i], reply, Expected(kPanelRows[i], kStartAt))) << reply;
        ProbeClose(more[i]);
    }
    // Out of range never reaches the simulator.
    EXPECT_EQ(Ask(client, "65535,2,6"), "0");
    ProbeClose(client);
    EXPECT_EQ(server.Terminate(), 0);
}

// Catches a bridge that dies or hangs with its simulator, or never finds one that starts late.
TEST(ServerFsuipcTest, SimulatorComingAndGoing) {
    PrivateIpcDir dir;
    ServerProcess server({"--fsuipc"});
    ASSERT_NE(server.port(), 0) << server.Log();
    EXPECT_TRUE(server.WaitForLog("no simulator link")) << server.Log();
    ProbeClient client;
    std::string error;
    ASSERT_TRUE(ProbeConnect(client, "127.0.0.1", server.port(), error)) << error;
    EXPECT_EQ(Ask(client, "2328,8,2"), "0");
    {
        StandIn simulator({"--time-scale", "0", "--start-at", std::to_string(kStartAt)});
        ASSERT_TRUE(simulator.ready());
        EXPECT_TRUE(WaitForLiveValue(client, 5000)) << server.Log();
        simulator.Kill();
    }
    EXPECT_EQ(Ask(client, "2328,8,2"), "0");
    EXPECT_TRUE(server.WaitForLog("simulator link lost")) << server.Log();
    EXPECT_TRUE(server.Running());
    ProbeClose(client);
    EXPECT_EQ(server.Terminate(), 0);
}

// Catches the stand-in blaming another simulator when its rendezvous folder is what stands in the way.
TEST(StandInStartTest, UnusableRendezvousFolderIsNamed) {
    namespace fs = std::filesystem;
    PrivateIpcDir dir;
    const std::string standIn = KOVEX_BIN_DIR "/kovex-simulator";
    const std::string prefix = "kovex-simulator: cannot own the window class UIPCMAIN";
    std::string output;
    {
        StandIn first({"--time-scale", "0"});
        ASSERT_TRUE(first.ready());
        EXPECT_EQ(RunToEnd({standIn, "--lifetime", "5"}, output), 1);
        output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());  // Windows text mode
        EXPECT_EQ(output, prefix + " (is another simulator running?)\n");
    }
#ifndef _WIN32  // the desktop's windows need no folder

    const std::string real = dir.path() + "/real";
    const std::string link = dir.path() + "/link";
    fs::create_directory(real);
    fs::create_directory_symlink(real, link);
    plat::SetEnvironmentVariable("KOVEX_IPC_DIR", link.c_str());
    EXPECT_EQ(RunToEnd({standIn, "--lifetime", "5"}, output), 1);
    EXPECT_EQ(output, prefix + ": the rendezvous folder " + link + " is a symbolic link\n");

    // Giving a folder away takes root; elsewhere this case cannot be made.
    const std::string theirs = dir.path() + "/theirs";
    fs::create_directory(theirs);
    if (std::system(("chown 65534 '" + theirs + "' 2>/dev/null").c_str()) == 0) {
        plat::SetEnvironmentVariable("KOVEX_IPC_DIR", theirs.c_str());
        EXPECT_EQ(RunToEnd({standIn, "--lifetime", "5"}, output), 1);
        EXPECT_EQ(output, prefix + ": the rendezvous folder " + theirs + " belongs to another user (uid 65534)\n");
    }
    plat::SetEnvironmentVariable("KOVEX_IPC_DIR", dir.path().c_str());
#endif
}
