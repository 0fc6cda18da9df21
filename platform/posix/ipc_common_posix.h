// Pieces shared by the two halves of the POSIX IPC backend: rendezvous paths, wire format, deadlines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat::ipcdetail {

// One sent message on the wire; the atom's name follows it (nameLength bytes, no terminator).
struct WireRequest {
    std::uint32_t magic;
    std::uint32_t message;
    std::uint64_t wParam;
    std::uint32_t nameLength;
};
constexpr std::uint32_t kWireMagic = 0x3158564Bu;  // "KVX1"
constexpr std::size_t kMaxAtomName = 255;

// Path of the rendezvous socket of a window class, or "" when the class name or directory is unusable.
// The directory is $KOVEX_IPC_DIR when set, else a private per-user directory, created 0700.
std::string WindowPath(const char* className);
// Why the last WindowPath gave "": the folder or name and what is wrong with it.
const std::string& WindowPathProblem();

// Longest single wait of a blocking call, so that an end request ends it soon.
constexpr int kEndSliceMs = 100;

// Milliseconds on a monotonic clock.
std::int64_t NowMs();

// Reads or writes exactly size bytes on a non-blocking socket before the deadline.
// Returns 0 on success, -1 on time-out, EINTR when an end was requested meanwhile, otherwise an
// errno value (end of stream reads as ECONNRESET).
int ReadAll(int fd, void* data, std::size_t size, std::int64_t deadlineMs);
// The same, taking whatever has arrived up to most bytes once least have; *got tells how many came.
int ReadAtLeast(int fd, void* data, std::size_t least, std::size_t most, std::int64_t deadlineMs, std::size_t* got);
int WriteAll(int fd, const void* data, std::size_t size, std::int64_t deadlineMs);

// True when something accepts connections at the path right now.
bool SomeoneListens(const std::string& path);

}  // namespace plat::ipcdetail
