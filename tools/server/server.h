// The server's event loop: one thread, one poll over the listener and every client.
#pragma once

#include "tools/server/options.h"

// Listens, serves until stopped (signal, lifetime, parent gone) and returns the exit status.
int RunServer(const ServerOptions& options);
