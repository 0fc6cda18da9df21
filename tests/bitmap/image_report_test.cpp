// Images that cannot be used: the panel draws as with a missing image and names each such image,
// with the reason, on standard error: once, and again only when the fault changes, however often
// the window is made again.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "render/textures.h"
#include "tests/faults/panel_driver.h"
#include "tests/settings/program_run.h"
#include "tests/shell/shell_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

std::string Line(const char* image, const std::string& why) {
    return "KOVEXFuel: image \"" + std::string(image) + "\" not used: " + why;
}

class ImageReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kovex-images-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        paneldriver::WriteSmallPictures(dir_);
        testutil::WriteTinyIcon(dir_ / "plane2.ico");
        good_ = ReadAll(dir_ / "fuel.txr");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    fs::path dir_;
    std::string good_;  // one valid picture
};

}  // namespace

// Catches a damaged, empty, foreign, pipe or missing image failing silently, a pipe that hangs the
// start, a wrong reason, or a broken image stopping the panel.
TEST_F(ImageReportTest, TheProgramNamesEachUnusableImageWithItsReason) {
    Write(dir_ / "ago2.txr", good_.substr(0, 100));
    Write(dir_ / "ago2_mask.txr", "");
    Write(dir_ / "fuel_top.txr", "plain text, not a picture\n");
    fs::remove(dir_ / "setpos.txr");
    ASSERT_EQ(mkfifo((dir_ / "setpos.txr").c_str(), 0600), 0);
    std::string sevenBits = good_;
    sevenBits[28] = 7;  // bits per pixel
    Write(dir_ / "oil.txr", sevenBits);
    fs::remove(dir_ / "lcd.bmp");
    const std::set<std::string> expected = {
        Line("ago2.txr", "truncated"),
        Line("ago2_mask.txr", "empty file"),
        Line("fuel_top.txr", "not a BMP file"),
        Line("setpos.txr", "not a regular file"),
        Line("oil.txr", "unsupported depth of 7 bits per pixel"),
        Line("lcd.bmp", "missing"),
    };
    const ProgramRun run =
        RunProgram(dir_, 20000, [&](const std::string& errors) { return Lines(errors).size() >= expected.size(); });
    EXPECT_FALSE(run.endedByItself) << "the panel ended: " << run.errors;
    EXPECT_EQ(Lines(run.errors), expected);
}

// Catches a line repeated at every re-creation of the window for an image that stays broken, and
// a changed or returning fault that is not named again.
TEST_F(ImageReportTest, OneLinePerImageUntilItsFaultChanges) {
    Write(dir_ / "ago2.txr", good_.substr(0, 100));
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(paneldriver::StartPanel());
    constexpr std::uint32_t kF12 = 123;
    const auto recreate = [] { ASSERT_EQ(paneldriver::Press(kF12), TurnResult::Continue); };
    recreate();
    recreate();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), Line("ago2.txr", "truncated") + "\n");

    const std::pair<std::string, std::string> steps[] = {
        {"", Line("ago2.txr", "empty file") + "\n"},
        {good_, ""},
        {good_, ""},
        {good_.substr(0, 100), Line("ago2.txr", "truncated") + "\n"},
    };
    for (const auto& [bytes, shown] : steps) {
        Write(dir_ / "ago2.txr", bytes);
        testing::internal::CaptureStderr();
        recreate();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), shown);
    }
    EXPECT_NE(panelTextures[texFuel], 0u);
    DestroyPanelWindow();
    fs::current_path(previous);
}
