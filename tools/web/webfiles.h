// The files the web view serves, packed into the program when it is built.
#pragma once

#include <cstddef>

struct WebFile {
    const char* path;  // the exact request target that gets it
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

extern const WebFile kWebFiles[];
extern const std::size_t kWebFileCount;
