// Parsing of the server's command line; every bad argument is reported by name.
#include "tools/server/options.h"

#include <cerrno>
#include <cstdlib>

#include "tools/bridge/offsetsource.h"
#include "tools/cli/option_values.h"

namespace {

bool ParseUnsigned(const char* text, std::uint32_t limit, std::uint32_t& value) {
    if (!text || !*text || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > limit) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

const char* ServerUsage() {
    static const std::string text = std::string(
           "usage: kovex-server [options]\n"
           "Answers the panel's remote variable requests over TCP, many panels at once.\n"
           "\n"
           "Values:\n"
           "  --simulate           from the built-in twin-engine flight model (default)\n"
           "  --time-scale X       model seconds per real second, 0 to 1000 (default 1; 0 freezes the model)\n"
           "  --start-at SECONDS   begin the scripted flight this far in (default 0)\n"
           "  --fsuipc             from a flight simulator on this machine, through its FSUIPC interface;\n"
           "                       while none answers, every value reads 0 and the link is retried each second\n"
           "\n") + SimulatorUsage() + std::string(
           "\n"
           "Network:\n"
           "  --listen ADDRESS     numeric IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for the LAN)\n"
           "  --port N             TCP port (default 8765; 0 picks a free one)\n"
           "  --web PORT           also serve the panel as a web page on this TCP port, on the same address\n"
           "                       (0 picks a free one); browsers get live values over a WebSocket\n"
           "  --no-announce        do not announce the server and its page on the local network; without it,\n"
           "                       both are announced over DNS-SD on multicast DNS (service types\n"
           "                       _kovexfuel._tcp and _http._tcp) unless the address is a loopback one\n"
           "  --name NAME          the name announced (default \"KOVEXFuel on HOST\"); a name taken on the\n"
           "                       network is replaced by the next free one, which is printed\n"
           "  --log-requests       print each request as it arrives: \"request A:P offset,size,kind\"\n"
           "                       (a backslash, control bytes and bytes from 0x7F up as \\\\, \\n, \\r, \\t, \\xHH)\n"
           "  --max-clients N      connections served at once (default 500); more wait for a place\n"
           "  --output-limit BYTES unsent replies a client may hold back before it is dropped (default 65536)\n"
           "\n"
           "MQTT (publishing the panel's values to a broker, e.g. mosquitto):\n"
           "  --mqtt URL           mqtt://[user[:password]@]host[:port] (default port 1883), or mqtts://... over\n"
           "                       TLS checked with the system's CA certificates (default port 8883); %XX\n"
           "                       escapes in user and password. A broker that is away or refuses the login\n"
           "                       is retried with back-off, the panels being served all the while\n"
           "  --mqtt-station NAME  the station's topic level (default this machine's name): topics\n"
           "                       kovexfuel/NAME/engine1/fuel_flow_kgph, .../oil_pressure_psi,\n"
           "                       .../oil_temperature_c, .../running (and engine2), kovexfuel/NAME/paused,\n"
           "                       kovexfuel/NAME/state (JSON, retained) and kovexfuel/NAME/status (online or\n"
           "                       offline, retained; offline also as the last will); values on change and\n"
           "                       every second, QoS 0\n"
           "  --mqtt-discovery     also publish Home Assistant's discovery configs (homeassistant/...)\n"
           "  --web-from-mqtt URL/STATION\n"
           "                       with --web: the page shows the station STATION of the broker at URL (as\n"
           "                       for --mqtt, e.g. mqtt://broker.local/sim1) instead of this server's values,\n"
           "                       and /stations lists every station on that broker with its values, live;\n"
           "                       a station offline or not heard of is shown as such, never with old values\n"
           "\n"
           "Life:\n"
           "  --lifetime SECONDS   end after this long (default: run until stopped)\n"
           "  --exit-with-parent   end when standard input closes\n"
           "  --help               show this text\n"
           "Ctrl+C or SIGTERM ends the server cleanly with exit status 0.\n"
           "\n"
           "Protocol: a request is \"offset,size,kind\" in decimal followed by a zero byte, for example\n"
           "\"2328,8,2\"; the reply is the value as a decimal number text followed by a zero byte. Kinds:\n"
           "  1 signed 32-bit, 2 double, 3 unsigned 8-bit, 4 signed 16-bit, 5 unsigned 32-bit,\n"
           "  6 unsigned 16-bit, 7 float (written as the double it widens to).\n"
           "Integers are written without fraction; doubles in the shortest form that reads back exactly,\n"
           "with a full stop before the fraction and possibly an exponent (1e+300); NaN and infinity as 0.\n"
           "The kind alone decides how many bytes are read at the offset; the size only has to be 1 or more\n"
           "and, like the kind's own width, fit inside the 64 KiB offset space.\n"
           "Answered \"0\": a well-formed request with an unknown kind, size 0, or offset plus size (or\n"
           "width) beyond 65536.\n"
           "Closed at once: a request that is not three runs of digits joined by \",\" (blanks, signs,\n"
           "letters, missing or extra fields), or more than 64 bytes without a zero byte, or a client that\n"
           "holds back more unsent replies than the output limit.\n"
           "Closed after 10 s: a request begun and not finished (no zero byte) for that long. A client that is\n"
           "idle between requests is never closed for it; one whose machine went away without closing (asleep,\n"
           "off the network) stops answering the system's keep-alive probes and is closed within 2 minutes.\n"
           "\n"
           "Web page (--web): the four dials and the fuel-used read-outs, drawn from the panel's pictures\n"
           "and scaled to the browser window; values are pushed 50 times a second. Only the page (/), its\n"
           "pictures (/img/NAME.png), the value stream (/live), the home-screen manifest and icons and the\n"
           "page address's QR code (/qr) are served (with --web-from-mqtt also /stations and its list,\n"
           "/stations.json); at most 128 connections at once. Layouts for fixed screens: /?layout=wide,\n"
           "upright, engine1 or engine2.\n"
           "\n"
           "Output: a first line \"listening on ADDRESS:PORT\" (with --web, a second \"web page at URL\" and,\n"
           "when the output is a terminal, the page's QR code below it), then\n"
           "\"announced on the network as \"NAME\"\" or \"announcing is off: REASON\" when announcing,\n"
           "\"client ADDRESS:PORT connected (N open)\"\n"
           "and \"client ADDRESS:PORT left: REASON (N open)\", the reason one of: closed by peer, connection lost,\n"
           "request not understood, request too long, request unfinished for 10 s, not reading its replies,\n"
           "server stopping. The line \"limit of N clients reached: new connections wait for a place\" marks a\n"
           "full server.\n");
    return text.c_str();
}

bool ParseServerOptions(int argc, char** argv, ServerOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&](bool ok) { return TakeOptionValue(argc, argv, i, ok, error); };
        std::uint32_t number = 0;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--simulate") {
            options.source = ServerSource::Simulate;
        } else if (arg == "--fsuipc") {
            options.source = ServerSource::Fsuipc;
        } else if (arg == "--xplane") {
            options.source = ServerSource::XPlane;
        } else if (arg == "--flightgear") {
            options.source = ServerSource::FlightGear;
        } else if (arg == "--auto") {
            options.source = ServerSource::Auto;
        } else if (arg == "--sim-address") {
            std::string host;
            std::uint16_t simPort = 1;
            if (!needValue(value && ParseSimAddress(value, host, simPort))) return false;
            options.simAddress = value;
        } else if (arg == "--time-scale") {
            if (!needValue(ParseNonNegative(value, 1000.0, options.timeScale))) return false;
        } else if (arg == "--start-at") {
            if (!needValue(ParseNonNegative(value, 1e6, options.startAtSeconds))) return false;
        } else if (arg == "--listen") {
            if (!needValue(value && *value)) return false;
            options.listenAddress = value;
        } else if (arg == "--port") {
            if (!needValue(ParseUnsigned(value, 65535, number))) return false;
            options.port = static_cast<std::uint16_t>(number);
        } else if (arg == "--web") {
            if (!needValue(ParseUnsigned(value, 65535, number))) return false;
            options.web = true;
            options.webPort = static_cast<std::uint16_t>(number);
        } else if (arg == "--max-clients") {
            if (!needValue(ParseUnsigned(value, 100000, number) && number > 0)) return false;
            options.maxClients = number;
        } else if (arg == "--output-limit") {
            if (!needValue(ParseUnsigned(value, 1u << 30, number) && number >= 64)) return false;
            options.outputLimit = number;
        } else if (arg == "--mqtt") {
            std::string reason;
            if (value && !ParseMqttUrl(value, options.mqtt.broker, reason)) {
                error = "bad value for --mqtt: " + reason;
                return false;
            }
            if (!needValue(true)) return false;
            options.mqttUrl = value;
        } else if (arg == "--mqtt-station") {
            if (!needValue(value && IsTopicLevel(value))) return false;
            options.mqtt.station = value;
        } else if (arg == "--web-from-mqtt") {
            std::string reason;
            if (value && !ParseMqttStationUrl(value, options.webBroker, options.webStation, reason)) {
                error = "bad value for --web-from-mqtt: " + reason;
                return false;
            }
            if (!needValue(true)) return false;
            options.webFromMqtt = value;
        } else if (arg == "--mqtt-discovery") {
            options.mqtt.discovery = true;
        } else if (arg == "--lifetime") {
            if (!needValue(ParseNonNegative(value, 1e9, options.lifetimeSeconds))) return false;
        } else if (arg == "--exit-with-parent") {
            options.exitWithParent = true;
        } else if (arg == "--no-announce") {
            options.announce = false;
        } else if (arg == "--name") {
            if (!needValue(value && *value && std::string(value).size() <= 63)) return false;
            options.announceName = value;
        } else if (arg == "--log-requests") {
            options.logRequests = true;
        } else {
            error = "unknown argument: " + arg;
            return false;
        }
    }
    if (options.mqttUrl.empty() && (!options.mqtt.station.empty() || options.mqtt.discovery)) {
        error = "--mqtt-station and --mqtt-discovery need --mqtt URL";
        return false;
    }
    if (!options.webFromMqtt.empty() && !options.web) {
        error = "--web-from-mqtt needs --web PORT";
        return false;
    }
    return true;
}
