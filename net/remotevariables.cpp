// Remote variable requests: "offset,size,kind" out, one number text back.
#include "net/remotevariables.h"

#include <charconv>
#include <cmath>

#include "base/errors.h"
#include "net/VqTcpIpcUdp_0.h"
#include "platform/locale.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void NotAFloat(const std::string& text) {
    throw KovexError(FormatText("'%s' is not a valid floating point value", text.c_str()));
}

}  // namespace

double TextToFloat(const std::string& text, char decimalSeparator) {
    std::size_t pos = 0;
    const std::size_t end = text.size();
    while (pos < end && IsBlank(text[pos])) ++pos;
    std::string number;  // the same number in the form from_chars reads
    if (pos < end && (text[pos] == '+' || text[pos] == '-')) {
        if (text[pos] == '-') number += '-';
        ++pos;
    }
    bool digits = false;
    while (pos < end && IsDigit(text[pos])) {
        number += text[pos++];
        digits = true;
    }
    // Servers write a full stop whatever the user's region; the region's own separator reads too.
    if (pos < end && (text[pos] == '.' || text[pos] == decimalSeparator)) {
        number += '.';
        ++pos;
        while (pos < end && IsDigit(text[pos])) {
            number += text[pos++];
            digits = true;
        }
    }
    if (!digits) NotAFloat(text);
    if (pos < end && (text[pos] == 'e' || text[pos] == 'E')) {
        number += 'e';
        ++pos;
        if (pos < end && (text[pos] == '+' || text[pos] == '-')) number += text[pos++];
        if (pos == end || !IsDigit(text[pos])) NotAFloat(text);
        while (pos < end && IsDigit(text[pos])) number += text[pos++];
    }
    while (pos < end && IsBlank(text[pos])) ++pos;
    if (pos != end) NotAFloat(text);

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    // Out of range, or not finite: no usable value.
    if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
    return value;
}

double RequestRemoteVariable(TVqTcpBlockClient* client, std::uint32_t offset, const std::string& size,
                             const std::string& kind) {
    if (!client || !client->Connected()) return 0.0;
    client->SendRequest(std::to_string(offset) + "," + size + "," + kind);
    // The regional separator is read once, as the desktop's runtime does at start, not per request.
    static const char separator = plat::DecimalSeparator();
    return TextToFloat(client->ReceiveReply(), separator);
}
