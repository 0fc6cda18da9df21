// Fuzz target: the client's reply reader. The input is what a server sends, cut into received
// blocks, quiet times and bytes found waiting before a request; replies are taken as the client
// takes them and read as numbers.
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

// A whole reply must be a run of bytes without a zero byte in what came since the last reply was
// taken, after a zero byte or from its start, ending at a zero byte of the block: its first one
// unless a late end of an earlier reply was awaited or a candidate held.
bool IsARunEndingInTheBlock(const std::string& since, const std::string& block, const std::string& reply, bool anyZero) {
    const std::string stream = since + block;
    for (std::size_t z = 0; z < block.size(); ++z) {
        if (block[z] != '\0') continue;
        const std::size_t end = since.size() + z;
        if (end >= reply.size()) {
            const std::size_t start = end - reply.size();
            if (stream.compare(start, reply.size(), reply) == 0 && (start == 0 || stream[start - 1] == '\0')) return true;
        }
        if (!anyZero) return false;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // A small limit as well as the client's own, so that refusals are reached with small inputs.
    const std::size_t maxBytes =
        input.ConsumeBool() ? TVqTcpBlockClient::kMaxReplyBytes : input.ConsumeIntegralInRange<std::size_t>(0, 64);
    TVqReplyReader reader(maxBytes);
    std::string since;  // bytes given to TakeBlock since a reply was last taken or bytes dropped
    bool zeroSeen = false;
    while (input.remaining_bytes() > 0) {
        const std::uint8_t step = input.ConsumeIntegral<std::uint8_t>();
        const std::string bytes = step % 3 == 0 ? std::string() : input.ConsumeBytesAsString(step / 3 + 1u);
        const bool hasZero = bytes.find('\0') != std::string::npos;
        const bool late = reader.AwaitsLateEnd() || reader.HasCandidate();
        if (step % 3 == 0) {
            // A quiet time, which the client applies to a candidate, and to held bytes from a server
            // that has sent no zero byte.
            if (reader.HasCandidate() || (reader.HasPending() && reader.QuietEnds())) {
                const bool candidate = reader.HasCandidate();
                const std::string reply = candidate ? reader.TakeCandidate() : reader.TakeByQuiet();
                if (reply.empty() || reply.find('\0') != std::string::npos || reader.HasCandidate()) std::abort();
                if (!candidate && !reader.AwaitsLateEnd()) std::abort();
                ReadNumber(reply);
                since.clear();
            }
        } else if (step % 3 == 1) {
            // Bytes waiting before a request: all dropped; a reply nobody asked for is told apart
            // from padding.
            const bool named = reader.DropStale(bytes.data(), bytes.size());
            const bool onlyZeros = bytes.find_first_not_of('\0') == std::string::npos;
            if ((onlyZeros && named) || (!onlyZeros && !late && !named) || reader.HasCandidate()) std::abort();
            since.clear();
        } else {
            std::string reply = "untouched";
            const TVqReplyReader::State state = reader.TakeBlock(bytes.data(), bytes.size(), reply);
            if (state == TVqReplyReader::State::Whole) {
                if (reply.find('\0') != std::string::npos || !IsARunEndingInTheBlock(since, bytes, reply, late)) std::abort();
                ReadNumber(reply);
                since.clear();
            } else {
                // Without a zero byte no reply ends; with one, only a late end or a candidate waits.
                if (reply != "untouched" || (hasZero && !late)) std::abort();
                if ((state == TVqReplyReader::State::Candidate) != reader.HasCandidate()) std::abort();
                since += bytes;
                if (state == TVqReplyReader::State::TooLong) {
                    if (since.size() <= maxBytes) std::abort();
                    return 0;  // the client closes the connection here
                }
            }
        }
        zeroSeen = zeroSeen || hasZero;
        // Nothing of a taken reply or of dropped bytes is held for a later one; a zero byte from the
        // server ends the quiet-time rule for good, and with it the wait for a late end.
        if (since.empty() && (reader.HasPending() || reader.HasCandidate())) std::abort();
        if (reader.QuietEnds() == zeroSeen || (zeroSeen && reader.AwaitsLateEnd())) std::abort();
    }
    return 0;
}
