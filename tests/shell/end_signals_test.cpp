// The real panel, a process of its own beside the real stand-in or server, ended by the signals of
// Ctrl+C, kill and a closed terminal, and started where a killed panel with its process id left its area.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "tests/shell/shell_fixture.h"
#include "tests/simlink/standin.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The link's area of a process, as shm_open names it.
std::string AreaName(pid_t pid) {
    char name[64];
    std::snprintf(name, sizeof name, "/FsasmLib:IPC:%X:1", static_cast<unsigned>(pid));
    return name;
}
bool AreaExists(pid_t pid) { return fs::exists("/dev/shm" + AreaName(pid)); }

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

// True while the process has not ended; it is not reaped.
bool Running(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// True when the process's area holds a read record with an answer in it: the link is open and the
// simulator has served it.
bool AnsweredArea(pid_t pid) {
    const int fd = shm_open(AreaName(pid).c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    struct stat st {};
    bool answered = false;
    if (fstat(fd, &st) == 0 && st.st_size == 0x8000) {
        void* view = mmap(nullptr, 0x8000, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            std::uint32_t header[4];
            unsigned char data[8] = {};
            std::memcpy(header, view, sizeof header);
            if (header[0] == 1 && header[2] >= 1 && header[2] <= sizeof data) {
                std::memcpy(data, static_cast<const unsigned char*>(view) + 16, header[2]);
                for (std::uint32_t i = 0; i < header[2]; ++i) answered = answered || data[i] != 0;
            }
            munmap(view, 0x8000);
        }
    }
    close(fd);
    return answered;
}

// True once the process's main thread sleeps in poll: a blocking exchange that waits for its answer.
bool WaitsInPoll(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    in >> where;
    return where.find("poll") != std::string::npos;
}

template <typename Condition>
bool WaitFor(Condition condition, int limitMs) {
    const auto start = Clock::now();
    while (!condition()) {
        if (MsSince(start) > limitMs) return false;
        Pause();
    }
    return true;
}

class EndSignalsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kovex-end-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        testutil::WriteTinyIcon(dir_ / "plane2.ico");
        paneldriver::WriteSmallPictures(dir_);
        WriteSettings("[LAN]\r\nUSELAN=N\r\n");
    }
    void TearDown() override {
        if (panel_ > 0 && Running(panel_)) kill(panel_, SIGKILL);
        if (panel_ > 0) waitpid(panel_, nullptr, 0);
        fs::remove_all(dir_);
    }
    void WriteSettings(const std::string& lan) {
        std::ofstream(dir_ / "KOVEXFuel.INI", std::ios::binary) << lan << "[WINSIZE]\r\nWIDTH=64\r\nHEIGHT=64\r\n";
    }
    std::string Log() const { return testutil::ReadFile(dir_ / "panel.log"); }

    // The panel as a terminal starts it, the end signals at their defaults. With staleArea, the
    // process first leaves an area under its own id, as a killed panel of the same id would have.
    void StartPanel(bool staleArea = false) {
        const std::string program = KOVEX_BIN_DIR "/KOVEXFuel";
        const std::string log = (dir_ / "panel.log").string();
        const std::string folder = dir_.string();
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        panel_ = fork();
        if (panel_ != 0) return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(97);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (staleArea) {
            char name[64];
            std::snprintf(name, sizeof name, "/FsasmLib:IPC:%X:1", static_cast<unsigned>(getpid()));
            const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600);
            if (fd < 0 || ftruncate(fd, 4096) != 0) _exit(96);
            close(fd);
        }
        execl(program.c_str(), "KOVEXFuel", static_cast<char*>(nullptr));
        _exit(98);
    }
    // The panel's exit code (128 + signal when a signal ended it), or -1 when it was still running
    // after limitMs and had to be killed.
    int PanelEnd(int limitMs) {
        WaitFor([this] { return !Running(panel_); }, limitMs);
        if (Running(panel_)) kill(panel_, SIGKILL);
        int status = 0;
        waitpid(panel_, &status, 0);
        const bool exited = WIFEXITED(status);
        const bool killedByUs = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        panel_ = 0;
        if (killedByUs) return -1;
        return exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    fs::path dir_;
    pid_t panel_ = 0;
};

// Catches: a signal that ends the panel outright (its area left in /dev/shm, code 128 + n), an
// ending by signal reported as an error, and a hang-up that looks like a user's ending.
TEST_F(EndSignalsTest, CtrlCKillAndAClosedTerminalEndThePanelAsEscDoes) {
    PrivateIpcDir ipc;
    StandIn sim({"--start-at", "520"});
    ASSERT_TRUE(sim.ready());
    const struct {
        int signal;
        int code;
    } kEndings[] = {{SIGTERM, 0}, {SIGINT, 0}, {SIGHUP, 129}};
    for (const auto& ending : kEndings) {
        SCOPED_TRACE(strsignal(ending.signal));
        StartPanel();
        const pid_t pid = panel_;
        ASSERT_TRUE(WaitFor([pid] { return AnsweredArea(pid) || !Running(pid); }, 30000));
        ASSERT_TRUE(Running(pid)) << Log();
        kill(pid, ending.signal);
        EXPECT_EQ(PanelEnd(30000), ending.code) << Log();
        EXPECT_FALSE(AreaExists(pid)) << "the area was left behind";
        EXPECT_EQ(Log(), "");
    }
}

// Catches: a panel that finds its own id's area left by a killed panel and retries silently for
// ever, and one that removes an area another live process holds.
TEST_F(EndSignalsTest, AnAreaLeftUnderTheOwnIdIsRemovedAndThePanelConnects) {
    PrivateIpcDir ipc;
    StandIn sim({"--start-at", "520"});
    ASSERT_TRUE(sim.ready());
    // A live process's area: this test's own.
    const std::string ours = AreaName(getpid());
    const int held = shm_open(ours.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(held, 0) << std::strerror(errno);

    StartPanel(true);
    const pid_t pid = panel_;
    const bool answered = WaitFor([pid] { return AnsweredArea(pid) || !Running(pid); }, 30000) && Running(pid);
    EXPECT_TRUE(answered) << "the panel never opened its link past the area left under its id. " << Log();
    EXPECT_TRUE(fs::exists("/dev/shm" + ours)) << "another process's area was removed";
    close(held);
    shm_unlink(ours.c_str());
    kill(pid, SIGTERM);
    EXPECT_EQ(PanelEnd(30000), 0) << Log();
    EXPECT_FALSE(AreaExists(pid));
    shm_unlink(AreaName(pid).c_str());
}

// Catches: an end request that waits for a hung simulator's exchange (about 21 s) or a hung server's
// reply (15 s) to run out, and the failed wait then reported as an error.
TEST_F(EndSignalsTest, AnEndRequestCutsTheWaitForAHungSimulatorOrServerShort) {
    constexpr int kPromptMs = 10000;
    {
        PrivateIpcDir ipc;
        StandIn sim({"--start-at", "520"});
        ASSERT_TRUE(sim.ready());
        StartPanel();
        const pid_t pid = panel_;
        ASSERT_TRUE(WaitFor([pid] { return AnsweredArea(pid) || !Running(pid); }, 30000));
        ASSERT_TRUE(Running(pid)) << Log();
        kill(static_cast<pid_t>(sim.process()), SIGSTOP);
        ASSERT_TRUE(WaitFor([pid] { return WaitsInPoll(pid); }, 10000)) << "the exchange never waited";
        const auto start = Clock::now();
        kill(pid, SIGTERM);
        EXPECT_EQ(PanelEnd(30000), 0) << Log();
        EXPECT_LT(MsSince(start), kPromptMs) << "the end waited for the hung simulator";
        EXPECT_FALSE(AreaExists(pid));
        EXPECT_EQ(Log(), "");
        kill(static_cast<pid_t>(sim.process()), SIGCONT);
    }

    const std::string serverLog = (dir_ / "server.log").string();
    const plat::ChildProcess server = plat::StartChildProcess(
        {KOVEX_BIN_DIR "/kovex-server", "--port", "0", "--exit-with-parent", "--lifetime", "120"}, serverLog);
    ASSERT_NE(server, 0);
    const std::string marker = "listening on 127.0.0.1:";
    std::string port;
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string text = testutil::ReadFile(serverLog);
            const std::size_t end = text.find('\n');
            if (text.rfind(marker, 0) != 0 || end == std::string::npos) return false;
            port = text.substr(marker.size(), end - marker.size());
            return true;
        },
        30000));
    WriteSettings("[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=" + port + "\r\n");
    StartPanel();
    const pid_t pid = panel_;
    ASSERT_TRUE(WaitFor([&] { return testutil::ReadFile(serverLog).find(" connected ") != std::string::npos; },
                        30000))
        << Log();
    kill(static_cast<pid_t>(server), SIGSTOP);
    ASSERT_TRUE(WaitFor([pid] { return WaitsInPoll(pid) || !Running(pid); }, 10000)) << "no reply was awaited";
    ASSERT_TRUE(Running(pid)) << Log();
    const auto start = Clock::now();
    kill(pid, SIGTERM);
    EXPECT_EQ(PanelEnd(30000), 0) << Log();
    EXPECT_LT(MsSince(start), kPromptMs) << "the end waited for the hung server";
    EXPECT_EQ(Log(), "");
    kill(static_cast<pid_t>(server), SIGCONT);
    plat::StopChildProcess(server, 3000);
}

}  // namespace
