// Fuzz target: the server's request parser, and its number texts read back by the client's
// conversion. A valid request stays inside the offset space; every reply text reads back as the
// value it was made from.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "net/remotevariables.h"
#include "tools/server/reply.h"
#include "tools/server/request.h"

namespace {

double ValueOf(std::uint32_t kind, const std::uint8_t* bytes) {
    std::int32_t i32;
    std::uint32_t u32;
    std::int16_t i16;
    std::uint16_t u16;
    double f64;
    float f32;
    switch (kind) {
        case 1: std::memcpy(&i32, bytes, 4); return i32;
        case 2: std::memcpy(&f64, bytes, 8); return std::isfinite(f64) ? f64 : 0.0;
        case 3: return bytes[0];
        case 4: std::memcpy(&i16, bytes, 2); return i16;
        case 5: std::memcpy(&u32, bytes, 4); return u32;
        case 6: std::memcpy(&u16, bytes, 2); return u16;
        case 7: std::memcpy(&f32, bytes, 4); return std::isfinite(f32) ? f32 : 0.0;
        default: return 0.0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::uint32_t kind = input.ConsumeIntegralInRange<std::uint32_t>(0, 8);
    std::uint8_t bytes[8];
    input.ConsumeData(bytes, sizeof bytes);  // zero-filled when the input runs short
    const std::string text = input.ConsumeRemainingBytesAsString();

    VariableRequest request{};
    const RequestStatus status = ParseRequest(text.data(), text.size(), request);
    if (status == RequestStatus::Valid) {
        const std::uint32_t width = KindWidth(request.kind);
        if (width == 0 || request.size == 0 ||
            static_cast<std::uint64_t>(request.offset) + std::max(width, request.size) > kRequestSpaceSize)
            std::abort();
    }
    if (status != RequestStatus::Malformed) {
        // Only digits and two commas are well formed; the numbers printed back parse as the same request.
        if (text.size() > kMaxRequestLength || text.find_first_not_of("0123456789,") != std::string::npos) std::abort();
    }

    char out[kReplyTextCapacity + 8];
    std::memset(out, 0x55, sizeof out);
    const std::size_t length = FormatVariable(kind, bytes, out);
    if (length == 0 || length >= kReplyTextCapacity) std::abort();
    for (std::size_t i = length; i < sizeof out; ++i)
        if (out[i] != 0x55) std::abort();  // nothing written past the text
    const std::string reply(out, length);
    // Every reply must read back exactly, in a region that writes a full stop and in one that writes a comma.
    for (const char separator : {'.', ','}) {
        double value = 0.0;
        try {
            value = TextToFloat(reply, separator);
        } catch (const KovexError&) {
            std::abort();  // a reply the panel cannot read
        }
        if (value != ValueOf(kind, bytes)) std::abort();
    }
    return 0;
}
