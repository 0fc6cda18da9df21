// Finding services that others announce over DNS-SD on multicast DNS.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct FoundService {
    std::string name;     // instance name, unique on the network
    std::string host;     // its computer's multicast DNS name, "NAME.local"
    std::string address;  // numeric IPv4 address
    std::uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> txt;
};

// The services of type seen within waitSeconds (fewer seconds when the responder knows it has them
// all), one entry per instance name. False with a reason when no responder can be asked.
bool FindServices(const std::string& type, double waitSeconds, std::vector<FoundService>& found,
                  std::string& error);

}  // namespace plat
