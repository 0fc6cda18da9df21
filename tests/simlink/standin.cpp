// Test support: private rendezvous directories and the stand-in as a child process.
#include "tests/simlink/standin.h"

#include <cstdio>
#include <filesystem>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "simlink/FPCuser.h"

namespace {
int dirCounter = 0;
}

PrivateIpcDir::PrivateIpcDir() {
    namespace fs = std::filesystem;
    path_ = (fs::temp_directory_path() /
             ("kovex-test-" + std::to_string(plat::CurrentProcessId()) + "-" + std::to_string(++dirCounter)))
                .string();
    fs::remove_all(path_);
    fs::create_directories(path_);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
    plat::SetEnvironmentVariable("KOVEX_IPC_DIR", path_.c_str());
}

PrivateIpcDir::~PrivateIpcDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

plat::ChildProcess StartTestChild(const std::vector<std::string>& argv) {
    if (const plat::ChildProcess child = plat::StartChildProcess(argv)) return child;
    std::fprintf(stderr, "starting %s was refused; trying once more\n", argv.empty() ? "" : argv[0].c_str());
    plat::SleepMs(1000);
    return plat::StartChildProcess(argv);
}

StandIn::StandIn(std::vector<std::string> args, const char* windowClass) {
    std::vector<std::string> argv{KOVEX_BIN_DIR "/kovex-simulator", "--exit-with-parent", "--lifetime", "120"};
    if (std::string(windowClass) != "UIPCMAIN") {
        argv.push_back("--class");
        argv.push_back(windowClass);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = StartTestChild(argv);
    if (!child_) return;
    // Ready once its window answers a look-up; a stand-in that ended early never is. The bound is
    // generous: under Wine on a loaded machine a new process can take many seconds to show a window.
    const std::uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 30000 && plat::ChildProcessRunning(child_)) {
        if (plat::IpcFindWindow(windowClass)) {
            ready_ = true;
            return;
        }
        plat::SleepMs(2);
    }
}

StandIn::~StandIn() {
    if (child_) plat::StopChildProcess(child_, 3000);
}

void StandIn::Kill() {
    if (child_) plat::KillChildProcess(child_);
    child_ = 0;
}

void UseShortTimings(std::uint32_t sendTimeoutMs) {
    SimLinkTimings t;
    t.sendTimeoutMs = sendTimeoutMs;
    t.sendRetrySleepMs = 1;
    t.versionSleepMs = 1;
    SimLinkSetTimings(t);
}
