// Test support: the panel's request rows and the flight model's value for each, computed in the test.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/flightmodel/flightmodel.h"
#include "tools/flightmodel/offsetspace.h"

struct Row {
    std::uint32_t offset;
    const char* size;
    const char* kind;
};
// The panel's per-frame rows, then its start-up rows, in the order the panel sends them.
inline const Row kPanelRows[] = {{0x0918, "8", "2"}, {0x09B0, "8", "2"}, {0x08B8, "2", "4"}, {0x0950, "2", "4"},
                          {0x08BA, "2", "6"}, {0x0952, "2", "6"}, {0x0894, "2", "6"}, {0x092C, "2", "6"},
                          {0x0264, "2", "4"}, {0x3365, "1", "3"}, {0x0B80, "4", "1"}, {0x0B98, "4", "1"},
                          {0x0B7C, "4", "1"}, {0x0B94, "4", "1"}};

inline std::string RequestText(const Row& row) {
    return std::to_string(row.offset) + "," + row.size + "," + row.kind;
}

// The model's value for a row, as the server should read it, computed here from the same model.
inline double Expected(const Row& row, double startAt) {
    FlightModel model;
    FlightModelReset(model);
    FlightModelAdvance(model, startAt);
    std::vector<std::uint8_t> space(kOffsetSpaceSize, 0);
    WriteModelOffsets(model, space.data());
    const std::uint8_t* at = space.data() + row.offset;
    const int kind = std::atoi(row.kind);
    if (kind == 1) { std::int32_t v; std::memcpy(&v, at, 4); return v; }
    if (kind == 2) { double v; std::memcpy(&v, at, 8); return v; }
    if (kind == 3) return at[0];
    if (kind == 4) { std::int16_t v; std::memcpy(&v, at, 2); return v; }
    std::uint16_t v;
    std::memcpy(&v, at, 2);
    return v;
}


// True when the reply is the expected value as the server must write it: integers as digits alone,
// doubles as a text that reads back to the identical bits.
inline bool ReplyMatches(const Row& row, const std::string& reply, double expected) {
    if (reply.empty()) return false;
    if (std::string(row.kind) != "2") {
        if (reply.find_first_not_of("-0123456789") != std::string::npos) return false;
        return std::strtoll(reply.c_str(), nullptr, 10) == static_cast<long long>(expected);
    }
    char* end = nullptr;
    const double got = std::strtod(reply.c_str(), &end);
    return *end == '\0' && std::memcmp(&got, &expected, sizeof got) == 0;
}
