// Win32 message boxes, mirrored on standard error. Where nobody can click a box (test runs, CI), the
// environment variable KOVEX_NO_MESSAGE_BOXES=1 leaves only the text on standard error.
#include "platform/msgbox.h"

#include <cstdio>

#include "platform/win32/win32_common.h"

namespace plat {
namespace {

bool BoxesSuppressed() {
    char value[16] = {};
    const DWORD n = ::GetEnvironmentVariableA("KOVEX_NO_MESSAGE_BOXES", value, sizeof value);
    return n > 0 && n < sizeof value && !(value[0] == '0' && value[1] == '\0');
}

}  // namespace

void MessageBox(const char* text, const char* caption, MessageIcon icon) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (BoxesSuppressed()) return;
    UINT type = MB_OK | MB_ICONINFORMATION;
    if (icon == MessageIcon::Error) type = MB_OK | MB_ICONERROR;
    if (icon == MessageIcon::Exclamation) type = MB_OK | MB_ICONEXCLAMATION;
    ::MessageBoxA(nullptr, text, caption, type);
}

}  // namespace plat
