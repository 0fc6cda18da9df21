// Fuzz target: the settings reader and writer on any content and names. A value written is read
// back as written, every other key reads as before, and a refused write changes nothing. Any file
// decodes and encodes back to its own bytes (UTF-16 ones included), and a key written into a UTF-16
// file keeps the file UTF-16.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "shell/profile_file.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
    const std::string x = Trim(a);
    const std::string y = Trim(b);
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (Lower(x[i]) != Lower(y[i])) return false;
    return true;
}

// What a reader gets back for a stored value: trimmed, one pair of quotes off, cut to the buffer.
std::string AsRead(const std::string& value) {
    std::string text = Trim(value);
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
        text = text.substr(1, text.size() - 2);
    if (text.size() > kProfileBufferSize - 1) text.resize(kProfileBufferSize - 1);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(40);
    const std::string key = input.ConsumeRandomLengthString(40);
    const std::string value = input.ConsumeRandomLengthString(3000);
    const std::string otherSection = input.ConsumeRandomLengthString(40);
    const std::string otherKey = input.ConsumeRandomLengthString(40);
    const std::string content = input.ConsumeRemainingBytesAsString();

    const ProfileText decoded = DecodeProfileFile(content);
    std::string encoded;
    if (!EncodeProfileFile(decoded, encoded) || encoded != content) std::abort();
    if (decoded.encoding != ProfileEncoding::Bytes) {
        ProfileText changed = decoded;
        if (ProfileSetString(changed.text, section, key, value) && EncodeProfileFile(changed, encoded) &&
            (DecodeProfileFile(encoded).encoding != decoded.encoding || DecodeProfileFile(encoded).text != changed.text))
            std::abort();
    }

    const std::string missing = "\x01missing";  // a default no stored value can read as
    const std::string before = ProfileGetString(content, section, key, missing);
    if (before.size() > kProfileBufferSize - 1) std::abort();
    const std::string otherBefore = ProfileGetString(content, otherSection, otherKey, missing);

    std::string written = content;
    if (!ProfileSetString(written, section, key, value)) {
        if (written != content) std::abort();
        return 0;
    }
    if (ProfileGetString(written, section, key, missing) != AsRead(value)) std::abort();
    const bool sameKey = SameName(section, otherSection) && SameName(key, otherKey);
    if (!sameKey && ProfileGetString(written, otherSection, otherKey, missing) != otherBefore) std::abort();
    // A second write of another value replaces the first instead of adding a line the reader skips.
    if (!ProfileSetString(written, section, key, "2") || ProfileGetString(written, section, key, missing) != "2")
        std::abort();
    return 0;
}
