// Parsing of the broker's URL, strict so that a typing error is told at start rather than retried for ever.
#include "tools/mqtt/mqtturl.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool HostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

}  // namespace

bool ParseMqttUrl(const std::string& url, MqttAddress& address, std::string& error) {
    MqttAddress parsed;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        parsed.tls = true;
        parsed.port = 8883;
    } else {
        error = "not an MQTT URL (mqtt://[user[:password]@]host[:port] or mqtts://...): " + url;
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string login = rest.substr(0, at);
        const std::size_t colon = login.find(':');
        if (!Unescape(login.substr(0, colon), parsed.user) ||
            (colon != std::string::npos && !Unescape(login.substr(colon + 1), parsed.password))) {
            error = "a bad %-escape in the login of " + url;
            return false;
        }
        if (parsed.user.empty()) {
            error = "an empty user name in " + url;
            return false;
        }
        rest.erase(0, at + 1);
    }
    const std::size_t colon = rest.find(':');
    parsed.host = rest.substr(0, colon);
    bool hostOk = !parsed.host.empty();
    for (char c : parsed.host) hostOk = hostOk && HostChar(c);
    if (!hostOk) {
        error = "no usable broker host name in " + url;
        return false;
    }
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        unsigned long value = 0;
        bool portOk = !port.empty() && port.size() <= 5;
        for (char c : port) {
            portOk = portOk && c >= '0' && c <= '9';
            if (portOk) value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (!portOk || value == 0 || value > 65535) {
            error = "a bad broker port in " + url;
            return false;
        }
        parsed.port = static_cast<std::uint16_t>(value);
    }
    address = parsed;
    return true;
}

bool IsTopicLevel(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c == '/' || c == '+' || c == '#' || c < 0x20 || c == 0x7f) return false;
    return true;
}

std::string TopicLevelOf(const std::string& name) {
    std::string level;
    for (unsigned char c : name)
        level += (c == '/' || c == '+' || c == '#' || c <= 0x20 || c == 0x7f) ? '_' : static_cast<char>(c);
    return level.empty() ? "kovexfuel" : level;
}
