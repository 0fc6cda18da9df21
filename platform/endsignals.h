// End requests from outside a program of blocking calls: Ctrl+C, `kill` and a closed terminal.
// (A program with an event loop takes its stop signals through eventloop.h instead; a process
// installs one or the other.)
// Backends:
// - posix: SIGINT, SIGTERM and SIGHUP only note the request (a signal inherited as ignored, as under
//   nohup, stays ignored); the same signal a second time ends the process at once, as without the
//   handlers. Once a request is noted, the blocking waits of this process's link and sockets give
//   up within 100 ms with an interruption instead of running out their time.
// - win32: nothing to install: the panel is a desktop program without a console, so no console
//   control events reach it; no request is ever noted.
#pragma once

namespace plat {

enum class EndSignal { None, Interrupt, Terminate, HangUp };

// Installs the handlers. Called once at the start, before anything is made that must be released.
void InstallEndSignals();
// The first end request since the installation, or None. Safe to ask from any thread.
EndSignal EndSignalReceived();

}  // namespace plat
