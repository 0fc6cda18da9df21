// The publisher where the build has no MQTT client library (the Windows cross-build).
#include "tools/mqtt/publisher.h"

bool StartMqttPublisher(const MqttSettings&, std::string& error) {
    error = "mqtt: this build of kovex-server has no MQTT (built without libmosquitto); run the Linux server for it";
    return false;
}

void OfferMqttSample(const FlightSample&) {}

void StopMqttPublisher() {}
