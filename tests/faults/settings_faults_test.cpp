// The settings file taken away from the running panel: made read-only, deleted, or its folder
// removed between two position steps. Each run is a forked child, so that the file can be refused
// to an unprivileged user (root ignores permission bits) and the panel's window lives in the child.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "base/errors.h"
#include "tests/faults/panel_driver.h"
#include "tests/settings/child_run.h"
#include "tests/shell/shell_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kSettings = "[WINDOW]\r\nX=100\r\nY=50\r\n[WINSIZE]\r\nWIDTH=300\r\nHEIGHT=200\r\n";

// Runs the panel in a forked child (as nobody when unprivileged): start, one Right step, then
// fault(), then a second Right step. The child's outcome is what the program would show and end with.
ChildResult RunPanel(const fs::path& dir, bool unprivileged, const std::function<void()>& fault) {
    return RunInChild(
        [&] {
            fs::current_path(dir);
            if (!paneldriver::StartPanel()) throw KovexError("no window");
            paneldriver::Press(paneldriver::kF11);
            paneldriver::Press(paneldriver::kRight);
            fault();
            paneldriver::Press(paneldriver::kRight);
        },
        unprivileged);
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SettingsFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kovex-faults-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        testutil::WriteTinyIcon(dir_ / "plane2.ico");
        std::ofstream(file(), std::ios::binary) << kSettings;
        if (geteuid() == 0) {
            for (const fs::path& p : {dir_, dir_ / "plane2.ico", file()})
                ASSERT_EQ(chown(p.c_str(), kNobody, kNobody), 0);
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path file() const { return dir_ / "KOVEXFuel.INI"; }
    fs::path dir_;
};

}  // namespace

// Catches a refused write that goes unnoticed, is reported without the path, or damages the file.
TEST_F(SettingsFaultTest, ReadOnlyFileEndsTheProgramAndStaysAsItWas) {
    const fs::path path = file();
    const ChildResult outcome = RunPanel(dir_, true, [&] {
        if (chmod(path.c_str(), 0444) != 0) throw KovexError("chmod failed");
    });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.message, "Unable to write to " + path.string());
    // The first step went in, the refused one changed nothing, and no temporary file was left.
    EXPECT_EQ(ReadAll(path), "[WINDOW]\r\nX=101\r\nY=50\r\n[WINSIZE]\r\nWIDTH=300\r\nHEIGHT=200\r\n");
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) entries += entry.path().filename() != "plane2.ico";
    EXPECT_EQ(entries, 1);
}

// Catches a deleted file that makes the next write fail, or writes a file holding stale keys.
TEST_F(SettingsFaultTest, DeletedFileIsCreatedByTheNextWrite) {
    const fs::path path = file();
    const ChildResult outcome = RunPanel(dir_, false, [&] { fs::remove(path); });
    EXPECT_EQ(outcome.message, "ok");
    EXPECT_EQ(outcome.status, 0);
    // The step reads X from the file (absent now: 0) and writes that plus one, alone.
    EXPECT_EQ(ReadAll(path), "[WINDOW]\r\nX=1\r\n");
}

// Catches a write into a folder that is gone being taken as done, or the folder made again.
TEST_F(SettingsFaultTest, RemovedFolderEndsTheProgramWithTheSameMessage) {
    const fs::path path = file();
    const fs::path dir = dir_;
    const ChildResult outcome = RunPanel(dir_, false, [&] { fs::remove_all(dir); });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.message, "Unable to write to " + path.string());
    EXPECT_FALSE(fs::exists(dir));
}
