// The panel killed with SIGKILL while it steps in position mode, over and over, at points inside its
// settings writes that the stepper stops at and at random moments: the settings file must always
// parse and hold the value before or after the step that was under way, every other byte as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "platform/files.h"
#include "shell/profile_file.h"
#include "base/textconversions.h"
#include "shell/settings.h"
#include "tests/faults/panel_driver.h"
#include "tests/shell/shell_fixture.h"

namespace fs = std::filesystem;

namespace {

// Bounds of the run: this many kills, or as many as fit in kRunSeconds but never fewer than
// kMinKills. Each step re-creates the window, which a sanitized build on a busy machine takes
// seconds for; held kills in a writer's first write cost almost nothing.
#ifdef KOVEX_SANITIZED_BUILD
constexpr int kKills = 24;
#else
constexpr int kKills = 60;
#endif
constexpr int kMinKills = 8;
constexpr auto kRunTime = std::chrono::seconds(40);

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The fork server: its standard input and output.
struct Stepper {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::string pending;  // output read but not yet taken as lines
};

Stepper StartStepper(const fs::path& dir, const fs::path& ipcDir) {
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a failed test leaves no stepper behind
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("KOVEX_IPC_DIR", ipcDir.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("LP_NUM_THREADS", "0", 1);         // software GL without worker threads, which a fork would lose
        setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);  // and without the cache's writer thread
        execl(KOVEX_BIN_DIR "/kovex-stepper", "kovex-stepper", static_cast<char*>(nullptr));
        _exit(98);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    return {pid, in[1], out[0], {}};
}

// The next whole line the stepper printed, waiting up to 20 s; empty if none came.
std::string NextLine(Stepper& stepper) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const std::size_t end = stepper.pending.find('\n');
        if (end != std::string::npos) {
            std::string line = stepper.pending.substr(0, end);
            stepper.pending.erase(0, end + 1);
            return line;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) return {};
        pollfd readable{stepper.output, POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(stepper.output, buffer, sizeof buffer);
        if (n <= 0) return {};
        stepper.pending.append(buffer, static_cast<std::size_t>(n));
    }
}

bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

}  // namespace

// Catches a settings write that a kill leaves truncated, half old and half new, empty, or with a value
// the program never wrote; temporary files that pile up from kill to kill, or that a killed writer's
// successor fails to remove.
TEST(KilledWhileWriting, SettingsAlwaysHoldTheOldOrTheNewValue) {
    const fs::path dir = fs::temp_directory_path() / ("kovex-kills-" + std::to_string(getpid()));
    const fs::path ipcDir = dir / "ipc";
    fs::remove_all(dir);
    fs::create_directories(ipcDir);
    paneldriver::WriteSmallPictures(dir);
    testutil::WriteTinyIcon(dir / "plane2.ico");
    // Keys around the stepped one, so that a write that loses or mangles other lines shows.
    std::string initial = "[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=0\r\nY=40\r\n[WINSIZE]\r\nWIDTH=276\r\nHEIGHT=100\r\n"
                          "[WINBORDER]\r\nACTIVE=Y\r\n[PAD]\r\n";
    for (int i = 0; i < 300; ++i) initial += "P" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
    const fs::path file = dir / "KOVEXFuel.INI";
    std::ofstream(file, std::ios::binary) << initial;

    const std::string tempPrefix = fs::path(plat::ReplacementTempPrefix(file.string())).filename().string();
    const auto temporaries = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, tempPrefix.size(), tempPrefix) == 0) names.push_back(name);
        }
        return names;
    };
    const char* const points[] = {"created", "written", "renamed"};
    std::mt19937 random(2024);
    const auto start = std::chrono::steady_clock::now();
    int stepsSeen = 0;
    int held = 0;
    int x = 0;  // the value in the file after the last check
    Stepper stepper = StartStepper(dir, ipcDir);
    ASSERT_GT(stepper.pid, 0);
    int n = 0;
    while (n < kMinKills || (n < kKills && std::chrono::steady_clock::now() - start < kRunTime)) {
        ++n;
        // Three kills in four are held inside a write, two of them in the writer's first write and
        // one in its second, after a step; the fourth lands wherever a step happens to be.
        const int kind = n % 4;
        const bool anywhere = kind == 3;
        const int point = anywhere ? 0 : held % 3;
        const std::string request =
            anywhere ? "\n" : "HOLD " + std::to_string(kind == 2 ? 2 : 1) + " " + points[point] + "\n";
        ASSERT_EQ(::write(stepper.input, request.data(), request.size()), static_cast<ssize_t>(request.size()))
            << "the stepper ended";
        pid_t writer = -1;
        int reported = x;  // the value of the last step the writer finished
        int steps = 0;
        std::chrono::steady_clock::time_point forked;
        for (;;) {
            const std::string line = NextLine(stepper);
            ASSERT_FALSE(line.empty()) << "kill " << n << ": no word from the writer within 20 s";
            ASSERT_FALSE(StartsWith(line, "END=")) << "kill " << n << ": the writer ended on its own: " << line;
            if (StartsWith(line, "PID=")) writer = std::atoi(line.c_str() + 4), forked = std::chrono::steady_clock::now();
            if (StartsWith(line, "X=")) {
                reported = std::atoi(line.c_str() + 2);
                ASSERT_LT(++steps, 4) << "kill " << n << ": the writer never stopped at " << points[point];
                // Anywhere within the next step: a delay up to the time the first one took here.
                if (anywhere) {
                    const auto step = std::chrono::steady_clock::now() - forked;
                    std::this_thread::sleep_for(step * std::uniform_real_distribution<double>(0, 1)(random));
                    break;
                }
            }
            if (StartsWith(line, "HELD=")) {
                ASSERT_EQ(line, std::string("HELD=") + points[point]) << "kill " << n;
                break;
            }
        }
        ASSERT_GT(writer, 0);
        ASSERT_EQ(::kill(writer, SIGKILL), 0);
        for (std::string line = NextLine(stepper); !StartsWith(line, "END="); line = NextLine(stepper)) {
            ASSERT_FALSE(line.empty()) << "kill " << n << ": the killed writer was not reaped";
            if (StartsWith(line, "X=")) reported = std::atoi(line.c_str() + 2);
        }
        // Each write removes what killed ones left, so at most the last writer's own is there.
        const std::vector<std::string> left = temporaries();
        if (anywhere) {
            ASSERT_LE(left.size(), 1u) << "kill " << n;
        } else if (point == 2) {
            ASSERT_TRUE(left.empty()) << "kill " << n << ": a renamed write left " << left[0];
        } else {
            ASSERT_EQ(left.size(), 1u) << "kill " << n << " at " << points[point];
            // The suffix names the writer's process among its dot-separated fields (host, pid, count).
            const std::string suffix = "." + left[0].substr(tempPrefix.size());
            ASSERT_NE(suffix.find("." + std::to_string(writer) + "."), std::string::npos)
                << "kill " << n << ": " << left[0] << " is not the killed writer's";
        }
        held += !anywhere;

        const std::string content = ReadAll(file);
        const std::string value = ProfileGetString(content, "WINDOW", "X", "");
        std::int32_t inFile = 0;
        ASSERT_NO_THROW(inFile = TextToInt32(value)) << "kill " << n << ": X reads '" << value << "'";
        ASSERT_TRUE(inFile == reported || inFile == reported + 1)
            << "kill " << n << ": file holds " << inFile << ", last step done " << reported;
        std::string expected = initial;
        ASSERT_TRUE(ProfileSetString(expected, "WINDOW", "X", std::to_string(inFile)));
        ASSERT_EQ(content, expected) << "kill " << n << ": other bytes changed";
        stepsSeen += inFile - x;
        x = inFile;
    }
    close(stepper.input);  // the stepper ends when its input does
    int status = 0;
    waitpid(stepper.pid, &status, 0);
    close(stepper.output);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d kills in %.1f s, %d of them held inside a write; %d steps written\n", n, seconds, held,
                stepsSeen);
    EXPECT_GT(stepsSeen, n / 4) << "the steps did not go on between kills";
    fs::remove_all(dir);
}
