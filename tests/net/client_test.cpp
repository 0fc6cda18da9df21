// The blocking TCP client on real loopback connections: endpoint checks, connect, texts out, blocks in.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net_test_support.h"
#include "tests/net/error_of.h"

using namespace nettest;

namespace {

void ConnectClient(TVqTcpBlockClient& client, const std::string& port) {
    client.SetServerPort(port);
    client.SetServerAddress("127.0.0.1");
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(client.Connected());
}

}  // namespace

// Catches a client that opens a socket for an endpoint that was never set, or checks port first.
TEST(ClientEndpoint, SentinelsRefuseConnect) {
    TVqTcpBlockClient client;
    EXPECT_EQ(client.GetServerAddress(), "<unknown>");
    EXPECT_EQ(client.GetServerPort(), "<unset>");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Server-address not set.");
    client.SetServerAddress("   ");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Server-address not set.");
    client.SetServerAddress("127.0.0.1");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Server-port not set");
    client.SetServerPort(" ");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Server-port not set");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.GetServerAddress(), "127.0.0.1");
    EXPECT_EQ(client.GetServerPort(), "<unset>");
}

// Catches a failed connect that leaves a handle behind, a second connect that opens another
// connection, and a destroyed client that leaves its connection open or calls its handler.
TEST(ClientConnect, ClosedPortOpenPortAndDestruction) {
    {
        TVqTcpBlockClient client;
        client.SetServerAddress("127.0.0.1");
        client.SetServerPort(ClosedPort());
        EXPECT_FALSE(client.Connect());
        EXPECT_FALSE(client.Connected());
    }

    std::string seen = "unset";
    bool closedByClient = false;
    LoopbackServer server([&](int& fd) {
        seen = ReadUntilClosed(fd);
        closedByClient = true;
    });
    int disconnects = 0;
    {
        TVqTcpBlockClient client;
        client.OnDisconnect = [&](TVqIpSocket*) { ++disconnects; };
        ConnectClient(client, server.Port());
        EXPECT_TRUE(client.Connect()) << "connected: true at once";
        EXPECT_EQ(client.GetServerAddress(), "127.0.0.1");
        EXPECT_EQ(client.GetServerPort(), server.Port());
    }
    server.Join();
    EXPECT_TRUE(closedByClient);
    EXPECT_EQ(seen, "") << "a second Connect sends nothing";
    EXPECT_EQ(disconnects, 0) << "destruction calls no disconnect handler";
}

// Catches texts sent without their zero byte, or an empty text sending nothing.
TEST(ClientSend, TextsGoOutWithOneZeroByte) {
    std::string seen;
    LoopbackServer server([&](int& fd) { seen = ReadUntilClosed(fd); });
    {
        TVqTcpBlockClient client;
        ConnectClient(client, server.Port());
        EXPECT_TRUE(client.SendText("2944,4,1"));
        EXPECT_TRUE(client.SendText("13157,1,3"));
        EXPECT_TRUE(client.SendText(""));
    }
    server.Join();
    EXPECT_EQ(seen, std::string("2944,4,1\0" "13157,1,3\0" "\0", 9 + 10 + 1));
    EXPECT_EQ(seen.size(), 20u) << "9 characters are 10 bytes, the empty text 1";

    TVqTcpBlockClient closed;
    EXPECT_EQ(ErrorOf([&] { closed.SendText("x"); }), "No connection established");
}

// Catches a receive that returns early or late, or drops the connection on a quiet server.
TEST(ClientReceive, TimeOutKeepsTheConnection) {
    std::atomic<bool> done{false};
    LoopbackServer server([&](int& fd) {
        for (const std::int64_t start = NowMs(); !done && NowMs() - start < kPatientMs;) SleepMs(10);
        WriteAll(fd, std::string("7\0", 2));
        PeerClosed(fd);
    });
    TVqTcpBlockClient client;
    ConnectClient(client, server.Port());
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(&client);
    std::int32_t count = 99;

    // No wait at all: five of them take well under the 5 s they would if each waited a second.
    std::int64_t start = NowMs();
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(client.ReceiveBlock(data, count, 0));
    EXPECT_LT(NowMs() - start, 2500);
    start = NowMs();
    EXPECT_FALSE(client.ReceiveBlock(data, count, 1));
    const std::int64_t waited = NowMs() - start;
    EXPECT_GE(waited, 950);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(client.Connected());

    done = true;
    ASSERT_TRUE(client.ReceiveBlock(data, count, 5));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)), std::string("7\0", 2));
}

// Catches a closed peer taken for a quiet one: the client must disconnect, tell its handler,
// and refuse the next receive at once.
TEST(ClientReceive, PeerClosingEndsTheConnection) {
    LoopbackServer server([](int&) {});
    TVqTcpBlockClient client;
    std::vector<TVqIpSocket*> senders;
    client.OnDisconnect = [&](TVqIpSocket* sender) { senders.push_back(sender); };
    ConnectClient(client, server.Port());
    server.Join();

    const std::uint8_t* data = nullptr;
    std::int32_t count = 5;
    EXPECT_FALSE(client.ReceiveBlock(data, count, 5));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(client.Connected());
    ASSERT_EQ(senders.size(), 1u);
    ASSERT_NE(senders[0], nullptr);
    EXPECT_EQ(senders[0]->GetHandle(), plat::kNoSocket);
    EXPECT_EQ(senders[0]->GetName(), "<_blocking_client>") << "the sender is the client's socket";

    const std::int64_t start = NowMs();
    EXPECT_EQ(ErrorOf([&] { client.ReceiveBlock(data, count, 5); }), "No connection established");
    EXPECT_LT(NowMs() - start, 2500) << "well under the 5 s time-out";
    EXPECT_EQ(ErrorOf([&] { client.ReceiveReply(); }), "No connection established");
}

// Catches replies that queue up being delivered apart by ReceiveBlock, and a second reply in a
// block taken as the answer to the next request.
TEST(ClientReceive, TwoRepliesInOneBlock) {
    LoopbackServer server([](int& fd) {
        std::string request;
        if (!ReadRequest(fd, request)) return;
        WriteAll(fd, std::string("12\0" "34\0", 6));
        if (!ReadRequest(fd, request)) return;
        WriteAll(fd, std::string("56\0" "78\0", 6));
        if (!ReadRequest(fd, request)) return;
        WriteAll(fd, std::string("90\0", 3));
        PeerClosed(fd);
    });
    TVqTcpBlockClient client;
    ConnectClient(client, server.Port());
    ASSERT_TRUE(client.SendText("first"));
    const std::uint8_t* data = nullptr;
    std::int32_t count = 0;
    ASSERT_TRUE(client.ReceiveBlock(data, count, 5));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)),
              std::string("12\0" "34\0", 6));

    client.SendRequest("second");
    EXPECT_EQ(client.ReceiveReply(), "56");
    client.SendRequest("third");
    EXPECT_EQ(client.ReceiveReply(), "90") << "the rest of a block after its reply answers no request";
    EXPECT_TRUE(client.Connected());
}
