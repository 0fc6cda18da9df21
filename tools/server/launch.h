// Starting companion programs for benchmarks: output in a file, the server's port read from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"

std::string ReadWholeTextFile(const std::string& path);
// A per-process temporary log path named after what it logs.
std::string TempLogPath(const char* what);
// Starts a program with its output in a file; the shell becomes the program, keeping the process id.
plat::ChildProcess StartLogged(std::vector<std::string> args, const std::string& logPath);
// Starts kovex-server on a free loopback port with the extra arguments and gives that port, 0 when
// it did not come up within 10 s.
std::uint16_t StartServerOnFreePort(const std::string& serverPath, const std::vector<std::string>& extraArgs,
                                    plat::ChildProcess& child, const std::string& logPath);
