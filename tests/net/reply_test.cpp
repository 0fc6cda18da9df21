// Replies put together from what the server sends: split, run together, unterminated, late or endless.
#include <gtest/gtest.h>

#include <atomic>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net_test_support.h"
#include "tests/net/error_of.h"

using namespace nettest;

namespace {

std::string ErrorOf(TVqTcpBlockClient& client) {
    try {
        client.ReceiveReply();
    } catch (const KovexError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error raised";
    return std::string();
}

// A server that answers each request with the given pieces, sleeping the given ms before each;
// without a stop flag it hangs up after the last reply.
struct Piece {
    int delayMs;
    std::string bytes;
};

LoopbackServer::Session Answer(std::vector<std::vector<Piece>> replies, std::atomic<bool>* stop = nullptr) {
    return [replies, stop](int& fd) {
        for (const auto& reply : replies) {
            std::string request;
            if (!ReadRequest(fd, request)) return;
            for (const Piece& piece : reply) {
                if (stop != nullptr && *stop) return;
                SleepMs(piece.delayMs);
                WriteAll(fd, piece.bytes);
            }
        }
        if (stop == nullptr) return;  // hang up right after the last reply
        // Stay connected and silent until the test is done or the client hangs up.
        for (const std::int64_t start = NowMs(); !*stop && NowMs() - start < kPatientMs;) {
            if (WaitReadable(fd, 10)) {
                char c;
                if (ReceiveSome(fd, &c, 1, true) <= 0) return;
                SleepMs(10);
            }
        }
    };
}

void ConnectClient(TVqTcpBlockClient& client, const std::string& port) {
    client.SetServerPort(port);
    client.SetServerAddress("127.0.0.1");
    ASSERT_TRUE(client.Connect());
}

}  // namespace

// Catches a reply taken from its first piece only, and bytes after its zero byte in the same block
// read as the next reply.
TEST(ReplyAssembly, SplitRepliesAndIgnoredRemainders) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Answer({{{0, "12"}, {30, "3"}, {30, std::string("4\0" "5", 3)}},
                                  {{0, std::string("6\0" "7", 3)}},
                                  {{40, std::string("8\0", 2)}}},
                                 &stop));
    TVqTcpBlockClient client;
    client.SetReplyTiming(2000, 3, 400);  // pieces 30 ms apart stay well within the quiet time
    ConnectClient(client, server.Port());
    client.SendRequest("a");
    EXPECT_EQ(client.ReceiveReply(), "1234");
    client.SendRequest("b");
    EXPECT_EQ(client.ReceiveReply(), "6");
    client.SendRequest("c");
    EXPECT_EQ(client.ReceiveReply(), "8");
    EXPECT_TRUE(client.Connected());
    stop = true;
}

// Catches a pause inside a reply taken for its end (the rest then read as the next reply) once the
// server has shown that it ends its replies; the first reply's late zero byte ends that reply.
TEST(ReplyAssembly, PausesInsideRepliesAreWaitedOutOnceTheServerEndsItsReplies) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Answer({{{0, "500"}, {110, std::string(1, '\0')}},
                                  {{0, "5"}, {110, std::string("01\0", 3)}},
                                  {{0, "5"}, {1000, std::string("02\0", 3)}},
                                  {{0, "5"}, {5000, std::string("03\0", 3)}}},
                                 &stop));
    TVqTcpBlockClient client;  // the program's timing: 5 s waits, 15 s in all, 100 ms quiet time
    ConnectClient(client, server.Port());
    const char* expected[] = {"500", "501", "502", "503"};
    for (const char* value : expected) {
        client.SendRequest("a");
        EXPECT_EQ(client.ReceiveReply(), value);
    }
    EXPECT_TRUE(client.Connected());
    stop = true;
}

// Catches a client that reads for ever, or holds without bound, what a server sends unasked.
TEST(ReplyLimit, AFloodOfUnrequestedRepliesEndsTheConnection) {
    LoopbackServer server([](int& fd) {
        std::string request;
        if (!ReadRequest(fd, request)) return;
        WriteAll(fd, std::string("1\0", 2));
        if (!ReadRequest(fd, request)) return;
        std::string flood;
        for (int i = 0; i < 4096; ++i) flood += std::string("7\0", 2);
        const std::int64_t start = NowMs();
        while (NowMs() - start < kBoundMs)
            if (SendSome(fd, flood.data(), flood.size(), 100) < 0) return;  // until the client hangs up
    });
    TVqTcpBlockClient client;
    ConnectClient(client, server.Port());
    client.SendRequest("a");
    EXPECT_EQ(client.ReceiveReply(), "1");
    client.SendRequest("b");
    EXPECT_EQ(client.ReceiveReply(), "7") << "the first reply of a block answers the request";
    // More than the bound is waiting before the next request is sent.
    std::int32_t queued = 0;
    for (const std::int64_t start = NowMs(); NowMs() - start < kBoundMs; SleepMs(5))
        if (plat::BytesAvailable(client.Handle(), queued) == 0 &&
            queued > static_cast<std::int32_t>(TVqTcpBlockClient::kMaxReplyBytes))
            break;
    ASSERT_GT(queued, static_cast<std::int32_t>(TVqTcpBlockClient::kMaxReplyBytes));
    const std::int64_t start = NowMs();
    EXPECT_EQ(nettest::ErrorOf([&] { client.SendRequest("c"); }), "No connection established");
    EXPECT_LT(NowMs() - start, 2000);
    EXPECT_FALSE(client.Connected());
    server.Join();
}

// Catches a client that waits for ever, or for the whole limit, on a server that omits the zero byte.
TEST(ReplyAssembly, ReplyWithoutZeroByteEndsAfterTheQuietTime) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Answer({{{0, "42"}}, {{0, "4"}, {40, "3"}}}, &stop));
    TVqTcpBlockClient client;
    client.SetReplyTiming(5000, 3, 300);  // waiting out a 5 s wait is told apart with room to spare
    ConnectClient(client, server.Port());
    client.SendRequest("a");
    std::int64_t start = NowMs();
    EXPECT_EQ(client.ReceiveReply(), "42");
    std::int64_t waited = NowMs() - start;
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 2500);
    client.SendRequest("b");
    start = NowMs();
    EXPECT_EQ(client.ReceiveReply(), "43") << "a second piece within the quiet time belongs to the reply";
    waited = NowMs() - start;
    EXPECT_LT(waited, 2500);
    EXPECT_TRUE(client.Connected());
    stop = true;
}

// Catches a request that waits for ever on a silent or trickling server, or keeps a connection
// whose late reply would be paired with the next request.
TEST(ReplyLimit, NoReplyWithinTheLimitClosesTheConnection) {
    {
        std::atomic<bool> stop{false};
        LoopbackServer server(Answer({{}}, &stop));
        TVqTcpBlockClient client;
        int disconnects = 0;
        client.OnDisconnect = [&](TVqIpSocket*) { ++disconnects; };
        client.SetReplyTiming(100, 3, 50);
        ConnectClient(client, server.Port());
        client.SendRequest("silent");
        const std::int64_t start = NowMs();
        EXPECT_EQ(ErrorOf(client), "No connection established");
        const std::int64_t waited = NowMs() - start;
        EXPECT_GE(waited, 290);
        EXPECT_LT(waited, 2500) << "the silent server holds the connection far longer";
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(disconnects, 1);
        stop = true;
    }
    {
        // One byte every 30 ms for 6 s, never a zero byte; the quiet time is longer than the limit
        // so a stall of the busy server cannot end the reply early.
        std::vector<Piece> trickle;
        for (int i = 0; i < 200; ++i) trickle.push_back({30, "9"});
        std::atomic<bool> stop{false};
        LoopbackServer server(Answer({trickle}, &stop));
        TVqTcpBlockClient client;
        client.SetReplyTiming(100, 3, 1000);
        ConnectClient(client, server.Port());
        client.SendRequest("trickle");
        const std::int64_t start = NowMs();
        EXPECT_EQ(ErrorOf(client), "No connection established");
        EXPECT_LT(NowMs() - start, 2500);
        EXPECT_FALSE(client.Connected());
        stop = true;
    }
}

// Catches a reply buffer that grows without bound on a server that never ends its reply.
TEST(ReplyLimit, EndlessReplyIsRefused) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Answer({{{0, std::string(TVqTcpBlockClient::kMaxReplyBytes + 5000, '1')}}}, &stop));
    TVqTcpBlockClient client;
    client.SetReplyTiming(2000, 3, 500);
    ConnectClient(client, server.Port());
    client.SendRequest("a");
    EXPECT_EQ(ErrorOf(client), "No connection established");
    EXPECT_FALSE(client.Connected());
    stop = true;
}

// Catches a half reply from a server that hung up being taken as a whole one.
TEST(ReplyLimit, PeerClosingMidReplyIsALostConnection) {
    LoopbackServer server(Answer({{{0, "12"}}}));
    TVqTcpBlockClient client;
    client.SetReplyTiming(2000, 3, 1000);
    ConnectClient(client, server.Port());
    client.SendRequest("a");
    EXPECT_EQ(ErrorOf(client), "No connection established");
    EXPECT_FALSE(client.Connected());
}
