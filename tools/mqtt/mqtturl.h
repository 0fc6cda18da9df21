// Where the MQTT publisher connects: the broker's URL taken apart, and topic-level names.
#pragma once

#include <cstdint>
#include <string>

struct MqttAddress {
    bool tls = false;      // mqtts://, checked against the system's CA certificates
    std::string host;
    std::uint16_t port = 1883;  // 1883, or 8883 with TLS, unless the URL names one
    std::string user;      // empty: no login
    std::string password;
};

// Takes mqtt://[user[:password]@]host[:port] or mqtts://...; user and password may use %XX escapes.
// False with the reason in error for anything else.
bool ParseMqttUrl(const std::string& url, MqttAddress& address, std::string& error);
// Whether name can stand as one topic level: not empty, no '/', '+', '#' or control characters.
bool IsTopicLevel(const std::string& name);
// name with every character a topic level cannot hold replaced by '_'; "kovexfuel" when empty.
std::string TopicLevelOf(const std::string& name);
