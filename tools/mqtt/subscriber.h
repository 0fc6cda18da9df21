// kovex-server's MQTT subscriber: every station a broker knows, from their retained "state" and
// "status" topics, kept up to date on the library's thread and read as snapshots from any other.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tools/mqtt/mqttpayload.h"
#include "tools/mqtt/mqtturl.h"

// One station as last heard of.
struct MqttStation {
    std::string name;
    bool online = false;   // its status says "online" (an unknown or empty status is not)
    bool live = false;     // online, and a state came from it (not a retained copy) in the last few seconds
    bool known = false;    // a state was read at all; reading is the newest
    MqttReading reading{};
    std::chrono::steady_clock::time_point readAt;  // when the newest state came
};

struct MqttStations {
    bool connected = false;  // to the broker; without it nothing is live
    std::vector<MqttStation> stations;  // sorted by name
};

// Takes "mqtt://...[:port]/STATION": the broker's URL, then the station's topic level after the last
// '/'. False with the reason in error.
bool ParseMqttStationUrl(const std::string& text, MqttAddress& broker, std::string& station, std::string& error);

// Starts connecting in the background; a broker away is retried with back-off, never an error.
// False with the reason when this build has no MQTT or the client cannot be set up.
bool StartMqttSubscriber(const MqttAddress& broker, std::string& error);
// A copy of what is known now; takes one short lock.
MqttStations MqttStationsNow();
// Disconnects and joins the threads; safe when never started.
void StopMqttSubscriber();
