// Server soak: 200 good clients and a stream of hostile ones against the real server on loopback.
//
// What it asserts:
//  - every reply a good client gets is the frozen model's value for the offset it asked, in order;
//  - nothing is lost or doubled: each good client gets exactly one reply per request, in order, and is
//    never closed; a last pair of requests gets exactly its own two replies;
//  - the server closes garbage and oversized senders, as its rules say, and keeps serving everyone else;
//  - the whole load (a million requests; fewer in the sanitizer build) ends within its time budget;
//  - no good request waits longer than 100 ms for its reply, whatever the others do. The test runs
//    alone (RUN_SERIAL), so that the bound measures the server rather than a sibling test's load.
//    The measured p50, p99 and maximum are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/eventloop.h"
#include "tests/server/panelrows.h"
#include "tests/server/serverprocess.h"

namespace {

#ifdef KOVEX_SANITIZED_BUILD
constexpr long kTotalRequests = 400000;
constexpr int kBudgetSeconds = 120;
#else
constexpr long kTotalRequests = 1000000;
constexpr int kBudgetSeconds = 60;
#endif
constexpr int kGoodClients = 200;
constexpr int kHostileSlots = 24;
constexpr double kMaxRoundTripMs = 100.0;
constexpr double kStartAt = 777.25;
// A hostile client's life; garbage and oversized senders must be closed by the server within it.
constexpr double kHostileLifeMs = 40.0;
constexpr double kHostileCloseLimitMs = 10000.0;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// One request a good client may send, with the exact reply it must get back.
struct Probe {
    std::string wire;  // with its zero byte
    std::string reply;
    const Row* row;    // null for the request answered "0"
    double expected;
};

struct Good {
    plat::NetSocket socket = plat::kNoNetSocket;
    std::string out;              // bytes still to send
    std::vector<std::size_t> asked;  // probes of the batch in flight, in order
    std::size_t answered = 0;        // replies of the batch received
    std::string in;               // an unfinished reply
    Clock::time_point sentAt;
    long requests = 0;
    long replies = 0;
};

enum class Hostility { Garbage, Oversized, HalfOpen, SlowReader };
const char* Name(Hostility h) {
    switch (h) {
        case Hostility::Garbage: return "garbage";
        case Hostility::Oversized: return "oversized";
        case Hostility::HalfOpen: return "half-open";
        case Hostility::SlowReader: return "slow reader";
    }
    return "?";
}

struct Hostile {
    plat::NetSocket socket = plat::kNoNetSocket;
    Hostility kind = Hostility::Garbage;
    Clock::time_point bornAt;
    std::string out;
    bool closedByServer = false;
};

std::vector<Probe> MakeProbes() {
    std::vector<Probe> probes;
    for (const Row& row : kPanelRows) {
        const double expected = Expected(row, kStartAt);
        char text[64];
        if (std::string(row.kind) == "2")
            std::snprintf(text, sizeof text, "%.17g", expected);
        else
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(expected));
        probes.push_back(Probe{RequestText(row) + '\0', text, &row, expected});
    }
    // Well formed but outside the offset space: answered "0".
    probes.push_back(Probe{std::string("65535,4,1") + '\0', "0", nullptr, 0.0});
    return probes;
}

bool ReplyRight(const Probe& probe, const std::string& reply) {
    if (!probe.row) return reply == "0";
    return ReplyMatches(*probe.row, reply, probe.expected);
}

// Bytes a hostile client of this kind sends when it connects.
std::string HostileBytes(Hostility kind, long serial) {
    switch (kind) {
        case Hostility::Garbage: {
            const char* texts[] = {"GET / HTTP/1.0\r\n\r\n", "2328;8;2", " 2328,8,2", "-1,2,3", "a,b,c", "1,2,3,4"};
            std::string t = texts[serial % 6];
            return t + '\0';
        }
        case Hostility::Oversized: return std::string(200 + serial % 5000, '7');
        case Hostility::HalfOpen: return "2328,8";
        case Hostility::SlowReader: {
            std::string t;
            for (int i = 0; i < 20000; ++i) t += std::string("2328,8,2") + '\0';
            return t;
        }
    }
    return {};
}

// Sends what it can without waiting; false when the peer is gone.
bool Flush(plat::NetSocket socket, std::string& out) {
    while (!out.empty()) {
        const long put = plat::NetWrite(socket, out.data(), out.size());
        if (put == plat::kNetClosed) return false;
        if (put == plat::kNetWouldBlock) return true;
        out.erase(0, static_cast<std::size_t>(put));
    }
    return true;
}

// Sends the text whole and reads the next `count` replies, waiting up to timeoutMs in all; the
// replies are empty when the connection failed or the time ran out.
std::vector<std::string> Exchange(plat::NetSocket socket, std::string text, std::size_t count, int timeoutMs) {
    std::vector<std::string> replies;
    std::string current;
    const Clock::time_point start = Clock::now();
    while (replies.size() < count && MsSince(start) < timeoutMs) {
        plat::NetPollItem item{socket, true, !text.empty(), false, false};
        if (plat::NetPoll(&item, 1, 50) < 0) break;
        if (item.writable && !Flush(socket, text)) break;
        if (!item.readable) continue;
        char buffer[256];
        const long got = plat::NetRead(socket, buffer, sizeof buffer);
        if (got == plat::kNetClosed) break;
        for (long k = 0; k < got; ++k) {
            if (buffer[k] != '\0') {
                current += buffer[k];
                continue;
            }
            replies.push_back(current);
            current.clear();
        }
    }
    return replies;
}

}  // namespace

// Catches a server that answers wrongly, loses or doubles replies, or lets one client hold up others
// under a heavy mixed load.
TEST(ServerSoak, ManyGoodClientsServedRightBesideHostileOnes) {
    ServerProcess server({"--time-scale", "0", "--start-at", std::to_string(kStartAt), "--max-clients", "1000"});
    ASSERT_NE(server.port(), 0) << server.Log();
    const std::vector<Probe> probes = MakeProbes();
    for (const Probe& p : probes) ASSERT_TRUE(ReplyRight(p, p.reply)) << p.wire << " -> " << p.reply;

    std::string error;
    std::vector<Good> good(kGoodClients);
    for (Good& g : good) {
        g.socket = plat::NetConnect("127.0.0.1", server.port(), error);
        ASSERT_NE(g.socket, plat::kNoNetSocket) << error;
    }
    std::vector<Hostile> hostile(kHostileSlots);
    long hostileSerial = 0;
    long hostileClosedRightly = 0;
    long hostileBorn[4] = {0, 0, 0, 0};
    auto bear = [&](Hostile& h) {
        h = Hostile{};
        h.kind = static_cast<Hostility>(hostileSerial % 4);
        h.socket = plat::NetConnect("127.0.0.1", server.port(), error);
        h.bornAt = Clock::now();
        h.out = HostileBytes(h.kind, hostileSerial);
        ++hostileBorn[static_cast<int>(h.kind)];
        ++hostileSerial;
        return h.socket != plat::kNoNetSocket;
    };
    for (Hostile& h : hostile) ASSERT_TRUE(bear(h)) << error;

    long sent = 0;
    std::size_t batchCounter = 0;
    auto startBatch = [&](Good& g) {
        // A panel frame's worth, from a rotating start so neighbours in the stream differ.
        const std::size_t size = std::min<long>(probes.size(), kTotalRequests - sent);
        g.asked.clear();
        g.answered = 0;
        for (std::size_t k = 0; k < size; ++k) {
            const std::size_t p = (batchCounter + k) % probes.size();
            g.asked.push_back(p);
            g.out += probes[p].wire;
        }
        ++batchCounter;
        sent += static_cast<long>(size);
        g.requests += static_cast<long>(size);
        g.sentAt = Clock::now();
    };
    for (Good& g : good) startBatch(g);

    std::vector<double> roundTrips;
    roundTrips.reserve(static_cast<std::size_t>(kTotalRequests));
    long wrong = 0;
    std::string firstWrong;
    const Clock::time_point start = Clock::now();
    std::vector<plat::NetPollItem> items;
    char buffer[65536];
    bool failed = false;
    for (;;) {
        long inFlight = 0;
        for (const Good& g : good) inFlight += static_cast<long>(g.asked.size() - g.answered);
        if (inFlight == 0 && sent >= kTotalRequests) break;
        if (MsSince(start) > kBudgetSeconds * 1000.0) {
            ADD_FAILURE() << "load not done within " << kBudgetSeconds << " s: " << sent << " sent, " << inFlight
                          << " in flight";
            failed = true;
            break;
        }
        items.clear();
        for (const Good& g : good) items.push_back(plat::NetPollItem{g.socket, true, !g.out.empty(), false, false});
        for (const Hostile& h : hostile)
            items.push_back(plat::NetPollItem{h.socket, h.kind != Hostility::SlowReader, !h.out.empty(), false, false});
        ASSERT_GE(plat::NetPoll(items.data(), items.size(), 50), 0);

        for (std::size_t i = 0; i < good.size(); ++i) {
            Good& g = good[i];
            if (items[i].writable && !Flush(g.socket, g.out)) {
                ADD_FAILURE() << "good client " << i << " lost its connection while sending";
                failed = true;
            }
            if (!items[i].readable) continue;
            const long got = plat::NetRead(g.socket, buffer, sizeof buffer);
            if (got == plat::kNetClosed) {
                ADD_FAILURE() << "good client " << i << " was closed by the server";
                failed = true;
                continue;
            }
            for (long k = 0; k < got; ++k) {
                if (buffer[k] != '\0') {
                    g.in += buffer[k];
                    continue;
                }
                if (g.answered >= g.asked.size()) {
                    ADD_FAILURE() << "good client " << i << " got a reply it did not ask for: " << g.in;
                    failed = true;
                    g.in.clear();
                    continue;
                }
                const Probe& p = probes[g.asked[g.answered++]];
                roundTrips.push_back(MsSince(g.sentAt));
                ++g.replies;
                if (!ReplyRight(p, g.in)) {
                    if (wrong++ == 0) firstWrong = p.wire.substr(0, p.wire.size() - 1) + " -> " + g.in;
                }
                g.in.clear();
            }
            if (g.answered == g.asked.size() && sent < kTotalRequests) startBatch(g);
        }
        if (failed) break;

        for (std::size_t j = 0; j < hostile.size(); ++j) {
            Hostile& h = hostile[j];
            const plat::NetPollItem& item = items[good.size() + j];
            bool gone = false;
            if (item.writable && !Flush(h.socket, h.out)) gone = true;
            if (item.readable) {
                const long got = plat::NetRead(h.socket, buffer, sizeof buffer);
                if (got == plat::kNetClosed) gone = true;
            }
            if (gone && !h.closedByServer) {
                h.closedByServer = true;
                if (h.kind == Hostility::Garbage || h.kind == Hostility::Oversized) ++hostileClosedRightly;
            }
            const double age = MsSince(h.bornAt);
            const bool mustBeClosed = h.kind == Hostility::Garbage || h.kind == Hostility::Oversized;
            if (mustBeClosed && !h.closedByServer && age > kHostileCloseLimitMs) {
                ADD_FAILURE() << "the server kept a " << Name(h.kind) << " client open for " << age << " ms";
                failed = true;
            }
            // Half-open and slow clients stay their whole life; the others go once the server closed them.
            if ((mustBeClosed && h.closedByServer) || (!mustBeClosed && age > kHostileLifeMs)) {
                plat::NetClose(h.socket);
                ASSERT_TRUE(bear(h)) << error;
            }
        }
        if (failed) break;
    }
    const double seconds = MsSince(start) / 1000.0;

    // A last pair of requests on each good connection: the next replies must be theirs, so no stray
    // or doubled reply of the load is still on its way.
    if (!failed) {
        const Probe& zero = probes.back();
        const Probe& value = probes.front();
        for (std::size_t i = 0; i < good.size(); ++i) {
            const std::vector<std::string> last = Exchange(good[i].socket, zero.wire + value.wire, 2, 10000);
            ASSERT_EQ(last.size(), 2u) << "good client " << i << " got no answer to its last requests";
            EXPECT_EQ(last[0], "0") << "good client " << i << " got a stray reply after its load";
            EXPECT_TRUE(ReplyRight(value, last[1])) << "good client " << i << ": " << last[1];
        }
    }

    for (Good& g : good) plat::NetClose(g.socket);
    for (Hostile& h : hostile) plat::NetClose(h.socket);
    ASSERT_FALSE(failed);

    long requests = 0, replies = 0;
    for (const Good& g : good) {
        requests += g.requests;
        replies += g.replies;
        EXPECT_EQ(g.replies, g.requests);
        EXPECT_TRUE(g.in.empty());
    }
    EXPECT_EQ(requests, kTotalRequests);
    EXPECT_EQ(replies, kTotalRequests);
    EXPECT_EQ(wrong, 0) << "first wrong reply: " << firstWrong;

    std::sort(roundTrips.begin(), roundTrips.end());
    ASSERT_FALSE(roundTrips.empty());
    const double p50 = roundTrips[roundTrips.size() / 2];
    const double p99 = roundTrips[roundTrips.size() * 99 / 100];
    const double worst = roundTrips.back();
    std::printf("soak: %ld requests from %d clients in %.1f s (%.0f per second), %ld hostile clients "
                "(garbage %ld, oversized %ld, half-open %ld, slow readers %ld), %ld closed by the server as they should be\n",
                replies, kGoodClients, seconds, replies / seconds, hostileSerial, hostileBorn[0], hostileBorn[1],
                hostileBorn[2], hostileBorn[3], hostileClosedRightly);
    std::printf("soak: round trip of a request (its frame of %zu sent together) p50 %.2f ms, p99 %.2f ms, max %.2f ms "
                "(bound %.0f ms)\n",
                probes.size(), p50, p99, worst, kMaxRoundTripMs);
    EXPECT_LE(worst, kMaxRoundTripMs) << "a good client waited too long for a reply";
    EXPECT_GT(hostileClosedRightly, 0);
    const std::string log = server.Log();
    std::printf("soak: the server's reasons for closing: request not understood %d, request too long %d, "
                "not reading its replies %d\n",
                CountOf(log, "request not understood"), CountOf(log, "request too long"),
                CountOf(log, "not reading its replies"));
    EXPECT_TRUE(server.Running()) << log.substr(0, 4000);
}
