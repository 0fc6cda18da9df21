// Fuzz target: the BMP reader on any bytes; a decoded picture must match its own size fields, and a
// refused one must come with a reason.
#include <cstdlib>

#include "render/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why = "stale";
    const std::optional<ImageRecord> image = DecodeBitmap(data, size, &why);
    if (!image) {
        if (why.empty() || why == "stale") std::abort();
        return 0;
    }
    if (!why.empty()) std::abort();
    // The texture upload reads stride x height bytes: anything else overruns or leaves junk.
    if (image->width <= 0 || image->height <= 0 || image->width > kMaxBitmapSide || image->height > kMaxBitmapSide ||
        static_cast<std::int64_t>(image->width) * image->height > kMaxBitmapPixels ||
        image->data.size() != BitmapRowStride(image->width) * static_cast<std::size_t>(image->height))
        std::abort();
    return 0;
}
