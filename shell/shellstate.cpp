// Storage and initial values of the shell state.
#include "shell/shellstate.h"

#include "net/VqTcpIpcUdp_0.h"

bool keyDown[256] = {};
bool windowActive = true;
bool recreatingWindow = false;
bool positionMode = false;
bool sizeMode = false;
bool borderless = false;
bool resetFuelUsed1 = false;
bool resetFuelUsed2 = false;
std::uint32_t fuelTimerStart = 0;
double fuelTimerElapsed = 0.0;
bool useLan = false;
std::string serverAddress;
std::string serverPort;
std::int32_t windowX = 0;
std::int32_t windowY = 0;
std::int32_t windowWidth = 400;
std::int32_t windowHeight = 400;
std::unique_ptr<TVqTcpBlockClient> tcpClient;
