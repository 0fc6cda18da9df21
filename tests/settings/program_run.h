// Runs the real program in a folder on SDL's offscreen driver and collects what it writes to
// standard error, killing it once enough has been said or a time limit has passed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

struct ProgramRun {
    bool endedByItself = false;  // false when it had to be killed
    int exitCode = -1;           // when it ended by itself
    std::string errors;          // its standard error
};

// enough is asked after each piece of standard error; true ends the run. The simulator rendezvous
// folder is dir/ipc, so that no simulator of another test is found.
inline ProgramRun RunProgram(const std::filesystem::path& dir, int limitMs,
                             const std::function<bool(const std::string&)>& enough = nullptr) {
    std::filesystem::create_directories(dir / "ipc");
    int errors[2];
    if (pipe(errors) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errors[1], 2);
        close(errors[0]);
        close(errors[1]);
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("KOVEX_IPC_DIR", (dir / "ipc").c_str(), 1);
        execl(KOVEX_BIN_DIR "/KOVEXFuel", "KOVEXFuel", static_cast<char*>(nullptr));
        _exit(98);
    }
    close(errors[1]);
    ProgramRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline && !(enough && enough(run.errors))) {
        pollfd readable{errors[0], POLLIN, 0};
        if (poll(&readable, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(errors[0], buffer, sizeof buffer);
        if (n > 0) run.errors.append(buffer, static_cast<std::size_t>(n));
        open = n > 0;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        // Standard error closes only at the end; a little grace for the exit that follows it.
        for (int i = 0; i < 20 && !open && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(50000);
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    close(errors[0]);
    run.endedByItself = WIFEXITED(status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
