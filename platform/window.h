// Window, GL context and message seam: the shell's view of the desktop's windowing system.
// Backends:
// - sdl: windows, GL contexts and a desktop-style message queue on SDL2. Frame and caption metrics
//   are 0 (SDL places and sizes the client area); no system commands, so the screen saver is kept off
//   by SDL itself while a window exists; no character messages; sizes and places beyond SDL's range
//   are brought within it.
// - win32: real window classes, windows, WGL contexts and the desktop's queue; the screen saver and
//   monitor power-off are refused by the window procedure; the swap interval where the driver lists
//   WGL_EXT_swap_control.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Opaque handles: the shell never sees the backend's types.
using WindowHandle = void*;
using DeviceContext = void*;
using RenderContext = void*;
using IconHandle = void*;

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using WindowProc = LResult (*)(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam);

// Message numbers and constants keep their desktop values, so the window procedure reads the same
// on every backend.
constexpr std::uint32_t WM_MOVE = 0x0003;
constexpr std::uint32_t WM_SIZE = 0x0005;
constexpr std::uint32_t WM_ACTIVATE = 0x0006;
constexpr std::uint32_t WM_CLOSE = 0x0010;
constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr std::uint32_t WM_KEYDOWN = 0x0100;
constexpr std::uint32_t WM_KEYUP = 0x0101;
constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
constexpr WParam SC_SCREENSAVE = 0xF140;
constexpr WParam SC_MONITORPOWER = 0xF170;

constexpr std::uint32_t CS_VREDRAW = 0x0001;
constexpr std::uint32_t CS_HREDRAW = 0x0002;
constexpr std::uint32_t CS_OWNDC = 0x0020;

constexpr std::uint32_t WS_EX_WINDOWEDGE = 0x00000100;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;
constexpr std::uint32_t WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr std::uint32_t WS_POPUP = 0x80000000;
constexpr std::uint32_t WS_CLIPSIBLINGS = 0x04000000;
constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000;

constexpr int SM_CXFRAME = 32;
constexpr int SM_CYCAPTION = 4;

// The pixel format the panel asks for; the backend takes the nearest the driver offers.
struct PixelFormatRequest {
    bool doubleBuffer = true;
    bool rgba = true;
    int colorBits = 32;
    int depthBits = 32;
    int stencilBits = 0;
};

struct Message {
    WindowHandle window = nullptr;
    std::uint32_t message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
};

// Icons come from a file; nullptr when the file is missing or unreadable.
IconHandle LoadIconFile(const char* path);
void FreeIcon(IconHandle icon);

// Window classes match by name without regard to case. Registering a name twice fails.
bool RegisterWindowClass(const char* className, std::uint32_t style, WindowProc proc, IconHandle icon);
bool UnregisterWindowClass(const char* className);

// x, y, width, height are the window's outer geometry.
WindowHandle CreateWindowExA(std::uint32_t exStyle, const char* className, const char* title,
                             std::uint32_t style, int x, int y, int width, int height);
bool DestroyWindow(WindowHandle window);
void SetWindowTitle(WindowHandle window, const char* title);
std::string GetWindowTitle(WindowHandle window);
// Shows the window normally, brings it to the foreground and gives it the keyboard focus.
void ShowAndFocus(WindowHandle window);

DeviceContext GetDC(WindowHandle window);
bool ReleaseDC(WindowHandle window, DeviceContext dc);
int ChoosePixelFormat(DeviceContext dc, const PixelFormatRequest& request);  // 0: none
bool SetPixelFormat(DeviceContext dc, int format, const PixelFormatRequest& request);
RenderContext CreateGLContext(DeviceContext dc);
bool MakeCurrent(DeviceContext dc, RenderContext rc);  // rc nullptr: no context current
bool DeleteGLContext(RenderContext rc);
bool SwapBuffers(DeviceContext dc);
// Asks that the current context's swaps wait for the display's refresh every `interval` frames (1:
// in step with the display). False where the driver does not offer it; swaps then do not wait, and
// some drivers accept the request and still do not wait (software rendering without a display).
bool SetSwapInterval(DeviceContext dc, int interval);

// Takes one pending message without waiting; false when the queue is empty.
bool PeekMessage(Message& out);
// Translates key messages and hands the message to its window's procedure.
LResult DispatchMessage(const Message& msg);
void PostQuitMessage(int exitCode);
LResult DefWindowProc(WindowHandle window, std::uint32_t message, WParam wParam, LParam lParam);

int GetSystemMetrics(int index);

}  // namespace plat

namespace plat {

// Client-area origin and size as the desktop reports them now; false for an unknown window.
bool GetClientGeometry(WindowHandle window, int& x, int& y, int& width, int& height);

// Values carried by WM_ACTIVATE and WM_SIZE.
constexpr WParam WA_INACTIVE = 0;
constexpr WParam WA_ACTIVE = 1;
constexpr WParam SIZE_RESTORED = 0;
constexpr WParam SIZE_MINIMIZED = 1;

}  // namespace plat
