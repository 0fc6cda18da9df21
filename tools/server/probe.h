// A blocking client of the server for tests and benchmarks: connect, send whole, receive up to an end byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/eventloop.h"

struct ProbeClient {
    plat::NetSocket socket = plat::kNoNetSocket;
    std::string pending;  // bytes received after the last end byte, kept for the next reply
};

enum class ProbeResult { Ok, TimedOut, Closed };

bool ProbeConnect(ProbeClient& client, const std::string& address, std::uint16_t port, std::string& error);
void ProbeClose(ProbeClient& client);
// Sends all bytes, waiting for room up to timeoutMs in all.
ProbeResult ProbeSend(ProbeClient& client, const void* data, std::size_t size, int timeoutMs);
// Sends text and its zero byte.
ProbeResult ProbeSendRequest(ProbeClient& client, const std::string& text, int timeoutMs);
// Receives up to the next end byte (not included in reply); bytes after it stay pending.
ProbeResult ProbeReceive(ProbeClient& client, char end, int timeoutMs, std::string& reply);
// One request and its reply, both zero-terminated on the wire.
ProbeResult ProbeRoundTrip(ProbeClient& client, const std::string& request, int timeoutMs, std::string& reply);
