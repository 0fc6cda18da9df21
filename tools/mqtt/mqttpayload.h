// What the MQTT publisher sends: the panel's values in dial units, their topics and payloads, and Home
// Assistant's discovery configs. No library here, so every build has it.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct FlightSample;

// One sample as the panel's dials show it.
struct MqttReading {
    double fuelFlow[2];        // kg/h
    double oilPressure[2];     // psi
    double oilTemperature[2];  // degrees C
    bool running[2];
    bool paused;
};

// Through the panel's own conversions; values that are not finite read 0.
MqttReading ReadingOf(const FlightSample& sample);

// A topic below "kovexfuel/STATION/" and its payload.
using MqttValue = std::pair<std::string, std::string>;

// The value topics whose value moved beyond its dead band from before (all of them when all is true),
// as plain decimal text with a full stop whatever the locale, and "true" or "false".
std::vector<MqttValue> ChangedValues(const MqttReading& now, const MqttReading& before, bool all);
// Every value of the reading as one JSON object with the time in UTC, e.g.
// {"engine1":{"fuel_flow_kgph":210.5,...,"running":true},"engine2":{...},"paused":false,"time":"...Z"}.
std::string StateJson(const MqttReading& reading, std::chrono::system_clock::time_point time);
// Retained discovery configs: topic (from "homeassistant/") and JSON payload, one per value.
std::vector<MqttValue> DiscoveryConfigs(const std::string& station);
