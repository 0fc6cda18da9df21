// kovex-simulator: owns the simulator's interface window and answers the FSUIPC link from a flight model.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/endsignals.h"
#include "platform/ipc.h"
#include "platform/process.h"
#include "tools/bridge/autosource.h"
#include "tools/bridge/offsetsource.h"
#include "tools/simulator/options.h"
#include "tools/simulator/records.h"

namespace {

constexpr std::uint32_t kAreaSize = 0x8000;
constexpr std::size_t kMaxHeld = 256;

StandInOptions options;
StandInMemory memory;
std::unique_ptr<OffsetSource> source;  // the flight model or a simulator bridge, chosen at start
std::uint32_t linkMessage = 0;
std::uint32_t exchanges = 0;  // link messages received so far
std::vector<plat::IpcIncoming> held;  // messages that are never answered

// Carries out one exchange: open the area named by the atom, run its records, close it again.
std::uint32_t Serve(const plat::IpcIncoming& incoming, bool spoil) {
    if (!incoming.atomName[0]) return 0;
    auto* area = static_cast<std::uint8_t*>(plat::IpcOpenMappingView(incoming.atomName, kAreaSize));
    if (!area) return 0;
    source->WriteOffsets(memory.space);
    const bool done = CarryOutRecords(area, kAreaSize, memory);
    if (done && spoil) SpoilHeaders(area, kAreaSize, exchanges);
    plat::IpcCloseMappingView(area, kAreaSize);
    return done ? 1 : 0;
}

void Handle(plat::IpcIncoming& incoming) {
    if (incoming.message != linkMessage) {
        plat::IpcReply(&incoming, 0);  // not ours: answered like any unhandled message
        return;
    }
    const bool faulty = options.fault != StandInFault::None && exchanges >= options.faultAfter;
    ++exchanges;
    memory.zeroVersions = faulty && options.fault == StandInFault::ZeroVersions;
    if (faulty && options.fault == StandInFault::AnswerZero) {
        plat::IpcReply(&incoming, 0);
    } else if (faulty && options.fault == StandInFault::NeverAnswer) {
        if (held.size() >= kMaxHeld) {
            plat::IpcDrop(&held.front());
            held.erase(held.begin());
        }
        held.push_back(incoming);
    } else {
        if (faulty && options.fault == StandInFault::Late) plat::SleepMs(options.lateMs);
        plat::IpcReply(&incoming, Serve(incoming, faulty && options.fault == StandInFault::Hostile));
    }
}

void PrintState() {
    std::printf("%s\n", source->Describe().c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    if (!ParseStandInOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "kovex-simulator: %s\n%s", error.c_str(), StandInUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(StandInUsage(), stdout);
        return 0;
    }
    // Ended by kill or Ctrl+C, it still takes its socket and areas with it, so the next one starting
    // does not find a dead one's socket in its place.
    plat::InstallEndSignals();
    if (options.simulator == SimulatorKind::None) {
        source = OpenModelSource(options.startAtSeconds, options.timeScale);
    } else {
        source = options.simulator == SimulatorKind::Auto
                     ? OpenAutoSource(options.simAddress, options.startAtSeconds, options.timeScale, error)
                     : OpenSimulatorBridge(options.simulator, options.simAddress, error);
        if (!source) {
            std::fprintf(stderr, "kovex-simulator: %s\n", error.c_str());
            return 1;
        }
    }
    memory.interfaceVersion = options.interfaceVersion;
    memory.simulatorCode = static_cast<std::uint16_t>(options.simulatorCode);
    linkMessage = plat::IpcRegisterMessage("FsasmLib:IPC");

    const plat::IpcOwnedWindow window = plat::IpcCreateWindow(options.windowClass.c_str());
    if (!window) {
        const std::string problem = plat::IpcCreateWindowProblem();
        if (!problem.empty())
            std::fprintf(stderr, "kovex-simulator: cannot own the window class %s: %s\n", options.windowClass.c_str(),
                         problem.c_str());
        else
            std::fprintf(stderr, "kovex-simulator: cannot own the window class %s (is another simulator running?)\n",
                         options.windowClass.c_str());
        return 1;
    }

    const std::uint32_t start = plat::TickCount();
    std::uint32_t lastPrint = start;
    for (;;) {
        const std::uint32_t now = plat::TickCount();
        if (options.lifetimeSeconds > 0.0 && (now - start) / 1000.0 >= options.lifetimeSeconds) break;
        if (options.exitWithParent && plat::StandardInputClosed()) break;
        if (plat::EndSignalReceived() != plat::EndSignal::None) break;
        source->Poll(now);
        if (options.verbose && now - lastPrint >= 1000) {
            PrintState();
            lastPrint = now;
        }
        plat::IpcIncoming incoming;
        const plat::IpcWaitResult waited = plat::IpcWaitMessage(window, 25, &incoming);
        if (waited == plat::IpcWaitResult::Failed) {
            std::fprintf(stderr, "kovex-simulator: waiting for messages failed\n");
            break;
        }
        if (waited == plat::IpcWaitResult::Message) {
            source->Poll(plat::TickCount());
            Handle(incoming);
        }
    }
    for (auto& h : held) plat::IpcDrop(&h);
    plat::IpcDestroyWindow(window);
    return plat::EndSignalReceived() == plat::EndSignal::HangUp ? 129 : 0;  // a closed terminal, as a shell reports it
}
