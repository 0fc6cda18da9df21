// Value sources: a 64 KiB image of the model's offsets, or batched reads through the FSUIPC client.
#include "tools/server/valuesource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "simlink/FPCuser.h"
#include "tools/flightmodel/flightmodel.h"
#include "tools/flightmodel/offsetspace.h"

namespace {

// Reads per exchange: each costs a 16-byte header and up to 8 bytes in the client's request area.
constexpr std::size_t kReadsPerExchange = 512;
constexpr std::uint32_t kRetryMs = 1000;

ServerSource source = ServerSource::Simulate;
double timeScale = 1.0;
FlightModel model;
std::vector<std::uint8_t> space;
std::uint32_t lastAdvance = 0;
std::uint32_t lastOpenAttempt = 0;
bool linkReported = false;  // whether the last open failure was already printed

bool EnsureLink() {
    if (simLinkState.areaStart) return true;
    const std::uint32_t now = plat::TickCount();
    if (lastOpenAttempt != 0 && now - lastOpenAttempt < kRetryMs) return false;
    lastOpenAttempt = now == 0 ? 1 : now;
    SimLinkResult result = LinkOk;
    if (SimLinkOpen(0, result)) {
        std::printf("simulator link open (simulator code %u)\n", static_cast<unsigned>(simLinkState.SimulatorVersion));
        linkReported = false;
        return true;
    }
    if (!linkReported) {
        std::printf("no simulator link (result %u); values read 0, retrying every second\n",
                    static_cast<unsigned>(result));
        linkReported = true;
    }
    return false;
}

void FetchThroughLink(PendingRead* reads, std::size_t count) {
    if (!EnsureLink()) return;
    SimLinkResult result = LinkOk;
    bool ok = true;
    for (std::size_t i = 0; i < count && ok; ++i) ok = SimLinkQueueRead(reads[i].offset, reads[i].width, reads[i].bytes, result);
    if (ok && SimLinkProcess(result)) return;
    // A failed exchange copies nothing; the reads keep their zeros and the link is opened afresh.
    for (std::size_t i = 0; i < count; ++i) std::memset(reads[i].bytes, 0, sizeof reads[i].bytes);
    std::printf("simulator link lost (result %u); values read 0, retrying every second\n", static_cast<unsigned>(result));
    linkReported = true;
    SimLinkClose();
}

}  // namespace

void StartValueSource(const ServerOptions& options) {
    source = options.source;
    timeScale = options.timeScale;
    if (source == ServerSource::Simulate) {
        space.assign(kOffsetSpaceSize, 0);
        FlightModelReset(model);
        FlightModelAdvance(model, options.startAtSeconds);
        WriteModelOffsets(model, space.data());
        lastAdvance = plat::TickCount();
        std::printf("serving the flight model from %g s at time scale %g\n", options.startAtSeconds, timeScale);
    } else {
        // A hung simulator stalls every client, so the server gives up sooner than the panel would.
        SimLinkTimings timings;
        timings.sendTimeoutMs = 500;
        timings.sendRetrySleepMs = 10;
        timings.versionSleepMs = 10;
        SimLinkSetTimings(timings);
        std::printf("serving a simulator through FSUIPC\n");
        EnsureLink();
    }
}

void RefreshValueSource() {
    if (source != ServerSource::Simulate) return;
    const std::uint32_t now = plat::TickCount();
    const std::uint32_t elapsed = now - lastAdvance;
    if (elapsed == 0) return;
    lastAdvance = now;
    if (timeScale > 0.0) {
        FlightModelAdvance(model, elapsed / 1000.0 * timeScale);
        WriteModelOffsets(model, space.data());
    }
}

void FetchValues(PendingRead* reads, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) std::memset(reads[i].bytes, 0, sizeof reads[i].bytes);
    if (source == ServerSource::Simulate) {
        for (std::size_t i = 0; i < count; ++i)
            if (reads[i].offset + static_cast<std::uint64_t>(reads[i].width) <= space.size())
                std::memcpy(reads[i].bytes, space.data() + reads[i].offset, reads[i].width);
        return;
    }
    for (std::size_t done = 0; done < count; done += kReadsPerExchange)
        FetchThroughLink(reads + done, std::min(kReadsPerExchange, count - done));
}

void StopValueSource() {
    if (source == ServerSource::Fsuipc) SimLinkClose();
}
