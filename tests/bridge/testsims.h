// Test support: the test simulators as child processes, and the offsets a bridge must serve for the
// scripted flight, computed here from the flight and the simulators' units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/server/panelrows.h"

// A test simulator program (kovex-test-xplane or kovex-test-flightgear) on a loopback port (0: a
// free one), its output in a file; port() is 0 when it did not come up.
class TestSim {
public:
    TestSim(const std::string& program, std::vector<std::string> args, std::uint16_t port = 0);
    ~TestSim();
    std::uint16_t port() const { return port_; }
    std::string Log() const;
    void Kill();

private:
    plat::ChildProcess child_ = 0;
    std::string logPath_;
    std::uint16_t port_ = 0;
};

// A loopback UDP or TCP port that was free a moment ago.
std::uint16_t FreeUdpPort();
std::uint16_t FreeTcpPort();

// How the test simulators' aircraft differs from a plain twin.
struct Aircraft {
    int engines = 2;
    bool fromFlightGear = false;  // tank figures as FlightGear gives them
};

// The value a bridge must serve at the row's offset for the flight frozen at startAt; for the oil rows
// what the dial must read (psi, degrees Celsius), the simulator's own value.
double BridgedValue(const Row& row, double startAt, const Aircraft& aircraft);
// What a value served at the row's offset reads: the oil rows through the panel's conversions, the
// others as served.
double DialReading(const Row& row, double served);
bool IsOilRow(const Row& row);
