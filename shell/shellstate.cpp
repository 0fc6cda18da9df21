// Storage and initial values of the shell state.
#include "shell/shellstate.h"

bool keyDown[256] = {};
bool windowActive = true;
bool recreatingWindow = false;
bool positionMode = false;
bool sizeMode = false;
bool borderless = false;
bool resetFuelUsed1 = false;
bool resetFuelUsed2 = false;
bool useLan = false;
std::string serverAddress;
std::string serverPort;
std::int32_t windowX = 0;
std::int32_t windowY = 0;
std::int32_t windowWidth = 400;
std::int32_t windowHeight = 400;
