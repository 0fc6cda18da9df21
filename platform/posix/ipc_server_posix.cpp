// POSIX simulator half of the IPC seam: owning a window class's socket, receiving and answering messages.
#include "platform/ipc.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/ipc_common_posix.h"

namespace plat {

using namespace ipcdetail;

namespace {

constexpr int kMaxOwned = 4;
struct OwnedSlot {
    int listenFd;
    char path[sizeof(sockaddr_un{}.sun_path)];
};
OwnedSlot owned[kMaxOwned];

// A sender gets this long to deliver its whole message once it has connected.
constexpr std::int64_t kRequestReadMs = 1000;

OwnedSlot* FindOwned(IpcOwnedWindow window) {
    if (window < 1 || window > kMaxOwned || !owned[window - 1].path[0]) return nullptr;
    return &owned[window - 1];
}

// Reads one request from a fresh connection; false (and nothing kept) when it is not a whole, sane one.
bool ReadRequest(int fd, IpcIncoming* incoming) {
    const std::int64_t deadline = NowMs() + kRequestReadMs;
    // A sender writes its whole request at once and sends nothing after it, so one receive of the
    // largest request usually takes all of it.
    unsigned char buffer[sizeof(WireRequest) + kMaxAtomName];
    std::size_t got = 0;
    if (ReadAtLeast(fd, buffer, sizeof(WireRequest), sizeof buffer, deadline, &got) != 0) return false;
    WireRequest head{};
    std::memcpy(&head, buffer, sizeof head);
    if (head.magic != kWireMagic || head.nameLength > kMaxAtomName) return false;
    const std::size_t whole = sizeof head + head.nameLength;
    if (got < whole && ReadAll(fd, buffer + got, whole - got, deadline) != 0) return false;
    const char* name = reinterpret_cast<const char*>(buffer + sizeof head);
    if (std::memchr(name, '\0', head.nameLength)) return false;
    incoming->message = head.message;
    incoming->wParam = head.wParam;
    std::memcpy(incoming->atomName, name, head.nameLength);
    std::memset(incoming->atomName + head.nameLength, 0, sizeof incoming->atomName - head.nameLength);
    incoming->sender = fd;
    return true;
}

// Views of request areas stay mapped from one message to the next: opening and mapping an area
// costs several bare message round trips, and a client names the same area in every message.
constexpr int kMaxKeptViews = 4;
struct KeptView {
    char name[kMaxAtomName + 2];  // "/" + the area's name; empty once the name no longer leads here
    int fd;                       // kept open to see whether the name still leads to this area
    void* view;                   // null when the slot is free
    std::uint32_t size;
    std::uint32_t holders;  // opens not yet closed; a view in use is never unmapped
    std::uint64_t lastUse;
};
KeptView keptViews[kMaxKeptViews];
std::uint64_t viewUses = 0;

void ReleaseKept(KeptView& kept) {
    munmap(kept.view, kept.size);
    close(kept.fd);
    kept = KeptView{};
}

// A kept area is still the one its name leads to while it has a name at all: a client that closes
// its link removes the name, and one that opens again gets a new area under the same name.
bool StillNamed(const KeptView& kept) {
    struct stat st {};
    return fstat(kept.fd, &st) == 0 && st.st_nlink > 0 && st.st_size >= static_cast<off_t>(kept.size);
}

// An exclusive lock on a folder for as long as it lives; taken within a second or not at all, so
// an owner stopped while holding it delays the next one but never stops it.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        for (int tries = 0; fd_ >= 0 && tries < 100; ++tries) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            usleep(10000);
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);  // closing lets go of the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

// Why the last IpcCreateWindow failed, for its caller's message.
std::string createProblem;

}  // namespace

const char* IpcCreateWindowProblem() { return createProblem.c_str(); }

IpcOwnedWindow IpcCreateWindow(const char* className) {
    createProblem.clear();
    const std::string path = WindowPath(className);
    if (path.empty()) {
        createProblem = WindowPathProblem();
        return 0;
    }
    OwnedSlot* slot = nullptr;
    for (auto& s : owned)
        if (!s.path[0]) {
            slot = &s;
            break;
        }
    if (!slot) return 0;
    // Two owners starting together must not both take the name: the look for a live owner and the
    // taking happen under a lock on the folder, and the socket gets its name only once it listens,
    // so whoever finds the name finds someone answering.
    const std::string dir = path.substr(0, path.rfind('/'));
    const FolderLock lock(dir);
    if (SomeoneListens(path)) return 0;
    std::string fresh = dir + "/.new-" + std::to_string(static_cast<long>(getpid()));
    if (fresh.size() >= sizeof(sockaddr_un{}.sun_path)) fresh = path;  // no room: bound under its own name
    unlink(fresh.c_str());  // a socket left by an owner that died (or half made by one with our id)
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return 0;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, fresh.c_str(), fresh.size() + 1);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || chmod(fresh.c_str(), 0600) != 0 ||
        listen(fd, 64) != 0 || (fresh != path && rename(fresh.c_str(), path.c_str()) != 0)) {
        createProblem = "cannot listen at " + path + ": " + std::strerror(errno);
        if (fresh != path) unlink(fresh.c_str());
        close(fd);
        return 0;
    }
    slot->listenFd = fd;
    std::memcpy(slot->path, path.c_str(), path.size() + 1);
    return static_cast<IpcOwnedWindow>(slot - owned + 1);
}

void IpcDestroyWindow(IpcOwnedWindow window) {
    OwnedSlot* slot = FindOwned(window);
    if (!slot) return;
    unlink(slot->path);
    close(slot->listenFd);
    slot->path[0] = '\0';
    slot->listenFd = -1;
}

IpcWaitResult IpcWaitMessage(IpcOwnedWindow window, std::uint32_t waitMs, IpcIncoming* incoming) {
    OwnedSlot* slot = FindOwned(window);
    if (!slot || !incoming) return IpcWaitResult::Failed;
    const std::int64_t deadline = NowMs() + waitMs;
    for (;;) {
        const int fd = accept4(slot->listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            if (ReadRequest(fd, incoming)) return IpcWaitResult::Message;
            close(fd);  // a probe that only looked for the window, or garbage
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return IpcWaitResult::Failed;
        const std::int64_t left = deadline - NowMs();
        if (left <= 0) return IpcWaitResult::TimedOut;
        pollfd pfd{slot->listenFd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return IpcWaitResult::Failed;
    }
}

void IpcReply(IpcIncoming* incoming, std::uint32_t result) {
    if (!incoming || incoming->sender < 0) return;
    const int fd = static_cast<int>(incoming->sender);
    WriteAll(fd, &result, sizeof result, NowMs() + kRequestReadMs);  // a sender that gave up is no error here
    close(fd);
    incoming->sender = -1;
}

void IpcDrop(IpcIncoming* incoming) {
    if (!incoming || incoming->sender < 0) return;
    close(static_cast<int>(incoming->sender));
    incoming->sender = -1;
}

void* IpcOpenMappingView(const char* name, std::uint32_t size) {
    if (!name || !*name || std::strchr(name, '/') || std::strlen(name) > kMaxAtomName || size == 0) return nullptr;
    char shmName[kMaxAtomName + 2] = "/";
    std::strcat(shmName, name);
    KeptView* slot = nullptr;  // for a new view: a free slot, else the least recently used idle one
    for (auto& kept : keptViews) {
        if (kept.name[0] && kept.size == size && std::strcmp(kept.name, shmName) == 0) {
            if (StillNamed(kept)) {
                ++kept.holders;
                kept.lastUse = ++viewUses;
                return kept.view;
            }
            kept.name[0] = '\0';
            if (kept.holders == 0) ReleaseKept(kept);
        }
        if (kept.holders > 0) continue;
        if (!slot || (slot->view && (!kept.view || kept.lastUse < slot->lastUse))) slot = &kept;
    }
    const int fd = shm_open(shmName, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat st {};
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(size))
        view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED || !slot) {
        close(fd);  // without a free slot the view lives until its close alone
        return view == MAP_FAILED ? nullptr : view;
    }
    if (slot->view) ReleaseKept(*slot);
    std::memcpy(slot->name, shmName, sizeof shmName);
    slot->fd = fd;
    slot->view = view;
    slot->size = size;
    slot->holders = 1;
    slot->lastUse = ++viewUses;
    return view;
}

void IpcCloseMappingView(void* view, std::uint32_t size) {
    if (!view) return;
    for (auto& kept : keptViews) {
        if (kept.view != view) continue;
        // It stays mapped for the area's next message, unless its name has gone meanwhile.
        if (kept.holders > 0 && --kept.holders == 0 && !kept.name[0]) ReleaseKept(kept);
        return;
    }
    if (size) munmap(view, size);
}

}  // namespace plat
