// Fuzz target: the icon reader on any bytes; a decoded picture must hold exactly its RGBA pixels.
#include <cstdlib>

#include "platform/sdl/icon_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IconImage icon;
    if (!DecodeIcon(data, size, icon)) {
        if (icon.width != 0 || icon.height != 0 || !icon.rgba.empty()) std::abort();  // out left untouched
        return 0;
    }
    if (icon.width <= 0 || icon.height <= 0 || icon.width > kMaxIconSide || icon.height > kMaxIconSide ||
        icon.rgba.size() != static_cast<std::size_t>(icon.width) * icon.height * 4)
        std::abort();
    return 0;
}
