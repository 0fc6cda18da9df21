// kovex-server's MQTT publisher: the panel's values on a broker, on threads of its own.
#pragma once

#include <string>

#include "tools/mqtt/mqtturl.h"

struct FlightSample;

struct MqttSettings {
    MqttAddress broker;
    std::string station;  // one topic level; empty: this machine's name
    bool discovery = false;  // also Home Assistant's discovery configs
};

// Starts connecting in the background; a broker that cannot be reached is retried, never an error.
// False with the reason in error when this build has no MQTT or the client cannot be set up.
bool StartMqttPublisher(const MqttSettings& settings, std::string& error);
// Hands the newest sample to the publisher; only copies it, so the server's turn is never held up.
void OfferMqttSample(const FlightSample& sample);
// Publishes "offline" when connected, disconnects and joins the threads; safe when never started.
void StopMqttPublisher();
