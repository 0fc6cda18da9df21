// The virtual-key codes of the panel's keyboard commands.
#pragma once

#include <cstdint>

constexpr int kVkEscape = 27;
constexpr int kVkLeft = 37;
constexpr int kVkUp = 38;
constexpr int kVkRight = 39;
constexpr int kVkDown = 40;
constexpr int kVkF1 = 112;
constexpr int kVkF2 = 113;
constexpr int kVkF9 = 120;
constexpr int kVkF11 = 122;
constexpr int kVkF12 = 123;

// Esc and the function keys: a press is kept until the idle turn has acted on it, even when the key
// is released before the turn looks (a slow frame). Arrow keys count only while held.
constexpr bool IsCommandKey(std::uintptr_t key) {
    for (int command : {kVkEscape, kVkF1, kVkF2, kVkF9, kVkF11, kVkF12})
        if (key == static_cast<std::uintptr_t>(command)) return true;
    return false;
}
