// Program entry, the main loop with its keyboard commands, and the scene set-up of every window.
#pragma once

#include <cstdint>
#include <string>

#include "net/networkroad.h"
#include "simlink/fsuipcroad.h"
#include "simlink/panelreading.h"

// Exit codes of the process: 0 only when the user ended the program, and non-zero for every ending
// that follows an error message.
enum ExitCode : int {
    kExitUserEnded = 0,      // Esc, the window closed, Ctrl+C or kill
    kExitError = 1,          // an error ended the program with its message
    kExitNoWindow = 2,       // the window could not be created or its scene set up, at start or later
    kExitReleaseFailed = 3,  // the user ended the program, but releasing the window reported a failure
    // The terminal went away (also a dropped remote session, which no user ended). Released as after
    // Esc; the code is the one a shell shows for a program that a hang-up ended.
    kExitHangUp = 128 + 1,
};

// Runs the whole program and gives the process exit code.
int ProgramEntry();
ExitCode RunMainLoop();
// The scene set-up of every window, with the road's opening first. 0, or 3 when the road cannot serve.
int InitScene();
// Chooses the road from the loaded settings (network or FSUIPC); the road lives until the next choice.
IPanelRoad& SelectPanelRoad();
// The chosen road (chosen from the settings on first use).
IPanelRoad& PanelRoad();
// The banners to show and the resets asked for since the last frame, which are taken.
PanelCommands TakePanelCommands();
// Releases the window and closes the road's connection with it.
bool ReleasePanelWindow();
bool RecreateAtPosition(const std::string& title);
bool RecreateWithSize(int width, int height, const std::string& title);

enum class TurnResult { Continue, Done, CreationFailed };
// One turn without a pending message: keyboard commands, a panel frame and the buffer swap.
TurnResult RunIdleTurn(const std::string& title);
