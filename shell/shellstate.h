// Process-wide shell state shared by the main loop, the window procedure, settings and the panel.
#pragma once

#include <cstdint>
#include <string>

extern bool keyDown[256];
extern bool windowActive;
extern bool recreatingWindow;
extern bool positionMode;
extern bool sizeMode;
extern bool borderless;
extern bool resetFuelUsed1;
extern bool resetFuelUsed2;
extern bool useLan;
extern std::string serverAddress;
extern std::string serverPort;
extern std::int32_t windowX;
extern std::int32_t windowY;
extern std::int32_t windowWidth;
extern std::int32_t windowHeight;
