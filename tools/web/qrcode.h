// The page's address as a QR code, for a tablet's camera: drawn in a terminal, or as a PNG picture.
#pragma once

#include <string>

// Whether this build can draw QR codes (it has the encoder library); without it both give "".
bool QrCodesAvailable();
// Lines that draw the code in a terminal, light modules light whatever the terminal's own colours,
// with the four-module quiet zone. With utf8, half-block characters (two module rows a line);
// otherwise coloured pairs of spaces (one row a line). "" when it cannot be encoded.
std::string QrTerminalText(const std::string& text, bool utf8);
// A grey PNG picture of the code, eight pixels a module, with the quiet zone; "" when it cannot be made.
std::string QrPng(const std::string& text);
