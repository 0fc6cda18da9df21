// Reply texts: a variable's bytes read as its kind and written as a plain decimal number.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest number text (a double needs at most 24 characters) and a zero byte.
constexpr std::size_t kReplyTextCapacity = 32;

// Integers in full, without fraction or exponent: -32768, 65535.
std::size_t FormatInteger(std::int64_t value, char* out);
// The shortest text that reads back as the same double ("0.1", "-0", "1e+300", "5e-324"); a full stop
// separates the fraction. NaN and infinities, which the panel cannot read, are written as "0".
std::size_t FormatDouble(double value, char* out);
// The value in bytes (little-endian, KindWidth(kind) of them) as text; an unknown kind gives "0". A
// float is written as the exact double it widens to. Returns the length; out is not zero-terminated.
std::size_t FormatVariable(std::uint32_t kind, const std::uint8_t* bytes, char* out);
