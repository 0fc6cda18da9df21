// The panel's texture slots and their loading at every window creation.
#pragma once

int LoadTextures();
