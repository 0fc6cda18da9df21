// Command line of the simulator stand-in.
#pragma once

#include <cstdint>
#include <string>

#include "tools/bridge/offsetsource.h"

enum class StandInFault {
    None,
    AnswerZero,    // answers every message with 0
    NeverAnswer,   // keeps every message without an answer
    Late,          // answers after lateMs
    ZeroVersions,  // the version words read 0
    Hostile,       // carries out the records, then rewrites headers in the area
};

struct StandInOptions {
    std::string windowClass = "UIPCMAIN";
    SimulatorKind simulator = SimulatorKind::None;  // None: the built-in flight model; Auto: whichever is found
    std::string simAddress;                         // "HOST[:PORT]"; empty: the simulator's default
    StandInFault fault = StandInFault::None;
    std::uint32_t faultAfter = 0;  // exchanges served normally before the fault begins
    std::uint32_t lateMs = 3000;
    std::uint32_t interfaceVersion = 0x40030000;
    std::uint32_t simulatorCode = 7;
    double timeScale = 1.0;
    double startAtSeconds = 0.0;   // model time at start
    double lifetimeSeconds = 0.0;  // 0: until stopped
    bool exitWithParent = false;
    bool verbose = false;
    bool help = false;
};

// Parses the arguments; on a bad one returns false with a message in error.
bool ParseStandInOptions(int argc, char** argv, StandInOptions& options, std::string& error);
const char* StandInUsage();
