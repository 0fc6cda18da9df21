// Fuzz target: the client's reply reader. The input is what a server sends, cut into received
// blocks and quiet times; replies are put together as the client does and read as numbers.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "net/remotevariables.h"

namespace {

// The conversion must accept a number only as the platform's own reader does (with a full stop),
// and a full stop reads the same whatever the regional separator is.
void ReadNumber(const std::string& reply) {
    bool accepted[2] = {false, false};
    double values[2] = {0.0, 0.0};
    const char separators[2] = {'.', ','};
    for (int i = 0; i < 2; ++i) {
        try {
            values[i] = TextToFloat(reply, separators[i]);
            accepted[i] = true;
        } catch (const KovexError&) {
            continue;
        }
        if (!std::isfinite(values[i])) std::abort();
    }
    if (reply.find(',') == std::string::npos && (accepted[0] != accepted[1] || values[0] != values[1])) std::abort();
    if (!accepted[0] || reply.find('\0') != std::string::npos) return;
    std::size_t begin = 0;
    while (begin < reply.size() && static_cast<unsigned char>(reply[begin]) <= 32) ++begin;
    errno = 0;
    const double reference = std::strtod(reply.c_str() + begin, nullptr);
    if (errno == 0 && std::isfinite(reference) && reference != values[0]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // A small limit as well as the client's own, so that refusals are reached with small inputs.
    const std::size_t maxBytes =
        input.ConsumeBool() ? TVqTcpBlockClient::kMaxReplyBytes : input.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::string pending;
    std::size_t taken = 0;  // bytes that left pending as replies and their zero bytes
    std::size_t received = 0;
    while (input.remaining_bytes() > 0) {
        const std::uint8_t step = input.ConsumeIntegral<std::uint8_t>();
        if (step == 0) {
            // A quiet time: bytes without a zero byte are the reply of a server that omits the end.
            ReadNumber(pending);
            taken += pending.size();
            pending.clear();
            continue;
        }
        const std::string block = input.ConsumeBytesAsString(step);
        pending += block;
        received += block.size();
        for (;;) {
            std::string reply;
            const std::size_t held = pending.size();
            const TVqReplyState state = TakeReply(pending, reply, maxBytes);
            if (state == TVqReplyState::Partial) {
                if (pending.size() != held || held > maxBytes) std::abort();
                break;
            }
            if (state == TVqReplyState::TooLong) {
                if (held <= maxBytes || pending.find('\0') != std::string::npos) std::abort();
                return 0;  // the client closes the connection here
            }
            if (reply.find('\0') != std::string::npos || pending.size() + reply.size() + 1 != held) std::abort();
            taken += reply.size() + 1;
            ReadNumber(reply);
        }
        // Nothing lost, nothing made up, and never more held than the limit and one block.
        if (taken + pending.size() != received || pending.size() > maxBytes + 255) std::abort();
    }
    return 0;
}
