// The subscriber through libmosquitto: the library's thread keeps the connection (reconnecting with
// back-off) and files each station's messages; a thread of ours makes the first connection, which may
// wait on naming the host, so that neither ever holds up the server's turn.
#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/mqtt/statejson.h"
#include "tools/mqtt/subscriber.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kKeepAliveSeconds = 10;
constexpr unsigned kFirstRetrySeconds = 1, kLastRetrySeconds = 30;
// The publisher sends its state at least once a second: three seconds without one and it is not live.
constexpr auto kLiveFor = std::chrono::seconds(3);
constexpr std::size_t kMaxStations = 500;  // a broker full of strangers cannot grow this without end
constexpr std::size_t kMaxPayload = 4096;
const char* const kStateTopics = "kovexfuel/+/state";
const char* const kStatusTopics = "kovexfuel/+/status";

struct Station {
    bool online = false;
    bool known = false;
    bool fresh = false;  // the newest state was sent while we listened, not a retained copy
    MqttReading reading{};
    Clock::time_point readAt;
};

struct Subscriber {
    MqttAddress broker;
    std::string where;
    mosquitto* client = nullptr;
    std::thread thread;

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    std::map<std::string, Station> stations;
    bool connected = false;
    bool everConnected = false;  // for one line each way
    bool stopping = false;
    bool looping = false;
    bool told = false;  // a line about the broker being away has been printed
};

Subscriber* subscriber = nullptr;

std::string Reason(int code) {
    std::string text = mosquitto_strerror(code);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

void OnConnect(mosquitto* client, void* data, int code) {
    Subscriber& s = *static_cast<Subscriber*>(data);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (code != 0) {
        if (!s.told) std::printf("web from mqtt: the broker refused the connection: %s; retrying\n",
                                 mosquitto_connack_string(code));
        s.told = true;
        return;
    }
    std::printf("web from mqtt: connected to %s\n", s.where.c_str());
    s.connected = s.everConnected = true;
    s.told = false;
    // A clean session forgets subscriptions: they are made again on each connection, and the retained
    // states and statuses come again with them.
    for (auto& [name, station] : s.stations) station = Station{};
    const char* topics[] = {kStateTopics, kStatusTopics};
    mosquitto_subscribe_multiple(client, nullptr, 2, const_cast<char* const*>(topics), 0, 0, nullptr);
}

void OnDisconnect(mosquitto*, void* data, int code) {
    Subscriber& s = *static_cast<Subscriber*>(data);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.connected && code != 0 && !s.stopping)
        std::printf("web from mqtt: lost the broker (%s); retrying\n", Reason(code).c_str());
    if (s.connected) s.told = true;
    s.connected = false;
}

void OnMessage(mosquitto*, void* data, const mosquitto_message* message) {
    Subscriber& s = *static_cast<Subscriber*>(data);
    const std::string topic = message->topic ? message->topic : "";
    // kovexfuel/STATION/state or .../status; the filters let nothing else through.
    const std::size_t first = topic.find('/'), last = topic.rfind('/');
    if (first == std::string::npos || last <= first + 1) return;
    const std::string name = topic.substr(first + 1, last - first - 1), kind = topic.substr(last + 1);
    if (message->payloadlen < 0 || static_cast<std::size_t>(message->payloadlen) > kMaxPayload) return;
    const std::string payload(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    MqttReading reading{};
    const bool isState = kind == "state";
    if (isState && !payload.empty() && !ParseStateJson(payload, reading)) return;
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.stations.find(name);
    if (it == s.stations.end()) {
        if (payload.empty() || s.stations.size() >= kMaxStations) return;
        it = s.stations.emplace(name, Station{}).first;
    }
    Station& station = it->second;
    if (!isState) {
        station.online = payload == "online";
    } else if (payload.empty()) {
        station.known = station.fresh = false;  // its retained state was cleared
    } else {
        station.known = true;
        station.fresh = !message->retain;
        station.reading = reading;
        station.readAt = Clock::now();
    }
}

// The first connection, with the same back-off the library then keeps for reconnections; false when
// stopped first.
void Connect(Subscriber& s) {
    auto delay = std::chrono::seconds(kFirstRetrySeconds);
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.stopping) {
        lock.unlock();
        int rc = mosquitto_connect_async(s.client, s.broker.host.c_str(), s.broker.port, kKeepAliveSeconds);
        const int failure = errno;
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(s.client);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            s.looping = true;
            return;
        }
        if (!s.told)
            std::printf("web from mqtt: cannot reach %s (%s); retrying\n", s.where.c_str(),
                        rc == MOSQ_ERR_ERRNO ? std::strerror(failure) : Reason(rc).c_str());
        s.told = true;
        s.wake.wait_for(lock, delay, [&] { return s.stopping; });
        delay = std::min(delay * 2, std::chrono::seconds(kLastRetrySeconds));
    }
}

}  // namespace

bool StartMqttSubscriber(const MqttAddress& broker, std::string& error) {
    mosquitto_lib_init();
    auto s = std::make_unique<Subscriber>();
    s->broker = broker;
    s->where = broker.host + ":" + std::to_string(broker.port);
    s->client = mosquitto_new(nullptr, true, s.get());
    int rc = s->client ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NOMEM;
    if (rc == MOSQ_ERR_SUCCESS && !broker.user.empty())
        rc = mosquitto_username_pw_set(s->client, broker.user.c_str(),
                                       broker.password.empty() ? nullptr : broker.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && broker.tls) {
        rc = mosquitto_tls_set(s->client, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_int_option(s->client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_reconnect_delay_set(s->client, kFirstRetrySeconds, kLastRetrySeconds, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "web from mqtt: cannot set the client up: " + Reason(rc);
        if (s->client) mosquitto_destroy(s->client);
        mosquitto_lib_cleanup();
        return false;
    }
    mosquitto_connect_callback_set(s->client, OnConnect);
    mosquitto_disconnect_callback_set(s->client, OnDisconnect);
    mosquitto_message_callback_set(s->client, OnMessage);
    std::printf("web from mqtt: reading kovexfuel/+/ from %s\n", s->where.c_str());
    subscriber = s.release();
    subscriber->thread = std::thread(Connect, std::ref(*subscriber));
    return true;
}

MqttStations MqttStationsNow() {
    MqttStations out;
    if (!subscriber) return out;
    Subscriber& s = *subscriber;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(s.mutex);
    out.connected = s.connected;
    out.stations.reserve(s.stations.size());
    for (const auto& [name, station] : s.stations) {
        MqttStation view;
        view.name = name;
        view.online = s.connected && station.online;
        view.known = station.known;
        view.live = view.online && station.fresh && now - station.readAt < kLiveFor;
        view.reading = station.reading;
        view.readAt = station.readAt;
        out.stations.push_back(view);
    }
    return out;
}

void StopMqttSubscriber() {
    if (!subscriber) return;
    Subscriber& s = *subscriber;
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.stopping = true;
        connected = s.connected;
    }
    s.wake.notify_all();
    s.thread.join();
    mosquitto_disconnect(s.client);
    // A client between reconnection attempts would sleep out its back-off: its thread is cancelled.
    if (s.looping) mosquitto_loop_stop(s.client, !connected);
    mosquitto_destroy(s.client);
    mosquitto_lib_cleanup();
    delete subscriber;
    subscriber = nullptr;
}
