// `kovexfuel --auto` with nothing else given, in a network namespace of its own: the real launcher,
// panel (SDL's offscreen driver) and stand-in, and the test X-Plane beaconing from a port of its own,
// started after the panel or before it, or the test FlightGear on its usual port. What the panel shows is read from its own request area, as
// the stand-in filled it for the last exchange.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "tests/bridge/testsims.h"
#include "tests/bridge/netns_check.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 20000;
constexpr std::uint32_t kFuelFlowOffset = 0x0918;
constexpr Row kFuelFlow1 = {0x0918, "8", "2"};
constexpr double kXPlaneAt = 400.0;
constexpr double kFlightGearAt = 900.0;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The launcher as the package fills it in, the panel and stand-in from the build tree.
void WriteLauncher(const fs::path& to) {
    std::string text = ReadText(KOVEX_LAUNCHER_TEMPLATE);
    const std::pair<const char*, std::string> fills[] = {{"@KOVEX_DATA_PATH@", KOVEX_ASSETS_DIR},
                                                         {"@KOVEX_PANEL_PROGRAM@", KOVEX_BIN_DIR "/KOVEXFuel"},
                                                         {"@KOVEX_SIMULATOR_PROGRAM@", KOVEX_BIN_DIR "/kovex-simulator"}};
    for (const auto& [key, value] : fills)
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, std::strlen(key), value);
    std::ofstream(to, std::ios::binary) << text;
    fs::permissions(to, fs::perms::owner_all);
}

// The process id of the launcher's child named name, 0 while there is none.
pid_t ChildNamed(pid_t parent, const std::string& name) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = ReadText(entry.path() / "stat");
        const std::size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        if (stat.substr(open + 1, close - open - 1) != name) continue;
        int ppid = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent && state != 'Z')
            return static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    }
    return 0;
}

// Engine 1's fuel flow in the panel's request area as last filled; NAN while there is none.
double PanelFuelFlow(pid_t panel) {
    char name[64];
    std::snprintf(name, sizeof name, "/FsasmLib:IPC:%X:1", static_cast<unsigned>(panel));
    const int fd = shm_open(name, O_RDONLY, 0);
    if (fd < 0) return NAN;
    struct stat st {};
    double flow = NAN;
    if (fstat(fd, &st) == 0 && st.st_size >= 16) {
        const auto size = static_cast<std::size_t>(st.st_size);
        void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            const auto* area = static_cast<const std::uint8_t*>(view);
            std::uint32_t head[3];
            for (std::size_t pos = 0; pos + 16 <= size;) {
                std::memcpy(head, area + pos, sizeof head);  // command, offset, size
                const std::size_t header = head[0] == 1 ? 16 : head[0] == 2 ? 12 : 0;
                if (header == 0 || head[2] > size - pos - header) break;
                if (head[0] == 1 && head[1] == kFuelFlowOffset && head[2] == 8) {
                    std::memcpy(&flow, area + pos + header, sizeof flow);
                    break;
                }
                pos += header + head[2];
            }
            munmap(view, size);
        }
    }
    close(fd);
    return flow;
}

class LauncherAutoTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string outside = nettest::OutsideNetnsReason();
        if (!outside.empty()) GTEST_SKIP() << outside;
        dir_ = fs::temp_directory_path() / ("launcher-auto-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "home");
        fs::create_directory(dir_ / "ipc");
        fs::permissions(dir_ / "ipc", fs::perms::owner_all);
        WriteLauncher(dir_ / "kovexfuel");
        unsetenv("XDG_CONFIG_HOME");
        setenv("HOME", (dir_ / "home").c_str(), 1);
        setenv("KOVEX_IPC_DIR", (dir_ / "ipc").c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
    }
    void TearDown() override {
        if (panel_) kill(panel_, SIGKILL);
        if (launcher_) plat::KillChildProcess(launcher_);
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    std::string Out() const { return ReadText(dir_ / "out"); }

    // Starts `kovexfuel --auto` and waits for its panel.
    void StartPanel() {
        launcher_ = plat::StartChildProcess({(dir_ / "kovexfuel").string(), "--auto"}, (dir_ / "out").string());
        ASSERT_NE(launcher_, 0);
        const std::uint32_t start = plat::TickCount();
        while (!(panel_ = ChildNamed(static_cast<pid_t>(launcher_), "KOVEXFuel")) &&
               plat::TickCount() - start < static_cast<std::uint32_t>(kWaitMs) && plat::ChildProcessRunning(launcher_))
            plat::SleepMs(20);
        ASSERT_NE(panel_, 0) << "no panel started:\n" << Out();
    }

    // Waits until the panel's area holds a fuel flow for which done is true; the last one in last.
    bool WaitForFlow(bool (*done)(double), double& last) const {
        const std::uint32_t start = plat::TickCount();
        do {
            last = PanelFuelFlow(panel_);
            if (done(last)) return true;
            plat::SleepMs(20);
        } while (plat::TickCount() - start < static_cast<std::uint32_t>(kWaitMs));
        return false;
    }

    // Ends the panel as a user's kill does and checks that the launcher ends with it, passing its 0
    // on and leaving no stand-in behind.
    void EndPanel() {
        const std::string out = Out();
        const char* marker = "started kovex-simulator --auto (process ";
        const std::size_t at = out.find(marker);
        ASSERT_NE(at, std::string::npos) << out;
        const pid_t standIn = std::atoi(out.c_str() + at + std::strlen(marker));
        ASSERT_EQ(kill(panel_, SIGTERM), 0);
        panel_ = 0;
        const std::uint32_t start = plat::TickCount();
        while (plat::ChildProcessRunning(launcher_) && plat::TickCount() - start < static_cast<std::uint32_t>(kWaitMs))
            plat::SleepMs(20);
        EXPECT_EQ(plat::StopChildProcess(launcher_, 0), 0) << Out();
        launcher_ = 0;
        EXPECT_NE(kill(standIn, 0), 0) << "the stand-in " << standIn << " outlived the panel";
    }

    fs::path dir_;
    plat::ChildProcess launcher_ = 0;
    pid_t panel_ = 0;
};

double XPlaneFlow() { return BridgedValue(kFuelFlow1, kXPlaneAt, Aircraft{}); }
bool IsXPlanes(double flow) { return std::fabs(flow - XPlaneFlow()) < 1e-3; }
double FlightGearFlow() {
    Aircraft fg;
    fg.fromFlightGear = true;
    return BridgedValue(kFuelFlow1, kFlightGearAt, fg);
}
bool IsFlightGears(double flow) { return std::fabs(flow - FlightGearFlow()) < 1e-3; }
bool IsAny(double flow) { return !std::isnan(flow); }

std::vector<std::string> BeaconingXPlane() {
    return {"--start-at", std::to_string(kXPlaneAt), "--beacon", "100", "--beacon-interface", "127.0.0.1"};
}

}  // namespace

// Catches a panel left on the built-in flight when X-Plane turns up after it, and the launcher's
// stand-in not stopped, or the panel's status lost, when the panel is ended.
TEST_F(LauncherAutoTest, XPlaneStartedAfterThePanelMovesItsNeedles) {
    StartPanel();
    double flow = NAN;
    ASSERT_TRUE(WaitForFlow(IsAny, flow)) << "the panel never exchanged with the stand-in:\n" << Out();
    EXPECT_FALSE(IsXPlanes(flow)) << "the built-in flight must differ from X-Plane's";
    TestSim xplane("kovex-test-xplane", BeaconingXPlane());
    ASSERT_NE(xplane.port(), 0) << xplane.Log();
    ASSERT_NE(xplane.port(), 49000);
    EXPECT_TRUE(WaitForFlow(IsXPlanes, flow)) << flow << " instead of " << XPlaneFlow() << "\n" << Out() << xplane.Log();
    EndPanel();
}

// Catches an X-Plane that beacons before the panel starts and is not taken up.
TEST_F(LauncherAutoTest, XPlaneStartedBeforeThePanelMovesItsNeedles) {
    TestSim xplane("kovex-test-xplane", BeaconingXPlane());
    ASSERT_NE(xplane.port(), 0) << xplane.Log();
    StartPanel();
    double flow = NAN;
    EXPECT_TRUE(WaitForFlow(IsXPlanes, flow)) << flow << " instead of " << XPlaneFlow() << "\n" << Out() << xplane.Log();
    EndPanel();
}

// Catches a FlightGear on its usual port not probed for when the panel is started this way.
TEST_F(LauncherAutoTest, FlightGearStartedAfterThePanelMovesItsNeedles) {
    StartPanel();
    double flow = NAN;
    ASSERT_TRUE(WaitForFlow(IsAny, flow)) << "the panel never exchanged with the stand-in:\n" << Out();
    TestSim flightgear("kovex-test-flightgear", {"--start-at", std::to_string(kFlightGearAt)}, 5401);
    ASSERT_EQ(flightgear.port(), 5401) << flightgear.Log();
    EXPECT_TRUE(WaitForFlow(IsFlightGears, flow)) << flow << " instead of " << FlightGearFlow() << "\n" << Out();
    EndPanel();
}
