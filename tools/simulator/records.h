// The stand-in's FSUIPC memory and the carrying out of a request area's records against it.
#pragma once

#include <cstdint>

#include "tools/flightmodel/offsetspace.h"

struct StandInMemory {
    std::uint8_t space[kOffsetSpaceSize];
    std::uint32_t interfaceVersion;  // read at 0x3304
    std::uint16_t simulatorCode;     // low half of the word at 0x3308; 0xFADE is the upper half
    bool zeroVersions;               // both version words read 0
    // 0x330A..0x330B are both the tag's home and the upper half of 0x3308: the written tag is kept
    // here, so every later open still reads 0xFADE there.
    std::uint16_t clientTag;
};

// Carries out every record up to the end marker. False when a record is malformed (unknown command
// aside, which ends the walk like the marker); nothing past the area is read or written either way.
bool CarryOutRecords(std::uint8_t* area, std::uint32_t areaSize, StandInMemory& memory);

// Rewrites one record header after the exchange, a different way each round, to test the client.
void SpoilHeaders(std::uint8_t* area, std::uint32_t areaSize, std::uint32_t round);
