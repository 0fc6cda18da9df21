// The message of an error a test expects, for comparing with the exact text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"

namespace nettest {

// The message of the KovexError that body raises; fails the test when it raises none.
template <class Body>
std::string ErrorOf(Body body) {
    try {
        body();
    } catch (const KovexError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error raised";
    return std::string();
}

}  // namespace nettest
