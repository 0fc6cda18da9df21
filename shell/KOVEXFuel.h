// Program entry, the main loop with its keyboard commands, and the scene set-up of every window.
#pragma once

#include <string>

extern const char* const kTitleNetwork;
extern const char* const kTitleFsuipc;
extern const char* const kTitleNotConnected;

// Runs the whole program and gives the process exit code.
int ProgramEntry();
void RunMainLoop();
int InitScene();
bool RecreateAtPosition(const std::string& title);
bool RecreateWithSize(int width, int height, const std::string& title);

enum class TurnResult { Continue, Done, CreationFailed };
// One turn without a pending message: keyboard commands, a panel frame and the buffer swap.
TurnResult RunIdleTurn(const std::string& title);
