// kovex-stepper: the panel program on the FSUIPC road, put in position mode, then a fork server for
// the kill test. For each line it reads on standard input it forks; the child goes on stepping right
// without end, each step written to the settings file, and prints "X=<value>" after each step. The
// parent prints "PID=<child>", waits for the child's end and prints "END=<wait status>".
// A line "HOLD <n> <point>" makes the child stop inside its n-th settings write and print
// "HELD=<point>", so that the kill lands there however slow the machine: at "created" (its temporary
// file made, nothing written yet), "written" (filled and synced, not yet renamed) or "renamed" (in
// place, the folder not yet synced). The stepper is linked with --wrap=write and --wrap=rename, so
// the real writer's own calls pass through the hooks below; the product is unchanged.
// Starting the panel (libraries, GL driver, textures) costs far more than a settings write; forking a
// started panel lets the test kill many writers in seconds.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "platform/fpu.h"
#include "shell/settings.h"
#include "tests/faults/panel_driver.h"

extern "C" {
ssize_t __real_write(int fd, const void* data, size_t size);
int __real_rename(const char* from, const char* to);
ssize_t __wrap_write(int fd, const void* data, size_t size);
int __wrap_rename(const char* from, const char* to);
}

namespace {

enum class HoldPoint { None, Created, Written, Renamed };

struct Hold {
    HoldPoint point = HoldPoint::None;
    int write = 0;  // 1 for the child's first settings write
};

Hold hold;               // what the next child is to do, then what this child does
int writesDone = 0;      // settings writes this child has renamed into place
std::string tempPrefix;  // the names the settings writer gives its temporary files

// One write for each line, so that the lines of parent and child never mix in the shared pipe.
void Say(const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = __real_write(1, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

bool IsTemporary(const char* path) { return path != nullptr && std::string(path).rfind(tempPrefix, 0) == 0; }

bool NamesTemporary(int fd) {
    char target[PATH_MAX];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    return IsTemporary(target);
}

// Says where the writer stands and waits there for the kill; a minute without one ends the child,
// so that a test gone wrong never leaves it waiting for ever.
void HoldHere(const char* name) {
    hold.point = HoldPoint::None;
    Say(std::string("HELD=") + name);
    for (int i = 0; i < 600; ++i) {
        const timespec tenth{0, 100 * 1000 * 1000};
        nanosleep(&tenth, nullptr);
    }
    _exit(6);
}

bool HoldsAt(HoldPoint point) { return hold.point == point && hold.write == writesDone + 1; }

Hold ParseRequest(const std::string& line) {
    std::istringstream words(line);
    std::string verb, point;
    Hold request;
    if (!(words >> verb >> request.write >> point) || verb != "HOLD") return {};
    if (point == "created") request.point = HoldPoint::Created;
    if (point == "written") request.point = HoldPoint::Written;
    if (point == "renamed") request.point = HoldPoint::Renamed;
    return request;
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

ssize_t __wrap_write(int fd, const void* data, size_t size) {
    if (HoldsAt(HoldPoint::Created) && NamesTemporary(fd)) HoldHere("created");
    return __real_write(fd, data, size);
}

int __wrap_rename(const char* from, const char* to) {
    if (!IsTemporary(from)) return __real_rename(from, to);
    if (HoldsAt(HoldPoint::Written)) HoldHere("written");
    const bool renamedHere = HoldsAt(HoldPoint::Renamed);
    const int result = __real_rename(from, to);
    if (result == 0) ++writesDone;
    if (result == 0 && renamedHere) HoldHere("renamed");
    return result;
}

int main() {
    plat::MaskFloatingPointExceptions();
    try {
        if (!paneldriver::StartPanel()) return 2;
        tempPrefix = plat::ReplacementTempPrefix(SettingsFilePath());
        paneldriver::Press(paneldriver::kF11);
        // A few turns first, so that everything the driver builds lazily is built before the forks.
        for (int i = 0; i < 3; ++i) paneldriver::Press(0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kovex-stepper: %s\n", error.what());
        return 1;
    }
    std::string line;
    char c;
    while (read(0, &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        hold = ParseRequest(line);
        line.clear();
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child < 0) return 4;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // no writer outlives the stepper
            writesDone = 0;
            StepForever();
        }
        Say("PID=" + std::to_string(child));
        int status = 0;
        if (waitpid(child, &status, 0) != child) return 5;
        Say("END=" + std::to_string(status));
    }
    return 0;
}
