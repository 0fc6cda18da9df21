// FSUIPC client: open, queue, process and close over the request area shared with the simulator.
#include "simlink/FPCuser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/endsignals.h"

SimLinkState simLinkState{0, 0, 1004, 0, 0, 0, 0, nullptr, nullptr};

namespace {

constexpr std::uint32_t kCommandRead = 1;
constexpr std::uint32_t kCommandWrite = 2;
constexpr std::uint32_t kReadHeader = 16;
constexpr std::uint32_t kWriteHeader = 12;
constexpr std::uint32_t kEndMarker = 4;
constexpr int kSendAttempts = 10;
constexpr int kVersionAttempts = 5;
constexpr std::uint32_t kMinInterfaceVersion = 0x19980005;

// The header field for a destination is 32 bits wide, too narrow for an address here. The client
// keeps each queued record itself, and the field holds the record's 1-based index (0: no destination).
// The walk after an exchange trusts only this list, never the area that the other process may write.
struct QueuedRecord {
    std::uint32_t position;  // of the header within the area
    std::uint32_t header[4];
    std::uint32_t headerSize;
    void* destination;  // reads only
    std::uint32_t size;
};
constexpr std::uint32_t kMaxRecords = (kSimLinkAreaUsable - kEndMarker) / kWriteHeader;
QueuedRecord queued[kMaxRecords];
std::uint32_t queuedCount = 0;

SimLinkTimings timings;
const plat::IpcTransport* transport = nullptr;

const plat::IpcTransport& Ipc() { return transport ? *transport : plat::PlatformIpc(); }

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool Fail(SimLinkResult code, SimLinkResult& result) {
    result = code;
    return false;
}

// Common part of both queue operations: the room test and the header. Returns the record or null.
QueuedRecord* QueueHeader(const std::uint32_t* header, std::uint32_t headerSize, std::uint32_t size,
                          SimLinkResult& result) {
    if (!simLinkState.areaStart) {
        result = LinkNotOpen;
        return nullptr;
    }
    const std::uint64_t used = static_cast<std::uint64_t>(simLinkState.cursor - simLinkState.areaStart);
    if (used + headerSize + static_cast<std::uint64_t>(size) + kEndMarker > kSimLinkAreaUsable ||
        queuedCount >= kMaxRecords) {
        result = LinkAreaFull;
        return nullptr;
    }
    QueuedRecord& record = queued[queuedCount];
    record.position = static_cast<std::uint32_t>(used);
    std::memcpy(record.header, header, sizeof record.header);
    record.headerSize = headerSize;
    record.destination = nullptr;
    record.size = size;
    for (std::uint32_t i = 0; i < headerSize / 4; ++i) PutLe32(simLinkState.cursor + 4 * i, header[i]);
    simLinkState.cursor += headerSize;
    result = LinkOk;
    return &record;
}

// True when every header in the area still reads as it was queued.
bool HeadersIntact(std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const QueuedRecord& record = queued[i];
        for (std::uint32_t w = 0; w < record.headerSize / 4; ++w)
            if (GetLe32(simLinkState.areaStart + record.position + 4 * w) != record.header[w]) return false;
    }
    return true;
}

// Runs the version exchange of the open: reads both version words, writes the client tag once.
bool ExchangeVersions(SimLinkResult& result) {
    for (int attempt = 0;
         attempt < kVersionAttempts && (simLinkState.InterfaceVersion == 0 || simLinkState.SimulatorVersion == 0);
         ++attempt) {
        if (!SimLinkQueueRead(0x3304, 4, &simLinkState.InterfaceVersion, result)) return false;
        if (!SimLinkQueueRead(0x3308, 4, &simLinkState.SimulatorVersion, result)) return false;
        if (attempt == 0) {
            const std::uint8_t tag[2] = {static_cast<std::uint8_t>(simLinkState.ClientTag),
                                         static_cast<std::uint8_t>(simLinkState.ClientTag >> 8)};
            if (!SimLinkQueueWrite(0x330A, 2, tag, result)) return false;
        }
        if (!SimLinkProcess(result)) return false;
        plat::SleepMs(timings.versionSleepMs);
    }
    return true;
}

bool OpenFailure(SimLinkResult code, SimLinkResult& result) {
    SimLinkClose();
    return Fail(code, result);
}

}  // namespace

std::string SimLinkAreaName() {
    char name[64];
    std::snprintf(name, sizeof name, "%s:%X:%X", "FsasmLib:IPC", static_cast<unsigned>(plat::CurrentProcessId()), 1u);
    return name;
}

bool SimLinkOpen(std::uint32_t requiredSimulator, SimLinkResult& result) {
    if (simLinkState.areaStart) return Fail(LinkAlreadyOpen, result);
    simLinkState.InterfaceVersion = 0;
    simLinkState.SimulatorVersion = 0;

    bool fallback = false;
    simLinkState.window = Ipc().findWindow("UIPCMAIN");
    if (!simLinkState.window) {
        simLinkState.window = Ipc().findWindow("FS98MAIN");
        fallback = true;
    }
    if (!simLinkState.window) return Fail(LinkNoSimulator, result);

    simLinkState.messageId = Ipc().registerMessage("FsasmLib:IPC");
    if (simLinkState.messageId == 0) return Fail(LinkNoMessage, result);

    const std::string name = SimLinkAreaName();
    simLinkState.atom = Ipc().addAtom(name.c_str());
    if (simLinkState.atom == 0) return OpenFailure(LinkNoAtom, result);

    // The name carries our process id: an area of that name that we do not hold was left by an
    // ended process with the same id, killed before it could remove it, and is no one's.
    Ipc().removeStaleMapping(name.c_str());
    bool alreadyExists = false;
    simLinkState.mapping = Ipc().createMapping(name.c_str(), kSimLinkAreaSize, &alreadyExists);
    if (!simLinkState.mapping || alreadyExists) return OpenFailure(LinkNoMapping, result);

    simLinkState.areaStart = static_cast<std::uint8_t*>(Ipc().mapView(simLinkState.mapping, kSimLinkAreaSize));
    if (!simLinkState.areaStart) return OpenFailure(LinkNoView, result);
    simLinkState.cursor = simLinkState.areaStart;
    queuedCount = 0;

    if (!ExchangeVersions(result)) {
        SimLinkClose();
        return false;
    }
    if (simLinkState.InterfaceVersion < kMinInterfaceVersion || (simLinkState.SimulatorVersion >> 16) != 0xFADE)
        return OpenFailure(fallback ? LinkBadVersionFallback : LinkBadVersion, result);
    simLinkState.SimulatorVersion &= 0xFFFF;
    if (requiredSimulator != 0 && requiredSimulator != simLinkState.SimulatorVersion)
        return OpenFailure(LinkWrongSimulator, result);
    result = LinkOk;
    return true;
}

bool SimLinkQueueRead(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result) {
    const std::uint32_t header[4] = {kCommandRead, offset, size, destination ? queuedCount + 1 : 0};
    QueuedRecord* record = QueueHeader(header, kReadHeader, size, result);
    if (!record) return false;
    record->destination = destination;
    if (size > 0) {
        std::memset(simLinkState.cursor, 0, size);
        simLinkState.cursor += size;
    }
    ++queuedCount;
    return true;
}

bool SimLinkQueueWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result) {
    const std::uint32_t header[4] = {kCommandWrite, offset, size, 0};
    QueuedRecord* record = QueueHeader(header, kWriteHeader, size, result);
    if (!record) return false;
    if (size > 0) {
        // A write without a source sends zero bytes rather than reading from nowhere.
        if (source)
            std::memcpy(simLinkState.cursor, source, size);
        else
            std::memset(simLinkState.cursor, 0, size);
        simLinkState.cursor += size;
    }
    ++queuedCount;
    return true;
}

bool SimLinkProcess(SimLinkResult& result) {
    if (!simLinkState.areaStart) return Fail(LinkNotOpen, result);
    if (simLinkState.cursor == simLinkState.areaStart) return Fail(LinkNothingQueued, result);

    PutLe32(simLinkState.cursor, 0);
    simLinkState.cursor = simLinkState.areaStart;
    const std::uint32_t count = queuedCount;
    queuedCount = 0;

    std::uint32_t reply = 0;
    std::uint32_t lastError = 0;
    bool sent = false;
    // A panel asked to end gives the exchange up rather than knock the remaining times.
    for (int attempt = 0; attempt < kSendAttempts && !sent && plat::EndSignalReceived() == plat::EndSignal::None;
         ++attempt) {
        sent = Ipc().sendMessage(simLinkState.window, simLinkState.messageId, simLinkState.atom,
                                 timings.sendTimeoutMs, &reply, &lastError);
        if (!sent) plat::SleepMs(timings.sendRetrySleepMs);
    }
    if (!sent) return Fail(lastError == 0 ? LinkNoAnswer : LinkSendFailed, result);
    if (reply != 1) return Fail(LinkRejected, result);
    // A simulator side that changed a header has not done what was asked; copy nothing.
    if (!HeadersIntact(count)) return Fail(LinkRejected, result);

    for (std::uint32_t i = 0; i < count; ++i) {
        const QueuedRecord& record = queued[i];
        if (record.header[0] == kCommandRead && record.destination && record.size > 0)
            std::memcpy(record.destination, simLinkState.areaStart + record.position + kReadHeader, record.size);
    }
    result = LinkOk;
    return true;
}

void SimLinkClose() {
    simLinkState.window = 0;
    simLinkState.messageId = 0;
    simLinkState.cursor = nullptr;
    queuedCount = 0;
    if (simLinkState.atom != 0) {
        Ipc().deleteAtom(simLinkState.atom);
        simLinkState.atom = 0;
    }
    if (simLinkState.areaStart) {
        Ipc().unmapView(simLinkState.areaStart, kSimLinkAreaSize);
        simLinkState.areaStart = nullptr;
    }
    if (simLinkState.mapping != 0) {
        Ipc().closeMapping(simLinkState.mapping);
        simLinkState.mapping = 0;
    }
}

void SimLinkModuleStartup() {
    simLinkState = SimLinkState{0, 0, 1004, 0, 0, 0, 0, nullptr, nullptr};
    queuedCount = 0;
}

void SimLinkModuleShutdown() { SimLinkClose(); }

void SimLinkSetTimings(const SimLinkTimings& newTimings) { timings = newTimings; }
SimLinkTimings SimLinkCurrentTimings() { return timings; }

void SimLinkUseTransport(const plat::IpcTransport* newTransport) { transport = newTransport; }

namespace {
// Runs at program start; the link is closed when the program's modules shut down.
[[maybe_unused]] const bool moduleStarted = [] {
    SimLinkModuleStartup();
    std::atexit(SimLinkModuleShutdown);
    return true;
}();
}  // namespace
