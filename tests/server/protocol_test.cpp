// Tests of the request parser and the reply formatter of the network server.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "tools/server/reply.h"
#include "tools/server/request.h"

namespace {

RequestStatus Parse(const std::string& text, VariableRequest* out = nullptr) {
    VariableRequest request{};
    const RequestStatus status = ParseRequest(text.data(), text.size(), request);
    if (out) *out = request;
    return status;
}

std::string Double(double value) {
    char text[kReplyTextCapacity];
    return std::string(text, FormatDouble(value, text));
}

template <typename T>
std::string Variable(std::uint32_t kind, T value) {
    std::uint8_t bytes[8] = {};
    std::memcpy(bytes, &value, sizeof value);
    char text[kReplyTextCapacity];
    return std::string(text, FormatVariable(kind, bytes, text));
}

bool ReadsBackExactly(double value) {
    const std::string text = Double(value);
    if (text.find_first_not_of("0123456789-.e+") != std::string::npos) return false;
    char* end = nullptr;
    const double back = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::memcmp(&back, &value, sizeof value) == 0;
}

}  // namespace

// Catches requests of the panel's tables being misread or refused.
TEST(RequestParse, PanelRequestsAreValid) {
    const struct {
        const char* text;
        std::uint32_t offset, size, kind;
    } rows[] = {{"2328,8,2", 2328, 8, 2},   {"2480,8,2", 2480, 8, 2},   {"2232,2,4", 2232, 2, 4},
                {"2384,2,4", 2384, 2, 4},   {"2234,2,6", 2234, 2, 6},   {"2386,2,6", 2386, 2, 6},
                {"2196,2,6", 2196, 2, 6},   {"2348,2,6", 2348, 2, 6},   {"612,2,4", 612, 2, 4},
                {"13157,1,3", 13157, 1, 3}, {"2944,4,1", 2944, 4, 1},   {"2968,4,1", 2968, 4, 1},
                {"2940,4,1", 2940, 4, 1},   {"2964,4,1", 2964, 4, 1},   {"0,4,5", 0, 4, 5},
                {"100,4,7", 100, 4, 7}};
    for (const auto& row : rows) {
        VariableRequest request{};
        ASSERT_EQ(Parse(row.text, &request), RequestStatus::Valid) << row.text;
        EXPECT_EQ(request.offset, row.offset);
        EXPECT_EQ(request.size, row.size);
        EXPECT_EQ(request.kind, row.kind);
    }
}

// Catches off-by-one range checks at the end of the 64 KiB space and sizes that disagree with the kind.
TEST(RequestParse, RangeAndSizeRules) {
    EXPECT_EQ(Parse("65535,1,3"), RequestStatus::Valid);
    EXPECT_EQ(Parse("65536,1,3"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("65534,2,6"), RequestStatus::Valid);
    EXPECT_EQ(Parse("65535,2,6"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("65528,8,2"), RequestStatus::Valid);
    EXPECT_EQ(Parse("65529,8,2"), RequestStatus::Unservable);
    // A size smaller than the kind's width still reads the kind's width, which must fit.
    EXPECT_EQ(Parse("100,1,2"), RequestStatus::Valid);
    EXPECT_EQ(Parse("65534,1,1"), RequestStatus::Unservable);
    // A size larger than the width must fit too.
    EXPECT_EQ(Parse("65532,8,1"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("65528,8,1"), RequestStatus::Valid);
    EXPECT_EQ(Parse("100,0,1"), RequestStatus::Unservable);
    for (const char* kind : {"0", "8", "9", "10", "99999999999"})
        EXPECT_EQ(Parse(std::string("100,4,") + kind), RequestStatus::Unservable) << kind;
    // Numbers beyond 32 bits saturate instead of wrapping back into range.
    EXPECT_EQ(Parse("4294967296,1,3"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("18446744073709551617,1,3"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("100,4294967297,3"), RequestStatus::Unservable);
    EXPECT_EQ(Parse("100,1,4294967299"), RequestStatus::Unservable);
    // Leading zeros are plain decimal, not octal.
    VariableRequest request{};
    EXPECT_EQ(Parse("010,01,03", &request), RequestStatus::Valid);
    EXPECT_EQ(request.offset, 10u);
}

// Catches garbage being answered as if it were a request, and overlong texts being read at all.
TEST(RequestParse, MalformedTexts) {
    for (const char* text : {"", ",", ",,", "1,2", "1,2,3,4", " 1,2,3", "1,2,3 ", "1, 2,3", "+1,2,3", "-1,2,3",
                             "1,,3", "1,2,", ",2,3", "a,b,c", "1.0,2,3", "0x10,2,3", "1;2;3", "1,2,3\n", "1,2,3\r",
                             "\t1,2,3", "\xEF\xBC\x91,2,3"})
        EXPECT_EQ(Parse(text), RequestStatus::Malformed) << '"' << text << '"';
    EXPECT_EQ(Parse(std::string("1,2\0,3", 6)), RequestStatus::Malformed);
    VariableRequest unused{};
    EXPECT_EQ(ParseRequest(nullptr, 5, unused), RequestStatus::Malformed);
    const std::string longest = std::string(kMaxRequestLength - 8, '0') + "2328,8,2";
    ASSERT_EQ(longest.size(), kMaxRequestLength);
    EXPECT_EQ(Parse(longest), RequestStatus::Valid);
    EXPECT_EQ(Parse("0" + longest), RequestStatus::Malformed);
}

// Catches integers written with a fraction, wrong sign handling or wrong widths per kind.
TEST(ReplyFormat, EveryKind) {
    EXPECT_EQ(Variable<std::int32_t>(1, -2147483647 - 1), "-2147483648");
    EXPECT_EQ(Variable<std::int32_t>(1, 2147483647), "2147483647");
    EXPECT_EQ(Variable<std::int32_t>(1, 0), "0");
    EXPECT_EQ(Variable<double>(2, 599.647266313934), "599.647266313934");
    EXPECT_EQ(Variable<double>(2, 1234.0), "1234");
    EXPECT_EQ(Variable<std::uint8_t>(3, 255), "255");
    EXPECT_EQ(Variable<std::uint8_t>(3, 1), "1");
    EXPECT_EQ(Variable<std::int16_t>(4, -1), "-1");
    EXPECT_EQ(Variable<std::int16_t>(4, -32768), "-32768");
    EXPECT_EQ(Variable<std::int16_t>(4, 4681), "4681");
    EXPECT_EQ(Variable<std::uint32_t>(5, 0xFFFFFFFFu), "4294967295");
    EXPECT_EQ(Variable<std::uint16_t>(6, 0xFFFF), "65535");
    EXPECT_EQ(Variable<std::uint16_t>(6, 16384), "16384");
    // A float is written as the exact double it widens to, so the client reads the stored value.
    EXPECT_EQ(Variable<float>(7, 0.1f), "0.10000000149011612");
    EXPECT_EQ(Variable<float>(7, 2.5f), "2.5");
    // Only the kind's own bytes count: bytes after them do not leak into the value.
    std::uint8_t bytes[8] = {0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    char text[kReplyTextCapacity];
    EXPECT_EQ(std::string(text, FormatVariable(3, bytes, text)), "1");
    EXPECT_EQ(std::string(text, FormatVariable(6, bytes, text)), "513");
    EXPECT_EQ(std::string(text, FormatVariable(9, bytes, text)), "0");
    EXPECT_EQ(std::string(text, FormatInteger(std::numeric_limits<std::int64_t>::min(), text)), "-9223372036854775808");
}

// Catches doubles that lose bits on the way, or texts in a form the panel cannot read.
TEST(ReplyFormat, DoublesReadBackExactly) {
    EXPECT_EQ(Double(0.1), "0.1");
    EXPECT_EQ(Double(1e300), "1e+300");
    EXPECT_EQ(Double(-0.0), "-0");
    EXPECT_EQ(Double(0.0), "0");
    EXPECT_EQ(Double(5e-324), "5e-324");
    EXPECT_EQ(Double(-2.5), "-2.5");
    for (double v : {0.1, 1e300, -0.0, 5e-324, 2.2250738585072009e-308, DBL_MIN, DBL_MAX, -DBL_MAX, 1.0 / 3.0,
                     123456789012345678.0, 1e-7, 9007199254740993.0})
        EXPECT_TRUE(ReadsBackExactly(v)) << Double(v);
    EXPECT_TRUE(std::signbit(std::strtod(Double(-0.0).c_str(), nullptr)));
    // Bit patterns spread over the whole range, subnormals included.
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        double v;
        std::memcpy(&v, &state, sizeof v);
        if (i % 4 == 0) v = std::ldexp(static_cast<double>(state >> 12), -1074 - 52 + i % 60);
        if (!std::isfinite(v)) continue;
        ASSERT_TRUE(ReadsBackExactly(v)) << Double(v);
        ++checked;
    }
    EXPECT_GT(checked, 150000);
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) EXPECT_EQ(Double(bad), "0");
    EXPECT_EQ(Variable<double>(2, std::nan("")), "0");
}
