// kovex-stepper: the panel program on the FSUIPC road, put in position mode and stepping right
// without end, each step written to the settings file; after each step it prints "X=<value>".
// The kill test ends it with SIGKILL at random moments.
#include <cstdio>
#include <exception>

#include "platform/fpu.h"
#include "tests/faults/panel_driver.h"

int main() {
    plat::MaskFloatingPointExceptions();
    try {
        if (!paneldriver::StartPanel()) return 2;
        paneldriver::Press(paneldriver::kF11);
        for (;;) {
            if (paneldriver::Press(paneldriver::kRight) != TurnResult::Continue) return 3;
            std::printf("X=%d\n", windowX);
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kovex-stepper: %s\n", error.what());
        return 1;
    }
}
