// Process-wide shell state shared by the main loop, the window procedure, settings and the panel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TVqTcpBlockClient;

extern bool keyDown[256];
extern bool windowActive;
extern bool recreatingWindow;
extern bool positionMode;
extern bool sizeMode;
extern bool borderless;
extern bool resetFuelUsed1;
extern bool resetFuelUsed2;
extern std::uint32_t fuelTimerStart;
extern double fuelTimerElapsed;
extern bool useLan;
extern std::string serverAddress;
extern std::string serverPort;
extern std::int32_t windowX;
extern std::int32_t windowY;
extern std::int32_t windowWidth;
extern std::int32_t windowHeight;
// The connection to the network server; made by every window creation on the network road.
extern std::unique_ptr<TVqTcpBlockClient> tcpClient;
