// Number formatting for replies, through std::to_chars: locale-free and shortest round-trip for doubles.
#include "tools/server/reply.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

template <typename T>
T Load(const std::uint8_t* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);  // requests are little-endian, as is every host we build for
    return value;
}

}  // namespace

std::size_t FormatInteger(std::int64_t value, char* out) {
    const auto result = std::to_chars(out, out + kReplyTextCapacity, value);
    return static_cast<std::size_t>(result.ptr - out);
}

std::size_t FormatDouble(double value, char* out) {
    if (!std::isfinite(value)) {
        out[0] = '0';
        return 1;
    }
    const auto result = std::to_chars(out, out + kReplyTextCapacity, value);
    return static_cast<std::size_t>(result.ptr - out);
}

std::size_t FormatVariable(std::uint32_t kind, const std::uint8_t* bytes, char* out) {
    switch (kind) {
        case 1: return FormatInteger(Load<std::int32_t>(bytes), out);
        case 2: return FormatDouble(Load<double>(bytes), out);
        case 3: return FormatInteger(Load<std::uint8_t>(bytes), out);
        case 4: return FormatInteger(Load<std::int16_t>(bytes), out);
        case 5: return FormatInteger(Load<std::uint32_t>(bytes), out);
        case 6: return FormatInteger(Load<std::uint16_t>(bytes), out);
        case 7: return FormatDouble(static_cast<double>(Load<float>(bytes)), out);
        default: out[0] = '0'; return 1;
    }
}
