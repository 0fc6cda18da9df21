// X-Plane's beacon: the datagram each running X-Plane multicasts once a second to say where its UDP
// interface listens, so a client finds it without being told an address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::uint32_t kBeaconGroup = 0xEFFF0101u;  // 239.255.1.1, host byte order
constexpr std::uint16_t kBeaconPort = 49707;
// "BECN", a zero byte, then the fixed fields: two version bytes, host id, version number, role, port.
constexpr std::size_t kBeaconFixedSize = 21;
constexpr std::size_t kBeaconNameSize = 500;  // the computer's name with its zero byte, at most
// Room beyond the name for fields later versions of the beacon add after it.
constexpr std::size_t kBeaconMaxSize = kBeaconFixedSize + kBeaconNameSize + 32;
constexpr std::uint32_t kBeaconRoleMaster = 1;  // the others are external visuals and instructor stations

struct Beacon {
    std::uint8_t majorVersion = 0;
    std::uint8_t minorVersion = 0;
    std::int32_t hostId = 0;   // 1 X-Plane, 2 Plane Maker
    std::int32_t version = 0;  // 120100 for X-Plane 12.1.0
    std::uint32_t role = 0;
    std::uint16_t port = 0;    // where its UDP interface listens, host byte order
    std::string computerName;  // printable ASCII; anything else shown as '?'
};

enum class BeaconParse { Ok, TooShort, TooLong, NotBeacon, NoName, NoPort, NotMaster };

// Reads a beacon datagram (little-endian fields, the name ended by a zero byte). beacon is filled
// only for Ok; a beacon from anything but a master X-Plane is NotMaster.
BeaconParse ParseBeacon(const std::uint8_t* data, std::size_t size, Beacon& beacon);

// Why a datagram is no beacon to follow, for a line about it.
const char* BeaconProblem(BeaconParse result);
