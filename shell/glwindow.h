// The one panel window with its GL device and rendering contexts, and its window procedure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window.h"

extern plat::WindowHandle mainWindow;
extern plat::DeviceContext deviceContext;
extern plat::RenderContext renderContext;
// Counts successful creations; a re-creation shows as a new generation.
extern std::uint32_t panelWindowGeneration;

// The scene set-up run with the new context current: 0 for success, another code to fail creation.
using SceneSetUp = int (*)();
bool CreatePanelWindow(const std::string& title, int width, int height, bool borderless, SceneSetUp initScene);
// Releases everything in fixed order; false when any release step failed (each failure has been shown).
bool DestroyPanelWindow();
plat::LResult PanelWindowProc(plat::WindowHandle window, std::uint32_t message, plat::WParam wParam, plat::LParam lParam);
void ResizeViewport(int width, int height);
