// End-to-end tests of kovex-server: the real process on loopback, answered by the frozen flight model.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "tests/server/panelrows.h"
#include "tests/server/serverprocess.h"
#include "tools/server/probe.h"

namespace {

constexpr int kWaitMs = 5000;
constexpr double kStartAt = 300.0;  // both engines running, oil warm

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Frozen() { return {"--time-scale", "0", "--start-at", std::to_string(kStartAt)}; }

void Connect(ProbeClient& client, const ServerProcess& server) {
    std::string error;
    ASSERT_TRUE(ProbeConnect(client, "127.0.0.1", server.port(), error)) << error;
}

std::string Ask(ProbeClient& client, const std::string& request) {
    std::string reply;
    EXPECT_EQ(ProbeRoundTrip(client, request, kWaitMs, reply), ProbeResult::Ok) << request;
    return reply;
}

// True when the server has closed the connection (it then answers nothing more).
bool ClosedByServer(ProbeClient& client) {
    std::string reply;
    return ProbeReceive(client, '\0', kWaitMs, reply) == ProbeResult::Closed;
}

}  // namespace

// Catches values read at the wrong offset, with the wrong type, or formatted so they do not read back.
TEST(ServerProcessTest, PanelTablesAnsweredWithModelValues) {
    ServerProcess server(Frozen());
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient client;
    Connect(client, server);
    int nonZero = 0;
    for (int round = 0; round < 2; ++round)
        for (const Row& row : kPanelRows) {
            const std::string reply = Ask(client, RequestText(row));
            const double expected = Expected(row, kStartAt);
            EXPECT_TRUE(ReplyMatches(row, reply, expected)) << RequestText(row) << " -> " << reply;
            if (expected != 0.0) ++nonZero;
        }
    // Fuel flows, oil words, combustion flags and tank values of a running aircraft are not zero.
    EXPECT_GE(nonZero, 2 * 12);
    ProbeClose(client);
}

// Catches framing that assumes one request per read: requests joined, split, and both at once.
TEST(ServerProcessTest, RequestsJoinedAndSplitAcrossWrites) {
    ServerProcess server(Frozen());
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient client;
    Connect(client, server);
    const std::string flow = Ask(client, "2328,8,2");
    const std::string temp = Ask(client, "2232,2,4");

    const std::string two = std::string("2328,8,2") + '\0' + "2232,2,4" + '\0';
    ASSERT_EQ(ProbeSend(client, two.data(), two.size(), kWaitMs), ProbeResult::Ok);
    std::string reply;
    ASSERT_EQ(ProbeReceive(client, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, flow);
    ASSERT_EQ(ProbeReceive(client, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, temp);

    for (const char* piece : {"23", "28,8", ",2"}) {
        ASSERT_EQ(ProbeSend(client, piece, std::strlen(piece), kWaitMs), ProbeResult::Ok);
        plat::SleepMs(20);
    }
    ASSERT_EQ(ProbeSend(client, "\0", 1, kWaitMs), ProbeResult::Ok);
    ASSERT_EQ(ProbeReceive(client, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, flow);

    // A whole request and the start of the next in one write, the rest later.
    const std::string first = std::string("2232,2,4") + '\0' + "2328,";
    ASSERT_EQ(ProbeSend(client, first.data(), first.size(), kWaitMs), ProbeResult::Ok);
    ASSERT_EQ(ProbeReceive(client, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, temp);
    ASSERT_EQ(ProbeSend(client, "8,2", 4, kWaitMs), ProbeResult::Ok);
    ASSERT_EQ(ProbeReceive(client, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, flow);
    ProbeClose(client);
}

// Catches a bad request crashing the server, being answered when it should close, or the reverse.
TEST(ServerProcessTest, BadRequestsFollowTheRules) {
    ServerProcess server(Frozen());
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient client;
    Connect(client, server);
    // Well formed but unservable: "0", and the connection goes on.
    EXPECT_EQ(Ask(client, "65536,1,3"), "0");
    EXPECT_EQ(Ask(client, "65535,2,6"), "0");
    EXPECT_EQ(Ask(client, "2328,8,9"), "0");
    EXPECT_EQ(Ask(client, "2328,0,2"), "0");
    const std::string flow = Ask(client, "2328,8,2");
    EXPECT_NE(flow, "0");
    // The longest request that is still waited for.
    EXPECT_EQ(Ask(client, std::string(56, '0') + "2328,8,2"), flow);

    ProbeClient garbage;
    Connect(garbage, server);
    ASSERT_EQ(ProbeSendRequest(garbage, "hello", kWaitMs), ProbeResult::Ok);
    EXPECT_TRUE(ClosedByServer(garbage));
    ProbeClose(garbage);

    ProbeClient blanks;
    Connect(blanks, server);
    ASSERT_EQ(ProbeSendRequest(blanks, " 2328,8,2", kWaitMs), ProbeResult::Ok);
    EXPECT_TRUE(ClosedByServer(blanks));
    ProbeClose(blanks);

    ProbeClient oversized;
    Connect(oversized, server);
    const std::string longText(65, '1');
    ASSERT_EQ(ProbeSend(oversized, longText.data(), longText.size(), kWaitMs), ProbeResult::Ok);
    EXPECT_TRUE(ClosedByServer(oversized));
    ProbeClose(oversized);

    // A client that leaves halfway through a request.
    ProbeClient quitter;
    Connect(quitter, server);
    ASSERT_EQ(ProbeSend(quitter, "2328,8", 6, kWaitMs), ProbeResult::Ok);
    plat::SleepMs(20);
    ProbeClose(quitter);

    EXPECT_TRUE(server.WaitForLog("left: request not understood", 2)) << server.Log();
    EXPECT_TRUE(server.WaitForLog("left: request too long")) << server.Log();
    EXPECT_TRUE(server.WaitForLog("left: closed by peer")) << server.Log();
    // The first client is still served after all that.
    EXPECT_EQ(Ask(client, "2328,8,2"), flow);
    EXPECT_TRUE(server.Running());
    ProbeClose(client);
}

// Catches a server that serves one connection at a time, or mixes up replies between connections.
TEST(ServerProcessTest, FiftyConcurrentClients) {
    ServerProcess server(Frozen());
    ASSERT_NE(server.port(), 0) << server.Log();
    std::vector<ProbeClient> clients(50);
    for (ProbeClient& c : clients) Connect(c, server);
    ASSERT_TRUE(server.WaitForLog(" connected (", 50)) << server.Log();
    const std::size_t rows = sizeof kPanelRows / sizeof kPanelRows[0];
    std::vector<std::string> expected;
    {
        ProbeClient probe;
        Connect(probe, server);
        for (const Row& row : kPanelRows) expected.push_back(Ask(probe, RequestText(row)));
        ProbeClose(probe);
    }
    for (int round = 0; round < 10; ++round) {
        // Every client has a request outstanding at once; each gets the answer to its own.
        for (std::size_t i = 0; i < clients.size(); ++i)
            ASSERT_EQ(ProbeSendRequest(clients[i], RequestText(kPanelRows[(i + round) % rows]), kWaitMs),
                      ProbeResult::Ok);
        for (std::size_t i = 0; i < clients.size(); ++i) {
            std::string reply;
            ASSERT_EQ(ProbeReceive(clients[i], '\0', kWaitMs, reply), ProbeResult::Ok);
            EXPECT_EQ(reply, expected[(i + round) % rows]) << "client " << i << " round " << round;
        }
    }
    for (ProbeClient& c : clients) ProbeClose(c);
    EXPECT_TRUE(server.WaitForLog("left: closed by peer", 51)) << server.Log();
}

// Catches a loop that waits on one client: silent, half-sent and never-reading clients beside a busy one.
TEST(ServerProcessTest, SlowAndSilentClientsDoNotStallOthers) {
    std::vector<std::string> args = Frozen();
    args.insert(args.end(), {"--output-limit", "4096"});
    ServerProcess server(args);
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient silent, halfway, hog, busy;
    Connect(silent, server);
    Connect(halfway, server);
    Connect(hog, server);
    Connect(busy, server);
    ASSERT_EQ(ProbeSend(halfway, "2328,8", 6, kWaitMs), ProbeResult::Ok);
    const std::string flow = Ask(busy, "2328,8,2");

    // The hog pours requests in and never reads a reply, until the server drops it.
    std::string flood;
    for (int i = 0; i < 4096; ++i) flood += std::string("2328,8,2") + '\0';
    std::uint32_t slowest = 0;
    int roundTrips = 0;
    bool dropped = false;
    const std::uint32_t start = plat::TickCount();
    while (!dropped && plat::TickCount() - start < 20000) {
        const ProbeResult sent = ProbeSend(hog, flood.data(), flood.size(), 10);
        dropped = sent == ProbeResult::Closed;
        const std::uint32_t before = plat::TickCount();
        std::string reply;
        ASSERT_EQ(ProbeRoundTrip(busy, "2328,8,2", kWaitMs, reply), ProbeResult::Ok);
        EXPECT_EQ(reply, flow);
        slowest = std::max(slowest, plat::TickCount() - before);
        ++roundTrips;
    }
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(server.WaitForLog("left: not reading its replies")) << server.Log();
    EXPECT_LT(slowest, 1000u) << roundTrips << " round trips";
    // The silent and the halfway client are still connected and still served.
    EXPECT_EQ(CountOf(server.Log(), " left: "), 1) << server.Log();
    ASSERT_EQ(ProbeSend(halfway, ",2", 3, kWaitMs), ProbeResult::Ok);
    std::string reply;
    ASSERT_EQ(ProbeReceive(halfway, '\0', kWaitMs, reply), ProbeResult::Ok);
    EXPECT_EQ(reply, flow);
    EXPECT_EQ(Ask(silent, "2328,8,2"), flow);
    for (ProbeClient* c : {&silent, &halfway, &hog, &busy}) ProbeClose(*c);
}

// Catches an unclean stop: SIGTERM must close every client, print their leaving and exit 0.
TEST(ServerProcessTest, TerminationIsClean) {
    ServerProcess server(Frozen());
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient early, late;
    Connect(early, server);
    Connect(late, server);
    EXPECT_NE(Ask(early, "2328,8,2"), "");
    ProbeClose(early);
    ASSERT_TRUE(server.WaitForLog("left: closed by peer"));
    EXPECT_NE(Ask(late, "2328,8,2"), "");
    EXPECT_EQ(server.Terminate(), 0);
    const std::string log = server.Log();
    EXPECT_EQ(CountOf(log, " connected ("), 2) << log;
    EXPECT_EQ(CountOf(log, "left: server stopping"), 1) << log;
    EXPECT_NE(log.find("stopped"), std::string::npos) << log;
    EXPECT_TRUE(ClosedByServer(late));
    ProbeClose(late);
}

// Catches a server that outlives its parent or its lifetime, or mishandles its own arguments.
TEST(ServerProcessTest, LifeAndArguments) {
    {
        ServerProcess server(Frozen());
        ASSERT_NE(server.port(), 0);
        EXPECT_EQ(server.CloseInput(), 0);  // ended on its own, not killed
    }
    std::string output;
    EXPECT_EQ(RunServerToEnd({"--port", "0", "--lifetime", "0.2"}, output), 0);
    EXPECT_EQ(output.rfind("listening on 127.0.0.1:", 0), 0u) << output;

    EXPECT_EQ(RunServerToEnd({"--help"}, output), 0);
    for (const char* option : {"--simulate", "--fsuipc", "--time-scale", "--start-at", "--listen", "--port",
                               "--max-clients", "--output-limit", "--lifetime", "--exit-with-parent", "--help",
                               "SIGTERM", "request too long"})
        EXPECT_NE(output.find(option), std::string::npos) << option;
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--port", "65536"}, {"--port", "-1"}, {"--port"}, {"--time-scale", "nan"},
          {"--max-clients", "0"}, {"--bogus"}}) {
        EXPECT_EQ(RunServerToEnd(bad, output), 2) << bad[0];
        EXPECT_NE(output.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(RunServerToEnd({"--listen", "not-an-address", "--port", "0"}, output), 1);
    EXPECT_NE(output.find("not a numeric IPv4 address"), std::string::npos) << output;

    ServerProcess holder(Frozen());
    ASSERT_NE(holder.port(), 0);
    EXPECT_EQ(RunServerToEnd({"--port", std::to_string(holder.port())}, output), 1);
    EXPECT_NE(output.find("cannot listen"), std::string::npos) << output;
}

// Catches a child's output appended to an old file, lost from one of its streams, or a start that
// claims success with nowhere to write.
TEST(ServerProcessTest, ChildOutputGoesToTheNamedFile) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kovex-output-" + std::to_string(plat::CurrentProcessId()) + ".log"))
                                 .string();
    std::ofstream(path, std::ios::binary) << "stale text from an earlier run\n";
    const std::string server = KOVEX_BIN_DIR "/kovex-server";
    plat::ChildProcess child = plat::StartChildProcess({server, "--bogus"}, path);  // usage on standard error
    ASSERT_NE(child, 0);
    EXPECT_EQ(plat::StopChildProcess(child, 10000), 2);
    std::string text = ReadFile(path);
    EXPECT_EQ(text.find("stale text"), std::string::npos) << "the file was not emptied";
    EXPECT_NE(text.find("usage:"), std::string::npos) << text;

    child = plat::StartChildProcess({server, "--port", "0", "--lifetime", "0.2"}, path);  // standard output
    ASSERT_NE(child, 0);
    EXPECT_EQ(plat::StopChildProcess(child, 10000), 0);
    text = ReadFile(path);
    EXPECT_EQ(text.rfind("listening on 127.0.0.1:", 0), 0u) << text;
    std::filesystem::remove(path);

    const std::string nowhere = (std::filesystem::temp_directory_path() / "kovex-no-such-folder" / "out.log").string();
    EXPECT_EQ(plat::StartChildProcess({server, "--help"}, nowhere), 0);
}

// Catches a full server taking more clients than it may, failing the ones it already has, or
// turning a newcomer away instead of serving it once a place is free.
TEST(ServerProcessTest, ClientsBeyondTheLimitWaitForAPlace) {
    std::vector<std::string> args = Frozen();
    args.insert(args.end(), {"--max-clients", "2"});
    ServerProcess server(args);
    ASSERT_NE(server.port(), 0);
    ProbeClient a, b, c;
    Connect(a, server);
    Connect(b, server);
    ASSERT_TRUE(server.WaitForLog(" connected (", 2));
    EXPECT_TRUE(server.WaitForLog("limit of 2 clients reached: new connections wait for a place")) << server.Log();
    Connect(c, server);
    ASSERT_EQ(ProbeSendRequest(c, "2328,8,2", kWaitMs), ProbeResult::Ok);
    std::string reply;
    EXPECT_EQ(ProbeReceive(c, '\0', 300, reply), ProbeResult::TimedOut) << "served beyond the limit";
    const std::string flow = Ask(a, "2328,8,2");
    EXPECT_NE(flow, "");
    EXPECT_NE(Ask(b, "2328,8,2"), "");
    ProbeClose(a);
    ASSERT_EQ(ProbeReceive(c, '\0', kWaitMs, reply), ProbeResult::Ok) << server.Log();
    EXPECT_EQ(reply, flow);
    EXPECT_EQ(CountOf(server.Log(), " connected ("), 3);
    for (ProbeClient* p : {&b, &c}) ProbeClose(*p);
}
