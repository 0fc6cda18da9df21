// The socket as a counted object: its lifetime, overrides through the interface, handlers and owner.
#include <gtest/gtest.h>

#include <vector>

#include "net/VqTcpIpcUdp_0.h"
#include "net_test_support.h"

using namespace nettest;

namespace {

class TrackedSocket : public TVqIpSocket {
public:
    TrackedSocket(bool& deleted, TVqSocketOwner* owner = nullptr) : TVqIpSocket(owner), deleted(deleted) {}
    ~TrackedSocket() override { deleted = true; }
    std::string GetPort() override { return "port from the override"; }
    void Disconnect() override {
        ++disconnectCalls;
        TVqIpSocket::Disconnect();
    }
    int disconnectCalls = 0;

private:
    bool& deleted;
};

class RecordingOwner : public TVqSocketOwner {
public:
    std::vector<std::string> messages;
    void SocketMessage(const std::string& text) override { messages.push_back(text); }
};

}  // namespace

// Catches an object that dies while referenced, outlives its last reference, or miscounts.
TEST(SocketLifetime, DeletedExactlyWhenTheLastReferenceGoes) {
    bool deleted = false;
    TrackedSocket* socket = new TrackedSocket(deleted);
    EXPECT_EQ(socket->RefCount(), 0);
    TVqInterfaceRef<IVqSocketInterface> first(socket);
    EXPECT_EQ(socket->RefCount(), 1);
    TVqInterfaceRef<IVqSocketInterface> second = first;
    EXPECT_EQ(socket->RefCount(), 2);
    TVqInterfaceRef<IVqSocketInterface> moved = std::move(second);
    EXPECT_EQ(socket->RefCount(), 2);
    EXPECT_FALSE(second);
    TVqInterfaceRef<IVqSocketInterface>& alias = moved;
    moved = alias;  // self-assignment keeps the count
    EXPECT_EQ(socket->RefCount(), 2);

    void* unknown = nullptr;
    EXPECT_EQ(first->QueryInterface(IID_IVqUnknown, &unknown), kVqOk);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(socket->RefCount(), 3);
    EXPECT_EQ(static_cast<IVqUnknown*>(unknown)->Release(), 2);
    const TVqGuid other = {0x12345678u, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    void* none = &unknown;
    EXPECT_EQ(first->QueryInterface(other, &none), kVqNoInterface) << "the socket interface has no identifier";
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(socket->RefCount(), 2);

    first.Reset();
    EXPECT_FALSE(deleted);
    EXPECT_EQ(moved->AddRef(), 2);
    EXPECT_EQ(moved->Release(), 1);
    EXPECT_FALSE(deleted);
    moved.Reset();
    EXPECT_TRUE(deleted);
}

// Catches interface slots bound to the base class instead of the object's overrides, and internal
// calls that skip the slots.
TEST(SocketLifetime, InterfaceReachesOverrides) {
    bool deleted = false;
    TrackedSocket* socket = new TrackedSocket(deleted);
    TVqInterfaceRef<IVqSocketInterface> ref(socket);
    EXPECT_EQ(ref->GetPort(), "port from the override");
    ref->SetPort("81");
    EXPECT_EQ(ref->GetPort(), "port from the override");
    ref->AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
    ref->SetAddress("127.0.0.1");  // disconnects through the slot
    EXPECT_EQ(socket->disconnectCalls, 1);
    ref->Disconnect();
    EXPECT_EQ(socket->disconnectCalls, 2);
    ref->SetName("through the interface");
    EXPECT_EQ(socket->GetName(), "through the interface");
    ref.Reset();
    EXPECT_TRUE(deleted);
}

// Catches a last release that leaves the connection open or calls the disconnect handler.
TEST(SocketLifetime, LastReleaseClosesWithoutHandler) {
    bool peerSawClose = false;
    LoopbackServer server([&](int& fd) { peerSawClose = PeerClosed(fd); });
    bool deleted = false;
    int handlerCalls = 0;
    {
        TrackedSocket* socket = new TrackedSocket(deleted);
        TVqInterfaceRef<IVqSocketInterface> ref(socket);
        socket->OnDisconnect = [&](TVqIpSocket*) { ++handlerCalls; };
        ref->SetAddress("127.0.0.1");
        ref->SetPort(server.Port());
        ref->AttachHandle(plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp));
        ASSERT_EQ(ref->Connect(), 0);
    }
    server.Join();
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(peerSawClose);
    EXPECT_EQ(handlerCalls, 0);
}

// Catches reports and names that ignore the owner, reports that go nowhere without one, and a
// handler that throws turning a report into a failure.
TEST(SocketHandlers, OwnerMessageHandlerAndName) {
    RecordingOwner owner;
    owner.Name = "panel link";
    bool deleted = false;
    TrackedSocket* owned = new TrackedSocket(deleted, &owner);
    TVqInterfaceRef<IVqSocketInterface> ownedRef(owned);
    std::vector<std::string> handled;
    owned->OnMessage = [&](const std::string& text) { handled.push_back(text); };
    owned->ReportMessage("to the owner");
    EXPECT_EQ(owner.messages, std::vector<std::string>{"to the owner"});
    EXPECT_TRUE(handled.empty()) << "with an owner the handler is not used";
    EXPECT_EQ(ownedRef->GetName(), "panel link");
    ownedRef->SetName("renamed");
    EXPECT_EQ(owner.Name, "renamed");

    TVqIpSocket* plain = new TVqIpSocket;
    TVqInterfaceRef<IVqSocketInterface> plainRef(plain);
    plain->ReportMessage("dropped");  // neither owner nor handler: nothing happens
    plain->OnMessage = [&](const std::string& text) { handled.push_back(text); };
    plain->ReportMessage("to the handler");
    EXPECT_EQ(handled, std::vector<std::string>{"to the handler"});
    plain->OnMessage = [](const std::string&) { throw std::runtime_error("handler failed"); };
    EXPECT_NO_THROW(plain->ReportMessage("swallowed"));
    EXPECT_EQ(plainRef->GetName(), "<_blocking_client>");
    plainRef->SetName("own name");
    EXPECT_EQ(plain->GetName(), "own name");
}

// Catches a client whose message handler does not reach its socket or cannot be read back.
TEST(SocketHandlers, ClientMessageHandlerReachesTheSocket) {
    TVqTcpBlockClient client;
    EXPECT_FALSE(client.GetOnMessage());
    std::vector<std::string> messages;
    client.SetOnMessage([&](const std::string& text) { messages.push_back(text); });
    TVqMessageEvent handler = client.GetOnMessage();
    ASSERT_TRUE(handler);
    handler("read back");
    EXPECT_EQ(messages, std::vector<std::string>{"read back"});
    client.SetOnMessage(nullptr);
    EXPECT_FALSE(client.GetOnMessage());

    // The client's own disconnect handler hears of a disconnect passed to SocketDisconnected.
    std::vector<TVqIpSocket*> senders;
    client.OnDisconnect = [&](TVqIpSocket* sender) { senders.push_back(sender); };
    TVqIpSocket* other = new TVqIpSocket;
    TVqInterfaceRef<IVqSocketInterface> otherRef(other);
    client.SocketDisconnected(other);
    EXPECT_EQ(senders, std::vector<TVqIpSocket*>{other});
}
