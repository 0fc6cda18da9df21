// Finding announced services through the avahi daemon: its browser, then a resolver per instance.
#include "platform/discover.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <cmath>

namespace plat {

namespace {

struct Search {
    AvahiSimplePoll* poll = nullptr;
    AvahiClient* client = nullptr;
    std::vector<FoundService>* found = nullptr;
    int resolving = 0;
    bool allForNow = false;
    std::string error;

    void QuitWhenComplete() {
        if (allForNow && resolving == 0) avahi_simple_poll_quit(poll);
    }
};

void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char* name, const char*, const char*, const char* host, const AvahiAddress* address,
                std::uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* data) {
    auto& search = *static_cast<Search*>(data);
    const bool known = std::any_of(search.found->begin(), search.found->end(),
                                   [&](const FoundService& s) { return s.name == name; });
    if (event == AVAHI_RESOLVER_FOUND && !known) {
        FoundService service;
        service.name = name;
        service.host = host ? host : "";
        char text[AVAHI_ADDRESS_STR_MAX] = {};
        avahi_address_snprint(text, sizeof text, address);
        service.address = text;
        service.port = port;
        for (AvahiStringList* item = txt; item; item = avahi_string_list_get_next(item)) {
            char* key = nullptr;
            char* value = nullptr;
            if (avahi_string_list_get_pair(item, &key, &value, nullptr) < 0) continue;
            service.txt.emplace_back(key, value ? value : "");
            avahi_free(key);
            avahi_free(value);
        }
        search.found->push_back(std::move(service));
    }
    avahi_service_resolver_free(resolver);
    --search.resolving;
    search.QuitWhenComplete();
}

void OnBrowsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
               const char* name, const char* type, const char* domain, AvahiLookupResultFlags, void* data) {
    auto& search = *static_cast<Search*>(data);
    switch (event) {
    case AVAHI_BROWSER_NEW:
        // IPv4 addresses only: the panel's server address is an IPv4 address or a name.
        if (avahi_service_resolver_new(search.client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                       AvahiLookupFlags(0), OnResolved, &search))
            ++search.resolving;
        break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
        search.allForNow = true;
        search.QuitWhenComplete();
        break;
    case AVAHI_BROWSER_FAILURE:
        search.error = avahi_strerror(avahi_client_errno(search.client));
        avahi_simple_poll_quit(search.poll);
        break;
    default:
        break;
    }
}

void OnClientState(AvahiClient*, AvahiClientState, void*) {}

void OnTimeout(AvahiTimeout*, void* data) { avahi_simple_poll_quit(static_cast<Search*>(data)->poll); }

}  // namespace

bool FindServices(const std::string& type, double waitSeconds, std::vector<FoundService>& found,
                  std::string& error) {
    found.clear();
    Search search;
    search.found = &found;
    search.poll = avahi_simple_poll_new();
    if (!search.poll) {
        error = "out of memory";
        return false;
    }
    int status = 0;
    // No AVAHI_CLIENT_NO_FAIL: a search without a daemon should say so at once, not wait for one.
    search.client = avahi_client_new(avahi_simple_poll_get(search.poll), AvahiClientFlags(0), OnClientState, nullptr,
                                     &status);
    AvahiServiceBrowser* browser = nullptr;
    if (!search.client) {
        error = std::string("the avahi daemon cannot be asked: ") + avahi_strerror(status);
    } else if (!(browser = avahi_service_browser_new(search.client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                     type.c_str(), nullptr, AvahiLookupFlags(0), OnBrowsed,
                                                     &search))) {
        error = avahi_strerror(avahi_client_errno(search.client));
    } else {
        const AvahiPoll* api = avahi_simple_poll_get(search.poll);
        timeval deadline{};
        avahi_elapse_time(&deadline, static_cast<unsigned>(std::lround(std::max(0.0, waitSeconds) * 1000)), 0);
        api->timeout_new(api, &deadline, OnTimeout, &search);
        avahi_simple_poll_loop(search.poll);
        if (!search.error.empty()) error = search.error;
    }
    if (search.client) avahi_client_free(search.client);  // frees the browser and resolvers too
    avahi_simple_poll_free(search.poll);
    return error.empty();
}

}  // namespace plat
