// FSUIPC client: one link per process to the simulator's interface module through a shared request area.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ipc.h"

enum SimLinkResult : std::uint32_t {
    LinkOk = 0,
    LinkAlreadyOpen = 1,
    LinkNoSimulator = 2,
    LinkNoMessage = 3,
    LinkNoAtom = 4,
    LinkNoMapping = 5,
    LinkNoView = 6,
    LinkBadVersion = 7,
    LinkWrongSimulator = 8,
    LinkNotOpen = 9,
    LinkNothingQueued = 10,
    LinkNoAnswer = 11,
    LinkSendFailed = 12,
    LinkRejected = 13,
    LinkBadVersionFallback = 14,
    LinkAreaFull = 15,
};

constexpr std::uint32_t kSimLinkAreaSize = 0x8000;    // bytes mapped
constexpr std::uint32_t kSimLinkAreaUsable = 0x7F00;  // bytes the client fills, end marker included

struct SimLinkState {
    std::uint32_t InterfaceVersion;
    std::uint32_t SimulatorVersion;  // the simulator code alone once open
    std::uint32_t ClientTag;         // low 16 bits written to 0x330A at open
    plat::IpcWindow window;
    std::uint32_t messageId;
    plat::IpcAtom atom;
    plat::IpcMapping mapping;
    std::uint8_t* areaStart;  // non-null exactly while the link is open
    std::uint8_t* cursor;
};
extern SimLinkState simLinkState;

// Each stores its code in result and returns result == LinkOk.
bool SimLinkOpen(std::uint32_t requiredSimulator, SimLinkResult& result);
bool SimLinkQueueRead(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result);
bool SimLinkQueueWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result);
bool SimLinkProcess(SimLinkResult& result);
void SimLinkClose();

// Module start-up (zeroed state, client tag 1004) and shut-down (close); both run on their own at
// program start and exit.
void SimLinkModuleStartup();
void SimLinkModuleShutdown();

// The name of this process's request area and of its atom: "FsasmLib:IPC:<pid in hex>:1".
std::string SimLinkAreaName();

// Waits of the exchange. Tests shorten them; the program keeps the defaults.
struct SimLinkTimings {
    std::uint32_t sendTimeoutMs = 2000;     // per send attempt
    std::uint32_t sendRetrySleepMs = 100;   // after each failed send attempt
    std::uint32_t versionSleepMs = 100;     // after each version exchange attempt
};
void SimLinkSetTimings(const SimLinkTimings& timings);
SimLinkTimings SimLinkCurrentTimings();

// The transport behind the client; null restores the platform's.
void SimLinkUseTransport(const plat::IpcTransport* transport);
