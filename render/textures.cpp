// Texture loading. The images are not loaded yet.
#include "render/textures.h"

int LoadTextures() { return 0; }
