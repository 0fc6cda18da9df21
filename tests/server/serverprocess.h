// Test support: the real kovex-server as a child process on a free loopback port, its output in a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"

class ServerProcess {
public:
    // Starts the server with --port 0, a lifetime and tied to this process's life, plus args; waits
    // for its "listening on" line. port() is 0 when it did not come up.
    explicit ServerProcess(const std::vector<std::string>& args);
    ~ServerProcess();
    std::uint16_t port() const { return port_; }
    // Everything the server has printed so far.
    std::string Log() const;
    // Waits until the output holds text at least count times.
    bool WaitForLog(const std::string& text, int count = 1, int timeoutMs = 5000) const;
    // Sends the polite stop request and waits for the end; returns the exit status.
    int Terminate();
    // Closes the server's standard input, as a parent that ends does, and waits; returns the exit status.
    int CloseInput();
    bool Running() const;
    // Kills the server at once (SIGKILL: no goodbye to its clients) and reaps it.
    int Kill();

private:
    plat::ChildProcess child_ = 0;
    std::string logPath_;
    std::uint16_t port_ = 0;
};

// Runs the server with exactly these arguments to its end; returns the exit status, output in output.
int RunServerToEnd(const std::vector<std::string>& args, std::string& output);
// The same for any program of the build (its path, then its arguments).
int RunToEnd(const std::vector<std::string>& argv, std::string& output);

int CountOf(const std::string& text, const std::string& part);
