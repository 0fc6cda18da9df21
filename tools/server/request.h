// Parsing of one remote variable request, "offset,size,kind" without its zero byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest request text the server waits for; a client that sends more without a zero byte is closed.
constexpr std::size_t kMaxRequestLength = 64;
// The simulator's offset space that requests address.
constexpr std::uint32_t kRequestSpaceSize = 0x10000;

// Value types by kind text: "1" int32, "2" double, "3" uint8, "4" int16, "5" uint32, "6" uint16,
// "7" float. Returns the type's width in bytes, 0 for a kind the server does not know.
std::uint32_t KindWidth(std::uint32_t kind);

enum class RequestStatus {
    Valid,       // answered with the value
    Unservable,  // well formed, but outside the space, size 0 or an unknown kind: answered "0"
    Malformed,   // not three fields of decimal digits joined by ",": the connection is closed
};

struct VariableRequest {
    std::uint32_t offset;
    std::uint32_t size;  // as sent; the kind alone decides how many bytes are read
    std::uint32_t kind;
};

// Reads the text of one request (the bytes before its zero byte). Numbers beyond the 32-bit range
// saturate, so they are out of range rather than malformed; blanks, signs and empty fields are not
// digits. The request is set for Valid and Unservable.
RequestStatus ParseRequest(const char* text, std::size_t length, VariableRequest& request);
