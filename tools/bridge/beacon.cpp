// Reading X-Plane's beacon datagram, field by field, never past its end.
#include "tools/bridge/beacon.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t U32At(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

BeaconParse ParseBeacon(const std::uint8_t* data, std::size_t size, Beacon& beacon) {
    if (size > kBeaconMaxSize) return BeaconParse::TooLong;
    if (size < 5 || std::memcmp(data, "BECN", 5) != 0) return size < 5 ? BeaconParse::TooShort : BeaconParse::NotBeacon;
    // The name's zero byte at least follows the fixed fields.
    if (size < kBeaconFixedSize + 1) return BeaconParse::TooShort;
    const std::uint8_t* name = data + kBeaconFixedSize;
    const std::size_t room = std::min(size - kBeaconFixedSize, kBeaconNameSize);
    const void* end = std::memchr(name, 0, room);
    if (!end) return BeaconParse::NoName;
    Beacon b;
    b.majorVersion = data[5];
    b.minorVersion = data[6];
    b.hostId = static_cast<std::int32_t>(U32At(data + 7));
    b.version = static_cast<std::int32_t>(U32At(data + 11));
    b.role = U32At(data + 15);
    b.port = static_cast<std::uint16_t>(data[19] | data[20] << 8);
    for (const std::uint8_t* c = name; c != end; ++c) b.computerName += *c >= 0x20 && *c < 0x7F ? static_cast<char>(*c) : '?';
    if (b.port == 0) return BeaconParse::NoPort;
    if (b.role != kBeaconRoleMaster) return BeaconParse::NotMaster;
    beacon = b;
    return BeaconParse::Ok;
}

const char* BeaconProblem(BeaconParse result) {
    switch (result) {
        case BeaconParse::Ok: return "none";
        case BeaconParse::TooShort: return "too short";
        case BeaconParse::TooLong: return "too long";
        case BeaconParse::NotBeacon: return "not a beacon";
        case BeaconParse::NoName: return "no zero byte ends the computer's name";
        case BeaconParse::NoPort: return "port 0";
        case BeaconParse::NotMaster: return "not a master X-Plane";
    }
    return "unknown";
}
