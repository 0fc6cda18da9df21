// Printing a bridge's lines, complaints rationed so a flood of bad input cannot flood the output.
#include "tools/bridge/notices.h"

#include <cstdio>

void Notices::Say(const std::string& text) const {
    std::printf("%s: %s\n", who_.c_str(), text.c_str());
    std::fflush(stdout);
}

void Notices::Complain(std::uint32_t now, const std::string& text) {
    if (complained_ && now - lastComplaint_ < 1000) {
        ++heldBack_;
        return;
    }
    if (heldBack_ > 0)
        Say(text + " (and " + std::to_string(heldBack_) + " more problems in the last second)");
    else
        Say(text);
    complained_ = true;
    lastComplaint_ = now;
    heldBack_ = 0;
}
