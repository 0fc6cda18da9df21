// Sending: whole blocks over small buffers, the back-off on a full socket, peers that have gone.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net_test_support.h"

using namespace nettest;

namespace {

void ConnectClient(TVqTcpBlockClient& client, const std::string& port) {
    client.SetServerPort(port);
    client.SetServerAddress("127.0.0.1");
    ASSERT_TRUE(client.Connect());
}

struct HeldSocket {
    TVqIpSocket* socket;
    TVqInterfaceRef<IVqSocketInterface> ref;
    explicit HeldSocket(TVqIpSocket* s) : socket(s), ref(s) {}
};

void ConnectTo(TVqIpSocket& socket, const std::string& port) {
    socket.SetAddress("127.0.0.1");
    socket.SetPort(port);
    socket.AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
    ASSERT_EQ(socket.Connect(), 0);
}

// A server that reads nothing until told to stop.
LoopbackServer::Session Deaf(std::atomic<bool>& stop) {
    return [&stop](int&) {
        for (const std::int64_t start = NowMs(); !stop && NowMs() - start < kPatientMs;) SleepMs(10);
    };
}

class NeverWritable : public TVqIpSocket {
public:
    int probes = 0;
    bool WaitWritable() override {
        ++probes;
        return false;
    }
};

}  // namespace

// Catches a send that stops after the part the socket took at once: the whole block must arrive,
// in order, through socket buffers far smaller than the block, so it goes out in many parts.
TEST(SendWhole, LargeBlockToASlowReader) {
    std::string block(512 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131u + i / 977u) & 0xFF);
    std::string seen;
    LoopbackServer server(
        [&](int& fd) {
            char buffer[4096];
            const std::int64_t deadline = NowMs() + kBoundMs;
            while (seen.size() < block.size() && NowMs() < deadline) {
                if (!WaitReadable(fd, 100)) continue;
                const long n = ReceiveSome(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                seen.append(buffer, static_cast<std::size_t>(n));
                if (seen.size() % (64 * 1024) < sizeof buffer) SleepMs(5);
            }
        },
        4096);
    HeldSocket held(new TVqIpSocket);
    std::vector<std::string> reports;
    held.socket->OnMessage = [&](const std::string& text) { reports.push_back(text); };
    ConnectTo(*held.socket, server.Port());
    // A send buffer far smaller than the block: the socket takes it in many parts.
    const int sendBufferBytes = 4096;
    SetSendBuffer(held.socket->GetHandle(), sendBufferBytes);
    EXPECT_TRUE(held.ref->Send(block.data(), static_cast<std::int32_t>(block.size())));
    server.Join();
    EXPECT_EQ(seen.size(), block.size());
    EXPECT_TRUE(seen == block) << "bytes lost or out of order";
    EXPECT_TRUE(reports.empty());
    EXPECT_NE(held.socket->GetHandle(), plat::kNoSocket);
}

// Catches a send that blocks the program on a peer that stops reading, one that reports or drops
// the connection there, and a request that then waits for a reply the server never asked for.
TEST(SendBackOff, FullSocketGivesUpAfterItsProbes) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Deaf(stop), 4096);
    TVqTcpBlockClient client;
    std::vector<std::string> reports;
    int disconnects = 0;
    client.SetOnMessage([&](const std::string& text) { reports.push_back(text); });
    client.OnDisconnect = [&](TVqIpSocket*) { ++disconnects; };
    client.SetSendBackOff(1, 3);
    ConnectClient(client, server.Port());
    const std::string block(8 * 1024 * 1024, 'x');
    const std::int64_t start = NowMs();
    EXPECT_FALSE(client.SendBlock(block.data(), static_cast<std::int32_t>(block.size())));
    EXPECT_LT(NowMs() - start, 3000);
    EXPECT_TRUE(client.Connected()) << "a full socket alone keeps the connection";
    EXPECT_TRUE(reports.empty()) << "nothing is reported";

    try {
        client.SendRequest("2944,4,1");
        ADD_FAILURE() << "a request that cannot go out must raise";
    } catch (const KovexError& error) {
        EXPECT_STREQ(error.what(), "No connection established");
    }
    EXPECT_FALSE(client.Connected()) << "a request that did not go out closes the connection";
    EXPECT_EQ(disconnects, 1);
    stop = true;
}

// Catches a back-off with the wrong number of probes or sleeps, and probes that bypass an override.
TEST(SendBackOff, TenProbesOverAboutOneSecond) {
    std::atomic<bool> stop{false};
    LoopbackServer server(Deaf(stop));
    NeverWritable* socket = new NeverWritable;
    HeldSocket held(socket);
    std::vector<std::string> reports;
    socket->OnMessage = [&](const std::string& text) { reports.push_back(text); };
    ConnectTo(*socket, server.Port());
    const std::int64_t start = NowMs();
    EXPECT_FALSE(held.ref->Send("x", 1));
    const std::int64_t waited = NowMs() - start;
    EXPECT_EQ(socket->probes, 10);
    EXPECT_GE(waited, 1000) << "sleeps of 1, 2, 4 ... 512 ms";
    EXPECT_LT(waited, 3000);
    EXPECT_NE(socket->GetHandle(), plat::kNoSocket);
    EXPECT_TRUE(reports.empty());
    stop = true;
}

// Catches a process killed by writing to a peer that has gone, and a failed send that keeps the
// connection or reports nothing.
TEST(SendToClosedPeer, FailsWithAReportInsteadOfASignal) {
    LoopbackServer server([](int&) {});
    TVqTcpBlockClient client;
    std::vector<std::string> reports;
    std::vector<TVqIpSocket*> senders;
    client.SetOnMessage([&](const std::string& text) { reports.push_back(text); });
    client.OnDisconnect = [&](TVqIpSocket* sender) { senders.push_back(sender); };
    ConnectClient(client, server.Port());
    server.Join();  // the peer has closed its end

    bool sent = true;
    for (int i = 0; i < 50 && sent; ++i) {
        sent = client.SendText("2944,4,1");  // the first write draws a reset, the next one fails
        if (sent) SleepMs(10);
    }
    EXPECT_FALSE(sent);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "TcpSend went wrong, Message: Connection reset by peer");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(senders.size(), 1u);
}

// Catches a request to a reset connection that waits for a reply instead of failing at once.
TEST(SendToClosedPeer, RequestToAResetPeerRaisesAtOnce) {
    LoopbackServer server([](int& fd) {
        ResetAndClose(fd);
        fd = -1;
    });
    TVqTcpBlockClient client;
    ConnectClient(client, server.Port());
    server.Join();
    SleepMs(20);
    const std::int64_t start = NowMs();
    try {
        client.SendRequest("2944,4,1");
        ADD_FAILURE() << "no error raised";
    } catch (const KovexError& error) {
        EXPECT_STREQ(error.what(), "No connection established");
    }
    EXPECT_LT(NowMs() - start, 2500) << "well under the 5 s a reply is waited for";
    EXPECT_FALSE(client.Connected());
}
