// Fuzz target: the FSUIPC client's walk of the request area after an exchange with a simulator
// side that rewrites the area as it likes. The area is a heap block of exactly the mapped size and
// every read destination exactly its record's size, so a copy past either is caught; a successful
// exchange must copy each queued read's own data slot and nothing else, a failed one nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "simlink/FPCuser.h"

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

// The simulator side of this target: during the open it answers honestly; afterwards it writes the
// fuzzer's bytes into the area and answers with the fuzzer's reply.
struct QueuedRead {
    std::uint32_t slot;  // position of its data slot in the area
    std::uint32_t size;
    std::unique_ptr<std::uint8_t[]> destination;  // exactly size bytes, or none
};

enum class RewriteMode {
    FromStart,  // the bytes over the area from its start: headers and all
    DataSlots,  // the bytes spread over the read records' data slots only, as a simulator should
    Patch,      // the bytes at a fuzzed position
};

struct Simulator {
    bool hostile = false;
    RewriteMode mode = RewriteMode::FromStart;
    const std::vector<QueuedRead>* reads = nullptr;
    std::vector<std::uint8_t> rewrite;  // bytes put into the area
    std::size_t rewriteAt = 0;
    std::uint32_t reply = 1;
    bool answers = true;
} simulator;

std::uint8_t* areaBlock = nullptr;

std::uint32_t Le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// An honest simulator: fills the version words of the open, ignores everything else.
void AnswerHonestly() {
    std::size_t at = 0;
    while (at + 4 <= kSimLinkAreaSize) {
        const std::uint32_t command = Le32(areaBlock + at);
        if (command == 1 && at + 16 <= kSimLinkAreaSize) {
            const std::uint32_t offset = Le32(areaBlock + at + 4);
            const std::uint32_t n = Le32(areaBlock + at + 8);
            if (at + 16 + n > kSimLinkAreaSize) return;
            const std::uint32_t word = offset == 0x3304 ? 0x19980005u : offset == 0x3308 ? 0xFADE0009u : 0u;
            if (n == 4) std::memcpy(areaBlock + at + 16, &word, 4);
            at += 16 + n;
        } else if (command == 2 && at + 12 <= kSimLinkAreaSize) {
            at += 12 + Le32(areaBlock + at + 8);
        } else {
            return;
        }
    }
}

plat::IpcWindow FindWindow(const char*) { return 1; }
std::uint32_t RegisterMessage(const char*) { return 0xC000; }
plat::IpcAtom AddAtom(const char*) { return 1; }
void DeleteAtom(plat::IpcAtom) {}
// The area lives in this process's memory: nothing of an ended process to remove.
bool RemoveStaleMapping(const char*) { return false; }
plat::IpcMapping CreateMapping(const char*, std::uint32_t, bool* alreadyExists) {
    *alreadyExists = false;
    return 1;
}
void* MapView(plat::IpcMapping, std::uint32_t size) {
    if (size != kSimLinkAreaSize) std::abort();
    areaBlock = new std::uint8_t[kSimLinkAreaSize];
    std::memset(areaBlock, 0, kSimLinkAreaSize);
    return areaBlock;
}
void UnmapView(void* view, std::uint32_t) {
    delete[] static_cast<std::uint8_t*>(view);
    areaBlock = nullptr;
}
void CloseMapping(plat::IpcMapping) {}
bool Send(plat::IpcWindow, std::uint32_t, std::uintptr_t, std::uint32_t, std::uint32_t* reply,
          std::uint32_t* lastError) {
    if (!simulator.hostile) {
        AnswerHonestly();
        *reply = 1;
        return true;
    }
    if (!simulator.answers) {
        *lastError = 0;
        return false;
    }
    const std::vector<std::uint8_t>& bytes = simulator.rewrite;
    if (simulator.mode == RewriteMode::DataSlots) {
        std::size_t next = 0;
        for (const QueuedRead& read : *simulator.reads)
            for (std::uint32_t i = 0; i < read.size && !bytes.empty(); ++i)
                areaBlock[read.slot + i] = bytes[next++ % bytes.size()];
    } else {
        const std::size_t at = simulator.mode == RewriteMode::FromStart ? 0 : simulator.rewriteAt;
        if (!bytes.empty()) std::memcpy(areaBlock + at, bytes.data(), std::min(kSimLinkAreaSize - at, bytes.size()));
    }
    *reply = simulator.reply;
    return true;
}

const plat::IpcTransport kTransport{FindWindow, RegisterMessage, AddAtom,      DeleteAtom, RemoveStaleMapping,
                                    CreateMapping, MapView,    UnmapView,       CloseMapping, Send};

void OpenOnce() {
    static bool opened = false;
    if (opened) return;
    SimLinkUseTransport(&kTransport);
    SimLinkSetTimings(SimLinkTimings{0, 0, 0});
    SimLinkResult result = LinkOk;
    if (!SimLinkOpen(0, result)) std::abort();
    opened = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    OpenOnce();
    FuzzedDataProvider input(data, size);
    simulator.hostile = true;

    // The queue: reads (with or without destination) and writes of fuzzed sizes, until the area is full.
    std::vector<QueuedRead> reads;
    std::uint32_t used = 0;
    const int records = input.ConsumeIntegralInRange<int>(0, 40);
    for (int i = 0; i < records; ++i) {
        const std::uint8_t shape = input.ConsumeIntegral<std::uint8_t>();
        const std::uint32_t n = (shape & 0x80) ? input.ConsumeIntegral<std::uint16_t>() : (shape & 0x3F);
        const std::uint32_t offset = input.ConsumeIntegral<std::uint16_t>();
        SimLinkResult result = LinkOk;
        if (shape & 0x40) {
            const std::vector<std::uint8_t> source(n, 0x3C);
            if (SimLinkQueueWrite(offset, n, source.data(), result)) used += 12 + n;
        } else {
            QueuedRead read{used + 16, n, nullptr};
            if ((shape & 0x01) == 0) {
                read.destination.reset(new std::uint8_t[n == 0 ? 1 : n]);
                std::memset(read.destination.get(), kUntouched, n == 0 ? 1 : n);
            }
            if (SimLinkQueueRead(offset, n, read.destination.get(), result)) {
                used += 16 + n;
                reads.push_back(std::move(read));
            }
        }
        if (result != LinkOk && result != LinkAreaFull) std::abort();
        if (used + 4 > kSimLinkAreaUsable) std::abort();
    }

    // What the simulator side does: where it writes, what it answers, whether it answers at all.
    simulator.reply = input.ConsumeBool() ? 1 : input.ConsumeIntegral<std::uint32_t>();
    simulator.answers = input.ConsumeIntegralInRange<int>(0, 15) != 0;
    simulator.mode = static_cast<RewriteMode>(input.ConsumeIntegralInRange<int>(0, 2));
    simulator.rewriteAt = input.ConsumeIntegralInRange<std::size_t>(0, kSimLinkAreaSize - 1);
    simulator.rewrite = input.ConsumeRemainingBytes<std::uint8_t>();
    simulator.reads = &reads;

    SimLinkResult result = LinkOk;
    const bool done = SimLinkProcess(result);
    if (done != (result == LinkOk)) std::abort();
    if (used == 0) {
        if (result != LinkNothingQueued) std::abort();
    } else if (simLinkState.cursor != simLinkState.areaStart) {
        std::abort();  // the queue is empty after every exchange
    }
    if (used != 0 && simulator.answers && simulator.reply == 1 && simulator.mode == RewriteMode::DataSlots &&
        result != LinkOk)
        std::abort();  // a simulator that only filled the data slots did what was asked
    for (const QueuedRead& read : reads) {
        if (!read.destination || read.size == 0) continue;
        if (done) {
            if (std::memcmp(read.destination.get(), areaBlock + read.slot, read.size) != 0) std::abort();
        } else {
            for (std::uint32_t i = 0; i < read.size; ++i)
                if (read.destination[i] != kUntouched) std::abort();
        }
    }
    simulator.reads = nullptr;
    return 0;
}
