// POSIX file-system seam: getcwd, whole-file reads, and replacement by temp file + fsync + rename.
#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {

// Deeper chains than this are treated like the kernel treats them: as a loop.
constexpr int kMaxLinkDepth = 40;

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
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
    const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && static_cast<off_t>(content.size()) > st.st_size) {
        const int rc = posix_fallocate(fd, 0, static_cast<off_t>(content.size()));
        ok = rc == 0 || rc == EOPNOTSUPP || rc == EINVAL;
    }
    ok = ok && WriteAll(fd, content) && ftruncate(fd, static_cast<off_t>(content.size())) == 0 && fsync(fd) == 0;
    return close(fd) == 0 && ok;
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

ReadStatus ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;  // e.g. a directory of that name
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (!ok) content.clear();
    return ok ? ReadStatus::Read : ReadStatus::Failed;
}

std::string ReplacementTempPath(const std::string& path) { return ResolveLinks(path) + ".tmp"; }

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    const std::string target = ResolveLinks(path);
    const std::string temp = target + ".tmp";

    // A read-only file stays refused even where the folder would allow a rename over it.
    struct stat old {};
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists) {
        if (!S_ISREG(old.st_mode)) return false;
        const int probe = open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) return false;
        close(probe);
    }

    // A leftover of a killed writer is removed first, so the exclusive create gives fresh umask-based
    // bits to a new file and never writes through whatever else sits at that name.
    const int unlinkError = unlink(temp.c_str()) == 0 ? 0 : errno;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const bool refused = errno == EACCES || errno == EPERM;
        const bool leftoverStuck = errno == EEXIST && (unlinkError == EACCES || unlinkError == EPERM);
        if (exists && (refused || leftoverStuck)) return RewriteInPlace(target, content);
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
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

}  // namespace plat
