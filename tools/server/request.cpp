// Parsing of remote variable requests: three decimal fields, checked against the offset space.
#include "tools/server/request.h"

#include <algorithm>

namespace {

// One run of decimal digits from text[at] up to a ',' or the end; saturates at 2^32 - 1.
bool ReadField(const char* text, std::size_t length, std::size_t& at, std::uint32_t& value) {
    const std::size_t start = at;
    std::uint64_t v = 0;
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(text[at] - '0'), 0xFFFFFFFFull);
        ++at;
    }
    value = static_cast<std::uint32_t>(v);
    return at > start;
}

}  // namespace

std::uint32_t KindWidth(std::uint32_t kind) {
    switch (kind) {
        case 1: return 4;  // 32-bit signed integer
        case 2: return 8;  // 64-bit IEEE double
        case 3: return 1;  // 8-bit unsigned integer
        case 4: return 2;  // 16-bit signed integer
        case 5: return 4;  // 32-bit unsigned integer
        case 6: return 2;  // 16-bit unsigned integer
        case 7: return 4;  // 32-bit IEEE float
        default: return 0;
    }
}

RequestStatus ParseRequest(const char* text, std::size_t length, VariableRequest& request) {
    if (!text || length == 0 || length > kMaxRequestLength) return RequestStatus::Malformed;
    std::uint32_t fields[3];
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (at >= length || text[at] != ',') return RequestStatus::Malformed;
            ++at;
        }
        if (!ReadField(text, length, at, fields[i])) return RequestStatus::Malformed;
    }
    if (at != length) return RequestStatus::Malformed;
    request = VariableRequest{fields[0], fields[1], fields[2]};
    const std::uint32_t width = KindWidth(request.kind);
    const std::uint64_t span = std::max(width, request.size);
    if (width == 0 || request.size == 0 || request.offset + span > kRequestSpaceSize) return RequestStatus::Unservable;
    return RequestStatus::Valid;
}
