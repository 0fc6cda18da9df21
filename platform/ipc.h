// Inter-process seam of the simulator link: windows found by class, registered messages, global atoms,
// named shared memory and a message send with time-out, plus the simulator's half of the same exchange.
// Backends:
// - posix: Unix sockets in a rendezvous folder stand in for windows and messages, shm_open for the
//   mappings; the simulator half keeps recent area views mapped between messages.
// - win32: the desktop's own windows, registered messages, global atoms and paging-file mappings;
//   each owned window runs on a thread of its own so its owner can answer a message later.
#pragma once

#include <cstdint>

namespace plat {

// Opaque handles; 0 (or null for views) means "none".
using IpcWindow = std::uintptr_t;
using IpcMapping = std::uintptr_t;
using IpcAtom = std::uint16_t;

// ---- Client half ----

// A live window of the given class, or 0.
IpcWindow IpcFindWindow(const char* className);
// The system-wide number of a named message (the same in every process), or 0 on failure.
std::uint32_t IpcRegisterMessage(const char* name);
// A global atom for the name (counted: adding a name twice gives the same atom), or 0 on failure.
IpcAtom IpcAddAtom(const char* name);
void IpcDeleteAtom(IpcAtom atom);
// Removes a mapping of that name that this process does not hold, for names that carry this
// process's id: only an ended process of the same id can have left one (POSIX names outlive a killed
// process; on Windows a mapping ends with its last handle, so nothing is ever removed there).
// True when one was removed.
bool IpcRemoveStaleMapping(const char* name);
// Creates a new read/write named mapping of size bytes. Returns 0 on failure; *alreadyExists is set
// when the failure was that a mapping of that name already exists (then nothing is created).
IpcMapping IpcCreateMapping(const char* name, std::uint32_t size, bool* alreadyExists);
// The whole mapping as writable memory, or null.
void* IpcMapView(IpcMapping mapping, std::uint32_t size);
void IpcUnmapView(void* view, std::uint32_t size);
// Closes the handle; the name disappears with it.
void IpcCloseMapping(IpcMapping mapping);
// Sends a message and waits at most timeoutMs for its 32-bit result. A wParam that is an atom of this
// process carries the atom's name along. Returns false on failure with *lastError set: 0 when the
// window was there but did not answer in time, otherwise the system's error number (POSIX: EINTR
// when an end request cut the wait short, platform/endsignals.h).
bool IpcSendMessage(IpcWindow window, std::uint32_t message, std::uintptr_t wParam, std::uint32_t timeoutMs,
                    std::uint32_t* reply, std::uint32_t* lastError);

// The client half as a table, so a test can put a transport that fails a chosen call behind the seam.
struct IpcTransport {
    IpcWindow (*findWindow)(const char* className);
    std::uint32_t (*registerMessage)(const char* name);
    IpcAtom (*addAtom)(const char* name);
    void (*deleteAtom)(IpcAtom atom);
    bool (*removeStaleMapping)(const char* name);
    IpcMapping (*createMapping)(const char* name, std::uint32_t size, bool* alreadyExists);
    void* (*mapView)(IpcMapping mapping, std::uint32_t size);
    void (*unmapView)(void* view, std::uint32_t size);
    void (*closeMapping)(IpcMapping mapping);
    bool (*sendMessage)(IpcWindow window, std::uint32_t message, std::uintptr_t wParam, std::uint32_t timeoutMs,
                        std::uint32_t* reply, std::uint32_t* lastError);
};
const IpcTransport& PlatformIpc();

// ---- Simulator half ----

using IpcOwnedWindow = std::uintptr_t;

// Becomes the window of a class. 0 when the class already has a live owner or on failure.
IpcOwnedWindow IpcCreateWindow(const char* className);
// Why the last IpcCreateWindow gave 0, when the cause was not a live owner of the class: a text naming
// what stood in the way (such as an unusable rendezvous folder). Empty when the class has an owner.
const char* IpcCreateWindowProblem();
void IpcDestroyWindow(IpcOwnedWindow window);

// One received message; it stays pending until answered or dropped.
struct IpcIncoming {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    char atomName[256] = {};  // empty when wParam was no atom of the sender
    std::intptr_t sender = -1;
};

enum class IpcWaitResult { Message, TimedOut, Failed };
// Waits up to waitMs for the next message sent to the window.
IpcWaitResult IpcWaitMessage(IpcOwnedWindow window, std::uint32_t waitMs, IpcIncoming* incoming);
// Answers a pending message with its result and ends it.
void IpcReply(IpcIncoming* incoming, std::uint32_t result);
// Ends a pending message without an answer; its sender sees an error at once.
void IpcDrop(IpcIncoming* incoming);

// Opens an existing named mapping and maps size bytes of it; null when there is none. A closed view
// may stay mapped for the next open of the same name, as long as the name still leads to its mapping.
void* IpcOpenMappingView(const char* name, std::uint32_t size);
void IpcCloseMappingView(void* view, std::uint32_t size);

}  // namespace plat
