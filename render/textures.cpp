// Texture loading: every image read and uploaded into a fresh texture at each window creation.
#include "render/textures.h"

#include <cstdio>
#include <optional>
#include <string>

#include "platform/gl.h"
#include "render/bitmap.h"

std::uint32_t panelTextures[kPanelTextureCount] = {};
std::uint32_t texLcd = 0;

namespace {

const char* const kSlotFiles[kPanelTextureCount] = {
    "fuel.txr", "ago2_mask.txr", "ago2.txr", "fuel_top_mask.txr", "fuel_top.txr", "setpos.txr",
    "setsize.txr", "oil.txr", "oil_top_mask.txr", "oil_top.txr", "fuel_disp.txr"};

// The reason last reported for each image (slots, then lcd.bmp), so that an image that stays
// broken over window re-creations is named once, and again only when its fault changes.
std::string reportedFaults[kPanelTextureCount + 1];

std::optional<ImageRecord> LoadImageFile(const std::string& name, std::string& reported) {
    if (name.empty()) return std::nullopt;
    std::string why;
    std::optional<ImageRecord> image = LoadBitmapFile(name, &why);
    if (!image && why != reported) {
        std::fprintf(stderr, "KOVEXFuel: image \"%s\" not used: %s\n", name.c_str(), why.c_str());
        std::fflush(stderr);
    }
    reported = image ? std::string() : why;
    return image;
}

// Uploads into the bound texture; a missing image leaves the slot without a texture.
void Upload(std::uint32_t& name, const std::optional<ImageRecord>& image) {
    if (!image) {
        glDeleteTextures(1, &name);
        name = 0;
        return;
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, image->width, image->height, 0, GL_RGB, GL_UNSIGNED_BYTE, image->data.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

}  // namespace

int LoadTextures() {
    std::optional<ImageRecord> images[kPanelTextureCount];
    for (int slot = 0; slot < kPanelTextureCount; ++slot)
        images[slot] = LoadImageFile(kSlotFiles[slot], reportedFaults[slot]);
    const std::optional<ImageRecord> lcd = LoadImageFile("lcd.bmp", reportedFaults[kPanelTextureCount]);

    // The names of the last context went with it.
    for (std::uint32_t& name : panelTextures) name = 0;
    texLcd = 0;
    if (images[texFuel]) {
        glGenTextures(kPanelTextureCount, panelTextures);
        for (int slot = 0; slot < kPanelTextureCount; ++slot) Upload(panelTextures[slot], images[slot]);
        glGenTextures(1, &texLcd);
        Upload(texLcd, lcd);
    }

    return 0;
}
