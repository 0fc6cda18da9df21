// Announcing services through the avahi daemon, from avahi-client's own background thread.
#include "platform/announce.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace plat {

struct Announcer::Impl {
    std::string name;
    std::vector<AnnouncedService> services;
    std::function<void(const std::string&)> report;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    bool waitingReported = false;

    void Register(AvahiClient* c);
    void TakeAlternativeName() {
        char* next = avahi_alternative_service_name(name.c_str());
        report("the name \"" + name + "\" is taken on the network; announcing as \"" + next + "\"");
        name = next;
        avahi_free(next);
    }
};

namespace {

void StartClient(Announcer::Impl& impl);

void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data) {
    auto& impl = *static_cast<Announcer::Impl*>(data);
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
        impl.waitingReported = false;
        impl.report("announced on the network as \"" + impl.name + "\"");
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        impl.TakeAlternativeName();
        impl.Register(avahi_entry_group_get_client(group));
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        impl.report(std::string("announcing is off: ") +
                    avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
    }
}

void OnClientState(AvahiClient* c, AvahiClientState state, void* data) {
    auto& impl = *static_cast<Announcer::Impl*>(data);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (impl.name.empty()) impl.name = std::string("KOVEXFuel on ") + avahi_client_get_host_name(c);
        impl.Register(c);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name itself is being renegotiated; the daemon says RUNNING again afterwards.
        if (impl.group) avahi_entry_group_reset(impl.group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!impl.waitingReported) {
            impl.report("announcing is off: the avahi daemon is not running (announcing as soon as it starts)");
            impl.waitingReported = true;
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away: a new client waits for it to come back.
            impl.report("announcing is off: the avahi daemon went away (announcing again when it is back)");
            impl.waitingReported = true;
            avahi_client_free(c);
            impl.client = nullptr;
            impl.group = nullptr;
            StartClient(impl);
        } else {
            impl.report(std::string("announcing is off: ") + avahi_strerror(avahi_client_errno(c)));
        }
        break;
    }
}

void RetryClient(AvahiTimeout* timeout, void* data) {
    avahi_threaded_poll_get(static_cast<Announcer::Impl*>(data)->poll)->timeout_free(timeout);
    StartClient(*static_cast<Announcer::Impl*>(data));
}

void StartClient(Announcer::Impl& impl) {
    int error = 0;
    const AvahiPoll* api = avahi_threaded_poll_get(impl.poll);
    impl.client = avahi_client_new(api, AVAHI_CLIENT_NO_FAIL, OnClientState, &impl, &error);
    if (impl.client) return;
    // Without a system bus at all the library does not wait for the daemon itself; this does.
    if (!impl.waitingReported)
        impl.report(std::string("announcing is off: ") + avahi_strerror(error) +
                    " (announcing as soon as the avahi daemon starts)");
    impl.waitingReported = true;
    timeval retry{};
    avahi_elapse_time(&retry, 5000, 0);
    api->timeout_new(api, &retry, RetryClient, &impl);
}

}  // namespace

void Announcer::Impl::Register(AvahiClient* c) {
    if (!group) group = avahi_entry_group_new(c, OnGroupState, this);
    if (!group) {
        report(std::string("announcing is off: ") + avahi_strerror(avahi_client_errno(c)));
        return;
    }
    avahi_entry_group_reset(group);
    for (int attempt = 0; attempt < 20; ++attempt) {
        int result = AVAHI_OK;
        for (const AnnouncedService& service : services) {
            AvahiStringList* txt = nullptr;
            for (const auto& [key, value] : service.txt) txt = avahi_string_list_add_pair(txt, key.c_str(), value.c_str());
            result = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                          AvahiPublishFlags(0), name.c_str(), service.type.c_str(),
                                                          nullptr, nullptr, service.port, txt);
            avahi_string_list_free(txt);
            if (result < 0) break;
        }
        if (result == AVAHI_ERR_COLLISION) {
            avahi_entry_group_reset(group);
            TakeAlternativeName();
            continue;
        }
        if (result >= 0) result = avahi_entry_group_commit(group);
        if (result < 0) report(std::string("announcing is off: ") + avahi_strerror(result));
        return;
    }
}

Announcer::Announcer(std::string name, std::vector<AnnouncedService> services,
                     std::function<void(const std::string&)> report)
    : impl_(std::make_unique<Impl>()) {
    impl_->name = std::move(name);
    impl_->services = std::move(services);
    impl_->report = std::move(report);
    impl_->poll = avahi_threaded_poll_new();
    if (!impl_->poll) {
        impl_->report("announcing is off: out of memory");
        return;
    }
    StartClient(*impl_);
    if (avahi_threaded_poll_start(impl_->poll) < 0) impl_->report("announcing is off: no thread for it");
}

Announcer::~Announcer() {
    if (!impl_->poll) return;
    avahi_threaded_poll_stop(impl_->poll);
    if (impl_->client) avahi_client_free(impl_->client);
    avahi_threaded_poll_free(impl_->poll);
}

}  // namespace plat
