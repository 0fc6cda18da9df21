// The blocking TCP client: endpoint checks, connect, zero-ended texts out, blocks and replies in.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "platform/clock.h"

namespace {

constexpr const char* kNoConnection = "No connection established";

// Where the zero bytes from `from` on end: padding after a reply's zero byte.
std::size_t SkipZeros(const char* data, std::size_t count, std::size_t from) {
    while (from < count && data[from] == '\0') ++from;
    return from;
}

constexpr const char* kStaleReplyNote =
    "KOVEXFuel: the server sent a reply nobody asked for; it was dropped (later ones are dropped without a note)";

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
        reader.Reset();
        staleNamed = false;
        return true;
    }
    SocketInterface->Close();
    return false;
}

bool TVqTcpBlockClient::Connected() { return SocketInterface->GetHandle() != plat::kNoSocket; }

plat::SocketHandle TVqTcpBlockClient::Handle() { return SocketInterface->GetHandle(); }

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
    reader.Reset();
    if (OnDisconnect) OnDisconnect(sender);
}

void TVqTcpBlockClient::SendRequest(const std::string& text) {
    DropStaleBytes();
    // A request that did not go out whole would leave the server half a request, or none to answer.
    if (!SendText(text)) DropConnection();
}

void TVqTcpBlockClient::DropStaleBytes() {
    // Requests and replies pair by order alone: a byte that is here before the request is sent
    // answers none sent from now on, and taking it for the next reply would put every later value
    // on the variable after its own.
    std::size_t drained = 0;
    while (Connected() && SocketInterface->WaitReadableMs(0)) {
        std::int32_t count = 0;
        bool received = false;
        const std::uint8_t* data = SocketInterface->Receive(count, received);
        if (!received || data == nullptr) DropConnection();  // the peer has gone
        if (reader.DropStale(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count)) && !staleNamed) {
            staleNamed = true;
            std::fprintf(stderr, "%s\n", kStaleReplyNote);
            std::fflush(stderr);
        }
        drained += static_cast<std::size_t>(count);
        // A server that sends faster than it is read would hold the request here for ever.
        if (drained > kMaxReplyBytes) DropConnection();
    }
}

std::string TVqTcpBlockClient::ReceiveReply() {
    const std::uint32_t start = plat::TickCount();
    const std::int64_t limitMs = static_cast<std::int64_t>(replyWaitMs) * replyWaits;
    for (;;) {
        if (!Connected()) {
            reader.Reset();
            throw KovexError(kNoConnection);
        }
        const std::int64_t leftMs = limitMs - static_cast<std::uint32_t>(plat::TickCount() - start);
        // A reply that has not come within the limit may still come later and would then be taken
        // as the answer to the next request: the connection is given up instead.
        if (leftMs <= 0) DropConnection();
        // Only a server that has never sent a zero byte is taken to omit it, and a candidate waits
        // one quiet time; from a server that has, a pause inside a reply is a pause (a network
        // hiccup), not its end.
        const bool candidate = reader.HasCandidate();
        const bool quietEnds = candidate || (reader.HasPending() && reader.QuietEnds());
        const std::int64_t waitMs = std::min<std::int64_t>(quietEnds ? replyQuietMs : replyWaitMs, leftMs);
        if (!SocketInterface->WaitReadableMs(static_cast<std::int32_t>(waitMs))) {
            if (quietEnds && waitMs >= replyQuietMs) return candidate ? reader.TakeCandidate() : reader.TakeByQuiet();
            continue;
        }
        std::int32_t count = 0;
        bool received = false;
        const std::uint8_t* data = SocketInterface->Receive(count, received);
        if (!received || data == nullptr) DropConnection();  // the peer has gone mid-exchange
        std::string reply;
        const TVqReplyReader::State state =
            reader.TakeBlock(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count), reply);
        if (state == TVqReplyReader::State::Whole) return reply;
        if (state == TVqReplyReader::State::TooLong) DropConnection();
    }
}

TVqReplyReader::State TVqReplyReader::TakeBlock(const char* data, std::size_t count, std::string& reply) {
    std::size_t from = 0;
    if (hasCandidate) {
        // More than padding within the quiet time: the candidate was the late rest of the earlier
        // reply, and these bytes are this one's.
        from = SkipZeros(data, count, 0);
        if (from == count) return State::Candidate;
        candidate.clear();
        hasCandidate = false;
    } else if (awaitsLateEnd) {
        const void* end = std::memchr(data, '\0', count);
        if (end != nullptr) {
            const std::size_t zero = static_cast<std::size_t>(static_cast<const char*>(end) - data);
            std::string before = std::move(pending);
            pending.clear();
            before.append(data, zero);
            awaitsLateEnd = false;
            endsReplies = true;
            from = SkipZeros(data, count, zero + 1);
            // Digits and a zero byte that end the block: the rest of the earlier reply after a pause
            // inside it, or this reply from a server that ended the earlier one without a zero byte.
            if (from == count && !before.empty()) {
                candidate = std::move(before);
                hasCandidate = true;
                return State::Candidate;
            }
            // A zero byte first, or more after it: what came before it was the earlier reply's.
        }
    }
    const char* begin = data + from;
    const void* end = std::memchr(begin, '\0', count - from);
    if (end == nullptr) {
        pending.append(begin, count - from);
        return pending.size() > maxBytes ? State::TooLong : State::Partial;
    }
    // Padding, or anything else after the zero byte in the same block, is no part of any reply.
    reply = std::move(pending);
    reply.append(begin, static_cast<std::size_t>(static_cast<const char*>(end) - begin));
    pending.clear();
    endsReplies = true;
    return State::Whole;
}

std::string TVqReplyReader::TakeByQuiet() {
    std::string reply;
    reply.swap(pending);
    awaitsLateEnd = true;
    return reply;
}

std::string TVqReplyReader::TakeCandidate() {
    std::string reply;
    reply.swap(candidate);
    hasCandidate = false;
    return reply;
}

bool TVqReplyReader::DropStale(const char* data, std::size_t count) {
    pending.clear();
    candidate.clear();
    hasCandidate = false;
    std::size_t from = 0;
    if (awaitsLateEnd) {
        // Up to its zero byte, the rest of the reply the quiet time took: no reply of its own.
        const void* end = std::memchr(data, '\0', count);
        if (end != nullptr) {
            from = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
            awaitsLateEnd = false;
            endsReplies = true;
        }
    }
    bool reply = false;
    for (std::size_t i = from; i < count; ++i) {
        if (data[i] == '\0') endsReplies = true;
        else reply = true;
    }
    return reply;
}

void TVqReplyReader::Reset() {
    pending.clear();
    candidate.clear();
    endsReplies = false;
    awaitsLateEnd = false;
    hasCandidate = false;
}

void TVqTcpBlockClient::DropConnection() {
    SocketInterface->Disconnect();
    reader.Reset();
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
