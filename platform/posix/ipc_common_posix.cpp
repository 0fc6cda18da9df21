// Rendezvous directory, socket paths and deadline-bound socket I/O for the POSIX IPC backend.
#include "platform/posix/ipc_common_posix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/endsignals.h"

namespace plat::ipcdetail {

namespace {

std::string pathProblem;

bool Refuse(const std::string& problem) {
    pathProblem = problem;
    return false;
}

bool UsableClassName(const char* name) {
    if (!name || !*name || std::strlen(name) > 64) return false;
    for (const char* p = name; *p; ++p) {
        const char c = *p;
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-' || c == '.';
        if (!ok || (p == name && c == '.')) return false;
    }
    return true;
}

// A directory we may use: ours, and for the default one also closed to everyone else.
bool EnsureDirectory(const std::string& dir, bool requirePrivate) {
    const std::string named = "the rendezvous folder " + dir;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return Refuse(named + " cannot be made: " + std::strerror(errno));
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return Refuse(named + " cannot be examined: " + std::strerror(errno));
    if (S_ISLNK(st.st_mode)) return Refuse(named + " is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return Refuse(named + " is not a folder");
    if (st.st_uid != getuid())
        return Refuse(named + " belongs to another user (uid " + std::to_string(static_cast<unsigned long>(st.st_uid)) +
                      ")");
    if (requirePrivate && (st.st_mode & 077) != 0) return Refuse(named + " is open to other users");
    return true;
}

std::string RendezvousDirectory() {
    const char* over = std::getenv("KOVEX_IPC_DIR");
    if (over && *over) return EnsureDirectory(over, false) ? std::string(over) : std::string();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime ? std::string(runtime) + "/kovex-ipc"
                                          : "/tmp/kovex-" + std::to_string(static_cast<unsigned long>(getuid()));
    return EnsureDirectory(dir, true) ? dir : std::string();
}

}  // namespace

std::string WindowPath(const char* className) {
    pathProblem.clear();
    if (!UsableClassName(className)) {
        Refuse("the class name is not usable");
        return {};
    }
    const std::string dir = RendezvousDirectory();
    if (dir.empty()) return {};
    std::string path = dir + "/" + className;
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        Refuse("the rendezvous path " + path + " is too long");
        return {};
    }
    return path;
}

const std::string& WindowPathProblem() { return pathProblem; }

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace {

// Waits for the events until the deadline: 0 ready, -1 time-out, EINTR once an end is requested,
// else errno. Short slices, so an end request noted on another thread is seen as well.
int WaitFor(int fd, short events, std::int64_t deadlineMs) {
    for (;;) {
        const std::int64_t left = deadlineMs - NowMs();
        if (left <= 0) return -1;
        pollfd pfd{fd, events, 0};
        const int n = poll(&pfd, 1, static_cast<int>(left > kEndSliceMs ? kEndSliceMs : left));
        if (n > 0) return 0;  // errors and hang-ups surface in the following read or write
        if (n < 0 && errno != EINTR) return errno;
        if (EndSignalReceived() != EndSignal::None) return EINTR;
    }
}

}  // namespace

int ReadAtLeast(int fd, void* data, std::size_t least, std::size_t most, std::int64_t deadlineMs, std::size_t* got) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    *got = 0;
    while (done < least) {
        const ssize_t n = recv(fd, bytes + done, most - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            *got = done;
            continue;
        }
        if (n == 0) return ECONNRESET;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        const int w = WaitFor(fd, POLLIN, deadlineMs);
        if (w != 0) return w;
    }
    return 0;
}

int ReadAll(int fd, void* data, std::size_t size, std::int64_t deadlineMs) {
    std::size_t got = 0;
    return ReadAtLeast(fd, data, size, size, deadlineMs, &got);
}

int WriteAll(int fd, const void* data, std::size_t size, std::int64_t deadlineMs) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = send(fd, bytes + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        const int w = WaitFor(fd, POLLOUT, deadlineMs);
        if (w != 0) return w;
    }
    return 0;
}

bool SomeoneListens(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int r = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const bool live = r == 0 || errno == EAGAIN || errno == EINPROGRESS;  // a full backlog is still alive
    close(fd);
    return live;
}

}  // namespace plat::ipcdetail
