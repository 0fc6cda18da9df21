// The station's address as one argument: the broker's URL with the station as its path.
#include "tools/mqtt/subscriber.h"

bool ParseMqttStationUrl(const std::string& text, MqttAddress& broker, std::string& station, std::string& error) {
    const std::size_t scheme = text.find("://");
    const std::size_t slash = text.rfind('/');
    if (scheme == std::string::npos || slash < scheme + 3 || slash + 1 >= text.size()) {
        error = "no station after the broker's URL (mqtt://[user[:password]@]host[:port]/STATION): " + text;
        return false;
    }
    const std::string name = text.substr(slash + 1);
    if (!IsTopicLevel(name)) {
        error = "not a usable station name: " + name;
        return false;
    }
    if (!ParseMqttUrl(text.substr(0, slash), broker, error)) return false;
    station = name;
    return true;
}
