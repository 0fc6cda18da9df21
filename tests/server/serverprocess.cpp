// Test support: starting, watching and stopping the server process.
#include "tests/server/serverprocess.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/eventloop.h"

namespace {
int logCounter = 0;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

ServerProcess::ServerProcess(const std::vector<std::string>& args) {
    logPath_ = (std::filesystem::temp_directory_path() / ("kovex-server-" + std::to_string(plat::CurrentProcessId()) +
                                                          "-" + std::to_string(++logCounter) + ".log"))
                   .string();
    std::filesystem::remove(logPath_);
    std::vector<std::string> argv{KOVEX_BIN_DIR "/kovex-server", "--port", "0", "--exit-with-parent", "--lifetime", "120"};
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = plat::StartChildProcess(argv, logPath_);
    if (!child_) return;
    const std::uint32_t start = plat::TickCount();
    const std::string marker = "listening on 127.0.0.1:";
    while (plat::TickCount() - start < 10000 && plat::ChildProcessRunning(child_)) {
        const std::string log = Log();
        const std::size_t at = log.find(marker);
        const std::size_t end = log.find('\n', at == std::string::npos ? 0 : at);
        if (at == 0 && end != std::string::npos) {
            port_ = static_cast<std::uint16_t>(std::stoi(log.substr(marker.size(), end - marker.size())));
            return;
        }
        plat::SleepMs(2);
    }
}

ServerProcess::~ServerProcess() {
    if (child_) plat::StopChildProcess(child_, 3000);
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
}

std::string ServerProcess::Log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ServerProcess::WaitForLog(const std::string& text, int count, int timeoutMs) const {
    const std::uint32_t start = plat::TickCount();
    do {
        if (CountOf(Log(), text) >= count) return true;
        plat::SleepMs(2);
    } while (plat::TickCount() - start < static_cast<std::uint32_t>(timeoutMs));
    return CountOf(Log(), text) >= count;
}

int ServerProcess::Terminate() {
    if (!child_) return -1;
    plat::RequestProcessStop(child_);
    // Wait for the server to end on its own before StopChildProcess would close its input.
    const std::uint32_t start = plat::TickCount();
    while (plat::ChildProcessRunning(child_) && plat::TickCount() - start < 5000) plat::SleepMs(1);
    const int status = plat::StopChildProcess(child_, 3000);
    child_ = 0;
    return status;
}

bool ServerProcess::Running() const { return child_ && plat::ChildProcessRunning(child_); }

int ServerProcess::CloseInput() {
    if (!child_) return -1;
    const int status = plat::StopChildProcess(child_, 5000);
    child_ = 0;
    return status;
}

int ServerProcess::Kill() {
    if (!child_) return -1;
    const int status = plat::KillChildProcess(child_);
    child_ = 0;
    return status;
}

int RunServerToEnd(const std::vector<std::string>& args, std::string& output) {
    std::vector<std::string> argv{KOVEX_BIN_DIR "/kovex-server"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv, output);
}

int RunToEnd(const std::vector<std::string>& argv, std::string& output) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kovex-run-" + std::to_string(plat::CurrentProcessId()) + "-" +
                               std::to_string(++logCounter) + ".log"))
                                 .string();
    const plat::ChildProcess child = plat::StartChildProcess(argv, path);
    if (!child) return -1;
    const std::uint32_t start = plat::TickCount();
    while (plat::ChildProcessRunning(child) && plat::TickCount() - start < 10000) plat::SleepMs(1);
    const int status = plat::StopChildProcess(child, 0);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    output = text.str();
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return status;
}
