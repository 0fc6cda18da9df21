// Command line of the network server.
#pragma once

#include <cstdint>
#include <string>

#include "tools/mqtt/publisher.h"
#include "tools/mqtt/subscriber.h"

enum class ServerSource {
    Simulate,  // the twin-engine flight model inside the server
    Fsuipc,    // a simulator on this machine, through the FSUIPC client
    XPlane,    // X-Plane on this machine or the LAN, through its UDP subscriptions
    FlightGear,  // FlightGear on this machine or the LAN, through its property server
    Auto,        // whichever of X-Plane and FlightGear is found; the flight model until then
};

struct ServerOptions {
    ServerSource source = ServerSource::Simulate;
    std::string simAddress;         // where X-Plane or FlightGear runs, "HOST[:PORT]"; empty: its default
                                    // (with Auto: one more FlightGear port to probe)
    std::string listenAddress = "127.0.0.1";
    std::uint16_t port = 8765;      // 0: any free port
    bool web = false;               // serve the browser view too
    std::uint16_t webPort = 0;      // its port; 0: any free port
    std::string mqttUrl;            // --mqtt: publish the values to this broker; empty: no MQTT
    MqttSettings mqtt;              // the broker taken from it, the station, the discovery switch
    std::string webFromMqtt;        // --web-from-mqtt: the page shows this broker's station instead; empty: ours
    MqttAddress webBroker;          // the broker taken from it
    std::string webStation;         // and the station
    double timeScale = 1.0;         // model seconds per real second; 0 freezes the model
    double startAtSeconds = 0.0;    // model time at start
    double lifetimeSeconds = 0.0;   // 0: until stopped
    std::uint32_t maxClients = 500;
    std::uint32_t outputLimit = 65536;  // bytes of unsent replies a client may hold back before it is dropped
    bool announce = true;           // over DNS-SD, unless listening on loopback only
    std::string announceName;       // its instance name; empty: one made from the computer's name
    bool exitWithParent = false;
    bool logRequests = false;  // one output line per request, for tests and trouble-shooting
    bool help = false;
};

// Parses the arguments; on a bad one returns false with a message in error.
bool ParseServerOptions(int argc, char** argv, ServerOptions& options, std::string& error);
const char* ServerUsage();
