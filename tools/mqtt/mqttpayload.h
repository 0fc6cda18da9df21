// What the MQTT publisher sends: the panel's values in dial units, their topics and payloads, and Home
// Assistant's discovery configs. No library here, so every build has it.
#pragma once

#include <chrono>
#include <cstddef>
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

// The value topics, numbered 0 to kMqttTopicCount - 1 in the same order everywhere.
constexpr std::size_t kMqttTopicCount = 9;
// Topic i's name below "kovexfuel/STATION/", e.g. "engine1/fuel_flow_kgph".
const char* TopicName(std::size_t i);
// The number topic i stands for in the reading: its value, or 1 and 0 for a switch.
double TopicNumber(const MqttReading& reading, std::size_t i);
// Whether topic i's number moved from before by its dead band (0.5 kg/h, 0.1 psi, 0.1 C) or more;
// a switch, whenever it flips.
bool TopicMoved(std::size_t i, double now, double before);
// Topic i's payload: plain decimal text with one decimal and a full stop whatever the locale, or
// "true" and "false".
std::string TopicPayload(const MqttReading& reading, std::size_t i);

// Every value of the reading as one JSON object with the time in UTC, e.g.
// {"engine1":{"fuel_flow_kgph":210.5,...,"running":true},"engine2":{...},"paused":false,"time":"...Z"}.
std::string StateJson(const MqttReading& reading, std::chrono::system_clock::time_point time);
// Retained discovery configs: topic (from "homeassistant/") and JSON payload, one per value.
std::vector<MqttValue> DiscoveryConfigs(const std::string& station);
// text as a JSON string, quotes included; control characters escaped (station names come from anyone).
std::string JsonQuoted(const std::string& text);
