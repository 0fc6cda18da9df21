// kovex-bench-server: round trips per second of kovex-server and of redis-server's PING, same client loop.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/eventloop.h"
#include "platform/process.h"
#include "tools/server/launch.h"
#include "tools/server/probe.h"

namespace {

constexpr int kRounds = 2;

struct Target {
    std::string name;
    std::vector<std::string> requests;  // sent in turn, each whole with its terminator
    char end;                           // last byte of every reply
};

// The ten requests of one panel frame, each with its zero byte.
Target PanelTarget() {
    Target t{"kovex-server", {}, '\0'};
    for (const char* r : {"2328,8,2", "2480,8,2", "2232,2,4", "2384,2,4", "2234,2,6", "2386,2,6", "2196,2,6",
                          "2348,2,6", "612,2,4", "13157,1,3"})
        t.requests.push_back(std::string(r) + '\0');
    return t;
}

Target PingTarget() { return Target{"redis-server PING", {"PING\r\n"}, '\n'}; }

// Each client sends a request, waits for its reply and sends the next, for durationMs; all clients run
// from one poll loop here, as the server serves them from one. Returns replies per second.
double Measure(const Target& target, std::uint16_t port, int clientCount, std::uint32_t durationMs) {
    std::vector<ProbeClient> clients(static_cast<std::size_t>(clientCount));
    std::vector<std::size_t> next(clients.size(), 0);
    std::string error;
    for (auto& c : clients)
        if (!ProbeConnect(c, "127.0.0.1", port, error)) {
            std::fprintf(stderr, "%s: %s\n", target.name.c_str(), error.c_str());
            return 0.0;
        }
    // One warm-up round trip each, outside the clock.
    for (auto& c : clients) {
        std::string reply;
        if (ProbeSend(c, target.requests[0].data(), target.requests[0].size(), 5000) != ProbeResult::Ok ||
            ProbeReceive(c, target.end, 5000, reply) != ProbeResult::Ok) {
            std::fprintf(stderr, "%s: no answer to the warm-up request\n", target.name.c_str());
            return 0.0;
        }
    }
    std::vector<plat::NetPollItem> items(clients.size());
    std::uint64_t replies = 0;
    std::size_t outstanding = 0;
    const std::uint32_t start = plat::TickCount();
    auto sendNext = [&](std::size_t i) {
        const std::string& r = target.requests[next[i]++ % target.requests.size()];
        if (ProbeSend(clients[i], r.data(), r.size(), 5000) == ProbeResult::Ok) ++outstanding;
    };
    for (std::size_t i = 0; i < clients.size(); ++i) sendNext(i);
    bool sending = true;
    std::uint32_t elapsed = 0;
    while (outstanding > 0) {
        for (std::size_t i = 0; i < clients.size(); ++i) items[i] = plat::NetPollItem{clients[i].socket, true, false, false, false};
        if (plat::NetPoll(items.data(), items.size(), 5000) <= 0) break;
        if (sending && plat::TickCount() - start >= durationMs) {
            sending = false;
            elapsed = plat::TickCount() - start;
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (!items[i].readable) continue;
            char buffer[512];
            const long got = plat::NetRead(clients[i].socket, buffer, sizeof buffer);
            if (got == plat::kNetClosed) {
                --outstanding;
                continue;
            }
            for (long k = 0; k < got; ++k)
                if (buffer[k] == target.end) {
                    --outstanding;
                    if (sending) {
                        ++replies;
                        sendNext(i);
                    }
                }
        }
    }
    for (auto& c : clients) ProbeClose(c);
    if (elapsed == 0) elapsed = plat::TickCount() - start;
    return elapsed > 0 ? replies * 1000.0 / elapsed : 0.0;
}

bool WaitForPort(std::uint16_t port, std::uint32_t timeoutMs) {
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < timeoutMs) {
        ProbeClient probe;
        std::string error;
        if (ProbeConnect(probe, "127.0.0.1", port, error)) {
            ProbeClose(probe);
            return true;
        }
        plat::SleepMs(10);
    }
    return false;
}

std::uint16_t FreePort() {
    std::string error;
    const plat::NetSocket s = plat::NetListen("127.0.0.1", 0, error);
    if (s == plat::kNoNetSocket) return 0;
    const std::uint16_t port = plat::NetLocalPort(s);
    plat::NetClose(s);
    return port;
}

// redis-benchmark's own figure for PING, as a cross-check of the loop above (-1 when unavailable).
double RedisBenchmark(std::uint16_t port, int clients, int requests) {
    const std::string log = TempLogPath("redis-benchmark");
    const plat::ChildProcess child =
        StartLogged({"/usr/bin/redis-benchmark", "-h", "127.0.0.1", "-p", std::to_string(port), "-t", "ping", "-c",
                     std::to_string(clients), "-n", std::to_string(requests), "-q"},
                    log);
    if (!child) return -1.0;
    const std::uint32_t start = plat::TickCount();
    while (plat::ChildProcessRunning(child) && plat::TickCount() - start < 30000) plat::SleepMs(10);
    const int status = plat::StopChildProcess(child, 100);
    std::string text = ReadWholeTextFile(log);
    std::filesystem::remove(log);
    // Its -q output redraws a progress line with carriage returns; the last "PING_INLINE: N requests
    // per second" line is the result.
    const std::size_t at = text.rfind("PING_INLINE: ");
    if (status != 0 || at == std::string::npos) return -1.0;
    return std::atof(text.c_str() + at + std::strlen("PING_INLINE: "));
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 1.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::printf("usage: kovex-bench-server [--seconds S]\n"
                        "Round trips per second of kovex-server (a panel frame's requests in turn) and of a\n"
                        "private redis-server's PING, with 1 and 50 clients, each client sending a request\n"
                        "and waiting for its reply; best of 2 alternating rounds of S seconds (default 1).\n");
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }
    if (!(seconds > 0.0) || seconds > 60.0) seconds = 1.0;
    const std::uint32_t durationMs = static_cast<std::uint32_t>(seconds * 1000.0);

    const std::string serverLog = TempLogPath("server");
    plat::ChildProcess server = 0;
    const std::uint16_t serverPort = StartServerOnFreePort(KOVEX_BIN_DIR "/kovex-server", {}, server, serverLog);
    if (!serverPort) {
        std::fprintf(stderr, "kovex-server did not start:\n%s", ReadWholeTextFile(serverLog).c_str());
        return 1;
    }

    const std::string redisLog = TempLogPath("redis");
    const std::uint16_t redisPort = FreePort();
    const bool haveRedis = std::filesystem::exists("/usr/bin/redis-server");
    plat::ChildProcess redis = 0;
    if (haveRedis) {
        // redis-server does not watch its parent; a shell does it for it, stopping it when this program's
        // pipe closes, so even a crashed benchmark leaves no server behind.
        plat::SetEnvironmentVariable("LOGFILE", redisLog.c_str());
        redis = plat::StartChildProcess(
            {"/bin/sh", "-c",
             "\"$0\" \"$@\" >\"$LOGFILE\" 2>&1 & server=$!; cat >/dev/null; kill $server; wait $server",
             "/usr/bin/redis-server", "--port", std::to_string(redisPort), "--bind", "127.0.0.1", "--save", "",
             "--appendonly", "no", "--daemonize", "no"});
        if (!redis || !WaitForPort(redisPort, 10000)) {
            std::fprintf(stderr, "redis-server did not start:\n%s", ReadWholeTextFile(redisLog).c_str());
            if (redis) plat::KillChildProcess(redis);
            redis = 0;
        }
    } else {
        std::fprintf(stderr, "redis-server is not installed; only kovex-server is measured\n");
    }

    const int counts[2] = {1, 50};
    double ours[2] = {0, 0}, theirs[2] = {0, 0}, tool[2] = {-1, -1};
    // Alternating rounds, best of each: other load on the machine then hurts both sides alike.
    for (int round = 0; round < kRounds; ++round)
        for (int k = 0; k < 2; ++k) {
            ours[k] = std::max(ours[k], Measure(PanelTarget(), serverPort, counts[k], durationMs));
            if (redis) theirs[k] = std::max(theirs[k], Measure(PingTarget(), redisPort, counts[k], durationMs));
        }
    if (redis) {
        tool[0] = RedisBenchmark(redisPort, 1, 20000);
        tool[1] = RedisBenchmark(redisPort, 50, 50000);
    }

    std::printf("Round trips per second on loopback, best of %d rounds of %.1f s, one client loop for both:\n", kRounds,
                seconds);
    std::printf("%-34s %14s %14s\n", "", "1 client", "50 clients");
    std::printf("%-34s %14.0f %14.0f\n", "kovex-server (panel requests)", ours[0], ours[1]);
    if (redis) {
        std::printf("%-34s %14.0f %14.0f\n", "redis-server PING", theirs[0], theirs[1]);
        std::printf("%-34s %14.2f %14.2f   (target: at least 1.00)\n", "ratio kovex / redis",
                    theirs[0] > 0 ? ours[0] / theirs[0] : 0.0, theirs[1] > 0 ? ours[1] / theirs[1] : 0.0);
        std::printf("%-34s %14.0f %14.0f   (its own client, for reference)\n", "redis-benchmark -t ping", tool[0],
                    tool[1]);
    }

    if (redis) plat::StopChildProcess(redis, 5000);
    const int status = plat::StopChildProcess(server, 3000);
    std::filesystem::remove(serverLog);
    std::filesystem::remove(redisLog);
    if (status != 0) std::fprintf(stderr, "kovex-server ended with status %d\n", status);
    return 0;
}
