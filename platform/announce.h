// Announcing this machine's services on the local network over DNS-SD on multicast DNS.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct AnnouncedService {
    std::string type;  // "_NAME._tcp"
    std::uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> txt;  // key=value records
};

// Keeps the services announced, all under one instance name, while it lives. Never blocks or ends
// its owner: the work runs in the background, and a responder that is missing or goes away costs
// one line through report; where the system makes it possible, the services come back with it.
class Announcer {
public:
    // name: the instance name wanted, empty for one made from the computer's name; on a collision
    // the system's alternative is taken and reported. report may be called from another thread.
    Announcer(std::string name, std::vector<AnnouncedService> services,
              std::function<void(const std::string&)> report);
    ~Announcer();
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace plat
