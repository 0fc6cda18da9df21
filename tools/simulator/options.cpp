// Parsing of the stand-in's command line; every bad argument is reported by name.
#include "tools/simulator/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tools/cli/option_values.h"

namespace {

bool ParseUnsigned(const char* text, std::uint32_t& value) {
    if (!text || !*text || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);  // decimal, or hex with 0x
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseFault(const std::string& name, StandInFault& fault) {
    static const struct {
        const char* name;
        StandInFault fault;
    } kFaults[] = {{"none", StandInFault::None},
                   {"answer-zero", StandInFault::AnswerZero},
                   {"never-answer", StandInFault::NeverAnswer},
                   {"late", StandInFault::Late},
                   {"zero-versions", StandInFault::ZeroVersions},
                   {"hostile", StandInFault::Hostile}};
    for (const auto& f : kFaults)
        if (name == f.name) {
            fault = f.fault;
            return true;
        }
    return false;
}

}  // namespace

const char* StandInUsage() {
    static const std::string text = std::string(
           "usage: kovex-simulator [options]\n"
           "Plays the flight simulator's side of the FSUIPC link, fed by a small twin-engine model, or by\n"
           "X-Plane or FlightGear (see Simulator below), so the panel's default settings work on Linux too.\n"
           "  --class NAME            window class to own: UIPCMAIN (default) or FS98MAIN\n"
           "  --fault MODE            none, answer-zero, never-answer, late, zero-versions, hostile\n"
           "  --fault-after N         serve N exchanges normally before the fault begins (default 0)\n"
           "  --late-ms N             delay of the late answer (default 3000)\n"
           "  --interface-version N   word at 0x3304 (default 0x40030000)\n"
           "  --bad-version           same as --interface-version 0x19980004\n"
           "  --simulator-code N      low half of the word at 0x3308 (default 7)\n"
           "  --time-scale X          model seconds per real second (default 1)\n"
           "  --start-at SECONDS      begin the scripted flight this far in (default 0)\n"
           "  --lifetime SECONDS      end after this long (default: run until stopped)\n"
           "  --exit-with-parent      end when standard input closes\n"
           "  --verbose               print the model's state once a second\n"
           "  --help                  show this text\n") + SimulatorUsage();
    return text.c_str();
}

bool ParseStandInOptions(int argc, char** argv, StandInOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&](bool ok) { return TakeOptionValue(argc, argv, i, ok, error); };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--class") {
            const bool ok = value && (std::strcmp(value, "UIPCMAIN") == 0 || std::strcmp(value, "FS98MAIN") == 0);
            if (!needValue(ok)) return false;
            options.windowClass = value;
        } else if (arg == "--xplane") {
            options.simulator = SimulatorKind::XPlane;
        } else if (arg == "--flightgear") {
            options.simulator = SimulatorKind::FlightGear;
        } else if (arg == "--auto") {
            options.simulator = SimulatorKind::Auto;
        } else if (arg == "--sim-address") {
            std::string host;
            std::uint16_t port = 1;
            if (!needValue(value && ParseSimAddress(value, host, port))) return false;
            options.simAddress = value;
        } else if (arg == "--fault") {
            if (!needValue(value && ParseFault(value, options.fault))) return false;
        } else if (arg == "--fault-after") {
            if (!needValue(ParseUnsigned(value, options.faultAfter))) return false;
        } else if (arg == "--late-ms") {
            if (!needValue(ParseUnsigned(value, options.lateMs))) return false;
        } else if (arg == "--interface-version") {
            if (!needValue(ParseUnsigned(value, options.interfaceVersion))) return false;
        } else if (arg == "--bad-version") {
            options.interfaceVersion = 0x19980004;
        } else if (arg == "--simulator-code") {
            std::uint32_t code = 0;
            if (!needValue(ParseUnsigned(value, code) && code <= 0xFFFF)) return false;
            options.simulatorCode = code;
        } else if (arg == "--time-scale") {
            if (!needValue(ParseNonNegative(value, 1000.0, options.timeScale))) return false;
        } else if (arg == "--start-at") {
            if (!needValue(ParseNonNegative(value, 1e6, options.startAtSeconds))) return false;
        } else if (arg == "--lifetime") {
            const double noLimit = std::numeric_limits<double>::max();
            if (!needValue(ParseNonNegative(value, noLimit, options.lifetimeSeconds))) return false;
        } else if (arg == "--exit-with-parent") {
            options.exitWithParent = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            error = "unknown argument: " + arg;
            return false;
        }
    }
    return true;
}
