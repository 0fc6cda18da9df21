// POSIX file-system seam: getcwd, bounded reads of regular files, and replacement by a temporary file
// of the writer's own + fsync + rename, with open-file-description locks keeping writers apart.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

namespace plat {

namespace {

// Deeper chains than this are treated like the kernel treats them: as a loop.
constexpr int kMaxLinkDepth = 40;
// A writer holds the update lock for one read and one small write; one that holds it much longer
// is stopped or hung, and waiting on would hang this program too.
constexpr auto kLockPatience = std::chrono::seconds(10);
constexpr auto kLockRetryFirst = std::chrono::milliseconds(1);
constexpr auto kLockRetryMost = std::chrono::milliseconds(4);
// Temporary names taken by others (a process of the same id in another namespace) are skipped.
constexpr int kTempNameAttempts = 100;
// Writers lock one byte far past the end of any settings file: where the file system makes locks
// mandatory (SMB), the file's own bytes stay readable and writable through every descriptor.
constexpr off_t kLockByte = static_cast<off_t>(1) << 40;

enum class Lock { Taken, Busy, Refused };

// An open-file-description lock: it belongs to this descriptor (opened for writing, as NFS needs),
// so closing another descriptor of the same file does not drop it. Refused sets error.
Lock TryLock(int fd, int& error) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockByte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return Lock::Taken;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return Lock::Busy;
        error = errno;
        return Lock::Refused;
    }
}

// This host's name as it goes into temporary file names: letters, digits and '-' only.
std::string HostTag() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string tag;
    for (const char* c = host; *c != '\0' && tag.size() < 64; ++c)
        tag += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '-';
    return tag.empty() ? std::string("host") : tag;
}

// Where a leftover cannot be locked because the file system refuses locks, its name tells: its
// writer is gone when it is a process of this host that no longer runs. Names from other hosts are
// left to those hosts.
bool WriterGoneByName(const std::string& suffix) {
    const std::string host = HostTag() + ".";
    if (suffix.compare(0, host.size(), host) != 0) return false;
    const std::size_t end = suffix.find('.', host.size());
    const std::string digits = suffix.substr(host.size(), end == std::string::npos ? std::string::npos : end - host.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

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

// Reads the whole file open at fd, from its start.
ReadStatus ReadOpenFile(int fd, std::string& content, std::size_t maxBytes) {
    content.clear();
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
        const ssize_t n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()));
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
    if (status != ReadStatus::Read) std::string().swap(content);
    return status;
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

// Every writer holds a lock on its temporary file until the file is renamed, so a temporary file
// that can be locked belongs to a writer that is gone. Only regular files are looked at, never
// through a link, and only while the name still leads to the file that was looked at.
void RemoveLeftovers(const std::string& target) {
    const std::string directory = DirectoryOf(target);
    const std::string prefix = NameOf(target) + ".tmp.";
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> suffixes;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            suffixes.push_back(name.substr(prefix.size()));
    }
    closedir(listing);
    for (const std::string& suffix : suffixes) {
        const std::string candidate = JoinPath(directory, prefix + suffix);
        const int fd = open(candidate.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        int error = 0;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const Lock lock = TryLock(fd, error);
            const bool gone = lock == Lock::Taken || (lock == Lock::Refused && WriterGoneByName(suffix));
            if (gone && StillNamed(fd, candidate)) unlink(candidate.c_str());
        }
        close(fd);
    }
}

// Creates this writer's temporary file, locked. A cleaner that locked the fresh file before this
// writer did may have removed it or be about to; then another name is taken.
int CreateTemp(const std::string& target, std::string& temp, int& createError) {
    static std::atomic<unsigned long> counter{0};
    const std::string prefix = ReplacementTempPrefix(target) + HostTag() + "." + std::to_string(getpid()) + ".";
    createError = 0;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = prefix + std::to_string(++counter);
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            createError = errno;
            if (errno == EEXIST) continue;
            return -1;
        }
        // Refused: cleaners go by the name instead. Busy: a cleaner has it and will remove it.
        int ignored = 0;
        if (TryLock(fd, ignored) != Lock::Busy && StillNamed(fd, temp)) return fd;
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

// An update's hold on its file. The lock is taken on the file itself, opened for reading and
// writing; a missing file is created empty for it (an empty file reads as a missing one), so that
// writers of a file that does not exist yet take turns too. The update reads through this
// descriptor, never through one a lock could refuse.
struct UpdateHold {
    int fd = -1;
    bool created = false;
    bool locked = false;
    std::string unlocked;  // why not, when there is a file but no lock
};

// A writer that waited may find the name taken over by a newer file (the renamed result of the
// writer before it), and then locks that one. After kLockPatience the update goes on without the
// lock: each write still replaces the file whole, only a change made at the same moment may be lost.
UpdateHold HoldForUpdate(const std::string& target) {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    auto pause = kLockRetryFirst;
    int races = 0;
    for (;;) {
        UpdateHold hold;
        hold.fd = open(target.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (hold.fd < 0 && errno == ENOENT) {
            hold.fd = open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
            // Made by another writer in between; a dangling link too deep to follow would say so for ever.
            if (hold.fd < 0 && errno == EEXIST && ++races < kTempNameAttempts) continue;
            hold.created = hold.fd >= 0;
        }
        // Without a writable regular file there is nothing to lock, and the write is refused anyway.
        if (hold.fd < 0) return hold;
        struct stat st {};
        if (fstat(hold.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(hold.fd);
            return UpdateHold{};
        }
        int error = 0;
        Lock lock = TryLock(hold.fd, error);
        while (lock == Lock::Busy && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, kLockRetryMost);
            lock = TryLock(hold.fd, error);
        }
        if (lock == Lock::Refused) {
            hold.unlocked = std::string("the file system refuses locks: ") + std::strerror(error);
            return hold;
        }
        if (lock == Lock::Busy) {
            hold.unlocked = "another writer has held the lock for over " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kLockPatience).count()) + " s";
            return hold;
        }
        if (StillNamed(hold.fd, target)) {
            hold.locked = true;
            return hold;
        }
        close(hold.fd);
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
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    const ReadStatus status = ReadOpenFile(fd, content, maxBytes);
    close(fd);
    return status;
}

std::string ReplacementTempPrefix(const std::string& path) { return ResolveLinks(path) + ".tmp."; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    return ReplaceResolved(ResolveLinks(path), content);
}

bool UpdateFileContent(const std::string& path, std::size_t maxBytes, const std::function<bool(std::string&)>& edit,
                       std::string* unlocked) {
    if (unlocked != nullptr) unlocked->clear();
    if (path.empty()) return false;
    const std::string target = ResolveLinks(path);
    const UpdateHold hold = HoldForUpdate(target);
    if (unlocked != nullptr) *unlocked = hold.unlocked;
    std::string content;
    const ReadStatus read = hold.fd >= 0 ? ReadOpenFile(hold.fd, content, maxBytes) : ReadWholeFile(target, content, maxBytes);
    // A file that is there but unusable is refused rather than replaced by just this change.
    const bool ok = (read == ReadStatus::Read || read == ReadStatus::Missing) && edit(content) &&
                    ReplaceResolved(target, content);
    if (hold.fd >= 0) {
        // The empty file made for the lock goes again when nothing was written into its place.
        struct stat st {};
        if (!ok && hold.created && fstat(hold.fd, &st) == 0 && st.st_size == 0 && StillNamed(hold.fd, target))
            unlink(target.c_str());
        close(hold.fd);
    }
    return ok;
}

}  // namespace plat
