// Where a companion program's values come from: the built-in model, X-Plane or FlightGear, each
// keeping the 64 KiB FSUIPC offset space up to date.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class OffsetSource {
public:
    virtual ~OffsetSource() = default;
    // Takes in what has arrived and sends what is due, never waiting; now is plat::TickCount().
    virtual void Poll(std::uint32_t now) = 0;
    // Writes every variable the source serves into space (kOffsetSpaceSize bytes).
    virtual void WriteOffsets(std::uint8_t* space) const = 0;
    // One line about the present values, for people watching.
    virtual std::string Describe() const = 0;
    // Whether the simulator behind the source answers now; the built-in model always does.
    virtual bool Present() const { return true; }
};

// Auto: whichever simulator is found, X-Plane by its beacon or FlightGear by probing its port.
enum class SimulatorKind { None, XPlane, FlightGear, Auto };

// "HOST" or "HOST:PORT" (port 1 to 65535); a missing port is left as it was.
bool ParseSimAddress(const std::string& text, std::string& host, std::uint16_t& port);

// The built-in twin-engine model from startAt seconds into its flight, time running timeScale fold.
std::unique_ptr<OffsetSource> OpenModelSource(double startAtSeconds, double timeScale);
// A bridge to a simulator at address ("HOST[:PORT]"; empty: this machine and the simulator's usual
// port). Null with the reason in error when the address cannot be used or no socket is to be had;
// a simulator that is not there yet is no error.
std::unique_ptr<OffsetSource> OpenSimulatorBridge(SimulatorKind kind, const std::string& address, std::string& error);

// Help text of the simulator options, the same in every program that takes them.
const char* SimulatorUsage();
