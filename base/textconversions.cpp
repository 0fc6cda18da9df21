// Text to number conversions shared by the settings and the socket library.
#include "base/textconversions.h"

#include <cstdint>

#include "base/errors.h"

namespace {

[[noreturn]] void ThrowNotInteger(const std::string& text) {
    throw KovexError(FormatText("'%s' is not a valid integer value", text.c_str()));
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::int32_t TextToInt32(const std::string& text) {
    std::size_t pos = 0;
    std::uint64_t magnitude = 0;
    if (!text.empty() && text[0] == '$') {
        pos = 1;
        if (pos == text.size()) ThrowNotInteger(text);
        for (; pos < text.size(); ++pos) {
            const int digit = DigitValue(text[pos]);
            if (digit > 15) ThrowNotInteger(text);
            magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
            if (magnitude > 0xFFFFFFFFu) ThrowNotInteger(text);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    }
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) pos = 1;
    if (pos == text.size()) ThrowNotInteger(text);
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos]);
        if (digit > 9) ThrowNotInteger(text);
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);
        if (magnitude > limit) ThrowNotInteger(text);
    }
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

