// Modal message boxes; every text is also written to standard error.
#pragma once

namespace plat {

enum class MessageIcon { Exclamation, Error, Information };

// Returns once the user closed the box, or at once where no display can show one.
void MessageBox(const char* text, const char* caption, MessageIcon icon);

}  // namespace plat
