// Text to number conversions shared by the settings and the socket library.
#pragma once

#include <cstdint>
#include <string>

// Removes leading and trailing characters with a code of 32 or less.
std::string TrimBlanks(const std::string& text);

// Optional sign and decimal digits within -2147483648..2147483647, or "$" and up to eight hex digits
// (taken as the 32-bit pattern, so "$FFFFFFFF" is -1). Throws KovexError
// "'<text>' is not a valid integer value" for anything else.
std::int32_t TextToInt32(const std::string& text);
