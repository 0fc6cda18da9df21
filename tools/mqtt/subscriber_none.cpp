// The subscriber where the build has no MQTT client library (the Windows cross-build).
#include "tools/mqtt/subscriber.h"

bool StartMqttSubscriber(const MqttAddress&, std::string& error) {
    error = "--web-from-mqtt: this build of kovex-server has no MQTT (built without libmosquitto); run the Linux "
            "server for it";
    return false;
}

MqttStations MqttStationsNow() { return {}; }

void StopMqttSubscriber() {}
