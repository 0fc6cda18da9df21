// A small JSON reader for one flat-ish object: strings, numbers, booleans, null, nested objects and
// arrays are walked; only the engines' values and "paused" are kept.
#include "tools/mqtt/statejson.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

struct Reader {
    const char* at;
    const char* end;
    int depth = 0;

    void Blank() {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
    }
    bool Take(char c) {
        Blank();
        if (at < end && *at == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool String(std::string& out) {
        out.clear();
        if (!Take('"')) return false;
        while (at < end && *at != '"') {
            if (*at == '\\') {
                if (++at == end) return false;
                if (*at == 'u') {  // kept as is: no key we read needs one
                    if (end - at < 5) return false;
                    out += '?';
                    at += 5;
                    continue;
                }
            }
            out += *at++;
        }
        return Take('"');
    }
    bool Number(double& out) {
        Blank();
        const auto result = std::from_chars(at, end, out);
        if (result.ec != std::errc() || !std::isfinite(out)) return false;
        at = result.ptr;
        return true;
    }
    bool Word(const char* word) {
        Blank();
        const std::size_t n = std::strlen(word);
        if (static_cast<std::size_t>(end - at) < n || std::memcmp(at, word, n) != 0) return false;
        at += n;
        return true;
    }
    // Any value, thrown away; nesting is bounded so a hostile payload cannot exhaust the stack.
    bool Skip() {
        Blank();
        if (at == end) return false;
        std::string ignored;
        double number = 0;
        if (*at == '"') return String(ignored);
        if (*at == '{' || *at == '[') {
            const char close = *at == '{' ? '}' : ']';
            if (++depth > 16) return false;
            ++at;
            if (!Take(close)) {
                do {
                    if (close == '}' && (!String(ignored) || !Take(':'))) return false;
                    if (!Skip()) return false;
                } while (Take(','));
                if (!Take(close)) return false;
            }
            --depth;
            return true;
        }
        return Word("true") || Word("false") || Word("null") || Number(number);
    }
    bool Bool(bool& out) {
        if (Word("true")) return out = true;
        if (Word("false")) return !(out = false);
        return false;
    }
};

// Calls each(key) for every member of an object; each reads the value.
template <typename Each>
bool Members(Reader& r, Each each) {
    if (!r.Take('{')) return false;
    if (r.Take('}')) return true;
    std::string key;
    do {
        if (!r.String(key) || !r.Take(':') || !each(key)) return false;
    } while (r.Take(','));
    return r.Take('}');
}

}  // namespace

bool ParseStateJson(const std::string& json, MqttReading& reading) {
    Reader r{json.data(), json.data() + json.size()};
    MqttReading out{};
    unsigned seen = 0;  // one bit per value read
    const bool ok = Members(r, [&](const std::string& key) {
        if (key == "paused") {
            seen |= 1u;
            return r.Bool(out.paused);
        }
        if (key != "engine1" && key != "engine2") return r.Skip();
        const int e = key[6] - '1';
        return Members(r, [&](const std::string& name) {
            const unsigned bit = 2u << (e * 4);
            if (name == "fuel_flow_kgph") return (seen |= bit, r.Number(out.fuelFlow[e]));
            if (name == "oil_pressure_psi") return (seen |= bit << 1, r.Number(out.oilPressure[e]));
            if (name == "oil_temperature_c") return (seen |= bit << 2, r.Number(out.oilTemperature[e]));
            if (name == "running") return (seen |= bit << 3, r.Bool(out.running[e]));
            return r.Skip();
        });
    });
    r.Blank();
    if (!ok || r.at != r.end || seen != 0x1ffu) return false;
    reading = out;
    return true;
}
