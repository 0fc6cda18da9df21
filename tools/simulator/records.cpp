// Walking a request area on the simulator side: reads fill data slots, writes land in memory.
#include "tools/simulator/records.h"

namespace {

std::uint32_t GetLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint8_t ReadByte(const StandInMemory& memory, std::uint64_t offset) {
    if (offset >= 0x3304 && offset < 0x3308) {
        const std::uint32_t word = memory.zeroVersions ? 0 : memory.interfaceVersion;
        return static_cast<std::uint8_t>(word >> (8 * (offset - 0x3304)));
    }
    if (offset >= 0x3308 && offset < 0x330C) {
        const std::uint32_t word = memory.zeroVersions ? 0 : (0xFADEu << 16 | memory.simulatorCode);
        return static_cast<std::uint8_t>(word >> (8 * (offset - 0x3308)));
    }
    return offset < kOffsetSpaceSize ? memory.space[offset] : 0;
}

void WriteByte(StandInMemory& memory, std::uint64_t offset, std::uint8_t value) {
    if (offset == 0x330A || offset == 0x330B) {
        const int shift = offset == 0x330A ? 0 : 8;
        memory.clientTag = static_cast<std::uint16_t>((memory.clientTag & ~(0xFF << shift)) | value << shift);
        return;
    }
    if (offset >= 0x3304 && offset < 0x330A) return;  // the version words are read-only
    if (offset < kOffsetSpaceSize) memory.space[offset] = value;
}

}  // namespace

bool CarryOutRecords(std::uint8_t* area, std::uint32_t areaSize, StandInMemory& memory) {
    std::uint64_t pos = 0;
    while (pos + 4 <= areaSize) {
        const std::uint32_t command = GetLe32(area + pos);
        if ((command & 0xFF) == 0) return true;
        const std::uint64_t header = command == 1 ? 16 : command == 2 ? 12 : 0;
        if (header == 0) return true;
        if (pos + header > areaSize) return false;
        const std::uint32_t offset = GetLe32(area + pos + 4);
        const std::uint64_t size = GetLe32(area + pos + 8);
        if (size > areaSize - pos - header) return false;
        std::uint8_t* data = area + pos + header;
        for (std::uint64_t i = 0; i < size; ++i) {
            if (command == 1)
                data[i] = ReadByte(memory, offset + i);
            else
                WriteByte(memory, offset + i, data[i]);
        }
        pos += header + size;
    }
    return false;  // no end marker inside the area
}

void SpoilHeaders(std::uint8_t* area, std::uint32_t areaSize, std::uint32_t round) {
    if (areaSize < 16) return;
    // Look for the first read record so the destination and size fields exist.
    std::uint64_t pos = 0;
    while (pos + 16 <= areaSize) {
        const std::uint32_t command = GetLe32(area + pos);
        if (command == 1) break;
        if (command != 2) return;
        pos += 12 + static_cast<std::uint64_t>(GetLe32(area + pos + 8));
    }
    if (pos + 16 > areaSize) return;
    std::uint8_t* record = area + pos;
    switch (round % 6) {
        case 0: PutLe32(record + 8, 0x7FFFFFF0u); break;                        // huge size
        case 1: PutLe32(record + 8, GetLe32(record + 8) + 64); break;           // size beyond its slot
        case 2: PutLe32(record + 12, 0xFFFFFFFFu); break;                       // foreign destination
        case 3: PutLe32(record + 12, GetLe32(record + 12) + 1); break;          // another record's index
        case 4: PutLe32(record, 2); break;                                      // read turned into a write
        default: PutLe32(record, 0); break;                                     // end marker in its place
    }
}
