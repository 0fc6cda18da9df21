// The panel killed with SIGKILL while it steps in position mode, over and over: the settings file
// must always parse and hold the value before or after the step that was under way, every other
// byte as it was.
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

#include "base/errors.h"
#include "platform/files.h"
#include "shell/profile_file.h"
#include "base/textconversions.h"
#include "shell/settings.h"
#include "tests/faults/panel_driver.h"
#include "tests/shell/shell_fixture.h"

namespace fs = std::filesystem;

namespace {

// Bounds of the run: this many kills, or this long, whichever comes first.
// Forks are slow under the sanitizers; that build checks the memory use of a quarter of the run.
#ifdef KOVEX_SANITIZED_BUILD
constexpr int kMaxKills = 250;
#else
constexpr int kMaxKills = 1000;
#endif
constexpr int kRunSeconds = 300;

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
    // A writer writes as soon as it starts and again right after each step it reports. Most kills
    // aim at those moments with short delays; every fourth lets a step finish and lands anywhere.
    std::uniform_int_distribution<int> shortDelayUs(0, 4000);
    std::uniform_int_distribution<int> longDelayUs(0, 150000);
    const auto start = std::chrono::steady_clock::now();
    int kills = 0;
    int stepsSeen = 0;
    int interrupted = 0;  // kills that left a write half done
    const std::string tempPrefix = fs::path(plat::ReplacementTempPrefix(file.string())).filename().string();
    const auto temporaries = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(dir))
            count += entry.path().filename().string().compare(0, tempPrefix.size(), tempPrefix) == 0;
        return count;
    };
    int x = 0;  // the value in the file after the last check
    Stepper stepper = StartStepper(dir, ipcDir);
    ASSERT_GT(stepper.pid, 0);
    while (kills < kMaxKills && std::chrono::steady_clock::now() - start < std::chrono::seconds(kRunSeconds)) {
        ASSERT_EQ(write(stepper.input, "\n", 1), 1) << "the stepper ended";
        const int kind = kills % 4;  // 0, 1: in the first write; 2: in a later one; 3: anywhere
        pid_t writer = -1;
        int reported = x;  // the value of the last step the writer finished
        bool stepped = false;
        while (writer < 0 || (kind >= 2 && !stepped)) {
            const std::string line = NextLine(stepper);
            ASSERT_FALSE(line.empty()) << "no step within 20 s";
            if (StartsWith(line, "PID=")) writer = std::atoi(line.c_str() + 4);
            if (StartsWith(line, "X=")) reported = std::atoi(line.c_str() + 2), stepped = true;
            ASSERT_FALSE(StartsWith(line, "END=")) << "the writer ended on its own: " << line;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(kind == 3 ? longDelayUs(random) : shortDelayUs(random)));
        ASSERT_EQ(kill(writer, SIGKILL), 0);
        for (std::string line = NextLine(stepper); !StartsWith(line, "END="); line = NextLine(stepper)) {
            ASSERT_FALSE(line.empty()) << "the killed writer was not reaped";
            if (StartsWith(line, "X=")) reported = std::atoi(line.c_str() + 2);
        }
        ++kills;
        // Each write removes what killed ones left, so there is never more than the last one's.
        const int left = temporaries();
        ASSERT_LE(left, 1) << "kill " << kills;
        interrupted += left;

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
    close(stepper.input);  // the stepper ends when its input does
    int status = 0;
    waitpid(stepper.pid, &status, 0);
    close(stepper.output);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d kills in %.1f s, %d of them inside a write; %d steps written\n", kills, seconds, interrupted,
                stepsSeen);
    EXPECT_EQ(kills, kMaxKills) << "too few kills within " << kRunSeconds << " s";
    EXPECT_GT(stepsSeen, kills / 2) << "the steps did not go on between kills";
    EXPECT_GE(interrupted, kills / 50) << "too few kills landed inside a write";
    // Leftovers of killed writes are removed by later writes, never piled up.
    int others = 0;
    for (const auto& entry : fs::directory_iterator(dir))
        others += entry.path().filename().string().find("KOVEXFuel.INI") != std::string::npos &&
                  entry.path().filename() != "KOVEXFuel.INI";
    EXPECT_LE(others, 1);
    fs::remove_all(dir);
}
