// Settings writers held or killed inside a write, writers of a file that does not exist yet, and a
// file system that refuses every lock (the test's preloaded shim), on a local folder and on a
// loopback NFS mount where one can be had.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "platform/files.h"
#include "shell/profile_file.h"
#include "test_support.h"

namespace {

const std::string kOld = "[WINDOW]\r\nX=1\r\n";

// Files of the folder, less the NFS client's own (.nfs...) for files still open when replaced.
std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, 4, ".nfs") != 0) names.insert(name);
    }
    return names;
}

// True when path still names the file open at fd (kept open so its inode number is not reused).
bool SameFileAs(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
           open.st_dev == named.st_dev;
}

// Reads fd until it closes or `until` is in what was read, for at most 30 s.
std::string ReadFor(int fd, const std::string& until = std::string()) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && (until.empty() || text.find(until) == std::string::npos)) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 100) <= 0) continue;
        char buffer[1024];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

struct Said {
    bool ok = false;
    std::string errors;  // standard error
};

// Runs write in a child process (which refuses every lock when asked), collecting its standard error.
Said RunWriter(const std::function<bool()>& write, bool refuseLocks) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (refuseLocks) setenv("KOVEX_REFUSE_LOCKS", "1", 1);
        _exit(write() ? 0 : 1);
    }
    close(fds[1]);
    Said said;
    said.errors = ReadFor(fds[0]);
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    said.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return said;
}

// A writer stopped inside its write, in the fsync of its temporary file, holding what it holds there.
pid_t StartStoppedWriter(const std::string& path, const std::string& value, bool refuseLocks) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (refuseLocks) setenv("KOVEX_REFUSE_LOCKS", "1", 1);
        setenv("KOVEX_STALL_FSYNC", std::to_string(fds[1]).c_str(), 1);
        WriteProfileString(path, "WINDOW", "X", value);
        _exit(1);
    }
    close(fds[1]);
    const bool stalled = ReadFor(fds[0], "stalled").find("stalled") != std::string::npos;
    close(fds[0]);
    if (stalled) return pid;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

std::string UnlockedLine(const std::string& path) {
    return "KOVEXFuel: " + path + " is written without a lock (the file system refuses locks: " +
           std::strerror(ENOLCK) + "): panels writing it at the same moment may lose a change\n";
}

// Catches a cleaner that removes a live writer's temporary file or leaves a killed one's, a file
// changed in place while a write is under way, and a lock that outlives its killed holder.
void CheckStoppedAndKilledWriters(const fs::path& dir, bool refuseLocks) {
    SCOPED_TRACE(refuseLocks ? "locks refused" : "with locks");
    const std::string path = (dir / "KOVEXFuel.INI").string();
    WriteBytes(path, kOld);
    const int old = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t stopped = StartStoppedWriter(path, "2", refuseLocks);
    ASSERT_GT(stopped, 0) << "the writer did not reach its write";
    EXPECT_EQ(Listing(dir).size(), 2u) << "no temporary file of the stopped writer";
    EXPECT_EQ(ReadBytes(path), kOld);

    const Said other = RunWriter([&] { return plat::ReplaceFileContent(path, "[WINDOW]\r\nX=3\r\n"); }, refuseLocks);
    EXPECT_TRUE(other.ok) << other.errors;
    EXPECT_EQ(Listing(dir).size(), 2u) << "the live writer's temporary file was removed";
    kill(stopped, SIGKILL);
    waitpid(stopped, nullptr, 0);

    const Said next = RunWriter([&] { return WriteProfileString(path, "WINDOW", "Y", "4"); }, refuseLocks);
    EXPECT_TRUE(next.ok) << next.errors;
    EXPECT_EQ(next.errors, refuseLocks ? UnlockedLine(path) : std::string());
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=3\r\nY=4\r\n");
    EXPECT_EQ(Listing(dir), std::set<std::string>{"KOVEXFuel.INI"}) << "the killed writer's file was left";
    EXPECT_FALSE(SameFileAs(old, path)) << "rewritten in place instead of replaced";
    close(old);
}

// Catches writers of a file that does not exist yet not taking turns: two of them started at
// once must leave both keys, round after round.
void CheckWritersOfANewFileTakeTurns(const fs::path& dir) {
    const std::string path = (dir / "KOVEXFuel.INI").string();
    for (int round = 0; round < 20 && !::testing::Test::HasFailure(); ++round) {
        fs::remove(path);
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> writers;
        for (const char* key : {"X", "Y"}) {
            const pid_t pid = fork();
            if (pid == 0) {
                close(go[1]);
                char start;
                (void)!read(go[0], &start, 1);  // both go when the pipe closes
                _exit(WriteProfileString(path, "WINDOW", key, key) ? 0 : 1);
            }
            writers.push_back(pid);
        }
        close(go[0]);
        close(go[1]);
        for (const pid_t pid : writers) {
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        const std::string content = ReadBytes(path);
        EXPECT_TRUE(content == "[WINDOW]\r\nX=X\r\nY=Y\r\n" || content == "[WINDOW]\r\nY=Y\r\nX=X\r\n")
            << "round " << round << ": " << content;
    }
    EXPECT_EQ(Listing(dir), std::set<std::string>{"KOVEXFuel.INI"});
}

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A fresh folder exported over NFS on loopback and mounted, for the length of a test; reason()
// says why not where that cannot be had.
class LoopbackNfs {
public:
    LoopbackNfs() {
        const std::string filesystems = ReadBytes("/proc/filesystems");
        if (geteuid() != 0) {
            reason_ = "mounting NFS needs root";
        } else if (filesystems.find("\tnfs4\n") == std::string::npos && filesystems.find("\tnfs\n") == std::string::npos) {
            reason_ = "this kernel has no NFS client (no nfs in /proc/filesystems) and cannot load one";
        } else if (filesystems.find("\tnfsd\n") == std::string::npos) {
            reason_ = "this kernel has no NFS server (no nfsd in /proc/filesystems) and cannot load one";
        } else if (access("/usr/sbin/exportfs", X_OK) != 0 || access("/usr/sbin/rpc.mountd", X_OK) != 0 ||
                   access("/sbin/mount.nfs", X_OK) != 0) {
            reason_ = "Debian's nfs-kernel-server is not installed";
        } else {
            Start();
        }
    }
    ~LoopbackNfs() {
        if (mounted_) Run("umount -f -l " + mount_.string());
        if (exported_) Run("/usr/sbin/exportfs -u 127.0.0.1:" + dir_.file("export"));
        if (mountd_ > 0) {
            kill(mountd_, SIGTERM);
            waitpid(mountd_, nullptr, 0);
        }
    }
    LoopbackNfs(const LoopbackNfs&) = delete;
    LoopbackNfs& operator=(const LoopbackNfs&) = delete;

    const std::string& reason() const { return reason_; }
    const fs::path& mount() const { return mount_; }

private:
    void Start() {
        const std::string exported = dir_.file("export");
        mount_ = dir_.path() / "mount";
        fs::create_directory(exported);
        fs::create_directory(mount_);
        if (!Step("mountpoint -q /proc/fs/nfsd || mount -t nfsd nfsd /proc/fs/nfsd")) return;
        if (!Run("pidof rpc.mountd")) {
            mountd_ = fork();
            if (mountd_ == 0) {
                execl("/usr/sbin/rpc.mountd", "rpc.mountd", "-F", "-N", "2", "-N", "3", static_cast<char*>(nullptr));
                _exit(127);
            }
        }
        if (!Step("[ \"$(cat /proc/fs/nfsd/threads)\" -gt 0 ] || /usr/sbin/rpc.nfsd -N 3 2")) return;
        exported_ = Step("/usr/sbin/exportfs -o rw,sync,no_root_squash,insecure,no_subtree_check,fsid=" +
                         std::to_string(getpid()) + " 127.0.0.1:" + exported);
        if (!exported_) return;
        mounted_ = Step("mount -t nfs4 -o timeo=30,retrans=2 127.0.0.1:" + exported + " " + mount_.string());
    }
    bool Step(const std::string& command) {
        if (Run(command)) return true;
        reason_ = "'" + command + "' failed";
        return false;
    }

    TempDir dir_;
    fs::path mount_;
    std::string reason_;
    pid_t mountd_ = -1;
    bool exported_ = false;
    bool mounted_ = false;
};

}  // namespace

TEST(SettingsLocks, StoppedAndKilledWriters) {
    for (const bool refuseLocks : {false, true}) {
        TempDir dir;
        CheckStoppedAndKilledWriters(dir.path(), refuseLocks);
    }
}

TEST(SettingsLocks, WritersOfANewFileTakeTurns) {
    TempDir dir;
    CheckWritersOfANewFileTakeTurns(dir.path());
}

// Catches a missing lock passing silently, said at every write, or making the writes fail or
// lose keys.
TEST(SettingsLocks, RefusedLocksAreSaidOnce) {
    TempDir dir;
    const std::string path = dir.file("KOVEXFuel.INI");
    const Said said = RunWriter(
        [&] {
            return WriteProfileString(path, "WINDOW", "X", "5") && WriteProfileString(path, "WINDOW", "Y", "6") &&
                   WriteProfileString(path, "WINSIZE", "WIDTH", "700");
        },
        true);
    EXPECT_TRUE(said.ok);
    EXPECT_EQ(said.errors, UnlockedLine(path)) << "is the lock shim preloaded?";
    EXPECT_EQ(ReadBytes(path), "[WINDOW]\r\nX=5\r\nY=6\r\n[WINSIZE]\r\nWIDTH=700\r\n");
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"KOVEXFuel.INI"});
}

// The same on NFS, where locks go to the server.
TEST(SettingsLocks, OnLoopbackNfs) {
    LoopbackNfs nfs;
    if (!nfs.reason().empty()) GTEST_SKIP() << "no loopback NFS mount: " << nfs.reason();
    CheckStoppedAndKilledWriters(nfs.mount(), false);
    for (const auto& entry : fs::directory_iterator(nfs.mount())) fs::remove(entry.path());
    CheckWritersOfANewFileTakeTurns(nfs.mount());
}
