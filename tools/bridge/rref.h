// X-Plane's "RREF" data-reference subscription: the request a client sends and the replies it gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kRrefRequestSize = 413;  // "RREF", a zero byte, frequency, index, 400-byte name
constexpr std::size_t kRrefNameSize = 400;

// The request for name (at most 399 characters) at frequency times a second (0 ends the
// subscription), its values to come back under index.
std::vector<std::uint8_t> RrefRequest(const char* name, std::int32_t frequency, std::int32_t index);

struct RrefValue {
    std::int32_t index;
    float value;
};

enum class RrefParse { Ok, TooShort, NotRref, Ragged };

// Reads a reply: "RREF", one byte, then pairs of a little-endian int32 index and float32 value.
// Nothing is appended unless the whole packet is well formed.
RrefParse ParseRrefReply(const std::uint8_t* data, std::size_t size, std::vector<RrefValue>& values);
