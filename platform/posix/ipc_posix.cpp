// POSIX client half of the simulator link's IPC: sockets stand in for windows, shm_open for mappings.
#include "platform/ipc.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/ipc_common_posix.h"
#include "platform/endsignals.h"

namespace plat {

using namespace ipcdetail;

namespace {

// Plain arrays only: the link closes at program exit, possibly after other statics are gone.
constexpr int kMaxWindows = 64;
int nextReusedWindow = 0;
char windowPaths[kMaxWindows][sizeof(sockaddr_un{}.sun_path)];

constexpr int kMaxAtoms = 64;
constexpr IpcAtom kFirstAtom = 0xC000;
struct AtomSlot {
    char name[kMaxAtomName + 1];
    std::uint32_t references;
};
AtomSlot atoms[kMaxAtoms];

constexpr int kMaxMappings = 16;
struct MappingSlot {
    int fd;
    char name[kMaxAtomName + 2];
};
MappingSlot mappings[kMaxMappings];

const AtomSlot* FindAtom(std::uintptr_t atom) {
    if (atom < kFirstAtom || atom >= kFirstAtom + kMaxAtoms) return nullptr;
    const AtomSlot& slot = atoms[atom - kFirstAtom];
    return slot.references > 0 ? &slot : nullptr;
}

// "/" + name; names with a slash or too long for an atom are refused.
bool ShmName(const char* name, char* out, std::size_t outSize) {
    if (!name || !*name || std::strchr(name, '/')) return false;
    const std::size_t length = std::strlen(name);
    if (length > kMaxAtomName || length + 2 > outSize) return false;
    out[0] = '/';
    std::memcpy(out + 1, name, length + 1);
    return true;
}

}  // namespace

IpcWindow IpcFindWindow(const char* className) {
    const std::string path = WindowPath(className);
    if (path.empty() || !SomeoneListens(path)) return 0;
    int freeSlot = -1;
    for (int i = 0; i < kMaxWindows; ++i) {
        if (std::strcmp(windowPaths[i], path.c_str()) == 0) return static_cast<IpcWindow>(i + 1);
        if (!windowPaths[i][0] && freeSlot < 0) freeSlot = i;
    }
    if (freeSlot < 0) {  // all taken: the oldest handles go first
        freeSlot = nextReusedWindow;
        nextReusedWindow = (nextReusedWindow + 1) % kMaxWindows;
    }
    std::memcpy(windowPaths[freeSlot], path.c_str(), path.size() + 1);
    return static_cast<IpcWindow>(freeSlot + 1);
}

std::uint32_t IpcRegisterMessage(const char* name) {
    if (!name || !*name) return 0;
    // Every process derives the same number from the name, as the desktop's registry would hand out.
    std::uint32_t hash = 2166136261u;
    for (const char* p = name; *p; ++p) hash = (hash ^ static_cast<unsigned char>(*p)) * 16777619u;
    return 0xC000u + hash % 0x4000u;
}

IpcAtom IpcAddAtom(const char* name) {
    if (!name || !*name || std::strlen(name) > kMaxAtomName) return 0;
    int freeSlot = -1;
    for (int i = 0; i < kMaxAtoms; ++i) {
        if (atoms[i].references > 0 && strcasecmp(atoms[i].name, name) == 0) {
            ++atoms[i].references;
            return static_cast<IpcAtom>(kFirstAtom + i);
        }
        if (atoms[i].references == 0 && freeSlot < 0) freeSlot = i;
    }
    if (freeSlot < 0) return 0;
    std::strcpy(atoms[freeSlot].name, name);
    atoms[freeSlot].references = 1;
    return static_cast<IpcAtom>(kFirstAtom + freeSlot);
}

void IpcDeleteAtom(IpcAtom atom) {
    if (!FindAtom(atom)) return;
    AtomSlot& slot = atoms[atom - kFirstAtom];
    if (--slot.references == 0) slot.name[0] = '\0';
}

IpcMapping IpcCreateMapping(const char* name, std::uint32_t size, bool* alreadyExists) {
    if (alreadyExists) *alreadyExists = false;
    MappingSlot* slot = nullptr;
    for (auto& m : mappings)
        if (!m.name[0]) {
            slot = &m;
            break;
        }
    if (!slot || size == 0 || !ShmName(name, slot->name, sizeof slot->name)) {
        if (slot) slot->name[0] = '\0';
        return 0;
    }
    const int fd = shm_open(slot->name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST && alreadyExists) *alreadyExists = true;
        slot->name[0] = '\0';
        return 0;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        shm_unlink(slot->name);
        close(fd);
        slot->name[0] = '\0';
        return 0;
    }
    slot->fd = fd;
    return static_cast<IpcMapping>(slot - mappings + 1);
}

bool IpcRemoveStaleMapping(const char* name) {
    char shmName[kMaxAtomName + 2];
    if (!ShmName(name, shmName, sizeof shmName)) return false;
    for (const auto& m : mappings)
        if (m.name[0] && std::strcmp(m.name, shmName) == 0) return false;  // ours and in use
    return shm_unlink(shmName) == 0;
}

void* IpcMapView(IpcMapping mapping, std::uint32_t size) {
    if (mapping < 1 || mapping > kMaxMappings || !mappings[mapping - 1].name[0] || size == 0) return nullptr;
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mappings[mapping - 1].fd, 0);
    return view == MAP_FAILED ? nullptr : view;
}

void IpcUnmapView(void* view, std::uint32_t size) {
    if (view && size) munmap(view, size);
}

void IpcCloseMapping(IpcMapping mapping) {
    if (mapping < 1 || mapping > kMaxMappings || !mappings[mapping - 1].name[0]) return;
    MappingSlot& slot = mappings[mapping - 1];
    shm_unlink(slot.name);
    close(slot.fd);
    slot.name[0] = '\0';
    slot.fd = -1;
}

bool IpcSendMessage(IpcWindow window, std::uint32_t message, std::uintptr_t wParam, std::uint32_t timeoutMs,
                    std::uint32_t* reply, std::uint32_t* lastError) {
    std::uint32_t ignoredError = 0;
    if (!lastError) lastError = &ignoredError;
    *lastError = 0;
    if (window < 1 || window > kMaxWindows || !windowPaths[window - 1][0]) {
        *lastError = EBADF;
        return false;
    }
    const std::int64_t deadline = NowMs() + timeoutMs;

    unsigned char request[sizeof(WireRequest) + kMaxAtomName];
    WireRequest head{kWireMagic, message, wParam, 0};
    if (const AtomSlot* atom = FindAtom(wParam)) head.nameLength = static_cast<std::uint32_t>(std::strlen(atom->name));
    std::memcpy(request, &head, sizeof head);
    if (head.nameLength) std::memcpy(request + sizeof head, atoms[wParam - kFirstAtom].name, head.nameLength);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *lastError = static_cast<std::uint32_t>(errno);
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, windowPaths[window - 1], sizeof addr.sun_path);
    int error = 0;
    // A full backlog means the window is busy: keep knocking until the time-out.
    while (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            error = errno;
            break;
        }
        if (EndSignalReceived() != EndSignal::None) {
            error = EINTR;
            break;
        }
        if (NowMs() >= deadline) {
            error = -1;
            break;
        }
        usleep(500);
    }
    if (error == 0) error = WriteAll(fd, request, sizeof head + head.nameLength, deadline);
    std::uint32_t answer = 0;
    if (error == 0) error = ReadAll(fd, &answer, sizeof answer, deadline);
    close(fd);
    if (error != 0) {
        *lastError = error == -1 ? 0u : static_cast<std::uint32_t>(error);
        return false;
    }
    if (reply) *reply = answer;
    return true;
}

const IpcTransport& PlatformIpc() {
    static const IpcTransport transport{IpcFindWindow,    IpcRegisterMessage,    IpcAddAtom,
                                        IpcDeleteAtom,    IpcRemoveStaleMapping, IpcCreateMapping,
                                        IpcMapView,       IpcUnmapView,          IpcCloseMapping,
                                        IpcSendMessage};
    return transport;
}

}  // namespace plat
