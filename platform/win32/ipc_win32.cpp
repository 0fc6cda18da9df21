// Win32 client half of the simulator link's IPC: window search, registered messages, global atoms,
// paging-file mappings and a blocking message send with time-out.
#include "platform/ipc.h"

#include "platform/win32/win32_common.h"

namespace plat {

IpcWindow IpcFindWindow(const char* className) {
    if (!className || !*className) return 0;
    return reinterpret_cast<IpcWindow>(::FindWindowExA(nullptr, nullptr, className, nullptr));
}

std::uint32_t IpcRegisterMessage(const char* name) {
    if (!name || !*name) return 0;
    return ::RegisterWindowMessageA(name);
}

IpcAtom IpcAddAtom(const char* name) {
    if (!name || !*name) return 0;
    return ::GlobalAddAtomA(name);
}

void IpcDeleteAtom(IpcAtom atom) {
    if (atom) ::GlobalDeleteAtom(atom);
}

IpcMapping IpcCreateMapping(const char* name, std::uint32_t size, bool* alreadyExists) {
    if (alreadyExists) *alreadyExists = false;
    if (!name || !*name || size == 0) return 0;
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
    if (!mapping) return 0;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Someone else's area under our name: never write into it.
        ::CloseHandle(mapping);
        if (alreadyExists) *alreadyExists = true;
        return 0;
    }
    return reinterpret_cast<IpcMapping>(mapping);
}

// A mapping ends with its last handle, so one that exists has a live holder: nothing is stale.
bool IpcRemoveStaleMapping(const char* /*name*/) { return false; }

void* IpcMapView(IpcMapping mapping, std::uint32_t size) {
    if (!mapping || size == 0) return nullptr;
    return ::MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_WRITE, 0, 0, 0);
}

void IpcUnmapView(void* view, std::uint32_t /*size*/) {
    if (view) ::UnmapViewOfFile(view);
}

void IpcCloseMapping(IpcMapping mapping) {
    if (mapping) ::CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

// A window that does not answer in time reads as last error 0, as the desktop of the link's own era
// reported it; a window that is gone gives the desktop's error number.
bool IpcSendMessage(IpcWindow window, std::uint32_t message, std::uintptr_t wParam, std::uint32_t timeoutMs,
                    std::uint32_t* reply, std::uint32_t* lastError) {
    std::uint32_t ignoredError = 0;
    if (!lastError) lastError = &ignoredError;
    *lastError = 0;
    DWORD_PTR answer = 0;
    ::SetLastError(0);
    const LRESULT sent = ::SendMessageTimeoutA(reinterpret_cast<HWND>(window), message, static_cast<WPARAM>(wParam), 0,
                                               SMTO_BLOCK, timeoutMs, &answer);
    if (!sent) {
        const DWORD error = ::GetLastError();
        *lastError = error == ERROR_TIMEOUT ? 0u : static_cast<std::uint32_t>(error);
        return false;
    }
    if (reply) *reply = static_cast<std::uint32_t>(answer);
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
