// Finding the simulator: X-Plane's beacon heard on every interface, FlightGear's port probed with
// connects that never wait, and the bridge to the one found taking over from the model.
#include "tools/bridge/autosource.h"

#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/multicast.h"
#include "platform/sockets.h"
#include "tools/bridge/beacon.h"
#include "tools/bridge/flightgear.h"
#include "tools/bridge/notices.h"
#include "tools/bridge/xplane.h"

namespace {

// X-Plane beacons once a second: at start it is given this long before a FlightGear is taken, as a
// port that answers is only a guess and a beacon is X-Plane's own word.
constexpr std::uint32_t kBeaconFirstMs = 1500;
// A simulator just found has this long to answer before another found may take its place.
constexpr std::uint32_t kFirstAnswerMs = 3000;
constexpr std::uint32_t kProbeMs = 1000;   // between connects to each FlightGear port
constexpr std::uint32_t kRejoinMs = 5000;  // interfaces that came up since are joined this often
constexpr int kBeaconsPerPoll = 64;        // so a flood cannot hold up the caller's other work
constexpr std::uint16_t kFlightGearPort = 5401;

// Ports swapped as everywhere in the bridges (little-endian hosts); addresses by their bytes.
std::uint16_t Swapped(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }

std::uint32_t NetworkOrder(std::uint32_t host) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(host >> 24), static_cast<std::uint8_t>(host >> 16),
                                   static_cast<std::uint8_t>(host >> 8), static_cast<std::uint8_t>(host)};
    std::uint32_t network = 0;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

std::string HostText(const plat::SocketAddressV4& a) {
    const std::uint8_t* b = reinterpret_cast<const std::uint8_t*>(&a.address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

std::string AddressText(const plat::SocketAddressV4& a) { return HostText(a) + ":" + std::to_string(Swapped(a.port)); }

bool SameTarget(const plat::SocketAddressV4& a, const plat::SocketAddressV4& b) {
    return a.address == b.address && a.port == b.port;
}

// One FlightGear port to try: a connect that succeeds means its property server is there.
struct Probe {
    plat::SocketAddressV4 target;
    plat::SocketHandle socket = plat::kNoSocket;
    std::uint32_t startedAt = 0;
    bool tried = false;
};

class AutoSource : public OffsetSource {
public:
    AutoSource(double startAtSeconds, double timeScale, std::vector<Probe> probes)
        : current_(OpenModelSource(startAtSeconds, timeScale)), probes_(std::move(probes)), notices_("auto"),
          start_(plat::TickCount()) {
        std::string where;
        for (const Probe& p : probes_) where += (where.empty() ? "" : " or ") + AddressText(p.target);
        notices_.Say("no simulator found yet; serving the built-in flight model until X-Plane's beacon is heard "
                     "or FlightGear's property server answers on " + where);
        listener_ = plat::OpenMulticastListener(Swapped(kBeaconPort));
        if (listener_ == plat::kNoSocket)
            notices_.Say("cannot listen for X-Plane's beacon (socket error " + std::to_string(plat::LastSocketError()) +
                         "); only FlightGear is looked for");
        else
            Join(start_);
    }

    ~AutoSource() override {
        current_.reset();
        for (Probe& p : probes_) Close(p);
        if (listener_ != plat::kNoSocket) plat::CloseSocket(listener_);
    }

    void Poll(std::uint32_t now) override {
        if (listener_ != plat::kNoSocket) {
            if (now - lastJoin_ >= kRejoinMs) Join(now);
            TakeBeacons(now);
        }
        const bool probing = !Busy(now) && now - start_ >= kBeaconFirstMs;
        for (Probe& p : probes_) {
            if (probing && !(kind_ == SimulatorKind::FlightGear && SameTarget(p.target, target_)))
                PollProbe(p, now);
            else
                Close(p);
        }
        current_->Poll(now);
    }

    void WriteOffsets(std::uint8_t* space) const override { current_->WriteOffsets(space); }
    std::string Describe() const override { return current_->Describe(); }
    bool Present() const override { return kind_ != SimulatorKind::None && current_->Present(); }

private:
    // A simulator that answers, or was found a moment ago, is kept; the model, or one that went,
    // gives way to the next found.
    bool Busy(std::uint32_t now) const {
        return kind_ != SimulatorKind::None && (current_->Present() || now - foundAt_ < kFirstAnswerMs);
    }

    void Join(std::uint32_t now) {
        lastJoin_ = now;
        const bool heard = plat::JoinMulticastEverywhere(listener_, NetworkOrder(kBeaconGroup)) > 0;
        if (!heard && !toldNoInterface_)
            notices_.Say("no network interface carries multicast yet; X-Plane's beacon is heard once one does");
        toldNoInterface_ = !heard;
    }

    void TakeBeacons(std::uint32_t now) {
        std::uint8_t packet[kBeaconMaxSize];
        for (int n = 0; n < kBeaconsPerPoll; ++n) {
            plat::SocketAddressV4 from;
            const std::int32_t got = plat::ReceiveDatagram(listener_, packet, sizeof packet, from);
            BeaconParse parsed = BeaconParse::TooLong;
            Beacon beacon;
            if (got < 0) {
                const std::int32_t error = plat::LastSocketError();
                if (error == plat::kErrorWouldBlock) return;
                if (error == plat::kErrorConnectionReset) continue;
                if (error != plat::kErrorMessageSize) {
                    notices_.Complain(now, "hearing X-Plane's beacon failed (socket error " + std::to_string(error) + ")");
                    return;
                }
            } else {
                parsed = ParseBeacon(packet, static_cast<std::size_t>(got), beacon);
            }
            // Instructor stations and external visuals beacon too, and are no source of values.
            if (parsed == BeaconParse::NotMaster) continue;
            if (parsed != BeaconParse::Ok) {
                notices_.Complain(now, "ignored a beacon from " + HostText(from) + ": " + BeaconProblem(parsed));
                continue;
            }
            if (from.address == 0) {
                notices_.Complain(now, "ignored a beacon from 0.0.0.0: no address to subscribe to");
                continue;
            }
            plat::SocketAddressV4 target;
            target.address = from.address;
            target.port = Swapped(beacon.port);
            if (kind_ == SimulatorKind::XPlane && SameTarget(target, target_)) continue;  // it resubscribes itself
            if (Busy(now)) {
                if (!SameTarget(target, passedOver_))
                    notices_.Say("X-Plane at " + AddressText(target) + " announced itself; staying with the simulator "
                                 "served while it answers");
                passedOver_ = target;
                continue;
            }
            Announce("X-Plane found by its beacon at " + AddressText(target) + " (computer \"" + beacon.computerName +
                     "\", version " + std::to_string(beacon.version) + ")");
            std::string error;
            std::unique_ptr<OffsetSource> xplane = OpenXPlaneSource(target, AddressText(target), error);
            if (!xplane) {
                notices_.Complain(now, "cannot subscribe to it: " + error);
                continue;
            }
            SwitchTo(SimulatorKind::XPlane, target, std::move(xplane));
        }
    }

    void PollProbe(Probe& p, std::uint32_t now) {
        if (p.socket == plat::kNoSocket) {
            if (p.tried && now - p.startedAt < kProbeMs) return;
            p.tried = true;
            p.startedAt = now;
            p.socket = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp);
            if (p.socket == plat::kNoSocket) return;
            const std::int32_t started = plat::StartConnect(p.socket, p.target);
            if (started < 0) {
                Close(p);
                return;
            }
            if (started == 0) {
                Found(p);
                return;
            }
        }
        const std::int32_t ready = plat::WaitSocketWritable(p.socket, 0, 0);
        if (ready == 0) {
            if (now - p.startedAt >= kProbeMs) Close(p);  // a host that drops the connect: tried again
            return;
        }
        if (ready < 0 || plat::ConnectOutcome(p.socket) != 0) {
            Close(p);
            return;
        }
        Found(p);
    }

    // The bridge makes its own connection; the probe's is let go at once.
    void Found(Probe& p) {
        Close(p);
        Announce("FlightGear found: its property server answers at " + AddressText(p.target));
        std::string error;
        std::unique_ptr<OffsetSource> flightgear = OpenFlightGearSource(p.target, AddressText(p.target), error);
        if (flightgear) SwitchTo(SimulatorKind::FlightGear, p.target, std::move(flightgear));
    }

    // Before the bridge is made, so its own first line follows this one.
    void Announce(const std::string& what) const {
        notices_.Say(what + (kind_ == SimulatorKind::None ? "; its values are served instead of the built-in model"
                                                          : "; its values are served"));
    }

    void SwitchTo(SimulatorKind kind, const plat::SocketAddressV4& target, std::unique_ptr<OffsetSource> source) {
        foundAt_ = plat::TickCount();
        passedOver_ = plat::SocketAddressV4{};
        current_ = std::move(source);
        kind_ = kind;
        target_ = target;
    }

    static void Close(Probe& p) {
        if (p.socket != plat::kNoSocket) plat::CloseSocket(p.socket);
        p.socket = plat::kNoSocket;
    }

    std::unique_ptr<OffsetSource> current_;
    SimulatorKind kind_ = SimulatorKind::None;  // None: the model
    plat::SocketAddressV4 target_;
    std::uint32_t foundAt_ = 0;
    plat::SocketAddressV4 passedOver_;  // the last X-Plane announced while another was served
    std::vector<Probe> probes_;
    Notices notices_;
    plat::SocketHandle listener_ = plat::kNoSocket;
    std::uint32_t start_;
    std::uint32_t lastJoin_ = 0;
    bool toldNoInterface_ = false;
};

}  // namespace

std::unique_ptr<OffsetSource> OpenAutoSource(const std::string& probeAddress, double startAtSeconds, double timeScale,
                                             std::string& error) {
    if (plat::SocketStartup(0x0202) != 0) {
        error = "the socket library did not start";
        return nullptr;
    }
    std::vector<Probe> probes(1);
    probes[0].target.address = NetworkOrder(0x7F000001u);  // this machine
    probes[0].target.port = Swapped(kFlightGearPort);
    if (!probeAddress.empty()) {
        std::string host;
        std::uint16_t port = kFlightGearPort;
        if (!ParseSimAddress(probeAddress, host, port)) {
            error = "bad simulator address: " + probeAddress;
            return nullptr;
        }
        Probe extra;
        extra.target.port = Swapped(port);
        if (!plat::ResolveHostName(host, extra.target.address)) {
            error = "cannot find the simulator's host " + host;
            return nullptr;
        }
        if (!SameTarget(extra.target, probes[0].target)) probes.push_back(extra);
    }
    return std::make_unique<AutoSource>(startAtSeconds, timeScale, std::move(probes));
}
