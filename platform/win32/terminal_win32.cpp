// Standard output's console on Windows: _isatty; its code page is not taken to be UTF-8.
#include "platform/terminal.h"

#include <io.h>
#include <stdio.h>

namespace plat {

bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool TerminalShowsUtf8() { return false; }

}  // namespace plat
