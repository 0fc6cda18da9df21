// The program started on a settings file that is not a file it can use: a pipe, a link to a device,
// a folder, or a file far larger than any settings file. It must end at once, naming the file and
// the reason, with a non-zero status, instead of hanging or reading without end.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/settings/program_run.h"
#include "test_support.h"

namespace {

const std::string kNotRegular = ": it is not a regular file\n";

}  // namespace

// Catches a settings pipe that hangs the start, a device read until memory runs out, and an
// unusable file that is silently taken for an empty one.
TEST(UnusableSettingsFile, EndsTheProgramWithTheFileAndTheReason) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        std::string reason;
    };
    const Case cases[] = {
        {"pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, kNotRegular},
        {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }, kNotRegular},
        {"folder", [](const std::string& p) { fs::create_directory(p); }, kNotRegular},
        {"17 MiB file",
         [](const std::string& p) {
             WriteBytes(p, "[WINDOW]\r\nX=1\r\n");
             fs::resize_file(p, 17u * 1024 * 1024);
         },
         ": it is larger than 16 MiB\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = (fs::canonical(dir.path()) / "KOVEXFuel.INI").string();
        c.make(path);
        const ProgramRun run = RunProgram(dir.path(), 20000);
        EXPECT_TRUE(run.endedByItself) << c.what << ": still running after 20 s";
        EXPECT_EQ(run.exitCode, 1) << c.what;
        EXPECT_EQ(run.errors, "KOVEXFuel: Unable to read " + path + c.reason) << c.what;
    }
}
