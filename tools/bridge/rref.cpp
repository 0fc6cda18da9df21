// Building subscription requests and reading replies, byte by byte, little-endian on any host.
#include "tools/bridge/rref.h"

#include <cstring>

namespace {

void PutInt32(std::uint8_t* at, std::int32_t value) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::uint32_t GetUint32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

std::vector<std::uint8_t> RrefRequest(const char* name, std::int32_t frequency, std::int32_t index) {
    std::vector<std::uint8_t> packet(kRrefRequestSize, 0);
    std::memcpy(packet.data(), "RREF", 4);
    PutInt32(&packet[5], frequency);
    PutInt32(&packet[9], index);
    const std::size_t length = std::strlen(name);
    std::memcpy(&packet[13], name, length < kRrefNameSize ? length : kRrefNameSize - 1);
    return packet;
}

RrefParse ParseRrefReply(const std::uint8_t* data, std::size_t size, std::vector<RrefValue>& values) {
    if (size < 5) return RrefParse::TooShort;
    if (std::memcmp(data, "RREF", 4) != 0) return RrefParse::NotRref;
    if ((size - 5) % 8 != 0) return RrefParse::Ragged;
    for (std::size_t at = 5; at < size; at += 8) {
        const std::uint32_t bits = GetUint32(data + at + 4);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(RrefValue{static_cast<std::int32_t>(GetUint32(data + at)), value});
    }
    return RrefParse::Ok;
}
