// Program entry, the main loop with its keyboard commands, and the scene set-up of every window.
#pragma once

#include <cstdint>
#include <string>

extern const char* const kTitleNetwork;
extern const char* const kTitleFsuipc;
extern const char* const kTitleNotConnected;

// Exit codes of the process: 0 only when the user ended the program, and non-zero for every ending
// that follows an error message.
enum ExitCode : int {
    kExitUserEnded = 0,      // Esc, or the window closed
    kExitError = 1,          // an error ended the program with its message
    kExitNoWindow = 2,       // the window could not be created or its scene set up, at start or later
    kExitReleaseFailed = 3,  // the user ended the program, but releasing the window reported a failure
};

// Runs the whole program and gives the process exit code.
int ProgramEntry();
ExitCode RunMainLoop();
int InitScene();
bool RecreateAtPosition(const std::string& title);
bool RecreateWithSize(int width, int height, const std::string& title);

// Esc and the function keys: a press is kept until the idle turn has acted on it, even when the key
// is released before the turn looks (a slow frame). Arrow keys count only while held.
bool IsCommandKey(std::uintptr_t key);

enum class TurnResult { Continue, Done, CreationFailed };
// One turn without a pending message: keyboard commands, a panel frame and the buffer swap.
TurnResult RunIdleTurn(const std::string& title);
