// Pushes at the page's own pace (50 times a second) while the station is live, so the page's fuel
// counting and freshness work as they do with local values; otherwise a message that says why not,
// and the page shows no values as live.
#include "tools/web/mqttfeed.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tools/mqtt/statejson.h"
#include "tools/mqtt/subscriber.h"
#include "tools/web/panelmessage.h"
#include "tools/web/webfiles.h"
#include "tools/web/webserver.h"

namespace {

constexpr auto kPushEvery = std::chrono::milliseconds(20);
constexpr auto kStatusEvery = std::chrono::milliseconds(500);  // for the page's note while not live

struct Feed {
    std::string station;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
};

Feed* feed = nullptr;

double WebMs(std::chrono::steady_clock::time_point at) {
    return std::chrono::duration<double, std::milli>(at.time_since_epoch()).count();
}

void Number(std::string& out, const char* name, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "\"%s\":%.1f,", name, value);
    out += text;
}

// What the page says while the station is not live: why.
const char* StatusOf(const MqttStations& now, const MqttStation* station) {
    if (!now.connected) return "broker away";
    if (!station || !station->online) return "offline";
    return "no values";
}

std::string PageMessage(const std::string& name) {
    const MqttStations now = MqttStationsNow();
    const MqttStation* station = nullptr;
    for (const MqttStation& s : now.stations)
        if (s.name == name) station = &s;
    std::string out;
    if (station && station->live) {
        const MqttReading& r = station->reading;
        PanelEngine engines[2];
        for (int e = 0; e < 2; ++e) engines[e] = {r.running[e], r.fuelFlow[e], r.oilPressure[e], r.oilTemperature[e]};
        out = PanelMessageOf(WebMs(station->readAt), r.paused, false, engines);
        out.pop_back();
        out += ",";
    } else {
        out = "{\"t\":" + std::to_string(WebClockMs()) + ",\"status\":\"" + StatusOf(now, station) + "\",";
    }
    return out + "\"station\":" + JsonQuoted(name) + "}";
}

// Every station for /stations: name, status and, when live, the values in dial units.
std::string StationsJson() {
    const MqttStations now = MqttStationsNow();
    std::string out = std::string("{\"connected\":") + (now.connected ? "true" : "false") + ",\"stations\":[";
    for (const MqttStation& s : now.stations) {
        out += "{\"name\":" + JsonQuoted(s.name) + ",\"status\":\"" + (s.live ? "live" : StatusOf(now, &s)) + "\"";
        if (s.live) {
            out += std::string(",\"paused\":") + (s.reading.paused ? "true" : "false") + ",\"engines\":[";
            for (int e = 0; e < 2; ++e) {
                out += "{";
                Number(out, "fuelFlow", s.reading.fuelFlow[e]);
                Number(out, "oilPressure", s.reading.oilPressure[e]);
                Number(out, "oilTemperature", s.reading.oilTemperature[e]);
                out += std::string("\"running\":") + (s.reading.running[e] ? "true" : "false") + (e ? "}" : "},");
            }
            out += "]";
        }
        out += "},";
    }
    if (out.back() == ',') out.pop_back();
    return out + "]}";
}

void Run(Feed& f) {
    std::unique_lock<std::mutex> lock(f.mutex);
    std::string lastStatus;
    auto statusAt = std::chrono::steady_clock::now() - kStatusEvery;
    while (!f.stopping) {
        lock.unlock();
        std::string message = PageMessage(f.station);
        const bool live = message.find("\"engines\"") != std::string::npos;
        const auto now = std::chrono::steady_clock::now();
        // A status repeats only now and then: it changes nothing the page shows until it changes.
        const std::string status = live ? std::string() : message.substr(message.find("\"status\""));
        if (live || status != lastStatus || now - statusAt >= kStatusEvery) {
            PublishWebMessage(std::move(message));
            if (!live) statusAt = now;
        }
        lastStatus = status;
        lock.lock();
        f.wake.wait_for(lock, kPushEvery, [&] { return f.stopping; });
    }
}

}  // namespace

bool StartWebFromMqtt(const MqttAddress& broker, const std::string& station, std::string& error) {
    if (!StartMqttSubscriber(broker, error)) return false;
    const WebFile* page = PackedWebFile("stations.html");
    ServeWebPage("/stations", "text/html; charset=utf-8", [page] {
        return page ? std::string(reinterpret_cast<const char*>(page->data), page->size) : std::string();
    });
    ServeWebPage("/stations.json", "application/json", StationsJson);
    feed = new Feed;
    feed->station = station;
    feed->thread = std::thread(Run, std::ref(*feed));
    return true;
}

void StopWebFromMqtt() {
    if (!feed) return;
    {
        std::lock_guard<std::mutex> lock(feed->mutex);
        feed->stopping = true;
    }
    feed->wake.notify_all();
    feed->thread.join();
    delete feed;
    feed = nullptr;
    StopMqttSubscriber();
}
