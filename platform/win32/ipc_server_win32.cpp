// Win32 simulator half of the IPC seam: a real top-level window of the class, its messages handed to
// the owner one at a time, and the client's area opened by the atom's name.
//
// A message sent from another process is answered by returning from the window procedure, while the
// seam lets its caller take a message first and answer it later. So each owned window lives on a
// thread of its own: its procedure hands a sent message over and waits inside the procedure until the
// owner replies or drops it. The sender stays blocked meanwhile, exactly as with a slow simulator.
#include "platform/ipc.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

constexpr int kMaxOwned = 4;
constexpr UINT kQuitThread = WM_APP + 1;  // posted by the owner to end the window's thread
constexpr ATOM kFirstStringAtom = 0xC000;

struct OwnedSlot {
    bool used;
    char className[256];
    HANDLE ownerMutex;  // names the class's one owner across processes
    HANDLE thread;
    DWORD threadId;
    HWND window;
    HANDLE ready;     // the thread made its window (or failed)
    HANDLE arrived;   // a message waits for the owner
    HANDLE answered;  // the owner replied or dropped it
    HANDLE stopping;  // the owner is going away: release a waiting procedure
    std::uint32_t sequence;
    IpcIncoming pending;
    std::uint32_t result;
};
OwnedSlot owned[kMaxOwned];

OwnedSlot* SlotOfWindow(HWND hwnd) {
    for (auto& s : owned)
        if (s.used && s.window == hwnd) return &s;
    return nullptr;
}

OwnedSlot* FindOwned(IpcOwnedWindow window) {
    if (window < 1 || window > kMaxOwned || !owned[window - 1].used) return nullptr;
    return &owned[window - 1];
}

LRESULT CALLBACK OwnedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    OwnedSlot* slot = SlotOfWindow(hwnd);
    // Only messages of other threads or processes in the application range reach the owner.
    if (!slot || message < WM_USER || !::InSendMessage()) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    IpcIncoming incoming;
    incoming.message = message;
    incoming.wParam = static_cast<std::uint64_t>(wParam);
    if (wParam >= kFirstStringAtom && wParam <= 0xFFFF) {
        if (!::GlobalGetAtomNameA(static_cast<ATOM>(wParam), incoming.atomName, sizeof incoming.atomName))
            incoming.atomName[0] = '\0';
    }
    ++slot->sequence;
    incoming.sender = static_cast<std::intptr_t>((static_cast<std::uint64_t>(slot->sequence) << 8) |
                                                 static_cast<std::uint64_t>(slot - owned));
    slot->pending = incoming;
    slot->result = 0;
    ::ResetEvent(slot->answered);
    ::SetEvent(slot->arrived);
    HANDLE waits[2] = {slot->answered, slot->stopping};
    ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return static_cast<LRESULT>(slot->result);
}

DWORD WINAPI WindowThread(LPVOID parameter) {
    OwnedSlot* slot = static_cast<OwnedSlot*>(parameter);
    HINSTANCE module = ::GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnedWindowProc;
    wc.hInstance = module;
    wc.lpszClassName = slot->className;
    const bool registered = ::RegisterClassA(&wc) != 0;
    HWND hwnd = registered ? ::CreateWindowExA(0, slot->className, "kovex-simulator", WS_OVERLAPPED, 0, 0, 1, 1,
                                               nullptr, nullptr, module, nullptr)
                           : nullptr;
    slot->window = hwnd;
    ::SetEvent(slot->ready);
    if (hwnd) {
        MSG msg;
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd == nullptr && msg.message == kQuitThread) break;
            ::DispatchMessageA(&msg);
        }
        ::DestroyWindow(hwnd);
    }
    if (registered) ::UnregisterClassA(slot->className, module);
    return hwnd ? 0 : 1;
}

void CloseSlotHandles(OwnedSlot* slot) {
    for (HANDLE* h : {&slot->ready, &slot->arrived, &slot->answered, &slot->stopping, &slot->thread, &slot->ownerMutex}) {
        if (*h) ::CloseHandle(*h);
        *h = nullptr;
    }
    slot->window = nullptr;
    slot->used = false;
}

OwnedSlot* PendingSlot(const IpcIncoming* incoming) {
    if (!incoming || incoming->sender < 0) return nullptr;
    const auto token = static_cast<std::uint64_t>(incoming->sender);
    const std::size_t index = token & 0xFF;
    if (index >= kMaxOwned || !owned[index].used) return nullptr;
    OwnedSlot* slot = &owned[index];
    return (token >> 8) == slot->sequence ? slot : nullptr;
}

// Why the last IpcCreateWindow failed, for its caller's message.
std::string createProblem;

}  // namespace

const char* IpcCreateWindowProblem() { return createProblem.c_str(); }

IpcOwnedWindow IpcCreateWindow(const char* className) {
    createProblem.clear();
    if (!className || !*className || std::strlen(className) >= sizeof owned[0].className) return 0;
    if (::FindWindowExA(nullptr, nullptr, className, nullptr)) return 0;
    OwnedSlot* slot = nullptr;
    for (auto& s : owned)
        if (!s.used) {
            slot = &s;
            break;
        }
    if (!slot) return 0;
    *slot = OwnedSlot{};
    slot->used = true;
    std::strcpy(slot->className, className);
    // Two owners starting at the same moment would both miss the other's window: a named mutex decides.
    char mutexName[300];
    std::snprintf(mutexName, sizeof mutexName, "Local\\kovex-window-owner-%s", className);
    slot->ownerMutex = ::CreateMutexA(nullptr, FALSE, mutexName);
    const bool taken = !slot->ownerMutex || ::GetLastError() == ERROR_ALREADY_EXISTS;
    slot->ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slot->arrived = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    slot->answered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    slot->stopping = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (taken || !slot->ready || !slot->arrived || !slot->answered || !slot->stopping) {
        if (!taken) createProblem = "the system refused its objects (error " + std::to_string(::GetLastError()) + ")";
        CloseSlotHandles(slot);
        return 0;
    }
    slot->thread = ::CreateThread(nullptr, 0, WindowThread, slot, 0, &slot->threadId);
    if (!slot->thread) {
        CloseSlotHandles(slot);
        return 0;
    }
    ::WaitForSingleObject(slot->ready, INFINITE);
    if (!slot->window) {
        ::WaitForSingleObject(slot->thread, INFINITE);
        CloseSlotHandles(slot);
        return 0;
    }
    return static_cast<IpcOwnedWindow>(slot - owned + 1);
}

void IpcDestroyWindow(IpcOwnedWindow window) {
    OwnedSlot* slot = FindOwned(window);
    if (!slot) return;
    ::SetEvent(slot->stopping);
    ::PostThreadMessageA(slot->threadId, kQuitThread, 0, 0);
    ::WaitForSingleObject(slot->thread, INFINITE);
    CloseSlotHandles(slot);
}

IpcWaitResult IpcWaitMessage(IpcOwnedWindow window, std::uint32_t waitMs, IpcIncoming* incoming) {
    OwnedSlot* slot = FindOwned(window);
    if (!slot || !incoming) return IpcWaitResult::Failed;
    HANDLE waits[2] = {slot->arrived, slot->thread};
    const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, waitMs);
    if (r == WAIT_OBJECT_0) {
        *incoming = slot->pending;
        return IpcWaitResult::Message;
    }
    if (r == WAIT_TIMEOUT) return IpcWaitResult::TimedOut;
    return IpcWaitResult::Failed;  // the window's thread ended
}

void IpcReply(IpcIncoming* incoming, std::uint32_t result) {
    OwnedSlot* slot = PendingSlot(incoming);
    if (slot) {
        slot->result = result;
        ::SetEvent(slot->answered);
    }
    if (incoming) incoming->sender = -1;
}

// The procedure must return something to let the window go on: a dropped message answers 0. Its
// sender has as a rule given up long before.
void IpcDrop(IpcIncoming* incoming) { IpcReply(incoming, 0); }

void* IpcOpenMappingView(const char* name, std::uint32_t size) {
    if (!name || !*name || size == 0) return nullptr;
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
    ::CloseHandle(mapping);  // the view keeps the mapping alive
    return view;
}

void IpcCloseMappingView(void* view, std::uint32_t /*size*/) {
    if (view) ::UnmapViewOfFile(view);
}

}  // namespace plat
