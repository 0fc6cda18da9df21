// The event loop: accepts, reads requests, answers them in order, drops clients that misbehave.
#include "tools/server/server.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "base/printable.h"
#include "platform/clock.h"
#include "platform/eventloop.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "simlink/panelvariables.h"
#include "tools/server/announce_server.h"
#include "tools/mqtt/publisher.h"
#include "tools/server/reply.h"
#include "tools/server/request.h"
#include "tools/server/valuesource.h"
#include "tools/web/mqttfeed.h"
#include "tools/web/panelmessage.h"
#include "tools/web/qrcode.h"
#include "tools/web/webserver.h"

namespace {

constexpr std::size_t kReadChunk = 4096;  // per client and turn, so one busy client cannot hog a turn
constexpr std::size_t kAcceptsPerTurn = 64;
constexpr int kTurnMs = 100;  // longest sleep, so the lifetime and the parent are watched
constexpr std::uint32_t kAcceptPauseMs = 100;
// A client that has begun a request and not finished it within this long holds its place for
// nothing (a stalled or hostile client); one that is idle between requests may wait for ever.
constexpr std::uint32_t kUnfinishedRequestMs = 10000;
constexpr std::uint32_t kWebPushMs = 20;  // browsers get the panel's values 50 times a second
// The longest a change waits to be seen for MQTT. Every turn samples for it anyway, since a turn's wake-up
// costs far more than the sample: a server whose panels ask often never wakes for MQTT alone.
constexpr int kMqttSampleMs = 20;

struct Client {
    plat::NetSocket socket;
    std::string peer;
    std::string input;    // an unfinished request
    std::uint32_t inputSince;  // when the unfinished request's first byte came
    std::string output;   // replies not yet sent, from sent on
    std::size_t sent;
    const char* leaving;  // why it is to be closed, or null
};

// One request of this turn, answered in arrival order once the values are fetched.
struct Job {
    std::size_t client;
    RequestStatus status;
    std::uint32_t kind;
    std::size_t read;  // index into reads, for Valid jobs
};

ServerOptions options;
plat::NetSocket listener = plat::kNoNetSocket;
std::vector<Client> clients;
std::vector<plat::NetPollItem> items;
std::vector<Job> jobs;
std::vector<PendingRead> reads;
std::uint32_t acceptPausedAt = 0;
bool acceptPaused = false;
std::uint32_t lastWebPush = 0;
std::uint8_t lastOffered[std::size(kFrameVariables)][8];  // the panel's bytes last handed to MQTT
bool offeredAny = false;

// The panel's own variables, read as a panel's requests are, handed to the web thread when its push is
// due and to the MQTT thread when they changed (it looks at a sample only to see whether it moved).
void ShareValues(bool webDue) {
    PendingRead panel[std::size(kFrameVariables)];
    for (std::size_t i = 0; i < std::size(kFrameVariables); ++i)
        panel[i] = PendingRead{kFrameVariables[i].offset, kFrameVariables[i].bytes, {}};
    FetchValues(panel, std::size(panel));
    bool changed = !offeredAny;
    for (std::size_t i = 0; i < std::size(panel) && !changed; ++i)
        changed = std::memcmp(lastOffered[i], panel[i].bytes, sizeof lastOffered[i]) != 0;
    const bool mqtt = !options.mqttUrl.empty() && changed;
    if (!webDue && !mqtt) return;
    const double sampledAt = WebClockMs();
    FlightSample sample{};
    for (std::size_t i = 0; i < std::size(kFrameVariables); ++i)
        std::memcpy(FieldOf(&sample, kFrameVariables[i]), panel[i].bytes, kFrameVariables[i].bytes);
    if (webDue) PublishWebMessage(PanelMessage(sample, sampledAt));
    if (!mqtt) return;
    OfferMqttSample(sample);
    for (std::size_t i = 0; i < std::size(panel); ++i) std::memcpy(lastOffered[i], panel[i].bytes, sizeof lastOffered[i]);
    offeredAny = true;
}

// The page shows this server's own values unless it follows a broker's station.
bool OwnValuesOnWeb() { return options.web && options.webFromMqtt.empty(); }

bool SharingValues() { return OwnValuesOnWeb() || !options.mqttUrl.empty(); }

// How long the loop may sleep: up to the next push when browsers are served, one sampling period for MQTT.
int TurnWait(std::uint32_t now) {
    if (!SharingValues()) return kTurnMs;
    if (!OwnValuesOnWeb()) return kMqttSampleMs;
    const std::uint32_t since = now - lastWebPush;
    return since >= kWebPushMs ? 0 : std::min<int>(kTurnMs, static_cast<int>(kWebPushMs - since));
}

void Leave(Client& client, const char* reason) {
    if (!client.leaving) client.leaving = reason;
}

void AddRequest(std::size_t index, const char* text, std::size_t length) {
    if (options.logRequests) {
        std::printf("request %s %s\n", clients[index].peer.c_str(), PrintableBytes(text, length).c_str());
    }
    VariableRequest request{};
    const RequestStatus status = ParseRequest(text, length, request);
    if (status == RequestStatus::Malformed) {
        Leave(clients[index], "request not understood");
        return;
    }
    Job job{index, status, request.kind, 0};
    if (status == RequestStatus::Valid) {
        job.read = reads.size();
        reads.push_back(PendingRead{request.offset, KindWidth(request.kind), {}});
    }
    jobs.push_back(job);
}

// Splits the bytes at each zero byte into requests; keeps an unfinished one for the next read.
void TakeBytes(std::size_t index, const char* data, std::size_t size) {
    Client& client = clients[index];
    std::size_t start = 0;
    for (std::size_t i = 0; i < size && !client.leaving; ++i) {
        if (data[i] != '\0') continue;
        if (client.input.empty()) {
            AddRequest(index, data + start, i - start);
        } else {
            client.input.append(data + start, i - start);
            AddRequest(index, client.input.data(), client.input.size());
            client.input.clear();
        }
        start = i + 1;
    }
    if (client.leaving) return;
    if (client.input.empty() && start < size) client.inputSince = plat::TickCount();
    client.input.append(data + start, size - start);
    if (client.input.size() > kMaxRequestLength) Leave(client, "request too long");
}

void ReadFrom(std::size_t index) {
    char buffer[kReadChunk];
    const long got = plat::NetRead(clients[index].socket, buffer, sizeof buffer);
    if (got == plat::kNetClosed)
        Leave(clients[index], "closed by peer");
    else if (got > 0)
        TakeBytes(index, buffer, static_cast<std::size_t>(got));
}

void Answer() {
    FetchValues(reads.data(), reads.size());
    for (const Job& job : jobs) {
        Client& client = clients[job.client];
        if (client.leaving) continue;
        char text[kReplyTextCapacity];
        std::size_t length = 1;
        text[0] = '0';
        if (job.status == RequestStatus::Valid) length = FormatVariable(job.kind, reads[job.read].bytes, text);
        text[length++] = '\0';
        client.output.append(text, length);
    }
    jobs.clear();
    reads.clear();
}

void WriteTo(Client& client) {
    while (!client.leaving && client.sent < client.output.size()) {
        const long put =
            plat::NetWrite(client.socket, client.output.data() + client.sent, client.output.size() - client.sent);
        if (put == plat::kNetClosed) Leave(client, "connection lost");
        if (put <= 0) break;
        client.sent += static_cast<std::size_t>(put);
    }
    if (client.sent == client.output.size()) {
        client.output.clear();
        client.sent = 0;
    } else if (client.sent >= 16384) {
        client.output.erase(0, client.sent);
        client.sent = 0;
    }
    if (client.output.size() - client.sent > options.outputLimit) Leave(client, "not reading its replies");
}

void CloseLeavers() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i].leaving) {
            plat::NetClose(clients[i].socket);
            std::printf("client %s left: %s (%zu open)\n", clients[i].peer.c_str(), clients[i].leaving,
                        clients.size() - 1 - (i - kept));
            continue;
        }
        if (kept != i) clients[kept] = std::move(clients[i]);
        ++kept;
    }
    clients.resize(kept);
}

void CloseStalled(std::uint32_t now) {
    for (Client& c : clients)
        if (!c.input.empty() && now - c.inputSince > kUnfinishedRequestMs) Leave(c, "request unfinished for 10 s");
    CloseLeavers();
}

// Takes waiting connections while there is room. A full server leaves the rest queued by the system,
// in their order of arrival, until a place frees, instead of turning them away.
void AcceptAll() {
    for (std::size_t n = 0; n < kAcceptsPerTurn && clients.size() < options.maxClients; ++n) {
        std::string peer, error;
        const plat::NetSocket socket = plat::NetAccept(listener, peer, error);
        if (socket == plat::kNoNetSocket) {
            if (!error.empty()) {
                // Out of descriptors, for instance: the listener stays ready, so wait instead of spinning.
                std::printf("cannot accept: %s\n", error.c_str());
                acceptPaused = true;
                acceptPausedAt = plat::TickCount();
            }
            return;
        }
        clients.push_back(Client{socket, peer, {}, 0, {}, 0, nullptr});
        std::printf("client %s connected (%zu open)\n", peer.c_str(), clients.size());
        if (clients.size() == options.maxClients)
            std::printf("limit of %zu clients reached: new connections wait for a place\n", clients.size());
    }
}

bool TimeToEnd(std::uint32_t start) {
    if (plat::StopRequested()) return true;
    if (options.lifetimeSeconds > 0.0 && (plat::TickCount() - start) / 1000.0 >= options.lifetimeSeconds) return true;
    return options.exitWithParent && plat::StandardInputClosed();
}

}  // namespace

int RunServer(const ServerOptions& serverOptions) {
    options = serverOptions;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line reaches a watching program at once
    plat::InstallStopSignals();
    std::string error;
    listener = plat::NetListen(options.listenAddress, options.port, error);
    if (listener == plat::kNoNetSocket) {
        std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
        return 1;
    }
    const std::string listenName = plat::NetLocalName(listener);
    std::printf("listening on %s\n", listenName.c_str());
    std::string page;
    if (!options.webFromMqtt.empty() && !StartWebFromMqtt(options.webBroker, options.webStation, error)) {
        std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
        plat::NetClose(listener);
        return 1;
    }
    if (options.web) {
        if (!StartWebServer(options.listenAddress, options.webPort, page, error)) {
            std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
            StopWebFromMqtt();
            plat::NetClose(listener);
            return 1;
        }
        std::printf("web page at %s\n", page.c_str());
        // For a tablet's camera; a log or a pipe gets the address alone (the code is at /qr).
        if (plat::StdoutIsTerminal()) std::fputs(QrTerminalText(page, plat::TerminalShowsUtf8()).c_str(), stdout);
    }
    if (!options.mqttUrl.empty() && !StartMqttPublisher(options.mqtt, error)) {
        std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
        StopWebFromMqtt();
        StopWebServer();
        plat::NetClose(listener);
        return 1;
    }
    if (!StartValueSource(options)) {
        StopMqttPublisher();
        StopWebFromMqtt();
        StopWebServer();
        plat::NetClose(listener);
        return 1;
    }
    const auto announcer = StartAnnouncing(options, listenName, page);

    int status = 0;
    const std::uint32_t start = plat::TickCount();
    std::uint32_t lastCheck = start - kTurnMs;  // so the first turn checks too
    while (!plat::StopRequested()) {
        const std::uint32_t now = plat::TickCount();
        if (now - lastCheck >= static_cast<std::uint32_t>(kTurnMs)) {
            lastCheck = now;
            if (TimeToEnd(start)) break;
            CloseStalled(now);
        }
        if (acceptPaused && now - acceptPausedAt >= kAcceptPauseMs) acceptPaused = false;

        items.clear();
        const bool room = clients.size() < options.maxClients;
        items.push_back(plat::NetPollItem{listener, room && !acceptPaused, false, false, false});
        for (const Client& c : clients)
            items.push_back(plat::NetPollItem{c.socket, true, c.sent < c.output.size(), false, false});
        const int ready = plat::NetPoll(items.data(), items.size(), TurnWait(now));
        if (ready < 0) {
            std::fprintf(stderr, "kovex-server: waiting for sockets failed\n");
            status = 1;
            break;
        }
        // Every turn, clients or not, so a simulator's comings and goings are seen when they happen.
        RefreshValueSource();
        if (SharingValues()) {
            const bool webDue = OwnValuesOnWeb() && plat::TickCount() - lastWebPush >= kWebPushMs;
            if (webDue) lastWebPush = plat::TickCount();
            ShareValues(webDue);
        }
        if (ready == 0) continue;

        // Clients accepted this turn are not in items yet; they are read from the next turn on.
        const std::size_t polled = clients.size();
        for (std::size_t i = 0; i < polled; ++i)
            if (items[i + 1].readable) ReadFrom(i);
        Answer();
        for (std::size_t i = 0; i < polled; ++i)
            if (clients[i].sent < clients[i].output.size()) WriteTo(clients[i]);
        CloseLeavers();
        if (items[0].readable) AcceptAll();
    }

    for (Client& c : clients) Leave(c, "server stopping");
    CloseLeavers();
    plat::NetClose(listener);
    StopWebFromMqtt();
    StopWebServer();
    StopMqttPublisher();
    StopValueSource();
    std::printf("stopped\n");
    return status;
}
