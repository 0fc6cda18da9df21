// The panel window: creation and release in fixed order, viewport set-up and the window procedure.
#include "shell/glwindow.h"

#include "platform/gl.h"

#include "base/errors.h"
#include "platform/msgbox.h"
#include "shell/keys.h"
#include "shell/settings.h"
#include "shell/shellstate.h"

plat::WindowHandle mainWindow = nullptr;
plat::DeviceContext deviceContext = nullptr;
plat::RenderContext renderContext = nullptr;
std::uint32_t panelWindowGeneration = 0;

namespace {

const char* const kIconFile = "plane2.ico";

void CreationError(const char* text) { plat::MessageBox(text, "Error", plat::MessageIcon::Exclamation); }

// Shows a failed release step; false, so that the caller can note it.
bool ShutdownError(const char* text) {
    plat::MessageBox(text, " Shutdown Error", plat::MessageIcon::Error);
    return false;
}

bool Fail(const char* text) {
    DestroyPanelWindow();
    CreationError(text);
    return false;
}

int LowWord(plat::LParam value) { return static_cast<int>(static_cast<std::uint32_t>(value) & 0xFFFF); }
int HighWord(plat::LParam value) { return static_cast<int>((static_cast<std::uint32_t>(value) >> 16) & 0xFFFF); }

// A minimised window reports a far-off position and an empty client area; storing those would
// make the next start open the window at 0, 0 with a frame-only size.
bool ReportsMinimisedPlace(plat::LParam lParam) {
    return static_cast<std::int16_t>(LowWord(lParam)) <= -32000 || static_cast<std::int16_t>(HighWord(lParam)) <= -32000;
}

void StorePosition(plat::LParam lParam) {
    const int frame = plat::GetSystemMetrics(plat::SM_CXFRAME);
    const int caption = plat::GetSystemMetrics(plat::SM_CYCAPTION);
    int x = LowWord(lParam) - frame;
    int y = HighWord(lParam) - frame - caption;
    if (x < 0 || x > 32768) x = 0;
    if (y < 0 || y > 32768) y = 0;
    WriteSettingInt("WINDOW", "X", x);
    WriteSettingInt("WINDOW", "Y", y);
    ReadWindowGeometry();
}

void StoreSize(plat::LParam lParam) {
    const int frame = plat::GetSystemMetrics(plat::SM_CXFRAME);
    const int caption = plat::GetSystemMetrics(plat::SM_CYCAPTION);
    WriteSettingInt("WINSIZE", "WIDTH", LowWord(lParam) + frame);
    WriteSettingInt("WINSIZE", "HEIGHT", HighWord(lParam) + frame + caption);
    ReadWindowGeometry();
}

}  // namespace

bool CreatePanelWindow(const std::string& title, int width, int height, bool borderlessWindow, SceneSetUp initScene) {
    plat::IconHandle icon = plat::LoadIconFile(kIconFile);
    if (!icon) throw KovexError(FormatText("Cannot load the window icon \"%s\": the file is missing or not a valid icon.", kIconFile));

    if (!plat::RegisterWindowClass("OpenGl", plat::CS_HREDRAW | plat::CS_VREDRAW | plat::CS_OWNDC, PanelWindowProc, icon)) {
        plat::FreeIcon(icon);
        plat::MessageBox("Failed To Register The Window Class.", "Error", plat::MessageIcon::Error);
        return false;
    }

    std::uint32_t exStyle = plat::WS_EX_APPWINDOW | plat::WS_EX_WINDOWEDGE;
    std::uint32_t style = plat::WS_OVERLAPPEDWINDOW | plat::WS_CLIPSIBLINGS | plat::WS_CLIPCHILDREN;
    if (borderlessWindow) {
        exStyle = plat::WS_EX_APPWINDOW;
        style = plat::WS_POPUP | plat::WS_CLIPSIBLINGS | plat::WS_CLIPCHILDREN;
    }

    mainWindow = plat::CreateWindowExA(exStyle, "OpenGl", title.c_str(), style, windowX, windowY, width, height);
    if (!mainWindow) return Fail("Window creation error.");

    deviceContext = plat::GetDC(mainWindow);
    if (!deviceContext) return Fail("Cant't create a GL device context.");

    const plat::PixelFormatRequest request;
    const int format = plat::ChoosePixelFormat(deviceContext, request);
    if (format == 0) return Fail("Cant't Find A Suitable PixelFormat.");
    if (!plat::SetPixelFormat(deviceContext, format, request)) return Fail("Cant't set PixelFormat.");

    renderContext = plat::CreateGLContext(deviceContext);
    if (!renderContext) return Fail("Cant't create a GL rendering context.");
    if (!plat::MakeCurrent(deviceContext, renderContext)) return Fail("Cant't activate the GL rendering context.");
    // Swaps paced by the display keep the never-sleeping loop from taking a whole core; a driver
    // without the interval leaves the loop as fast as before.
    plat::SetSwapInterval(deviceContext, 1);

    plat::ShowAndFocus(mainWindow);
    // A bordered window gets its viewport from the size report that showing it brings.
    if (borderlessWindow) ResizeViewport(width, height);

    if (initScene() != 0) return Fail("initialization failed.");
    ++panelWindowGeneration;
    return true;
}

bool DestroyPanelWindow() {
    bool released = true;
    if (renderContext) {
        if (!plat::MakeCurrent(deviceContext, nullptr)) released = ShutdownError("Release of DC and RC failed.");
        if (!plat::DeleteGLContext(renderContext)) released = ShutdownError("Release of Rendering Context failed.");
        renderContext = nullptr;
    }
    if (deviceContext) {
        if (!plat::ReleaseDC(mainWindow, deviceContext)) released = ShutdownError("Release of Device Context failed.");
        deviceContext = nullptr;
    }
    if (mainWindow) {
        if (!plat::DestroyWindow(mainWindow)) released = ShutdownError("Could not release hWnd.");
        mainWindow = nullptr;
    }
    if (!plat::UnregisterWindowClass("OpenGL")) {
        plat::MessageBox("Could Not Unregister Class.", "SHUTDOWN ERROR", plat::MessageIcon::Information);
        released = false;
    }
    return released;
}

void ResizeViewport(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

plat::LResult PanelWindowProc(plat::WindowHandle window, std::uint32_t message, plat::WParam wParam, plat::LParam lParam) {
    switch (message) {
        case plat::WM_SYSCOMMAND:
            if (wParam == plat::SC_SCREENSAVE || wParam == plat::SC_MONITORPOWER) return 0;
            break;
        case plat::WM_ACTIVATE:
            windowActive = ((wParam >> 16) & 0xFFFF) == 0;
            return 0;
        case plat::WM_CLOSE:
            plat::PostQuitMessage(0);
            return 0;
        case plat::WM_KEYDOWN:
            keyDown[wParam & 0xFF] = true;
            return 0;
        case plat::WM_KEYUP:
            if (!IsCommandKey(wParam & 0xFF)) keyDown[wParam & 0xFF] = false;
            return 0;
        case plat::WM_MOVE:
            if (!recreatingWindow && windowActive && !ReportsMinimisedPlace(lParam)) StorePosition(lParam);
            return 0;
        case plat::WM_SIZE:
            ResizeViewport(LowWord(lParam), HighWord(lParam));
            if (!recreatingWindow && windowActive && wParam != plat::SIZE_MINIMIZED) StoreSize(lParam);
            return 0;
        default:
            break;
    }
    return plat::DefWindowProc(window, message, wParam, lParam);
}
