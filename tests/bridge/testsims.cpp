// Test support: starting and stopping the test simulators; the bridged values of the scripted flight.
#include "tests/bridge/testsims.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/clock.h"
#include "platform/eventloop.h"
#include "platform/sockets.h"
#include "simlink/conversions.h"
#include "tests/bridge/flight_script.h"

namespace {
int logCounter = 0;
}

TestSim::TestSim(const std::string& program, std::vector<std::string> args, std::uint16_t port) {
    logPath_ = (std::filesystem::temp_directory_path() /
                (program + "-" + std::to_string(plat::CurrentProcessId()) + "-" + std::to_string(++logCounter) + ".log"))
                   .string();
    std::vector<std::string> argv{std::string(KOVEX_BIN_DIR "/") + program, "--port", std::to_string(port),
                                  "--lifetime", "120"};
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = plat::StartChildProcess(argv, logPath_);
    const std::string marker = "listening on 127.0.0.1:";
    const std::uint32_t start = plat::TickCount();
    while (child_ && plat::TickCount() - start < 10000 && plat::ChildProcessRunning(child_)) {
        const std::string log = Log();
        const std::size_t end = log.find('\n');
        if (log.rfind(marker, 0) == 0 && end != std::string::npos) {
            port_ = static_cast<std::uint16_t>(std::atoi(log.c_str() + marker.size()));
            return;
        }
        plat::SleepMs(2);
    }
}

TestSim::~TestSim() {
    Kill();
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
}

std::string TestSim::Log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TestSim::Kill() {
    if (child_) plat::KillChildProcess(child_);
    child_ = 0;
}

std::uint16_t FreeUdpPort() {
    plat::SocketStartup(0x0202);
    const plat::SocketHandle s = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeDatagram, plat::kProtocolUdp);
    plat::SocketAddressV4 local;
    local.address = 0x0100007Fu;
    std::uint16_t port = 0;
    if (plat::BindSocket(s, local) == 0 && plat::LocalAddress(s, local) == 0)
        port = static_cast<std::uint16_t>((local.port >> 8) | (local.port << 8));
    plat::CloseSocket(s);
    return port;
}

std::uint16_t FreeTcpPort() {
    std::string error;
    const plat::NetSocket s = plat::NetListen("127.0.0.1", 0, error);
    const std::uint16_t port = plat::NetLocalPort(s);
    plat::NetClose(s);
    return port;
}

double BridgedValue(const Row& row, double startAt, const Aircraft& aircraft) {
    const FlightModel m = script::FlightAt(startAt);
    for (int n = 0; n < 2; ++n) {
        const EngineModel& e = m.engine[n];
        const bool has = n < aircraft.engines;
        // X-Plane sends 32-bit floats; FlightGear's text carries six decimals, near enough to the double.
        const double kgPerSecond = aircraft.fromFlightGear ? e.fuelFlowKgh / 3600.0 : static_cast<float>(e.fuelFlowKgh / 3600.0);
        const double psi = aircraft.fromFlightGear ? e.oilPressPsi : static_cast<float>(e.oilPressPsi);
        const double celsius = aircraft.fromFlightGear ? e.oilTempC : static_cast<float>(e.oilTempC);
        const std::uint32_t flow[2] = {0x0918, 0x09B0}, temp[2] = {0x08B8, 0x0950}, press[2] = {0x08BA, 0x0952},
                            burn[2] = {0x0894, 0x092C}, capacity[2] = {0x0B80, 0x0B98}, level[2] = {0x0B7C, 0x0B94};
        if (row.offset == flow[n]) return has ? kgPerSecond * 3600.0 / script::kKgPerPound : 0.0;
        if (row.offset == temp[n]) return has ? celsius : 0.0;
        if (row.offset == press[n]) return has ? psi : 0.0;
        if (row.offset == burn[n]) return has && e.running ? 1.0 : 0.0;
        if (row.offset == capacity[n])
            return aircraft.fromFlightGear ? m.capacityGal[n]
                                           : std::round(static_cast<float>(script::kTankShare) *
                                                        static_cast<float>((m.capacityGal[0] + m.capacityGal[1]) *
                                                                           script::kKgPerGallon) /
                                                        script::kKgPerGallon);
        if (row.offset == level[n]) {
            const double full = (m.capacityGal[0] + m.capacityGal[1]) * script::kKgPerGallon * script::kTankShare;
            return std::round(std::fmin(m.fuelKg[n] / (aircraft.fromFlightGear ? m.capacityGal[n] * script::kKgPerPound * script::kPoundsPerGallon : full), 1.0) * 8388608.0);
        }
    }
    if (row.offset == 0x0264) return m.paused ? 1.0 : 0.0;
    return 0.0;  // the menu flag: neither simulator tells
}

bool IsOilRow(const Row& row) {
    return row.offset == 0x08B8 || row.offset == 0x0950 || row.offset == 0x08BA || row.offset == 0x0952;
}

double DialReading(const Row& row, double served) {
    if (row.offset == 0x08B8 || row.offset == 0x0950) return OilTemperatureValue(static_cast<std::int16_t>(served));
    if (row.offset == 0x08BA || row.offset == 0x0952) return OilPressureValue(static_cast<std::uint16_t>(served));
    return served;
}
