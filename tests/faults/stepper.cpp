// kovex-stepper: the panel program on the FSUIPC road, put in position mode, then a fork server for
// the kill test. For each line it reads on standard input it forks; the child goes on stepping right
// without end, each step written to the settings file, and prints "X=<value>" after each step. The
// parent prints "PID=<child>", waits for the child's end and prints "END=<wait status>".
// Starting the panel (libraries, GL driver, textures) costs far more than a settings write; forking a
// started panel lets the test kill a thousand writers in about a minute and a half.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "platform/fpu.h"
#include "tests/faults/panel_driver.h"

namespace {

// One write for each line, so that the lines of parent and child never mix in the shared pipe.
void Say(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

[[noreturn]] void StepForever() {
    try {
        for (;;) {
            if (paneldriver::Press(paneldriver::kRight) != TurnResult::Continue) _exit(3);
            Say("X=" + std::to_string(windowX));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kovex-stepper: %s\n", error.what());
        _exit(1);
    }
}

}  // namespace

int main() {
    plat::MaskFloatingPointExceptions();
    try {
        if (!paneldriver::StartPanel()) return 2;
        paneldriver::Press(paneldriver::kF11);
        // A few turns first, so that everything the driver builds lazily is built before the forks.
        for (int i = 0; i < 3; ++i) paneldriver::Press(0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kovex-stepper: %s\n", error.what());
        return 1;
    }
    char request;
    while (read(0, &request, 1) == 1) {
        if (request != '\n') continue;
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child < 0) return 4;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // no writer outlives the stepper
            StepForever();
        }
        Say("PID=" + std::to_string(child));
        int status = 0;
        if (waitpid(child, &status, 0) != child) return 5;
        Say("END=" + std::to_string(status));
    }
    return 0;
}
