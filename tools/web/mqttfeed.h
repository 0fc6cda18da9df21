// The web page fed from a broker instead of this server's own values: one station's topics drive the
// page, and /stations shows every station the broker knows.
#pragma once

#include <string>

#include "tools/mqtt/mqtturl.h"

// Starts the subscriber and the thread that pushes the station's values to browsers, and registers
// /stations and /stations.json; call before StartWebServer. False with the reason in error (a build
// without MQTT, a client that cannot be set up).
bool StartWebFromMqtt(const MqttAddress& broker, const std::string& station, std::string& error);
void StopWebFromMqtt();
