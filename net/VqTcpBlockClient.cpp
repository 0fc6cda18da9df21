// The blocking TCP client: endpoint checks, connect, zero-ended texts out, blocks and replies in.
#include <algorithm>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "platform/clock.h"

namespace {

constexpr const char* kNoConnection = "No connection established";

}  // namespace

TVqTcpBlockClient::TVqTcpBlockClient() {
    Socket = new TVqIpSocket(nullptr);
    Socket->OnDisconnect = [this](TVqIpSocket* sender) { SocketDisconnected(sender); };
    SocketInterface = Socket;
}

TVqTcpBlockClient::~TVqTcpBlockClient() {
    // Someone else may still hold the socket: it must not call back into a client that is gone.
    Socket->OnDisconnect = nullptr;
    SocketInterface.Reset();
}

void TVqTcpBlockClient::SetOnMessage(TVqMessageEvent handler) { Socket->OnMessage = std::move(handler); }

TVqMessageEvent TVqTcpBlockClient::GetOnMessage() { return Socket->OnMessage; }

void TVqTcpBlockClient::SetServerAddress(const std::string& address) { SocketInterface->SetAddress(address); }

std::string TVqTcpBlockClient::GetServerAddress() { return SocketInterface->GetAddress(); }

void TVqTcpBlockClient::SetServerPort(const std::string& port) { SocketInterface->SetPort(port); }

std::string TVqTcpBlockClient::GetServerPort() { return SocketInterface->GetPort(); }

bool TVqTcpBlockClient::Connect() {
    if (Connected()) return true;
    if (GetServerAddress() == "<unknown>") throw KovexError("Server-address not set.");
    if (GetServerPort() == "<unset>") throw KovexError("Server-port not set");
    const plat::SocketHandle handle =
        plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp);
    if (handle == plat::kNoSocket)
        throw KovexError("Invalid socket returned, message: " + SocketInterface->LastErrorText());
    SocketInterface->AttachHandle(handle);
    if (SocketInterface->Connect() == 0) {
        // Whatever was left of an earlier connection's replies, and what it taught about its server,
        // belongs to that connection.
        pendingReply.clear();
        endsReplies = false;
        lastReplyByQuiet = false;
        return true;
    }
    SocketInterface->Close();
    return false;
}

bool TVqTcpBlockClient::Connected() { return SocketInterface->GetHandle() != plat::kNoSocket; }

bool TVqTcpBlockClient::SendBlock(const void* data, std::int32_t count) { return SocketInterface->Send(data, count); }

bool TVqTcpBlockClient::SendText(const std::string& text) {
    if (text.size() >= static_cast<std::size_t>(INT32_MAX)) return false;  // cannot be counted in 32 bits
    return SendBlock(text.c_str(), static_cast<std::int32_t>(text.size() + 1));
}

bool TVqTcpBlockClient::ReceiveBlock(const std::uint8_t*& data, std::int32_t& count, std::int32_t timeoutSeconds) {
    data = nullptr;
    count = 0;
    bool result = false;
    if (SocketInterface->WaitReadable(timeoutSeconds)) {
        bool received = false;
        data = SocketInterface->Receive(count, received);
        result = data != nullptr;
        if (!received) SocketInterface->Disconnect();
    } else if (SocketInterface->GetHandle() == plat::kNoSocket) {
        throw KovexError(kNoConnection);
    }
    return result;
}

void TVqTcpBlockClient::SocketDisconnected(TVqIpSocket* sender) {
    pendingReply.clear();
    if (OnDisconnect) OnDisconnect(sender);
}

void TVqTcpBlockClient::SendRequest(const std::string& text) {
    // A request that did not go out whole would leave the server half a request, or none to answer.
    if (!SendText(text)) DropConnection();
}

std::string TVqTcpBlockClient::ReceiveReply() {
    const std::uint32_t start = plat::TickCount();
    const std::int64_t limitMs = static_cast<std::int64_t>(replyWaitMs) * replyWaits;
    bool blockInThisReply = false;
    for (;;) {
        std::string reply;
        const TVqReplyState state = TakeReply(pendingReply, reply, kMaxReplyBytes);
        if (state == TVqReplyState::Whole) {
            endsReplies = true;
            // One reply nobody asked for may be a late one; more mean a server whose replies no
            // longer pair with the requests, and they would pile up without bound.
            if (std::count(pendingReply.begin(), pendingReply.end(), '\0') > 1) DropConnection();
            return reply;
        }
        if (state == TVqReplyState::TooLong) DropConnection();
        if (!Connected()) {
            pendingReply.clear();
            throw KovexError(kNoConnection);
        }
        const std::int64_t leftMs = limitMs - static_cast<std::uint32_t>(plat::TickCount() - start);
        // A reply that has not come within the limit may still come later and would then be taken
        // as the answer to the next request: the connection is given up instead.
        if (leftMs <= 0) DropConnection();
        // Only a server that has never ended a reply with a zero byte is taken to omit it; from one
        // that has, a pause inside a reply is a pause (a network hiccup), not its end.
        const bool quietEnds = blockInThisReply && !endsReplies;
        const std::int64_t waitMs = std::min<std::int64_t>(quietEnds ? replyQuietMs : replyWaitMs, leftMs);
        if (!SocketInterface->WaitReadableMs(static_cast<std::int32_t>(waitMs))) {
            // Bytes without a zero byte and a quiet time after them: a server that omits the end.
            if (quietEnds && !pendingReply.empty() && waitMs >= replyQuietMs) {
                std::string reply;
                reply.swap(pendingReply);
                lastReplyByQuiet = true;
                return reply;
            }
            continue;
        }
        std::int32_t count = 0;
        bool received = false;
        const std::uint8_t* data = SocketInterface->Receive(count, received);
        if (!received || data == nullptr) DropConnection();  // the peer has gone mid-exchange
        pendingReply.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
        if (lastReplyByQuiet) {
            // A zero byte first of all is the late end of the reply the quiet time already took.
            if (!pendingReply.empty() && pendingReply[0] == '\0') {
                pendingReply.erase(0, 1);
                endsReplies = true;
            }
            lastReplyByQuiet = false;
        }
        blockInThisReply = true;
    }
}

TVqReplyState TakeReply(std::string& pending, std::string& reply, std::size_t maxBytes) {
    const std::size_t end = pending.find('\0');
    if (end != std::string::npos) {
        reply.assign(pending, 0, end);
        pending.erase(0, end + 1);  // the next reply's bytes, if any, stay
        return TVqReplyState::Whole;
    }
    return pending.size() > maxBytes ? TVqReplyState::TooLong : TVqReplyState::Partial;
}

void TVqTcpBlockClient::DropConnection() {
    SocketInterface->Disconnect();
    pendingReply.clear();
    throw KovexError(kNoConnection);
}

void TVqTcpBlockClient::SetReplyTiming(std::int32_t waitMs, std::int32_t waits, std::int32_t quietMs) {
    replyWaitMs = std::max(waitMs, 0);
    replyWaits = std::max(waits, 1);
    replyQuietMs = std::max(quietMs, 0);
}

void TVqTcpBlockClient::SetSendBackOff(std::uint32_t firstDelayMs, std::int32_t probes) {
    Socket->SetSendBackOff(firstDelayMs, probes);
}
