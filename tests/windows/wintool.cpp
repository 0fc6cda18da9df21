// kovex-wintool: looks for a window by class and asks it to close, for end-to-end runs of Windows builds.
// Usage: kovex-wintool find <class> <wait ms>   exit 0 once a window of the class exists
//        kovex-wintool close <class>            sends it the close message; exit 0 when it took it
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "platform/window.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "find") == 0) {
        const std::uint32_t waitMs = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        const std::uint32_t start = plat::TickCount();
        for (;;) {
            if (plat::IpcFindWindow(argv[2])) return 0;
            if (plat::TickCount() - start >= waitMs) break;
            plat::SleepMs(20);
        }
        std::fprintf(stderr, "kovex-wintool: no window of class %s\n", argv[2]);
        return 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "close") == 0) {
        const plat::IpcWindow window = plat::IpcFindWindow(argv[2]);
        std::uint32_t reply = 0, error = 0;
        if (window && plat::IpcSendMessage(window, plat::WM_CLOSE, 0, 5000, &reply, &error)) return 0;
        std::fprintf(stderr, "kovex-wintool: cannot close the window of class %s (error %u)\n", argv[2], error);
        return 1;
    }
    std::fprintf(stderr, "usage: kovex-wintool find <class> <wait ms> | close <class>\n");
    return 2;
}
