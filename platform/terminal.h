// Whether the program's output goes to a terminal, so it may draw there rather than write a plain log.
// Backends:
// - posix: isatty on standard output; the character set from the environment's LC_ALL, LC_CTYPE, LANG.
// - win32: _isatty on standard output; the console is never taken to show UTF-8.
#pragma once

namespace plat {

// True when standard output is a terminal (not a file, a pipe or the journal).
bool StdoutIsTerminal();
// True when that terminal is taken to show UTF-8 text, so characters beyond ASCII may be drawn.
bool TerminalShowsUtf8();

}  // namespace plat
