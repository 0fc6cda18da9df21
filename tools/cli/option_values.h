// Command-line values shared by the companion programs' option parsers.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

// Takes the value after the option argv[i] when ok says it is acceptable, moving i past it;
// otherwise false, with error naming the option and, if present, the value.
inline bool TakeOptionValue(int argc, char** argv, int& i, bool ok, std::string& error) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
        error = "missing value after " + option;
        return false;
    }
    if (!ok) {
        error = "bad value for " + option + ": " + argv[i + 1];
        return false;
    }
    ++i;
    return true;
}

// A finite decimal number from 0 to limit, the whole text.
inline bool ParseNonNegative(const char* text, double limit, double& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0.0 || v > limit) return false;
    value = v;
    return true;
}
