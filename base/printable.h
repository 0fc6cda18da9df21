// Bytes from the network made safe to print: one line of plain text, whatever a peer sent.
#pragma once

#include <cstddef>
#include <string>

// The bytes as they are, except the backslash, control bytes and bytes from 0x7F up: "\\", "\n",
// "\r", "\t", and "\xHH" for the rest. So a peer's escape sequences never reach a terminal, its line
// breaks never split or forge a log line, and the original bytes can still be read off.
inline std::string PrintableBytes(const char* data, std::size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 0x0F];
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

inline std::string PrintableBytes(const std::string& bytes) { return PrintableBytes(bytes.data(), bytes.size()); }
