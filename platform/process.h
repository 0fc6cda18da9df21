// Processes: this process's id, companion programs started and reaped by their parent, environment.
// Backends:
// - posix: fork/exec with a stdin pipe, waitpid, setenv.
// - win32: CreateProcessA with a stdin pipe, waits on the process handle; the environment is set for
//   both the desktop and the C runtime; a killed child reports what POSIX reports for SIGKILL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

std::uint32_t CurrentProcessId();

// Starts a program with the given arguments (argv[0] is the program's path). Its standard input is a
// pipe held by this process, so the child can tell when its parent is gone. Returns 0 on failure.
using ChildProcess = std::int64_t;
ChildProcess StartChildProcess(const std::vector<std::string>& argv);
// As above, with the child's standard output and standard error both written to the file at outputPath
// (created, or emptied when it exists; others may read it while the child writes). Returns 0 when the
// file cannot be opened or the program cannot be started.
ChildProcess StartChildProcess(const std::vector<std::string>& argv, const std::string& outputPath);
// True while the child has not exited.
bool ChildProcessRunning(ChildProcess child);
// Closes the child's input, waits up to graceMs for it to end, then kills it; always reaps it.
// Returns its exit status (128 + signal number when it was ended by a signal), or -1 when unknown.
int StopChildProcess(ChildProcess child, std::uint32_t graceMs);
// Kills the child at once and reaps it; returns as StopChildProcess.
int KillChildProcess(ChildProcess child);

// True once this process's standard input has reached its end (the parent closed it or died).
// Data arriving on it is discarded.
bool StandardInputClosed();

bool SetEnvironmentVariable(const char* name, const char* value);

}  // namespace plat
