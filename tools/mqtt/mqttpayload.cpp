// Payloads of the MQTT publisher, through the conversions the panel draws with.
#include "tools/mqtt/mqttpayload.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "simlink/conversions.h"
#include "simlink/panelvariables.h"

namespace {

enum class Kind { Flow, Pressure, Temperature, Running, Paused };

struct Topic {
    const char* name;
    int engine;  // 0 or 1
    Kind kind;
    double deadBand;  // well below what a needle shows, so a subscriber sees every visible move
};
constexpr Topic kTopics[kMqttTopicCount] = {
    {"engine1/fuel_flow_kgph", 0, Kind::Flow, 0.5},       {"engine1/oil_pressure_psi", 0, Kind::Pressure, 0.1},
    {"engine1/oil_temperature_c", 0, Kind::Temperature, 0.1}, {"engine1/running", 0, Kind::Running, 0.5},
    {"engine2/fuel_flow_kgph", 1, Kind::Flow, 0.5},       {"engine2/oil_pressure_psi", 1, Kind::Pressure, 0.1},
    {"engine2/oil_temperature_c", 1, Kind::Temperature, 0.1}, {"engine2/running", 1, Kind::Running, 0.5},
    {"paused", 0, Kind::Paused, 0.5},
};

double Finite(double value) { return std::isfinite(value) ? value : 0.0; }

// One decimal, always a full stop: to_chars ignores the locale.
std::string Decimal(double value) {
    char text[64];
    const double rounded = std::round(Finite(value) * 10.0) / 10.0;
    const auto result = std::to_chars(text, text + sizeof text, rounded == 0.0 ? 0.0 : rounded,
                                      std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

const char* Bool(bool value) { return value ? "true" : "false"; }

// Two digits (or more for width), zero-filled.
std::string Digits(long long value, int width) {
    std::string text = std::to_string(value);
    return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
}

// ISO 8601 in UTC with milliseconds, from the days since 1970 (the civil calendar, without gmtime's
// shared buffer).
std::string UtcText(std::chrono::system_clock::time_point time) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    long long days = ms / 86400000, inDay = ms % 86400000;
    if (inDay < 0) inDay += 86400000, --days;
    const long long z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    return Digits(year, 4) + "-" + Digits(month, 2) + "-" + Digits(day, 2) + "T" + Digits(inDay / 3600000, 2) + ":" +
           Digits(inDay / 60000 % 60, 2) + ":" + Digits(inDay / 1000 % 60, 2) + "." + Digits(inDay % 1000, 3) + "Z";
}

struct Sensor {
    const char* id;  // the topic's last level
    const char* name;
    const char* unit;         // null: a binary sensor
    const char* deviceClass;  // null: none fits
};
constexpr Sensor kEngineSensors[] = {
    {"fuel_flow_kgph", "fuel flow", "kg/h", nullptr},
    {"oil_pressure_psi", "oil pressure", "psi", "pressure"},
    {"oil_temperature_c", "oil temperature", "\xc2\xb0" "C", "temperature"},
    {"running", "running", nullptr, "running"},
};

// Home Assistant's ids take letters, digits, '_' and '-' only.
std::string IdOf(const std::string& text) {
    std::string id;
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        id += plain ? c : '_';
    }
    return id;
}

std::string Config(const std::string& station, const std::string& objectId, const std::string& id,
                   const std::string& name, const char* unit, const char* deviceClass) {
    const std::string base = "kovexfuel/" + station + "/";
    std::string json = "{\"name\":" + JsonQuoted(name) + ",\"unique_id\":" + JsonQuoted(objectId) +
                       ",\"state_topic\":" + JsonQuoted(base + id) + ",\"availability_topic\":" + JsonQuoted(base + "status");
    if (unit) json += ",\"unit_of_measurement\":" + JsonQuoted(unit) + ",\"state_class\":\"measurement\"";
    else json += ",\"payload_on\":\"true\",\"payload_off\":\"false\"";
    if (deviceClass) json += ",\"device_class\":" + JsonQuoted(deviceClass);
    json += ",\"device\":{\"identifiers\":[" + JsonQuoted("kovexfuel_" + IdOf(station)) + "],\"name\":" +
            JsonQuoted("KOVEXFuel " + station) + ",\"manufacturer\":\"KOVEXFuel\",\"model\":\"kovex-server\"}}";
    return json;
}

}  // namespace

MqttReading ReadingOf(const FlightSample& sample) {
    MqttReading r{};
    r.fuelFlow[0] = Finite(FuelFlowKgPerHour(sample.fuelFlowPph1));
    r.fuelFlow[1] = Finite(FuelFlowKgPerHour(sample.fuelFlowPph2));
    r.oilPressure[0] = Finite(OilPressureValue(sample.oilPressRaw1));
    r.oilPressure[1] = Finite(OilPressureValue(sample.oilPressRaw2));
    r.oilTemperature[0] = Finite(OilTemperatureValue(sample.oilTempRaw1));
    r.oilTemperature[1] = Finite(OilTemperatureValue(sample.oilTempRaw2));
    r.running[0] = sample.combustion1 == 1;
    r.running[1] = sample.combustion2 == 1;
    r.paused = sample.paused != 0;
    return r;
}

const char* TopicName(std::size_t i) { return kTopics[i].name; }

double TopicNumber(const MqttReading& r, std::size_t i) {
    const int e = kTopics[i].engine;
    switch (kTopics[i].kind) {
        case Kind::Flow: return r.fuelFlow[e];
        case Kind::Pressure: return r.oilPressure[e];
        case Kind::Temperature: return r.oilTemperature[e];
        case Kind::Running: return r.running[e] ? 1.0 : 0.0;
        case Kind::Paused: break;
    }
    return r.paused ? 1.0 : 0.0;
}

bool TopicMoved(std::size_t i, double now, double before) { return std::fabs(now - before) >= kTopics[i].deadBand; }

std::string TopicPayload(const MqttReading& r, std::size_t i) {
    const Kind kind = kTopics[i].kind;
    const double number = TopicNumber(r, i);
    return kind == Kind::Running || kind == Kind::Paused ? Bool(number != 0.0) : Decimal(number);
}

std::string StateJson(const MqttReading& r, std::chrono::system_clock::time_point time) {
    std::string json = "{";
    for (int e = 0; e < 2; ++e) {
        json += "\"engine" + std::to_string(e + 1) + "\":{\"fuel_flow_kgph\":" + Decimal(r.fuelFlow[e]) +
                ",\"oil_pressure_psi\":" + Decimal(r.oilPressure[e]) + ",\"oil_temperature_c\":" +
                Decimal(r.oilTemperature[e]) + ",\"running\":" + Bool(r.running[e]) + "},";
    }
    return json + "\"paused\":" + Bool(r.paused) + ",\"time\":\"" + UtcText(time) + "\"}";
}

std::vector<MqttValue> DiscoveryConfigs(const std::string& station) {
    std::vector<MqttValue> out;
    for (int e = 1; e <= 2; ++e) {
        for (const Sensor& s : kEngineSensors) {
            const std::string id = "engine" + std::to_string(e) + "/" + s.id;
            const std::string objectId = "kovexfuel_" + IdOf(station) + "_engine" + std::to_string(e) + "_" + s.id;
            out.emplace_back(std::string(s.unit ? "sensor/" : "binary_sensor/") + objectId + "/config",
                             Config(station, objectId, id, "engine " + std::to_string(e) + " " + s.name, s.unit,
                                    s.deviceClass));
        }
    }
    const std::string paused = "kovexfuel_" + IdOf(station) + "_paused";
    out.emplace_back("binary_sensor/" + paused + "/config", Config(station, paused, "paused", "paused", nullptr, nullptr));
    return out;
}

std::string JsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
