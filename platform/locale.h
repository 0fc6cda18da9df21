// The user's regional number settings.
// Backends:
// - posix: LC_NUMERIC of the environment, read without touching the process's locale.
// - win32: the desktop's regional settings.
#pragma once

namespace plat {

// The decimal separator of the user's regional settings (on POSIX the LC_NUMERIC locale of the
// environment); the program reads it and never changes it.
char DecimalSeparator();

}  // namespace plat
