// Win32 backend of the window seam: real window classes, windows, WGL contexts and the desktop's queue.
//
// The seam's window procedures are plain functions; one real WNDPROC per process calls the procedure
// of the window's class, found by the class atom, so the class needs no extra bytes. An error thrown
// by a procedure never unwinds through the desktop's own frames: it is held and thrown again when the
// seam call that led to the message (dispatch, creation, showing, destruction) returns.
// The swap interval comes from the driver's WGL_EXT_swap_control where it lists that extension.
#include "platform/window.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

struct WindowClass {
    std::string name;
    ATOM atom;
    WindowProc proc;
    HICON icon;
};

std::vector<WindowClass> windowClasses;
std::exception_ptr heldError;
// Set by the procedure when a size report arrives, so showing can tell whether one came.
HWND sizeWatch = nullptr;
bool sizeSeen = false;
// The last message taken from the queue, so dispatching it keeps its time and cursor position.
MSG lastPeeked{};

bool SameName(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

HINSTANCE Module() { return ::GetModuleHandleA(nullptr); }

HWND Hwnd(WindowHandle window) { return static_cast<HWND>(window); }

WindowProc ProcOf(HWND hwnd) {
    const ATOM atom = static_cast<ATOM>(::GetClassLongPtrA(hwnd, GCW_ATOM));
    for (const WindowClass& c : windowClasses) {
        if (c.atom == atom) return c.proc;
    }
    return nullptr;
}

LRESULT CALLBACK Trampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const WindowProc proc = ProcOf(hwnd);
    if (!proc || heldError) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_SIZE && hwnd == sizeWatch) sizeSeen = true;
    try {
        return proc(hwnd, message, static_cast<WParam>(wParam), static_cast<LParam>(lParam));
    } catch (...) {
        heldError = std::current_exception();
        return 0;
    }
}

void ThrowHeldError() {
    if (!heldError) return;
    std::exception_ptr error = heldError;
    heldError = nullptr;
    std::rethrow_exception(error);
}

// A driver entry point by name; null where the current context's driver has none.
template <typename Function>
Function GlEntry(const char* name) {
    const PROC entry = ::wglGetProcAddress(name);
    // Some drivers answer 1, 2, 3 or -1 instead of null for names they do not have.
    const auto value = reinterpret_cast<std::intptr_t>(entry);
    if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

// The WGL extension names the driver lists for this device context.
std::string WglExtensions(HDC dc) {
    using ExtensionsArb = const char*(WINAPI*)(HDC);
    using ExtensionsExt = const char*(WINAPI*)();
    const char* names = nullptr;
    if (const auto arb = GlEntry<ExtensionsArb>("wglGetExtensionsStringARB")) names = arb(dc);
    if (!names) {
        if (const auto ext = GlEntry<ExtensionsExt>("wglGetExtensionsStringEXT")) names = ext();
    }
    return names ? std::string(" ") + names + " " : std::string();
}

PIXELFORMATDESCRIPTOR Descriptor(const PixelFormatRequest& request) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | (request.doubleBuffer ? PFD_DOUBLEBUFFER : 0);
    pfd.iPixelType = request.rgba ? PFD_TYPE_RGBA : PFD_TYPE_COLORINDEX;
    pfd.cColorBits = static_cast<BYTE>(request.colorBits);
    pfd.cDepthBits = static_cast<BYTE>(request.depthBits);
    pfd.cStencilBits = static_cast<BYTE>(request.stencilBits);
    pfd.iLayerType = PFD_MAIN_PLANE;
    return pfd;
}

}  // namespace

IconHandle LoadIconFile(const char* path) {
    if (!path) return nullptr;
    return ::LoadImageA(nullptr, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE);
}

void FreeIcon(IconHandle icon) {
    if (icon) ::DestroyIcon(static_cast<HICON>(icon));
}

// The class owns its icon from here on and frees it when it is unregistered.
bool RegisterWindowClass(const char* className, std::uint32_t style, WindowProc proc, IconHandle icon) {
    if (!className || !proc) return false;
    WNDCLASSA wc{};
    wc.style = style;
    wc.lpfnWndProc = Trampoline;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = Module();
    wc.hIcon = static_cast<HICON>(icon);
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = className;
    const ATOM atom = ::RegisterClassA(&wc);
    if (!atom) return false;
    windowClasses.push_back(WindowClass{className, atom, proc, static_cast<HICON>(icon)});
    return true;
}

bool UnregisterWindowClass(const char* className) {
    if (!className || !::UnregisterClassA(className, Module())) return false;
    for (auto it = windowClasses.begin(); it != windowClasses.end(); ++it) {
        if (SameName(it->name, className)) {
            if (it->icon) ::DestroyIcon(it->icon);
            windowClasses.erase(it);
            break;
        }
    }
    return true;
}

WindowHandle CreateWindowExA(std::uint32_t exStyle, const char* className, const char* title, std::uint32_t style,
                             int x, int y, int width, int height) {
    HWND hwnd = ::CreateWindowExA(exStyle, className, title ? title : "", style, x, y, width, height, nullptr,
                                  nullptr, Module(), nullptr);
    if (hwnd && heldError) ::DestroyWindow(hwnd);
    ThrowHeldError();
    return hwnd;
}

bool DestroyWindow(WindowHandle window) {
    const bool ok = window && ::DestroyWindow(Hwnd(window));
    ThrowHeldError();
    return ok;
}

void SetWindowTitle(WindowHandle window, const char* title) { ::SetWindowTextA(Hwnd(window), title ? title : ""); }

std::string GetWindowTitle(WindowHandle window) {
    if (!window || !::IsWindow(Hwnd(window))) return std::string();
    std::string title(static_cast<std::size_t>(::GetWindowTextLengthA(Hwnd(window))) + 1, '\0');
    title.resize(static_cast<std::size_t>(::GetWindowTextA(Hwnd(window), title.data(), static_cast<int>(title.size()))));
    return title;
}

// Showing reports activation, size and position to the procedure before it returns. Where the desktop
// sent no size report with the first showing, one with the client size is sent here.
void ShowAndFocus(WindowHandle window) {
    HWND hwnd = Hwnd(window);
    if (!::IsWindow(hwnd)) return;
    sizeWatch = hwnd;
    sizeSeen = false;
    ::ShowWindow(hwnd, SW_SHOW);
    ::SetForegroundWindow(hwnd);
    ::SetFocus(hwnd);
    if (!sizeSeen && !heldError) {
        RECT client{};
        ::GetClientRect(hwnd, &client);
        ::SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right - client.left, client.bottom - client.top));
    }
    sizeWatch = nullptr;
    ThrowHeldError();
}

bool GetClientGeometry(WindowHandle window, int& x, int& y, int& width, int& height) {
    HWND hwnd = Hwnd(window);
    if (!window || !::IsWindow(hwnd)) return false;
    RECT client{};
    POINT origin{0, 0};
    if (!::GetClientRect(hwnd, &client) || !::ClientToScreen(hwnd, &origin)) return false;
    x = origin.x;
    y = origin.y;
    width = client.right - client.left;
    height = client.bottom - client.top;
    return true;
}

DeviceContext GetDC(WindowHandle window) {
    if (!window) return nullptr;
    return ::GetDC(Hwnd(window));
}

bool ReleaseDC(WindowHandle window, DeviceContext dc) {
    return dc != nullptr && ::ReleaseDC(Hwnd(window), static_cast<HDC>(dc)) == 1;
}

int ChoosePixelFormat(DeviceContext dc, const PixelFormatRequest& request) {
    if (!dc) return 0;
    const PIXELFORMATDESCRIPTOR pfd = Descriptor(request);
    return ::ChoosePixelFormat(static_cast<HDC>(dc), &pfd);
}

bool SetPixelFormat(DeviceContext dc, int format, const PixelFormatRequest& request) {
    if (!dc || format <= 0) return false;
    const PIXELFORMATDESCRIPTOR pfd = Descriptor(request);
    return ::SetPixelFormat(static_cast<HDC>(dc), format, &pfd) != FALSE;
}

RenderContext CreateGLContext(DeviceContext dc) {
    if (!dc) return nullptr;
    return ::wglCreateContext(static_cast<HDC>(dc));
}

bool MakeCurrent(DeviceContext dc, RenderContext rc) {
    if (!rc) return ::wglMakeCurrent(static_cast<HDC>(dc), nullptr) != FALSE;
    if (!dc) return false;
    return ::wglMakeCurrent(static_cast<HDC>(dc), static_cast<HGLRC>(rc)) != FALSE;
}

bool DeleteGLContext(RenderContext rc) { return rc && ::wglDeleteContext(static_cast<HGLRC>(rc)) != FALSE; }

bool SwapBuffers(DeviceContext dc) { return dc && ::SwapBuffers(static_cast<HDC>(dc)) != FALSE; }

bool SetSwapInterval(DeviceContext dc, int interval) {
    if (!dc || !::wglGetCurrentContext()) return false;
    if (WglExtensions(static_cast<HDC>(dc)).find(" WGL_EXT_swap_control ") == std::string::npos) return false;
    using SwapIntervalExt = BOOL(WINAPI*)(int);
    const auto setInterval = GlEntry<SwapIntervalExt>("wglSwapIntervalEXT");
    return setInterval && setInterval(interval) != FALSE;
}

// Paint requests are served here and never handed out: the panel redraws on every idle turn, and an
// unserved request would come back at every peek, so the queue would never read as empty.
bool PeekMessage(Message& out) {
    MSG msg{};
    for (;;) {
        const BOOL got = ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
        ThrowHeldError();  // sent messages were delivered inside the peek
        if (!got) return false;
        if (msg.message != WM_PAINT) break;
        ::DispatchMessageA(&msg);
        if (msg.hwnd) ::ValidateRect(msg.hwnd, nullptr);
        ThrowHeldError();
    }
    lastPeeked = msg;
    out.window = msg.hwnd;
    out.message = msg.message;
    out.wParam = static_cast<WParam>(msg.wParam);
    out.lParam = static_cast<LParam>(msg.lParam);
    return true;
}

LResult DispatchMessage(const Message& message) {
    MSG msg = lastPeeked;
    if (msg.hwnd != Hwnd(message.window) || msg.message != message.message ||
        msg.wParam != static_cast<WPARAM>(message.wParam) || msg.lParam != static_cast<LPARAM>(message.lParam)) {
        msg = MSG{};
        msg.hwnd = Hwnd(message.window);
        msg.message = message.message;
        msg.wParam = static_cast<WPARAM>(message.wParam);
        msg.lParam = static_cast<LPARAM>(message.lParam);
        msg.time = ::GetMessageTime();
    }
    ::TranslateMessage(&msg);
    const LRESULT result = ::DispatchMessageA(&msg);
    ThrowHeldError();
    return static_cast<LResult>(result);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

LResult DefWindowProc(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam) {
    return static_cast<LResult>(
        ::DefWindowProcA(Hwnd(window), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

}  // namespace plat
