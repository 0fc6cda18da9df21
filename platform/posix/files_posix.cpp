// POSIX file-system seam: getcwd, bounded reads of regular files, and replacement by a temporary file
// of the writer's own + fsync + rename, with flock keeping concurrent writers apart.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>
#include <vector>

namespace plat {

namespace {

// Deeper chains than this are treated like the kernel treats them: as a loop.
constexpr int kMaxLinkDepth = 40;
// A writer holds the update lock for one read and one small write; one that holds it much longer
// is stopped or hung, and waiting on would hang this program too.
constexpr auto kLockPatience = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(1);
// Temporary names taken by others (a process of the same id in another namespace) are skipped.
constexpr int kTempNameAttempts = 100;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links (also a dangling last one) so the file is replaced at its target and the
// link stays a link.
std::string ResolveLinks(std::string path) {
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return path;
        const std::string target(buffer.data(), static_cast<std::size_t>(length));
        path = (!target.empty() && target[0] == '/') ? target : JoinPath(DirectoryOf(path), target);
    }
    return path;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when path names the very file that fd has open.
bool StillNamed(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && SameFile(open, named);
}

bool WriteAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a failure here cannot be undone and is not reported.
void SyncDirectory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Used only where the folder refuses new files. Space is reserved before the first byte changes,
// so a full disk leaves the old content; a crash in the middle can still mix old and new.
bool RewriteInPlace(const std::string& target, const std::string& content) {
    const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && static_cast<off_t>(content.size()) > st.st_size) {
        const int rc = posix_fallocate(fd, 0, static_cast<off_t>(content.size()));
        ok = rc == 0 || rc == EOPNOTSUPP || rc == EINVAL;
    }
    ok = ok && WriteAll(fd, content) && ftruncate(fd, static_cast<off_t>(content.size())) == 0 && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

// Every writer holds an flock on its temporary file until the file is renamed, so a temporary file
// that can be locked belongs to a writer that is gone. Only regular files are looked at, never
// through a link, and only while the name still leads to the file that was locked.
void RemoveLeftovers(const std::string& target) {
    const std::string directory = DirectoryOf(target);
    const std::string prefix = NameOf(target) + ".tmp.";
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            candidates.push_back(JoinPath(directory, name));
    }
    closedir(listing);
    for (const std::string& candidate : candidates) {
        int fd = open(candidate.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) fd = open(candidate.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            StillNamed(fd, candidate)) {
            unlink(candidate.c_str());
        }
        close(fd);
    }
}

// Creates this writer's temporary file, locked. A cleaner that locked the fresh file before this
// writer did may have removed it; then another name is taken.
int CreateTemp(const std::string& target, std::string& temp, int& createError) {
    static unsigned long counter = 0;
    const std::string prefix = ReplacementTempPrefix(target);
    createError = 0;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = prefix + std::to_string(getpid()) + "." + std::to_string(++counter);
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            createError = errno;
            if (errno == EEXIST) continue;
            return -1;
        }
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (StillNamed(fd, temp)) return fd;
        close(fd);
    }
    return -1;
}

// The write itself, on a target whose links are already followed.
bool ReplaceResolved(const std::string& target, const std::string& content) {
    // A read-only file stays refused even where the folder would allow a rename over it.
    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode)) return false;
        const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0) return false;
        close(probe);
    }

    RemoveLeftovers(target);
    std::string temp;
    int createError = 0;
    const int fd = CreateTemp(target, temp, createError);
    if (fd < 0) {
        const bool refused = createError == EACCES || createError == EPERM;
        if (exists && refused) return RewriteInPlace(target, content);
        return false;
    }
    bool ok = true;
    if (exists) {
        if (old.st_uid != geteuid() || old.st_gid != getegid()) {
            (void)!fchown(fd, old.st_uid, old.st_gid);  // best effort: only a privileged writer may
        }
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, content) && fsync(fd) == 0;
    // The lock stays on until the rename is done, so no cleaner takes the file for a leftover.
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    ok = (close(fd) == 0) && ok;
    if (ok) SyncDirectory(DirectoryOf(target));
    return ok;
}

// Tries for the lock until kLockPatience has passed.
bool LockWithPatience(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kLockRetry);
    }
}

// Locks the file for one update: the file itself, or its folder while there is no file. A writer
// that waited may find the name taken over by a newer file (the renamed result of the writer before
// it), and then locks that one. After kLockPatience the update goes on without the lock: each write
// still replaces the file whole, only a change made at the same moment may be lost.
int LockForUpdate(const std::string& target) {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    for (;;) {
        int fd = open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const bool missing = fd < 0 && errno == ENOENT;
        if (missing) fd = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat st {};
        if (fstat(fd, &st) != 0 || (!missing && !S_ISREG(st.st_mode)) || !LockWithPatience(fd, deadline)) return fd;
        struct stat now {};
        const bool named = stat(target.c_str(), &now) == 0;
        if (missing ? !named : (named && SameFile(st, now))) return fd;
        close(fd);
    }
}

}  // namespace

std::string CurrentDirectory() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

ReadStatus ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes) {
    content.clear();
    // Non-blocking, so that opening a pipe with no writer returns at once; only regular files are read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    struct stat st {};
    ReadStatus status = ReadStatus::Read;
    if (fstat(fd, &st) != 0) {
        status = ReadStatus::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        status = ReadStatus::NotRegular;
    } else if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes) {
        status = ReadStatus::TooLarge;
    } else {
        content.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buffer[65536];
    while (status == ReadStatus::Read) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno != EINTR) status = ReadStatus::Failed;
            continue;
        }
        if (static_cast<std::size_t>(n) > maxBytes - content.size()) {
            status = ReadStatus::TooLarge;  // grew while being read
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (status != ReadStatus::Read) std::string().swap(content);
    return status;
}

std::string ReplacementTempPrefix(const std::string& path) { return ResolveLinks(path) + ".tmp."; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    return ReplaceResolved(ResolveLinks(path), content);
}

bool UpdateFileContent(const std::string& path, std::size_t maxBytes, const std::function<bool(std::string&)>& edit) {
    if (path.empty()) return false;
    const std::string target = ResolveLinks(path);
    const int lock = LockForUpdate(target);
    std::string content;
    const ReadStatus read = ReadWholeFile(target, content, maxBytes);
    // A file that is there but unusable is refused rather than replaced by just this change.
    const bool ok = (read == ReadStatus::Read || read == ReadStatus::Missing) && edit(content) &&
                    ReplaceResolved(target, content);
    if (lock >= 0) close(lock);
    return ok;
}

}  // namespace plat
