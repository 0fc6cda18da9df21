// Value sources: an offset space kept by the model or a simulator bridge, or batched reads through the
// FSUIPC client.
#include "tools/server/valuesource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "simlink/FPCuser.h"
#include "tools/bridge/autosource.h"
#include "tools/bridge/offsetsource.h"
#include "tools/flightmodel/offsetspace.h"

namespace {

// Reads per exchange: each costs a 16-byte header and up to 8 bytes in the client's request area.
constexpr std::size_t kReadsPerExchange = 512;
constexpr std::uint32_t kRetryMs = 1000;

class ServedValues {
public:
    virtual ~ServedValues() = default;
    virtual void Refresh() = 0;
    // Fills reads whose bytes are zero already.
    virtual void Fetch(PendingRead* reads, std::size_t count) = 0;
};

// The model or a bridge keeps a whole offset space; reads are copies out of it.
class SpaceValues : public ServedValues {
public:
    explicit SpaceValues(std::unique_ptr<OffsetSource> source)
        : source_(std::move(source)), space_(kOffsetSpaceSize, 0) {
        Refresh();
    }
    void Refresh() override {
        const std::uint32_t now = plat::TickCount();
        if (now == lastPoll_) return;  // once a millisecond is often enough, and keeps requests cheap
        lastPoll_ = now;
        source_->Poll(now);
        source_->WriteOffsets(space_.data());
    }
    void Fetch(PendingRead* reads, std::size_t count) override {
        for (std::size_t i = 0; i < count; ++i)
            if (reads[i].offset + static_cast<std::uint64_t>(reads[i].width) <= space_.size())
                std::memcpy(reads[i].bytes, space_.data() + reads[i].offset, reads[i].width);
    }

private:
    std::unique_ptr<OffsetSource> source_;
    std::vector<std::uint8_t> space_;
    std::uint32_t lastPoll_ = 0;
};

class FsuipcValues : public ServedValues {
public:
    FsuipcValues() {
        // A hung simulator stalls every client, so the server gives up sooner than the panel would.
        SimLinkTimings timings;
        timings.sendTimeoutMs = 500;
        timings.sendRetrySleepMs = 10;
        timings.versionSleepMs = 10;
        SimLinkSetTimings(timings);
        std::printf("serving a simulator through FSUIPC\n");
        EnsureLink();
    }
    ~FsuipcValues() override { SimLinkClose(); }
    void Refresh() override {}
    void Fetch(PendingRead* reads, std::size_t count) override {
        for (std::size_t done = 0; done < count; done += kReadsPerExchange)
            FetchThroughLink(reads + done, std::min(kReadsPerExchange, count - done));
    }

private:
    bool EnsureLink() {
        if (simLinkState.areaStart) return true;
        const std::uint32_t now = plat::TickCount();
        if (lastOpenAttempt_ != 0 && now - lastOpenAttempt_ < kRetryMs) return false;
        lastOpenAttempt_ = now == 0 ? 1 : now;
        SimLinkResult result = LinkOk;
        if (SimLinkOpen(0, result)) {
            std::printf("simulator link open (simulator code %u)\n", static_cast<unsigned>(simLinkState.SimulatorVersion));
            linkReported_ = false;
            return true;
        }
        if (!linkReported_) {
            std::printf("no simulator link (result %u); values read 0, retrying every second\n",
                        static_cast<unsigned>(result));
            linkReported_ = true;
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
        linkReported_ = true;
        SimLinkClose();
    }

    std::uint32_t lastOpenAttempt_ = 0;
    bool linkReported_ = false;  // whether the last open failure was already printed
};

std::unique_ptr<ServedValues> served;

}  // namespace

bool StartValueSource(const ServerOptions& options) {
    if (options.source == ServerSource::Fsuipc) {
        served = std::make_unique<FsuipcValues>();
        return true;
    }
    if (options.source == ServerSource::Simulate) {
        std::printf("serving the flight model from %g s at time scale %g\n", options.startAtSeconds, options.timeScale);
        served = std::make_unique<SpaceValues>(OpenModelSource(options.startAtSeconds, options.timeScale));
        return true;
    }
    std::string error;
    if (options.source == ServerSource::Auto) {
        std::unique_ptr<OffsetSource> found =
            OpenAutoSource(options.simAddress, options.startAtSeconds, options.timeScale, error);
        if (!found) {
            std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
            return false;
        }
        served = std::make_unique<SpaceValues>(std::move(found));
        return true;
    }
    const SimulatorKind kind = options.source == ServerSource::XPlane ? SimulatorKind::XPlane : SimulatorKind::FlightGear;
    std::unique_ptr<OffsetSource> bridge = OpenSimulatorBridge(kind, options.simAddress, error);
    if (!bridge) {
        std::fprintf(stderr, "kovex-server: %s\n", error.c_str());
        return false;
    }
    served = std::make_unique<SpaceValues>(std::move(bridge));
    return true;
}

void RefreshValueSource() { served->Refresh(); }

void FetchValues(PendingRead* reads, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) std::memset(reads[i].bytes, 0, sizeof reads[i].bytes);
    served->Fetch(reads, count);
}

void StopValueSource() { served.reset(); }
