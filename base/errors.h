// The error type every subsystem raises, and printf-style formatting of its texts.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string>

class KovexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// printf-style formatting for error texts such as "Unable to write to %s".
inline std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0u, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}
