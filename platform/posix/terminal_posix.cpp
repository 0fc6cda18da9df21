// Standard output's terminal on POSIX: isatty, and the locale's character set as the environment names it.
#include "platform/terminal.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace plat {

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool TerminalShowsUtf8() {
    // The first of these that is set decides, as for setlocale(LC_CTYPE, "").
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string text;
        for (const char* c = value; *c; ++c) {
            if (*c != '-') text += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        }
        return text.find("utf8") != std::string::npos;
    }
    return false;
}

}  // namespace plat
