// X-Plane's beacon read from datagrams built byte by byte: a master's beacon gives its port and name,
// and every kind of malformed or foreign datagram is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/bridge/beacon.h"

namespace {

void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> Packet(std::uint32_t role, std::uint32_t port, const std::string& name) {
    std::vector<std::uint8_t> p{'B', 'E', 'C', 'N', 0, 1, 2};
    Put(p, 1, 4);
    Put(p, 120100, 4);
    Put(p, role, 4);
    Put(p, port, 2);
    p.insert(p.end(), name.begin(), name.end());
    p.push_back(0);
    return p;
}

BeaconParse Parse(const std::vector<std::uint8_t>& p, Beacon& b) { return ParseBeacon(p.data(), p.size(), b); }

}  // namespace

// Catches fields read at the wrong place or in the wrong byte order, and a name taken past its end.
TEST(BeaconTest, MastersBeaconGivesPortAndName) {
    Beacon b;
    ASSERT_EQ(Parse(Packet(1, 49010, "simpc"), b), BeaconParse::Ok);
    EXPECT_EQ(b.majorVersion, 1);
    EXPECT_EQ(b.minorVersion, 2);
    EXPECT_EQ(b.hostId, 1);
    EXPECT_EQ(b.version, 120100);
    EXPECT_EQ(b.port, 49010);
    EXPECT_EQ(b.computerName, "simpc");

    // A later version's fields after the name, and a name with bytes a terminal must not get.
    std::vector<std::uint8_t> longer = Packet(1, 0xC351, std::string("sim\x1b[2Jpc\xff", 10));
    Put(longer, 0x1234, 2);
    ASSERT_EQ(Parse(longer, b), BeaconParse::Ok);
    EXPECT_EQ(b.port, 0xC351);
    EXPECT_EQ(b.computerName, "sim?[2Jpc?");
    ASSERT_EQ(Parse(Packet(1, 49000, ""), b), BeaconParse::Ok);
    EXPECT_EQ(b.computerName, "");
}

// Catches a read past a short datagram's end, a foreign or oversized datagram taken for a beacon,
// and a subscription to an instructor station, an external visual or port 0.
TEST(BeaconTest, MalformedAndForeignDatagramsRefused) {
    const std::vector<std::uint8_t> good = Packet(1, 49010, "simpc");
    Beacon b;
    b.port = 7;
    for (std::size_t size = 0; size < 22; ++size)
        EXPECT_EQ(ParseBeacon(good.data(), size, b), BeaconParse::TooShort) << size << " bytes";
    for (std::size_t at = 0; at < 5; ++at) {
        std::vector<std::uint8_t> header = good;
        header[at] ^= 0x20;
        EXPECT_EQ(Parse(header, b), BeaconParse::NotBeacon) << "header byte " << at;
    }
    std::vector<std::uint8_t> oversized = good;
    oversized.resize(kBeaconMaxSize + 1, 'x');
    EXPECT_EQ(Parse(oversized, b), BeaconParse::TooLong);
    std::vector<std::uint8_t> endless = good;
    endless.back() = 'x';
    EXPECT_EQ(Parse(endless, b), BeaconParse::NoName);
    EXPECT_EQ(Parse(Packet(1, 49010, std::string(kBeaconNameSize, 'n')), b), BeaconParse::NoName) << "a name too long";
    EXPECT_EQ(Parse(Packet(1, 0, "simpc"), b), BeaconParse::NoPort);
    for (std::uint32_t role : {0u, 2u, 3u, 0x01000000u})
        EXPECT_EQ(Parse(Packet(role, 49010, "simpc"), b), BeaconParse::NotMaster) << "role " << role;
    EXPECT_EQ(b.port, 7) << "a refused datagram changed the beacon";
}
