// Reading a station's retained "state" back: the JSON object the publisher writes, as it comes off the
// network, so anything unexpected is refused rather than trusted.
#pragma once

#include <string>

#include "tools/mqtt/mqttpayload.h"

// Fills reading from {"engine1":{"fuel_flow_kgph":N,"oil_pressure_psi":N,"oil_temperature_c":N,
// "running":B},"engine2":{...},"paused":B,...}; other keys are ignored. False when a value is missing,
// of the wrong type or not finite.
bool ParseStateJson(const std::string& json, MqttReading& reading);
