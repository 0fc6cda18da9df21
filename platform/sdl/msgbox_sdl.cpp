// SDL2 message boxes, mirrored on standard error for terminals and headless runs.
#include "platform/msgbox.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {
namespace {

// True where a box would wait for a click that no one can give.
bool NoDisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) driver = std::getenv("SDL_VIDEODRIVER");
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (!x11 || !*x11) && (!wayland || !*wayland);
}

}  // namespace

void MessageBox(const char* text, const char* caption, MessageIcon icon) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (NoDisplay()) return;
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    if (icon == MessageIcon::Error) flags = SDL_MESSAGEBOX_ERROR;
    if (icon == MessageIcon::Exclamation) flags = SDL_MESSAGEBOX_WARNING;
    SDL_ShowSimpleMessageBox(flags, caption, text, nullptr);
}

}  // namespace plat
