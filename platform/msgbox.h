// Modal message boxes; every text is also written to standard error.
// Backends:
// - sdl: SDL's message box; none where no display can show one (headless runs), only the text.
// - win32: the desktop's message box; KOVEX_NO_MESSAGE_BOXES=1 leaves only the text (test runs).
#pragma once

namespace plat {

enum class MessageIcon { Exclamation, Error, Information };

// Returns once the user closed the box, or at once where no display can show one.
void MessageBox(const char* text, const char* caption, MessageIcon icon);

}  // namespace plat
