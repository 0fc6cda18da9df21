// Crash-safe settings writes and the platform's refusals, with real permissions and killed writers.
// Refusals are exercised in a forked child that drops to the unprivileged user "nobody" when the
// tests run as root; the folders it must be able to write are given to that user.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "base/errors.h"
#include "platform/files.h"
#include "shell/profile_file.h"
#include "shell/settings.h"
#include "test_support.h"
#include "tests/settings/child_run.h"

namespace {

constexpr int kKillRounds = 100;
// Steps of each writer in the concurrency test, with kills between them.
constexpr long kOwnKeySteps = 60;

bool IsRoot() { return geteuid() == 0; }

// Gives a path to the unprivileged user when the tests run as root.
void GiveToNobody(const fs::path& path) {
    if (IsRoot()) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
}

void SetMode(const fs::path& path, unsigned mode) { ASSERT_EQ(chmod(path.c_str(), mode), 0); }

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

int TempFiles(const fs::path& dir, const std::string& prefix) {
    int count = 0;
    for (const std::string& name : Listing(dir)) count += name.compare(0, prefix.size(), prefix) == 0;
    return count;
}

unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

ino_t InodeOf(const fs::path& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

// Points settingsFile at path for the body of a test.
class SettingsAt {
public:
    explicit SettingsAt(const std::string& path) : saved_(settingsFile.path) { settingsFile.path = path; }
    ~SettingsAt() { settingsFile.path = saved_; }

private:
    std::string saved_;
};

const std::string kOld = "[WINDOW]\r\nX=1\r\n";

}  // namespace

// Catches a read-only file written anyway, or changed while being refused.
TEST(SettingsRefusals, ReadOnlyFile) {
    TempDir dir;
    GiveToNobody(dir.path());
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, kOld);
    GiveToNobody(path);
    SetMode(path, 0444);
    SettingsAt at(path);
    const ChildResult result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.message, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), kOld);
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}

// Catches a writable file in a folder that refuses new files being refused instead of rewritten in place.
TEST(SettingsRefusals, ReadOnlyFolderWritableFile) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, kOld);
    GiveToNobody(dir.path());
    GiveToNobody(path);
    const ino_t inode = InodeOf(path);
    SetMode(dir.path(), 0555);
    SettingsAt at(path);
    const ChildResult result = RunInChild([] {
        WriteSettingInt("WINDOW", "X", 2);
        WriteSettingInt("WINSIZE", "WIDTH", 640);
    });
    EXPECT_EQ(result.message, "ok");
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=2\r\n[WINSIZE]\r\nWIDTH=640\r\n");
    EXPECT_EQ(InodeOf(path), inode);
    // Shrinking in place must not leave old bytes at the end.
    const ChildResult shrink = RunInChild([] { WriteSettingInt("WINSIZE", "WIDTH", 1); });
    EXPECT_EQ(shrink.message, "ok");
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=2\r\n[WINSIZE]\r\nWIDTH=1\r\n");
}

// Catches a folder that refuses new files while the file is read-only (or absent) passing silently.
TEST(SettingsRefusals, ReadOnlyFolderReadOnlyOrMissingFile) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, kOld);
    GiveToNobody(dir.path());
    GiveToNobody(path);
    SetMode(path, 0444);
    SetMode(dir.path(), 0555);
    SettingsAt at(path);
    ChildResult result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); });
    EXPECT_EQ(result.message, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), kOld);

    const std::string missing = dir.file("other.INI");
    settingsFile.path = missing;
    result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); });
    EXPECT_EQ(result.message, "Unable to write to " + missing);
    EXPECT_FALSE(fs::exists(missing));
}

// Catches a missing folder being created, or the failure going unreported.
TEST(SettingsRefusals, MissingFolder) {
    TempDir dir;
    const std::string path = (dir.path() / "gone" / "KOVEXFuel.INI").string();
    SettingsAt at(path);
    const ChildResult result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); });
    EXPECT_EQ(result.message, "Unable to write to " + path);
    EXPECT_FALSE(fs::exists(dir.path() / "gone"));
}

// Catches a file that cannot be read being overwritten by a file holding only the written key.
TEST(SettingsRefusals, UnreadableFileIsNotReplaced) {
    TempDir dir;
    GiveToNobody(dir.path());
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, kOld + "[LAN]\r\nUSELAN=Y\r\n");
    GiveToNobody(path);
    SetMode(path, 0200);
    SettingsAt at(path);
    const ChildResult result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); });
    EXPECT_EQ(result.message, "Unable to write to " + path);
    SetMode(path, 0600);  // so that this test can look, also when it runs unprivileged
    EXPECT_EQ(ReadBytes(path), kOld + "[LAN]\r\nUSELAN=Y\r\n");
}

// Catches a failed write (full disk, simulated by a file-size limit) leaving a truncated file or a temp file.
TEST(SettingsRefusals, FullDiskLeavesTheOldFile) {
    TempDir dir;
    GiveToNobody(dir.path());
    const std::string path = dir.file("KOVEXFuel.INI");
    const std::string old = kOld + "[PAD]\r\nP=" + std::string(3000, 'p') + "\r\n";
    WriteBytes(path, old);
    GiveToNobody(path);
    SettingsAt at(path);
    ChildResult result = RunInChild([] { WriteSettingInt("WINDOW", "X", 2); }, true, 1024);
    EXPECT_EQ(result.message, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});

    // Rewritten in place (folder refuses new files): space is claimed before any byte changes.
    SetMode(dir.path(), 0555);
    result = RunInChild([] { WriteSettingInt("WINDOW", "X", 123456789); }, true, old.size());
    EXPECT_EQ(result.message, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), old);
}

// Catches replacement files that lose the old file's permission bits or owner, or ignore the umask.
TEST(SettingsAttributes, ModeOwnerAndUmask) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    WriteBytes(path, kOld);
    SetMode(path, 0640);
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "2"));
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(ReadProfileString(path, "WINDOW", "X", ""), "2");

    if (IsRoot()) {
        GiveToNobody(path);
        ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "3"));
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }

    const mode_t saved = umask(027);
    const std::string fresh = dir.file("fresh.INI");
    const bool written = WriteProfileString(fresh, "WINDOW", "X", "1");
    umask(saved);
    ASSERT_TRUE(written);
    EXPECT_EQ(ModeOf(fresh), 0640u);
}

// Catches a symbolic link replaced by a plain file instead of its target being written.
TEST(SettingsAttributes, WritesThroughSymbolicLinks) {
    TempDir dir;
    fs::create_directory(dir.path() / "real");
    const fs::path target = dir.path() / "real" / "KOVEXFuel.INI";
    WriteBytes(target.string(), kOld);
    const fs::path absoluteLink = dir.path() / "KOVEXFuel.INI";
    fs::create_symlink(target, absoluteLink);
    const fs::path relativeLink = dir.path() / "rel.INI";
    fs::create_symlink("KOVEXFuel.INI", relativeLink);  // a chain: rel.INI -> KOVEXFuel.INI -> real/...

    ASSERT_TRUE(WriteProfileString(absoluteLink.string(), "WINDOW", "X", "2"));
    ASSERT_TRUE(WriteProfileString(relativeLink.string(), "WINDOW", "Y", "3"));
    EXPECT_TRUE(fs::is_symlink(absoluteLink));
    EXPECT_TRUE(fs::is_symlink(relativeLink));
    EXPECT_EQ(ReadBytes(target.string()), "[WINDOW]\r\nX=2\r\nY=3\r\n");
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"KOVEXFuel.INI", "rel.INI", "real"}));
    EXPECT_EQ(Listing(dir.path() / "real"), std::set<std::string>{"KOVEXFuel.INI"});

    // A dangling link gets its target created.
    const fs::path dangling = dir.path() / "dangling.INI";
    fs::create_symlink(dir.path() / "real" / "later.INI", dangling);
    ASSERT_TRUE(WriteProfileString(dangling.string(), "WINDOW", "X", "4"));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadBytes((dir.path() / "real" / "later.INI").string()), "[WINDOW]\r\nX=4\r\n");
}

namespace {

// Drops what the watch has seen so far, then waits until it sees a file named with the prefix made.
bool AwaitCreated(int watch, const std::string& prefix) {
    alignas(inotify_event) char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < end;) {
        pollfd readable{watch, POLLIN, 0};
        if (poll(&readable, 1, 100) != 1) continue;
        const ssize_t got = read(watch, events, sizeof events);
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len && std::string(event->name).compare(0, prefix.size(), prefix) == 0) return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

}  // namespace

// Catches a write that a kill at a random moment leaves truncated, mixed, or with temp files piling up.
TEST(SettingsCrashSafety, KilledWriterLeavesOldOrNewFile) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    // Large enough that a write takes a while, so kills land inside writes.
    std::string initial = "[WINDOW]\r\nX=0\r\n[PAD]\r\n";
    for (int i = 0; i < 4000; ++i) initial += "P" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
    WriteBytes(path, initial);
    std::set<std::string> whole;
    for (const char* value : {"0", "1111", "2222"}) {
        std::string content = initial;
        ASSERT_TRUE(ProfileSetString(content, "WINDOW", "X", value));
        whole.insert(content);
    }
    const std::string tempPrefix = fs::path(plat::ReplacementTempPrefix(path)).filename().string();

    // Each writer says when a write is done; half the kills come a moment after such a word, within
    // about one write's time, so they land inside the next write however fast this machine is now.
    // The other half come as soon as a new temporary file is seen: on a fast file system (tmpfs) the
    // temporary file lives for a tiny part of a write, and random moments alone may all miss it.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "0"));
    const auto oneWrite =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / 3;
    std::mt19937 random(12345);
    std::uniform_int_distribution<long> delay(0, static_cast<long>(oneWrite));
    std::uniform_int_distribution<int> writesFirst(0, 2);
    const int created = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(created, 0);
    ASSERT_GE(inotify_add_watch(created, dir.path().c_str(), IN_CREATE), 0);
    int killedMidWrite = 0, killedAimed = 0;
    std::set<std::string> seen;
    for (int round = 0; round < kKillRounds; ++round) {
        const bool aimed = round % 2 == 1;
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(done[0]);
            for (int i = 0;; ++i) {
                WriteProfileString(path, "WINDOW", "X", i % 2 ? "1111" : "2222");
                (void)!write(done[1], "w", 1);
            }
        }
        close(done[1]);
        bool wordsCame = true;
        for (int waited = writesFirst(random); waited > 0 && wordsCame; --waited) {
            pollfd readable{done[0], POLLIN, 0};
            char word;
            wordsCame = poll(&readable, 1, 20000) == 1 && read(done[0], &word, 1) == 1;
        }
        // The pipe stays open until the kill: a writer told of its closing would end by itself. The
        // checks come after the kill, so a failing round leaves no writer behind.
        const bool tempSeen = !wordsCame || !aimed || AwaitCreated(created, tempPrefix);
        if (!aimed) std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(pid, SIGKILL);
        close(done[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(wordsCame) << "no write done within 20 s";
        ASSERT_TRUE(tempSeen) << "no temporary file made within 20 s";
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string content = ReadBytes(path);
        ASSERT_EQ(whole.count(content), 1u) << "round " << round << ": file of " << content.size() << " bytes";
        seen.insert(content);
        // Each write removes what killed ones left, so there is never more than the last one's.
        const int temps = TempFiles(dir.path(), tempPrefix);
        ASSERT_LE(temps, 1) << "round " << round;
        ASSERT_EQ(Listing(dir.path()).size(), 1u + temps) << "round " << round;
        killedMidWrite += temps;
        killedAimed += aimed ? temps : 0;
    }
    close(created);
    EXPECT_GT(killedMidWrite, 0) << "no kill landed inside a write";
    EXPECT_GE(seen.size(), 2u) << "no write completed between kills";
    std::printf("kills inside a write: %d of %d, %d of them aimed at a new temporary file (one write: %ld us)\n",
                killedMidWrite, kKillRounds, killedAimed, static_cast<long>(oneWrite));

    // The next write removes a leftover temp file and leaves none behind.
    ASSERT_TRUE(WriteProfileString(path, "WINDOW", "X", "7"));
    EXPECT_EQ(ReadProfileString(path, "WINDOW", "X", ""), "7");
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}

namespace {

// Forks a process that runs step(0), step(1), ... until `steps` are done or `seconds` have passed
// (or for ever, until killed); it exits 0 if every step returned true and 1 at the first that did not.
pid_t ForkLoop(double seconds, const std::function<bool(long)>& step, long steps = LONG_MAX) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (long i = 0; i < steps && std::chrono::steady_clock::now() < end; ++i)
        if (!step(i)) _exit(1);
    _exit(0);
}

bool EndedWell(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether the child is still at work (it is not reaped here).
bool Running(pid_t pid) {
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// While the writers under test run (two minutes at most, then they are stopped and fail), kills
// writers started by start() one after another at random moments, calling check() after each kill;
// returns how many were killed.
int KillWritersWhile(std::initializer_list<pid_t> running, const std::function<pid_t()>& start,
                     const std::function<void()>& check) {
    std::mt19937 random(777);
    std::uniform_int_distribution<int> delayUs(0, 6000);
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    const auto anyRunning = [&] { return std::any_of(running.begin(), running.end(), Running); };
    int kills = 0;
    while (anyRunning() && !::testing::Test::HasFatalFailure()) {
        if (std::chrono::steady_clock::now() > end) {
            for (const pid_t pid : running) kill(pid, SIGKILL);
            ADD_FAILURE() << "the writers did not finish within two minutes";
            break;
        }
        const pid_t victim = start();
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        kill(victim, SIGKILL);
        waitpid(victim, nullptr, 0);
        ++kills;
        check();
    }
    return kills;
}

std::string Padding(int lines) {
    std::string pad = "[PAD]\r\n";
    for (int i = 0; i < lines; ++i) pad += "P" + std::to_string(i) + "=" + std::string(40, 'p') + "\r\n";
    return pad;
}

}  // namespace

// Catches whole-file writers that make each other fail, rename each other's unfinished file over
// the target, remove a live writer's temporary file, or let the leftovers of killed ones pile up.
// Two writers replace the file for seconds while a third is killed again and again.
TEST(SettingsConcurrency, WholeFileWritersNeverFailMixOrPileUp) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    const std::string contents[] = {"[A]\r\n" + Padding(1500), "[B]\r\n" + Padding(2000), "[C]\r\n" + Padding(2500)};
    WriteBytes(path, contents[0]);
    const std::string tempPrefix = fs::path(plat::ReplacementTempPrefix(path)).filename().string();
    const pid_t a = ForkLoop(4, [&](long) { return plat::ReplaceFileContent(path, contents[0]); });
    const pid_t b = ForkLoop(4, [&](long) { return plat::ReplaceFileContent(path, contents[1]); });
    int mostTemps = 0;
    const int kills = KillWritersWhile(
        {a, b}, [&] { return ForkLoop(1e9, [&](long) { return plat::ReplaceFileContent(path, contents[2]); }); },
        [&] {
            const std::string now = ReadBytes(path);
            ASSERT_TRUE(now == contents[0] || now == contents[1] || now == contents[2]) << now.size() << " bytes";
            mostTemps = std::max(mostTemps, TempFiles(dir.path(), tempPrefix));
        });
    EXPECT_TRUE(EndedWell(a)) << "a write failed";
    EXPECT_TRUE(EndedWell(b)) << "a write failed";
    // At most the three writers' own files and the last killed one's leftover.
    EXPECT_LE(mostTemps, 4);
    std::printf("%d writers killed; at most %d temporary files at once\n", kills, mostTemps);
    ASSERT_TRUE(plat::ReplaceFileContent(path, contents[0]));
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}

// Catches two panels writing their own keys into one settings file losing each other's writes,
// failing, or leaving a file that is neither the old nor a new version, while a third writer is
// killed again and again.
TEST(SettingsConcurrency, PanelsWritingTheirOwnKeysLoseNothing) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    const std::string initial = "[WINDOW]\r\nX=0\r\n[WINSIZE]\r\nWIDTH=0\r\nHEIGHT=0\r\n" + Padding(2000);
    WriteBytes(path, initial);
    const std::string tempPrefix = fs::path(plat::ReplacementTempPrefix(path)).filename().string();
    // Each writer checks that its key still holds what it wrote last, then writes the next value.
    const auto ownKeyWriter = [&](const char* section, const char* key) {
        return ForkLoop(
            1e9,
            [=](long i) {
                return ReadProfileString(path, section, key, "") == std::to_string(i) &&
                       WriteProfileString(path, section, key, std::to_string(i + 1));
            },
            kOwnKeySteps);
    };
    const pid_t a = ownKeyWriter("WINDOW", "X");
    const pid_t b = ownKeyWriter("WINSIZE", "WIDTH");
    int mostTemps = 0;
    const int kills = KillWritersWhile(
        {a, b},
        [&] {
            return ForkLoop(1e9, [&](long i) { return WriteProfileString(path, "WINSIZE", "HEIGHT", std::to_string(i)); });
        },
        [&] {
            const std::string now = ReadBytes(path);
            std::string expected = initial;
            for (const auto& [section, key] : {std::pair{"WINDOW", "X"}, {"WINSIZE", "WIDTH"}, {"WINSIZE", "HEIGHT"}})
                ASSERT_TRUE(ProfileSetString(expected, section, key, ProfileGetString(now, section, key, "?")));
            ASSERT_EQ(now, expected);
            mostTemps = std::max(mostTemps, TempFiles(dir.path(), tempPrefix));
        });
    EXPECT_TRUE(EndedWell(a)) << "X was lost or a write failed";
    EXPECT_TRUE(EndedWell(b)) << "WIDTH was lost or a write failed";
    EXPECT_LE(mostTemps, 2);  // the writer at work and the last killed one's leftover
    const long x = std::stol(ReadProfileString(path, "WINDOW", "X", ""));
    const long width = std::stol(ReadProfileString(path, "WINSIZE", "WIDTH", ""));
    std::printf("X written %ld times, WIDTH %ld times; %d writers killed\n", x, width, kills);
    EXPECT_EQ(x, kOwnKeySteps);
    EXPECT_EQ(width, kOwnKeySteps);
    ASSERT_TRUE(WriteProfileString(path, "WINSIZE", "HEIGHT", "1"));
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}
