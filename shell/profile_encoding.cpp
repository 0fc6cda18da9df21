// The settings file's encodings: UTF-16 files with a byte-order mark are edited as UTF-8 text and
// written back in their own byte order, so a file never ends up in two encodings.
#include "shell/profile_file.h"

#include <cstdint>

namespace {

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The next code point of UTF-8 text at pos (lone surrogates in their three-byte form accepted), or
// false for bytes that are not UTF-8.
bool NextCodePoint(const std::string& text, std::size_t& pos, std::uint32_t& code) {
    const auto byte = [&text](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    std::size_t length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        ++pos;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return false;
    }
    if (length > text.size() - pos) return false;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return false;
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF) return false;
    pos += length;
    return true;
}

void AppendUnit(std::string& out, std::uint32_t unit, bool bigEndian) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

}  // namespace

ProfileText DecodeProfileFile(const std::string& bytes) {
    ProfileText decoded;
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0;
    const bool big = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if (!little && !big) {
        decoded.text = bytes;
        return decoded;
    }
    decoded.encoding = little ? ProfileEncoding::Utf16LittleEndian : ProfileEncoding::Utf16BigEndian;
    const std::size_t end = bytes.size() - (bytes.size() % 2);
    const auto unitAt = [&](std::size_t i) -> std::uint32_t {
        const std::uint32_t a = static_cast<std::uint8_t>(bytes[i]);
        const std::uint32_t b = static_cast<std::uint8_t>(bytes[i + 1]);
        return little ? (a | (b << 8)) : ((a << 8) | b);
    };
    decoded.text.reserve(end);
    for (std::size_t i = 2; i < end; i += 2) {
        std::uint32_t code = unitAt(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 2 < end) {
            const std::uint32_t next = unitAt(i + 2);
            if (next >= 0xDC00 && next < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(decoded.text, code);
    }
    decoded.tail = bytes.substr(end);
    return decoded;
}

bool EncodeProfileFile(const ProfileText& decoded, std::string& bytes) {
    if (decoded.encoding == ProfileEncoding::Bytes) {
        bytes = decoded.text + decoded.tail;
        return true;
    }
    const bool bigEndian = decoded.encoding == ProfileEncoding::Utf16BigEndian;
    std::string out;
    out.reserve(2 + decoded.text.size() * 2 + decoded.tail.size());
    AppendUnit(out, 0xFEFF, bigEndian);
    for (std::size_t pos = 0; pos < decoded.text.size();) {
        std::uint32_t code = 0;
        if (!NextCodePoint(decoded.text, pos, code)) return false;
        if (code >= 0x10000) {
            AppendUnit(out, 0xD800 + ((code - 0x10000) >> 10), bigEndian);
            AppendUnit(out, 0xDC00 + ((code - 0x10000) & 0x3FF), bigEndian);
        } else {
            AppendUnit(out, code, bigEndian);
        }
    }
    out += decoded.tail;
    bytes = std::move(out);
    return true;
}
