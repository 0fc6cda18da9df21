// The probe client: blocking operations built from the non-blocking socket seam and NetPoll.
#include "tools/server/probe.h"

#include "platform/clock.h"

namespace {

int Remaining(std::uint32_t start, int timeoutMs) {
    const std::uint32_t spent = plat::TickCount() - start;
    return spent >= static_cast<std::uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(spent);
}

}  // namespace

bool ProbeConnect(ProbeClient& client, const std::string& address, std::uint16_t port, std::string& error) {
    ProbeClose(client);
    client.socket = plat::NetConnect(address, port, error);
    return client.socket != plat::kNoNetSocket;
}

void ProbeClose(ProbeClient& client) {
    if (client.socket != plat::kNoNetSocket) plat::NetClose(client.socket);
    client.socket = plat::kNoNetSocket;
    client.pending.clear();
}

ProbeResult ProbeSend(ProbeClient& client, const void* data, std::size_t size, int timeoutMs) {
    if (client.socket == plat::kNoNetSocket) return ProbeResult::Closed;
    const auto* bytes = static_cast<const char*>(data);
    const std::uint32_t start = plat::TickCount();
    while (size > 0) {
        const long put = plat::NetWrite(client.socket, bytes, size);
        if (put == plat::kNetClosed) return ProbeResult::Closed;
        if (put > 0) {
            bytes += put;
            size -= static_cast<std::size_t>(put);
            continue;
        }
        const int left = Remaining(start, timeoutMs);
        if (left == 0) return ProbeResult::TimedOut;
        plat::NetPollItem item{client.socket, false, true, false, false};
        if (plat::NetPoll(&item, 1, left) < 0) return ProbeResult::Closed;
    }
    return ProbeResult::Ok;
}

ProbeResult ProbeSendRequest(ProbeClient& client, const std::string& text, int timeoutMs) {
    return ProbeSend(client, text.c_str(), text.size() + 1, timeoutMs);
}

ProbeResult ProbeReceive(ProbeClient& client, char end, int timeoutMs, std::string& reply) {
    if (client.socket == plat::kNoNetSocket) return ProbeResult::Closed;
    const std::uint32_t start = plat::TickCount();
    for (;;) {
        const std::size_t at = client.pending.find(end);
        if (at != std::string::npos) {
            reply.assign(client.pending, 0, at);
            client.pending.erase(0, at + 1);
            return ProbeResult::Ok;
        }
        char buffer[4096];
        const long got = plat::NetRead(client.socket, buffer, sizeof buffer);
        if (got == plat::kNetClosed) return ProbeResult::Closed;
        if (got > 0) {
            client.pending.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        const int left = Remaining(start, timeoutMs);
        if (left == 0) return ProbeResult::TimedOut;
        plat::NetPollItem item{client.socket, true, false, false, false};
        if (plat::NetPoll(&item, 1, left) < 0) return ProbeResult::Closed;
    }
}

ProbeResult ProbeRoundTrip(ProbeClient& client, const std::string& request, int timeoutMs, std::string& reply) {
    const ProbeResult sent = ProbeSendRequest(client, request, timeoutMs);
    if (sent != ProbeResult::Ok) return sent;
    return ProbeReceive(client, '\0', timeoutMs, reply);
}
