// The panel's texture slots and their loading at every window creation.
#pragma once

#include <cstdint>

enum TextureSlot {
    texFuel,
    texAgo2Mask,
    texAgo2,
    texFuelTopMask,
    texFuelTop,
    texSetPos,
    texSetSize,
    texOil,
    texOilTopMask,
    texOilTop,
    texFuelDisp,
    kPanelTextureCount
};

// GL texture names of the current context; 0 where a slot holds no image.
extern std::uint32_t panelTextures[kPanelTextureCount];
extern std::uint32_t texLcd;

// Loads every image and uploads it into a new texture; an image that cannot be used leaves its slot
// empty and is named on standard error. Always 0.
int LoadTextures();
