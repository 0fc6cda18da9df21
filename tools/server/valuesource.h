// Where the server's values come from: the built-in flight model, a simulator through FSUIPC, X-Plane or
// FlightGear, chosen once at start (with --auto, whichever simulator is found, again and again).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/server/options.h"

// One variable to fetch: the bytes at offset, width bytes long, land in bytes (the rest stays zero).
struct PendingRead {
    std::uint32_t offset;
    std::uint32_t width;  // 1 to 8
    std::uint8_t bytes[8];
};

// Sets the source up; prints a line that says what the server serves. False, after an error line on
// standard error, when the source cannot be had at all (an unknown simulator host).
bool StartValueSource(const ServerOptions& options);
// Brings the values up to the present without waiting; called once per turn of the event loop.
void RefreshValueSource();
// Fills every read; values that cannot be had (no simulator, failed exchange) read as zeros.
void FetchValues(PendingRead* reads, std::size_t count);
void StopValueSource();
