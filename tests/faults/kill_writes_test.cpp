// The panel killed with SIGKILL while it steps in position mode, over and over: the settings file
// must always parse and hold the value before or after the step that was under way, every other
// byte as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "shell/errors.h"
#include "shell/profile_file.h"
#include "shell/settings.h"
#include "tests/faults/panel_driver.h"
#include "tests/shell/shell_fixture.h"

namespace fs = std::filesystem;

namespace {

// Bounds of the run: this many kills, or this long, whichever comes first.
constexpr int kMaxKills = 1000;
constexpr int kRunSeconds = 45;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Stepper {
    pid_t pid = -1;
    int output = -1;  // its standard output
};

Stepper StartStepper(const fs::path& dir, const fs::path& ipcDir) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("KOVEX_IPC_DIR", ipcDir.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("LP_NUM_THREADS", "0", 1);  // software GL without its worker threads: a quicker start
        execl(KOVEX_BIN_DIR "/kovex-stepper", "kovex-stepper", static_cast<char*>(nullptr));
        _exit(98);
    }
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    return {pid, fds[0]};
}

// The last "X=<n>" the stepper printed, or fallback.
int LastReported(const std::string& output, int fallback) {
    const std::size_t end = output.rfind('\n');
    if (end == std::string::npos) return fallback;
    const std::size_t begin = output.rfind("X=", end);
    return begin == std::string::npos ? fallback : std::atoi(output.c_str() + begin + 2);
}

std::string Drain(int fd) {
    std::string data;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(n));
    return data;
}

}  // namespace

// Catches a settings write that a kill leaves truncated, half old and half new, empty, or with a value
// the program never wrote; and temporary files that pile up from kill to kill.
TEST(KilledWhileWriting, SettingsAlwaysHoldTheOldOrTheNewValue) {
    const fs::path dir = fs::temp_directory_path() / ("kovex-kills-" + std::to_string(getpid()));
    const fs::path ipcDir = dir / "ipc";
    fs::remove_all(dir);
    fs::create_directories(ipcDir);
    paneldriver::WriteSmallPictures(dir);
    testutil::WriteTinyIcon(dir / "plane2.ico");
    // A long file, so that a write takes long enough for kills to land inside it.
    std::string initial = "[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=0\r\nY=40\r\n[WINSIZE]\r\nWIDTH=276\r\nHEIGHT=100\r\n"
                          "[WINBORDER]\r\nACTIVE=Y\r\n[PAD]\r\n";
    for (int i = 0; i < 3000; ++i) initial += "P" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
    const fs::path file = dir / "KOVEXFuel.INI";
    std::ofstream(file, std::ios::binary) << initial;

    std::mt19937 random(2024);
    std::uniform_int_distribution<int> delayUs(0, 60000);
    const auto start = std::chrono::steady_clock::now();
    int kills = 0;
    int stepsSeen = 0;
    int x = 0;  // the value in the file after the last check
    while (kills < kMaxKills && std::chrono::steady_clock::now() - start < std::chrono::seconds(kRunSeconds)) {
        const Stepper stepper = StartStepper(dir, ipcDir);
        ASSERT_GT(stepper.pid, 0);
        // Wait for its first step, then kill it somewhere in the steps that follow.
        std::string output;
        const auto waitStart = std::chrono::steady_clock::now();
        while (output.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() - waitStart < std::chrono::seconds(20)) {
            output += Drain(stepper.output);
            int status = 0;
            if (waitpid(stepper.pid, &status, WNOHANG) == stepper.pid) FAIL() << "the stepper ended: " << status;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_NE(output.find('\n'), std::string::npos) << "no step within 20 s";
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        kill(stepper.pid, SIGKILL);
        int status = 0;
        waitpid(stepper.pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the stepper ended on its own: " << status;
        output += Drain(stepper.output);
        close(stepper.output);
        ++kills;

        const int reported = LastReported(output, x);
        const std::string content = ReadAll(file);
        const std::string value = ProfileGetString(content, "WINDOW", "X", "");
        std::int32_t inFile = 0;
        ASSERT_NO_THROW(inFile = TextToInt32(value)) << "kill " << kills << ": X reads '" << value << "'";
        ASSERT_TRUE(inFile == reported || inFile == reported + 1)
            << "kill " << kills << ": file holds " << inFile << ", last step done " << reported;
        std::string expected = initial;
        ASSERT_TRUE(ProfileSetString(expected, "WINDOW", "X", std::to_string(inFile)));
        ASSERT_EQ(content, expected) << "kill " << kills << ": other bytes changed";
        stepsSeen += inFile - x;
        x = inFile;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d kills in %.1f s, %d steps written\n", kills, seconds, stepsSeen);
    EXPECT_GE(kills, 40) << "too few kills to mean anything";
    EXPECT_GT(stepsSeen, kills) << "the steps did not go on between kills";
    // Leftovers of killed writes are taken over, never piled up: at most one besides the file.
    int others = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        others += entry.path().filename().string().find("KOVEXFuel.INI") != std::string::npos &&
                  entry.path().filename() != "KOVEXFuel.INI";
    EXPECT_LE(others, 1);
    fs::remove_all(dir);
}
