// The publisher through libmosquitto: its own thread runs the network and reconnects with back-off; ours
// turns each new sample into the topics that changed, and every topic once a second.
#include <mosquitto.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "simlink/panelvariables.h"
#include "tools/mqtt/mqttpayload.h"
#include "tools/mqtt/publisher.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kEveryTopic = std::chrono::milliseconds(1000);
constexpr int kKeepAliveSeconds = 10;
constexpr auto kOfflineWait = std::chrono::milliseconds(1000);
constexpr unsigned kFirstRetrySeconds = 1, kLastRetrySeconds = 30;  // back-off between connection attempts
constexpr auto kFirstRetry = std::chrono::seconds(kFirstRetrySeconds);
constexpr auto kLastRetry = std::chrono::seconds(kLastRetrySeconds);

enum class Link { Connecting, Connected, Lost, Refused };

// What was last sent on one value topic.
struct Sent {
    double number = 0.0;
    Clock::time_point at;
    bool ever = false;
};

struct Publisher {
    MqttSettings settings;
    std::string base;  // "kovexfuel/STATION/"
    std::string where;  // "HOST:PORT", for the log lines
    mosquitto* client = nullptr;
    std::thread thread;

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    FlightSample sample{};  // the newest
    bool haveSample = false;
    bool moved = false;  // the newest moved a value beyond its dead band since it was last sent
    std::array<Sent, kMqttTopicCount> sent;
    bool connected = false;
    bool everyTopic = false;  // just connected: send all, the broker may have lost the retained ones
    bool stopping = false;
    bool looping = false;  // the library's thread runs
    Link link = Link::Connecting;
    int offlineMid = -1;
    bool offlineSent = false;
};

Publisher* publisher = nullptr;

// The kernel's name for this machine; a file read keeps OS headers out of here.
std::string HostName() {
    std::ifstream in("/proc/sys/kernel/hostname");
    std::string name;
    std::getline(in, name);
    return TopicLevelOf(name);
}

// The library's words without their closing full stop, to sit inside a line.
std::string Unstopped(const char* words) {
    std::string text = words ? words : "";
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string Reason(int code) { return Unstopped(mosquitto_strerror(code)); }

void Publish(mosquitto* client, const std::string& topic, const std::string& payload, int qos, bool retain,
             int* mid = nullptr) {
    mosquitto_publish(client, mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, retain);
}

void OnConnect(mosquitto* client, void* data, int code) {
    Publisher& p = *static_cast<Publisher*>(data);
    std::unique_lock<std::mutex> lock(p.mutex);
    if (code != 0) {
        const bool login = code == 4 || code == 5;  // bad user name or password, not authorised
        if (p.link != Link::Refused)
            std::printf("mqtt: the broker refused %s: %s; retrying\n", login ? "the login" : "the connection",
                        Unstopped(mosquitto_connack_string(code)).c_str());
        p.link = Link::Refused;
        return;
    }
    std::printf("mqtt: connected to %s\n", p.where.c_str());
    p.link = Link::Connected;
    p.connected = true;
    p.everyTopic = true;
    Publish(client, p.base + "status", "online", 1, true);
    if (p.settings.discovery)
        for (const MqttValue& config : DiscoveryConfigs(p.settings.station))
            Publish(client, "homeassistant/" + config.first, config.second, 1, true);
    p.wake.notify_all();
}

void OnDisconnect(mosquitto*, void* data, int code) {
    Publisher& p = *static_cast<Publisher*>(data);
    std::lock_guard<std::mutex> lock(p.mutex);
    p.connected = false;
    if (code != 0 && p.link == Link::Connected)
        std::printf("mqtt: lost the broker (%s); retrying\n", Reason(code).c_str());
    if (p.link == Link::Connected) p.link = Link::Lost;
}

void OnPublish(mosquitto*, void* data, int mid) {
    Publisher& p = *static_cast<Publisher*>(data);
    std::lock_guard<std::mutex> lock(p.mutex);
    if (mid == p.offlineMid) {
        p.offlineSent = true;
        p.wake.notify_all();
    }
}

// The first connection, here rather than in the server's turn since naming the host may take a while.
// Once one is under way the library's thread keeps it, reconnecting by itself; a broker refusing
// connections at once is tried again with the same back-off. False when stopped first.
bool Connect(Publisher& p, std::unique_lock<std::mutex>& lock) {
    auto delay = kFirstRetry;
    while (!p.stopping) {
        lock.unlock();
        int rc = mosquitto_connect_async(p.client, p.settings.broker.host.c_str(), p.settings.broker.port,
                                         kKeepAliveSeconds);
        const int failure = errno;
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(p.client);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            p.looping = true;
            return true;
        }
        if (p.link != Link::Lost)
            std::printf("mqtt: cannot reach %s (%s); retrying\n", p.where.c_str(),
                        rc == MOSQ_ERR_ERRNO ? std::strerror(failure) : Reason(rc).c_str());
        p.link = Link::Lost;
        p.wake.wait_for(lock, delay, [&] { return p.stopping; });
        delay = std::min(delay * 2, kLastRetry);
    }
    return false;
}

// Waits for a sample that moved a value, or for a topic's second without a message, and publishes each
// topic whose value moved beyond its dead band or that has been quiet for a second, then the state when
// any went out.
void Run(Publisher& p) {
    Clock::time_point nextDue = Clock::now() + kEveryTopic;
    std::unique_lock<std::mutex> lock(p.mutex);
    if (!Connect(p, lock)) return;
    while (!p.stopping) {
        // Nothing is due without a connection: a broker lost just after connecting leaves everyTopic set, and
        // waking for it then would spin holding the lock the server's turn and the library's thread need.
        p.wake.wait_until(lock, nextDue, [&] {
            return p.stopping || (p.connected && p.haveSample && (p.moved || p.everyTopic));
        });
        if (p.stopping) break;
        p.moved = false;
        const Clock::time_point now = Clock::now();
        if (!p.haveSample || !p.connected) {
            nextDue = now + kEveryTopic;  // nothing to send to: sleep until a sample or a connection
            continue;
        }
        if (p.everyTopic) p.sent = {};  // a broker that has just connected may have lost them all
        p.everyTopic = false;
        const MqttReading reading = ReadingOf(p.sample);
        bool due[kMqttTopicCount] = {};
        bool any = false;
        nextDue = now + kEveryTopic;
        for (std::size_t i = 0; i < kMqttTopicCount; ++i) {
            Sent& s = p.sent[i];
            const double number = TopicNumber(reading, i);
            if (!s.ever || TopicMoved(i, number, s.number) || now - s.at >= kEveryTopic) {
                s = Sent{number, now, true};
                due[i] = any = true;
            }
            nextDue = std::min(nextDue, s.at + kEveryTopic);
        }
        lock.unlock();
        for (std::size_t i = 0; i < kMqttTopicCount; ++i)
            if (due[i]) Publish(p.client, p.base + TopicName(i), TopicPayload(reading, i), 0, false);
        if (any) Publish(p.client, p.base + "state", StateJson(reading, std::chrono::system_clock::now()), 0, true);
        lock.lock();
    }
}

}  // namespace

bool StartMqttPublisher(const MqttSettings& settings, std::string& error) {
    mosquitto_lib_init();
    auto p = std::make_unique<Publisher>();
    p->settings = settings;
    if (p->settings.station.empty()) p->settings.station = HostName();
    p->base = "kovexfuel/" + p->settings.station + "/";
    p->where = settings.broker.host + ":" + std::to_string(settings.broker.port);
    p->client = mosquitto_new(nullptr, true, p.get());
    int rc = p->client ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NOMEM;
    const std::string status = p->base + "status";
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_will_set(p->client, status.c_str(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !settings.broker.user.empty())
        rc = mosquitto_username_pw_set(p->client, settings.broker.user.c_str(),
                                       settings.broker.password.empty() ? nullptr : settings.broker.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && settings.broker.tls) {
        rc = mosquitto_tls_set(p->client, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_int_option(p->client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_reconnect_delay_set(p->client, kFirstRetrySeconds, kLastRetrySeconds, true);
    if (rc == MOSQ_ERR_SUCCESS) mosquitto_int_option(p->client, MOSQ_OPT_TCP_NODELAY, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "mqtt: cannot set the client up: " + Reason(rc);
        if (p->client) mosquitto_destroy(p->client);
        mosquitto_lib_cleanup();
        return false;
    }
    mosquitto_connect_callback_set(p->client, OnConnect);
    mosquitto_disconnect_callback_set(p->client, OnDisconnect);
    mosquitto_publish_callback_set(p->client, OnPublish);
    std::printf("mqtt: publishing to %s as kovexfuel/%s/\n", p->where.c_str(), p->settings.station.c_str());
    publisher = p.release();
    publisher->thread = std::thread(Run, std::ref(*publisher));
    return true;
}

void OfferMqttSample(const FlightSample& sample) {
    if (!publisher) return;
    Publisher& p = *publisher;
    // The dead bands are checked here, a few sums, so that steady values cost no wake-up of the thread.
    const MqttReading reading = ReadingOf(sample);
    bool moved = false;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.sample = sample;
        p.haveSample = true;
        for (std::size_t i = 0; i < kMqttTopicCount && p.connected && !moved; ++i)
            moved = !p.sent[i].ever || TopicMoved(i, TopicNumber(reading, i), p.sent[i].number);
        p.moved = p.moved || moved;
    }
    if (moved) p.wake.notify_one();
}

void StopMqttPublisher() {
    if (!publisher) return;
    Publisher& p = *publisher;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.stopping = true;
    }
    p.wake.notify_all();
    p.thread.join();
    std::unique_lock<std::mutex> lock(p.mutex);
    const bool connected = p.connected;
    if (connected) {
        const std::string status = p.base + "status";
        mosquitto_publish(p.client, &p.offlineMid, status.c_str(), 7, "offline", 1, true);
        p.wake.wait_for(lock, kOfflineWait, [&] { return p.offlineSent; });
    }
    lock.unlock();
    // A client between reconnection attempts would sleep out its back-off: its thread is cancelled.
    mosquitto_disconnect(p.client);
    if (p.looping) mosquitto_loop_stop(p.client, !connected);
    mosquitto_destroy(p.client);
    mosquitto_lib_cleanup();
    delete publisher;
    publisher = nullptr;
}
