// SDL2 backend of the window seam: classes, windows, GL contexts and a desktop-style message queue.
//
// Supported: window classes with case-insensitive names, bordered and borderless windows, a
// double-buffered GL context with the nearest depth buffer to the one asked for, key, close,
// minimise/restore, move and size reports as desktop messages, the quit message, a window icon, the
// swap interval where the GL driver offers one.
// Not supported: character messages (the panel reads only key codes), system commands (SDL keeps
// the screen saver off itself while a window exists), the desktop's frame metrics (SDL places and
// sizes the client area, so the frame and caption count as 0 here).
#include "platform/window.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/sdl/icon_file.h"

namespace plat {
namespace {

struct WindowClass {
    std::string name;
    std::uint32_t style;
    WindowProc proc;
    SDL_Surface* icon;
};

struct Window {
    SDL_Window* sdl = nullptr;
    WindowProc proc = nullptr;
    bool pixelFormatSet = false;
    bool minimised = false;
    // Last geometry reported to the procedure: SDL repeats reports that the desktop would not send.
    int reportedX = 0x7fffffff, reportedY = 0x7fffffff;
    int reportedWidth = -1, reportedHeight = -1;
};

std::vector<WindowClass> windowClasses;
std::vector<std::unique_ptr<Window>> windows;
std::deque<Message> postedMessages;
bool videoReady = false;

bool SameName(const std::string& a, const char* b) {
    const std::size_t n = std::char_traits<char>::length(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<WindowClass>::iterator FindClass(const char* name) {
    return std::find_if(windowClasses.begin(), windowClasses.end(),
                        [name](const WindowClass& c) { return SameName(c.name, name); });
}

Window* FindWindow(WindowHandle handle) {
    for (auto& w : windows) {
        if (w.get() == handle) return w.get();
    }
    return nullptr;
}

Window* FindWindowById(Uint32 id) {
    for (auto& w : windows) {
        if (SDL_GetWindowID(w->sdl) == id) return w.get();
    }
    return nullptr;
}

bool EnsureVideo() {
    if (videoReady) return true;
    // Ctrl+C, kill and a hang-up are the program's own end requests (platform/endsignals.h); SDL's
    // handlers would turn them into a quit event that the queue drops.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    videoReady = true;
    return true;
}

LParam MakeLParam(int low, int high) {
    return static_cast<LParam>((static_cast<std::uint32_t>(high & 0xFFFF) << 16) | static_cast<std::uint32_t>(low & 0xFFFF));
}

// Desktop virtual-key code of an SDL key, 0 for keys the panel has no use for.
WParam VirtualKey(const SDL_Keysym& key) {
    const SDL_Keycode code = key.sym;
    if (code >= SDLK_a && code <= SDLK_z) return static_cast<WParam>('A' + (code - SDLK_a));
    if (code >= SDLK_0 && code <= SDLK_9) return static_cast<WParam>('0' + (code - SDLK_0));
    if (code >= SDLK_F1 && code <= SDLK_F12) return static_cast<WParam>(112 + (code - SDLK_F1));
    switch (code) {
        case SDLK_ESCAPE: return 27;
        case SDLK_LEFT: return 37;
        case SDLK_UP: return 38;
        case SDLK_RIGHT: return 39;
        case SDLK_DOWN: return 40;
        case SDLK_SPACE: return 32;
        case SDLK_RETURN: return 13;
        case SDLK_TAB: return 9;
        case SDLK_BACKSPACE: return 8;
        case SDLK_LSHIFT: case SDLK_RSHIFT: return 16;
        case SDLK_LCTRL: case SDLK_RCTRL: return 17;
        case SDLK_LALT: case SDLK_RALT: return 18;
        default: return 0;
    }
}

void Queue(Window* w, std::uint32_t message, WParam wParam, LParam lParam) {
    postedMessages.push_back(Message{w, message, wParam, lParam});
}

void QueueGeometry(Window* w, bool force) {
    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(w->sdl, &x, &y);
    SDL_GetWindowSize(w->sdl, &width, &height);
    if (force || width != w->reportedWidth || height != w->reportedHeight) {
        w->reportedWidth = width;
        w->reportedHeight = height;
        Queue(w, WM_SIZE, SIZE_RESTORED, MakeLParam(width, height));
    }
    if (force || x != w->reportedX || y != w->reportedY) {
        w->reportedX = x;
        w->reportedY = y;
        Queue(w, WM_MOVE, 0, MakeLParam(x, y));
    }
}

// Turns one SDL event into queued messages, as the desktop would report the same change.
void Translate(const SDL_Event& e) {
    if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
        Window* w = FindWindowById(e.key.windowID);
        const WParam vk = VirtualKey(e.key.keysym);
        if (w && vk != 0) Queue(w, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, 1);
        return;
    }
    if (e.type != SDL_WINDOWEVENT) return;
    Window* w = FindWindowById(e.window.windowID);
    if (!w) return;
    switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            Queue(w, WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            if (!w->minimised) {
                w->minimised = true;
                Queue(w, WM_ACTIVATE, WA_INACTIVE | (1u << 16), 0);
                Queue(w, WM_SIZE, SIZE_MINIMIZED, 0);
            }
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED:
            if (w->minimised) {
                w->minimised = false;
                Queue(w, WM_ACTIVATE, WA_ACTIVE, 0);
                QueueGeometry(w, true);
            }
            break;
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESIZED:
            if (!w->minimised) QueueGeometry(w, false);
            break;
        default:
            break;
    }
}

LResult Deliver(const Message& msg) {
    Window* w = FindWindow(msg.window);
    if (!w || !w->proc) return 0;
    return w->proc(msg.window, msg.message, msg.wParam, msg.lParam);
}

}  // namespace

IconHandle LoadIconFile(const char* path) {
    IconImage image;
    if (!ReadIconFile(path, image) || image.width <= 0 || image.height <= 0) return nullptr;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, image.width, image.height, 32, SDL_PIXELFORMAT_RGBA32);
    if (!surface) return nullptr;
    const std::size_t row = static_cast<std::size_t>(image.width) * 4;
    for (int y = 0; y < image.height; ++y) {
        std::copy_n(image.rgba.data() + row * static_cast<std::size_t>(y), row,
                    static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(surface->pitch) * static_cast<std::size_t>(y));
    }
    return surface;
}

void FreeIcon(IconHandle icon) { SDL_FreeSurface(static_cast<SDL_Surface*>(icon)); }

// The class owns its icon from here on and frees it when it is unregistered.
bool RegisterWindowClass(const char* className, std::uint32_t style, WindowProc proc, IconHandle icon) {
    if (!className || !proc || FindClass(className) != windowClasses.end()) return false;
    windowClasses.push_back(WindowClass{className, style, proc, static_cast<SDL_Surface*>(icon)});
    return true;
}

bool UnregisterWindowClass(const char* className) {
    auto it = FindClass(className);
    if (it == windowClasses.end()) return false;
    SDL_FreeSurface(it->icon);
    windowClasses.erase(it);
    return true;
}

WindowHandle CreateWindowExA(std::uint32_t /*exStyle*/, const char* className, const char* title,
                             std::uint32_t style, int x, int y, int width, int height) {
    auto cls = FindClass(className);
    if (cls == windowClasses.end()) return nullptr;
    if (!EnsureVideo()) {
        // The caller's message names the step; the reason is only SDL's to give.
        std::fprintf(stderr, "the display could not be opened: %s\n", SDL_GetError());
        return nullptr;
    }
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (style & WS_POPUP) flags |= SDL_WINDOW_BORDERLESS;
    if (style & 0x00040000u) flags |= SDL_WINDOW_RESIZABLE;  // sizing frame
    // Sizes and places beyond what SDL takes are brought within it, as the desktop keeps a window
    // within its largest size; some values near the ends of the range mean "anywhere" to SDL.
    width = std::clamp(width, 1, 16384);
    height = std::clamp(height, 1, 16384);
    x = std::clamp(x, -32768, 32767);
    y = std::clamp(y, -32768, 32767);
    // The GL visual is fixed when the window is made: ask for the panel's format here and step the
    // depth buffer down until the driver has one.
    SDL_Window* sdl = nullptr;
    for (int depth : {32, 24, 16}) {
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
        sdl = SDL_CreateWindow(title ? title : "", x, y, width, height, flags);
        if (sdl) break;
    }
    if (!sdl) {
        std::fprintf(stderr, "the display refused the window: %s\n", SDL_GetError());
        return nullptr;
    }
    if (cls->icon) SDL_SetWindowIcon(sdl, cls->icon);
    auto w = std::make_unique<Window>();
    w->sdl = sdl;
    w->proc = cls->proc;
    windows.push_back(std::move(w));
    SDL_DisableScreenSaver();
    return windows.back().get();
}

bool DestroyWindow(WindowHandle handle) {
    Window* w = FindWindow(handle);
    if (!w) return false;
    SDL_DestroyWindow(w->sdl);
    postedMessages.erase(std::remove_if(postedMessages.begin(), postedMessages.end(),
                                        [handle](const Message& m) { return m.window == handle; }),
                         postedMessages.end());
    windows.erase(std::find_if(windows.begin(), windows.end(), [w](const auto& p) { return p.get() == w; }));
    if (windows.empty()) SDL_EnableScreenSaver();
    return true;
}

void SetWindowTitle(WindowHandle handle, const char* title) {
    if (Window* w = FindWindow(handle)) SDL_SetWindowTitle(w->sdl, title);
}

std::string GetWindowTitle(WindowHandle handle) {
    Window* w = FindWindow(handle);
    return w ? SDL_GetWindowTitle(w->sdl) : "";
}

// Showing reports activation, size and position to the procedure at once, as the desktop does.
void ShowAndFocus(WindowHandle handle) {
    Window* w = FindWindow(handle);
    if (!w) return;
    SDL_ShowWindow(w->sdl);
    SDL_RaiseWindow(w->sdl);
    Queue(w, WM_ACTIVATE, WA_ACTIVE, 0);
    QueueGeometry(w, true);
    // Deliver now, in order, before the caller goes on.
    std::deque<Message> pending;
    pending.swap(postedMessages);
    for (const Message& m : pending) {
        if (m.window == handle) Deliver(m); else postedMessages.push_back(m);
    }
}

bool GetClientGeometry(WindowHandle handle, int& x, int& y, int& width, int& height) {
    Window* w = FindWindow(handle);
    if (!w) return false;
    SDL_GetWindowPosition(w->sdl, &x, &y);
    SDL_GetWindowSize(w->sdl, &width, &height);
    return true;
}

DeviceContext GetDC(WindowHandle handle) { return FindWindow(handle); }

bool ReleaseDC(WindowHandle handle, DeviceContext dc) { return dc != nullptr && FindWindow(handle) == dc; }

int ChoosePixelFormat(DeviceContext dc, const PixelFormatRequest& request) {
    Window* w = FindWindow(dc);
    if (!w || !request.rgba) return 0;
    return 1;  // the window's visual, chosen at creation
}

bool SetPixelFormat(DeviceContext dc, int format, const PixelFormatRequest& /*request*/) {
    Window* w = FindWindow(dc);
    if (!w || format != 1 || w->pixelFormatSet) return false;
    w->pixelFormatSet = true;
    return true;
}

RenderContext CreateGLContext(DeviceContext dc) {
    Window* w = FindWindow(dc);
    if (!w || !w->pixelFormatSet) return nullptr;
    return SDL_GL_CreateContext(w->sdl);
}

bool MakeCurrent(DeviceContext dc, RenderContext rc) {
    Window* w = FindWindow(dc);
    if (!rc) return SDL_GL_MakeCurrent(w ? w->sdl : nullptr, nullptr) == 0;
    if (!w) return false;
    return SDL_GL_MakeCurrent(w->sdl, static_cast<SDL_GLContext>(rc)) == 0;
}

bool DeleteGLContext(RenderContext rc) {
    if (!rc) return false;
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(rc));
    return true;
}

bool SwapBuffers(DeviceContext dc) {
    Window* w = FindWindow(dc);
    if (!w) return false;
    SDL_GL_SwapWindow(w->sdl);
    return true;
}

bool SetSwapInterval(DeviceContext dc, int interval) {
    if (!FindWindow(dc)) return false;
    return SDL_GL_SetSwapInterval(interval) == 0;
}

bool PeekMessage(Message& out) {
    if (postedMessages.empty() && videoReady) {
        SDL_Event e;
        while (postedMessages.empty() && SDL_PollEvent(&e)) Translate(e);
    }
    // The quit message waits until nothing else is pending, as on the desktop.
    for (auto it = postedMessages.begin(); it != postedMessages.end(); ++it) {
        if (it->message != WM_QUIT) {
            out = *it;
            postedMessages.erase(it);
            return true;
        }
    }
    if (postedMessages.empty()) return false;
    out = postedMessages.front();
    postedMessages.pop_front();
    return true;
}

LResult DispatchMessage(const Message& msg) { return Deliver(msg); }

void PostQuitMessage(int exitCode) {
    postedMessages.push_back(Message{nullptr, WM_QUIT, static_cast<WParam>(exitCode), 0});
}

LResult DefWindowProc(WindowHandle, std::uint32_t, WParam, LParam) { return 0; }

int GetSystemMetrics(int /*index*/) { return 0; }

}  // namespace plat
