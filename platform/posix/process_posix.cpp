// POSIX processes: fork/exec with a stdin pipe, reaping with waitpid, environment through setenv.
#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace plat {

namespace {

// Child bookkeeping in plain arrays: no dynamic state that could be torn down before its last user.
constexpr int kMaxChildren = 64;
struct ChildSlot {
    pid_t pid;
    int stdinFd;
};
ChildSlot children[kMaxChildren];

ChildSlot* FindChild(ChildProcess child) {
    for (auto& slot : children)
        if (slot.pid > 0 && slot.pid == child) return &slot;
    return nullptr;
}

int StatusToCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void SleepOneMs() {
    timespec ts{0, 1000000L};
    nanosleep(&ts, nullptr);
}

void Forget(ChildSlot* slot) {
    if (slot->stdinFd >= 0) close(slot->stdinFd);
    slot->stdinFd = -1;
    slot->pid = 0;
}

}  // namespace

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

namespace {
ChildProcess StartChild(const std::vector<std::string>& argv, int outputFd);
}  // namespace

ChildProcess StartChildProcess(const std::vector<std::string>& argv) { return StartChild(argv, -1); }

ChildProcess StartChildProcess(const std::vector<std::string>& argv, const std::string& outputPath) {
    // Opened here rather than in the child, so a path that cannot be written fails the start.
    const int outputFd = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outputFd < 0) return 0;
    const ChildProcess child = StartChild(argv, outputFd);
    close(outputFd);
    return child;
}

namespace {

// outputFd, unless -1, becomes the child's standard output and standard error.
ChildProcess StartChild(const std::vector<std::string>& argv, int outputFd) {
    if (argv.empty()) return 0;
    ChildSlot* slot = nullptr;
    for (auto& s : children)
        if (s.pid <= 0) {
            slot = &s;
            break;
        }
    if (!slot) return 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return 0;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0) {
        dup2(fds[0], STDIN_FILENO);  // dup2 clears close-on-exec on the copy
        if (outputFd >= 0) {
            dup2(outputFd, STDOUT_FILENO);
            dup2(outputFd, STDERR_FILENO);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[0]);
    slot->pid = pid;
    slot->stdinFd = fds[1];
    return pid;
}

}  // namespace

bool ChildProcessRunning(ChildProcess child) {
    ChildSlot* slot = FindChild(child);
    if (!slot) return false;
    // Peek without reaping, so Stop still collects the status.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(slot->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == 0;
}

int StopChildProcess(ChildProcess child, std::uint32_t graceMs) {
    ChildSlot* slot = FindChild(child);
    if (!slot) return -1;
    if (slot->stdinFd >= 0) close(slot->stdinFd);
    slot->stdinFd = -1;
    int status = 0;
    for (std::uint32_t waited = 0; waited <= graceMs; ++waited) {
        const pid_t r = waitpid(slot->pid, &status, WNOHANG);
        if (r == slot->pid) {
            Forget(slot);
            return StatusToCode(status);
        }
        if (r < 0 && errno != EINTR) {
            Forget(slot);
            return -1;
        }
        SleepOneMs();
    }
    return KillChildProcess(child);
}

int KillChildProcess(ChildProcess child) {
    ChildSlot* slot = FindChild(child);
    if (!slot) return -1;
    kill(slot->pid, SIGKILL);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(slot->pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    Forget(slot);
    return r < 0 ? -1 : StatusToCode(status);
}

bool StandardInputClosed() {
    for (;;) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        const int n = poll(&pfd, 1, 0);
        if (n <= 0) return false;
        if (pfd.revents & POLLNVAL) return true;
        char buffer[256];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) return errno != EINTR && errno != EAGAIN;
    }
}

bool SetEnvironmentVariable(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

}  // namespace plat
