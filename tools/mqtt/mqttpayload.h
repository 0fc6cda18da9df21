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

// A topic below "kovexfuel/STATION/" (or "homeassistant/") and its payload.
using MqttValue = std::pair<std::string, std::string>;

// One value topic of a reading: its payload, as plain decimal text with a full stop whatever the locale
// or "true"/"false", the number it stands for (1 or 0 for the switches) and the least move of that
// number worth publishing.
struct MqttTopicValue {
    MqttValue value;
    double number;
    double deadBand;
};

// Every value topic of the reading, always in the same order.
std::vector<MqttTopicValue> TopicValues(const MqttReading& reading);
// Every value of the reading as one JSON object with the time in UTC, e.g.
// {"engine1":{"fuel_flow_kgph":210.5,...,"running":true},"engine2":{...},"paused":false,"time":"...Z"}.
std::string StateJson(const MqttReading& reading, std::chrono::system_clock::time_point time);
// Retained discovery configs: topic (from "homeassistant/") and JSON payload, one per value.
std::vector<MqttValue> DiscoveryConfigs(const std::string& station);
