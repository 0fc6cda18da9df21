// kovex-server's connections as the system sees them: keep-alive on what it accepts, a web port it
// cannot share, and bytes from peers that reach its output only escaped.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/eventloop.h"
#include "tests/server/serverprocess.h"
#include "tools/server/probe.h"

namespace {

constexpr int kWaitMs = 5000;
// The kernel's table of TCP sockets; under Wine the host's root is a drive of its own.
const std::string kTcpTable = KOVEX_HOST_ROOT "/proc/net/tcp";
constexpr long kTableTicksPerSecond = 100;  // the table's timers are in USER_HZ, 100 on Linux

void Connect(ProbeClient& client, std::uint16_t port) {
    std::string error;
    ASSERT_TRUE(ProbeConnect(client, "127.0.0.1", port, error)) << error;
}

// The port of the server's web page, from its "web page at http://127.0.0.1:PORT/" line; 0 if none.
std::uint16_t WebPort(const ServerProcess& server) {
    const std::string marker = "web page at http://127.0.0.1:";
    if (!server.WaitForLog(marker)) return 0;
    const std::string log = server.Log();
    return static_cast<std::uint16_t>(std::stoi(log.substr(log.find(marker) + marker.size())));
}

// Seconds until the keep-alive probe of the established connection from localPort to remotePort, or
// -1 while no keep-alive timer runs on it (or no such connection is in the table).
long KeepAliveSeconds(std::uint16_t localPort, std::uint16_t remotePort) {
    std::ifstream table(kTcpTable);
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer;
        fields >> slot >> local >> remote >> state >> queues >> timer;
        const auto port = [](const std::string& address) {
            return std::stoul(address.substr(address.find(':') + 1), nullptr, 16);
        };
        if (state != "01" || port(local) != localPort || port(remote) != remotePort) continue;
        // "02:ticks" is the keep-alive timer; 00 none, 01 a retransmission pending.
        if (timer.compare(0, 3, "02:") != 0) return -1;
        return static_cast<long>(std::stoul(timer.substr(3), nullptr, 16)) / kTableTicksPerSecond;
    }
    return -1;
}

// Waits a bounded while for the server's end of a connection to show its keep-alive timer.
long ServerKeepAlive(std::uint16_t serverPort, const ProbeClient& client) {
    const std::uint16_t clientPort = plat::NetLocalPort(client.socket);
    const std::uint32_t start = plat::TickCount();
    long seconds = KeepAliveSeconds(serverPort, clientPort);
    while (seconds < 0 && plat::TickCount() - start < static_cast<std::uint32_t>(kWaitMs)) {
        plat::SleepMs(10);
        seconds = KeepAliveSeconds(serverPort, clientPort);
    }
    return seconds;
}

// The log with its lines ended by "\n" alone, as on Windows they end "\r\n"; escaped bytes hold no
// carriage return of their own.
std::string LogLines(const ServerProcess& server) {
    std::string text = server.Log();
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
}

// The whole line of the log that holds part, with its line break; empty when none does.
std::string LineWith(const std::string& log, const std::string& part) {
    const std::size_t at = log.find(part);
    if (at == std::string::npos) return std::string();
    const std::size_t begin = log.rfind('\n', at);
    const std::size_t end = log.find('\n', at);
    const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
    return log.substr(from, end == std::string::npos ? std::string::npos : end + 1 - from);
}

}  // namespace

// Catches panel or browser connections accepted without keep-alive, or with the system's idle time of
// two hours: a panel machine that slept would hold its place for ever.
TEST(ServerConnectionTest, AcceptedConnectionsProbeIdlePeers) {
    if (!std::ifstream(kTcpTable)) GTEST_SKIP() << "no " << kTcpTable << " to read the connections' timers from";
    ServerProcess server({"--web", "0"});
    ASSERT_NE(server.port(), 0) << server.Log();
    const std::uint16_t web = WebPort(server);
    ASSERT_NE(web, 0) << server.Log();
    ProbeClient panel, browser;
    Connect(panel, server.port());
    Connect(browser, web);
    ASSERT_TRUE(server.WaitForLog(" connected (")) << server.Log();
    struct Side {
        std::uint16_t port;
        const ProbeClient* client;
        const char* what;
    };
    for (const Side& side : {Side{server.port(), &panel, "panel"}, Side{web, &browser, "browser"}}) {
        const long seconds = ServerKeepAlive(side.port, *side.client);
        EXPECT_GT(seconds, 0) << side.what << ": no keep-alive timer on the server's side";
        EXPECT_LE(seconds, plat::kKeepAliveIdleSeconds) << side.what;
    }
    // The probes' interval and count are refused by no system this runs on.
    EXPECT_TRUE(plat::NetKeepAlive(panel.socket));
    ProbeClose(panel);
    ProbeClose(browser);
}

// Catches a second server that binds a web port already served (Windows lets SO_REUSEADDR share it)
// and runs beside the first instead of failing with the reason.
TEST(ServerConnectionTest, WebPortInUseIsRefused) {
    ServerProcess holder({"--web", "0"});
    ASSERT_NE(holder.port(), 0) << holder.Log();
    const std::uint16_t web = WebPort(holder);
    ASSERT_NE(web, 0) << holder.Log();
    std::string output;
    EXPECT_EQ(RunServerToEnd({"--port", "0", "--web", std::to_string(web), "--lifetime", "5"}, output), 1) << output;
    EXPECT_NE(output.find("web: cannot listen on 127.0.0.1:" + std::to_string(web) + ": "), std::string::npos)
        << output;
    // The first still serves the page.
    ProbeClient browser;
    Connect(browser, web);
    const std::string get = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(ProbeSend(browser, get.data(), get.size(), kWaitMs), ProbeResult::Ok);
    std::string status;
    EXPECT_EQ(ProbeReceive(browser, '\n', kWaitMs, status), ProbeResult::Ok);
    EXPECT_EQ(status, "HTTP/1.1 200 OK\r");
    ProbeClose(browser);
}

// Catches a peer's bytes printed as they came: an escape sequence would reach the operator's terminal,
// a line break would forge a line of the log. A plain request must still read as it did.
TEST(ServerConnectionTest, LoggedRequestsAreOneEscapedLine) {
    ServerProcess server({"--log-requests"});
    ASSERT_NE(server.port(), 0) << server.Log();
    ProbeClient client;
    Connect(client, server.port());
    const std::string peer = "127.0.0.1:" + std::to_string(plat::NetLocalPort(client.socket));
    std::string reply;
    ASSERT_EQ(ProbeRoundTrip(client, "2328,8,2", kWaitMs, reply), ProbeResult::Ok);
    const std::string hostile = "\x1b[2J\r\nclient 10.0.0.9:1 left: forged\t\\\x7f\xff";
    ASSERT_EQ(ProbeSendRequest(client, hostile, kWaitMs), ProbeResult::Ok);
    ASSERT_TRUE(server.WaitForLog("left: request not understood")) << server.Log();
    const std::string log = LogLines(server);
    EXPECT_NE(log.find("\nrequest " + peer + " 2328,8,2\n"), std::string::npos) << log;
    EXPECT_EQ(LineWith(log, "forged"),
              "request " + peer + " \\x1B[2J\\r\\nclient 10.0.0.9:1 left: forged\\t\\\\\\x7F\\xFF\n")
        << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    ProbeClose(client);
}

// The same for the FlightGear bridge's complaints, which quote the simulator's lines; this FlightGear
// answers the first question with a line holding an escape sequence, a carriage return and a zero byte.
TEST(ServerConnectionTest, FlightGearLinesQuotedEscaped) {
    std::string error;
    const plat::NetSocket listener = plat::NetListen("127.0.0.1", 0, error);
    ASSERT_NE(listener, plat::kNoNetSocket) << error;
    const std::string address = "127.0.0.1:" + std::to_string(plat::NetLocalPort(listener));
    ServerProcess server({"--flightgear", "--sim-address", address});
    ASSERT_NE(server.port(), 0) << server.Log();

    plat::NetSocket bridge = plat::kNoNetSocket;
    std::string asked;
    const std::uint32_t start = plat::TickCount();
    while (asked.find("get ") == std::string::npos && plat::TickCount() - start < 10000u) {
        plat::NetPollItem item{bridge == plat::kNoNetSocket ? listener : bridge, true, false, false, false};
        if (plat::NetPoll(&item, 1, 100) <= 0) continue;
        if (bridge == plat::kNoNetSocket) {
            std::string peer;
            bridge = plat::NetAccept(listener, peer, error);
            continue;
        }
        char chunk[1024];
        const long got = plat::NetRead(bridge, chunk, sizeof chunk);
        ASSERT_NE(got, plat::kNetClosed) << server.Log();
        if (got > 0) asked.append(chunk, static_cast<std::size_t>(got));
    }
    ASSERT_NE(asked.find("get "), std::string::npos) << "the bridge asked nothing: " << server.Log();

    const char kLine[] = "\x1b]0;owned\x07\r12\0x\xc3\r\n";
    const std::string line(kLine, sizeof kLine - 1);
    ASSERT_EQ(plat::NetWrite(bridge, line.data(), line.size()), static_cast<long>(line.size()));
    ASSERT_TRUE(server.WaitForLog("no number: ")) << server.Log();
    EXPECT_EQ(LineWith(LogLines(server), "no number: "),
              "FlightGear at " + address + ": ignored an answer that is no number: \\x1B]0;owned\\x07\\r12\\x00x\\xC3\n")
        << server.Log();
    EXPECT_EQ(server.Log().find('\x1b'), std::string::npos);
    plat::NetClose(bridge);
    plat::NetClose(listener);
}
