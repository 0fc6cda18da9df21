// Test support: a private rendezvous directory and the simulator stand-in as a child process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"

// Points KOVEX_IPC_DIR at a fresh directory of its own, so parallel test programs never meet, and
// removes it again.
class PrivateIpcDir {
public:
    PrivateIpcDir();
    ~PrivateIpcDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Starts a child; a start refused once (seen once under Wine on a stalled machine, right after a child
// ended) is tried again after a pause, with a line on standard error, so a test fails only on a refusal
// that lasts.
plat::ChildProcess StartTestChild(const std::vector<std::string>& argv);

// The stand-in with the given options; started with a lifetime and tied to this process's life,
// stopped and reaped on destruction.
class StandIn {
public:
    explicit StandIn(std::vector<std::string> args, const char* windowClass = "UIPCMAIN");
    ~StandIn();
    bool ready() const { return ready_; }
    plat::ChildProcess process() const { return child_; }
    // Kills it at once (its socket stays behind, as after a crash).
    void Kill();

private:
    plat::ChildProcess child_ = 0;
    bool ready_ = false;
};

// Short waits, so failing exchanges cost milliseconds instead of seconds.
void UseShortTimings(std::uint32_t sendTimeoutMs = 200);
