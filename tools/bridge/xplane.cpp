// The X-Plane bridge: subscribe, take the replies in, resubscribe when X-Plane falls silent.
#include "tools/bridge/xplane.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "tools/bridge/notices.h"
#include "tools/bridge/rref.h"
#include "tools/bridge/simvalues.h"

namespace {

constexpr std::int32_t kFrequency = 20;       // subscriptions a second
constexpr std::uint32_t kSilenceMs = 2000;    // nothing for this long: gone, subscribe again
constexpr int kDatagramsPerPoll = 256;        // so a flood cannot hold up the caller's other work
constexpr std::int32_t kBufferSize = 2048;    // larger than any reply to our sixteen subscriptions

// Subscriptions; a reply's index is the position in this table.
enum Ref {
    kFlow0, kFlow1, kOilPress0, kOilPress1, kOilTemp0, kOilTemp1, kRunning0, kRunning1,
    kPaused, kOilInCelsius, kEngineCount, kFuel0, kFuel1, kTankShare0, kTankShare1, kFuelCapacity,
    kRefCount
};
const char* const kRefNames[kRefCount] = {
    "sim/cockpit2/engine/indicators/fuel_flow_kg_sec[0]",
    "sim/cockpit2/engine/indicators/fuel_flow_kg_sec[1]",
    "sim/cockpit2/engine/indicators/oil_pressure_psi[0]",
    "sim/cockpit2/engine/indicators/oil_pressure_psi[1]",
    "sim/cockpit2/engine/indicators/oil_temperature_deg_C[0]",
    "sim/cockpit2/engine/indicators/oil_temperature_deg_C[1]",
    "sim/flightmodel/engine/ENGN_running[0]",
    "sim/flightmodel/engine/ENGN_running[1]",
    "sim/time/paused",
    "sim/aircraft/engine/acf_oilT_is_C",
    "sim/aircraft/engine/acf_num_engines",
    "sim/flightmodel/weight/m_fuel[0]",
    "sim/flightmodel/weight/m_fuel[1]",
    "sim/aircraft/overflow/acf_tank_rat[0]",
    "sim/aircraft/overflow/acf_tank_rat[1]",
    "sim/aircraft/weight/acf_m_fuel_tot",
};

std::string AddressText(const plat::SocketAddressV4& a) {
    const std::uint8_t* b = reinterpret_cast<const std::uint8_t*>(&a.address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

class XPlaneSource : public OffsetSource {
public:
    XPlaneSource(plat::SocketHandle socket, const plat::SocketAddressV4& target, const std::string& name)
        : socket_(socket), target_(target), notices_("X-Plane at " + name) {
        notices_.Say("waiting for its values (nothing to set up in X-Plane)");
        Subscribe(plat::TickCount(), kFrequency);
    }

    ~XPlaneSource() override {
        Subscribe(plat::TickCount(), 0);  // so X-Plane stops sending to a port nobody reads
        plat::CloseSocket(socket_);
    }

    void Poll(std::uint32_t now) override {
        for (int n = 0; n < kDatagramsPerPoll; ++n)
            if (!TakeDatagram(now)) break;
        if (present_ && now - lastValues_ >= kSilenceMs) {
            present_ = false;
            for (float& v : values_) v = 0.0f;
            for (bool& s : seen_) s = false;
            notices_.Say("went away (nothing for 2 s); values read 0 until it answers again");
        }
        if (!present_ && now - lastSubscribe_ >= kSilenceMs) Subscribe(now, kFrequency);
    }

    void WriteOffsets(std::uint8_t* space) const override { WriteSimValues(Values(), space); }

    std::string Describe() const override { return DescribeSimValues(Values()); }

    bool Present() const override { return present_; }

private:
    // False when nothing more is to be had this turn.
    bool TakeDatagram(std::uint32_t now) {
        plat::SocketAddressV4 from;
        const std::int32_t got = plat::ReceiveDatagram(socket_, buffer_, sizeof buffer_, from);
        if (got < 0) {
            const std::int32_t error = plat::LastSocketError();
            if (error == plat::kErrorWouldBlock) return false;
            // A subscription sent while X-Plane was not there came back refused: nothing to do.
            if (error == plat::kErrorConnectionReset) return true;
            if (error == plat::kErrorMessageSize) {
                notices_.Complain(now, "ignored an oversized packet");
                return true;
            }
            notices_.Complain(now, "receiving failed (socket error " + std::to_string(error) + ")");
            return false;
        }
        if (from.address != target_.address) {
            notices_.Complain(now, "ignored a packet from " + AddressText(from));
            return true;
        }
        replies_.clear();
        const RrefParse parsed = ParseRrefReply(buffer_, static_cast<std::size_t>(got), replies_);
        if (parsed != RrefParse::Ok) {
            const char* why = parsed == RrefParse::TooShort ? "too short"
                              : parsed == RrefParse::NotRref ? "not a subscription reply"
                                                             : "not whole index and value pairs";
            notices_.Complain(now, "ignored a " + std::to_string(got) + "-byte packet: " + why);
            return true;
        }
        bool known = false;
        for (const RrefValue& r : replies_) {
            if (r.index < 0 || r.index >= kRefCount) {
                notices_.Complain(now, "ignored a value for unknown index " + std::to_string(r.index));
                continue;
            }
            values_[r.index] = r.value;
            seen_[r.index] = true;
            known = true;
        }
        if (!known) return true;
        lastValues_ = now;
        if (!present_) {
            notices_.Say(everPresent_ ? "came back; its values are served again" : "answers; its values are served");
            present_ = everPresent_ = true;
        }
        return true;
    }

    void Subscribe(std::uint32_t now, std::int32_t frequency) {
        lastSubscribe_ = now;
        for (int i = 0; i < kRefCount; ++i) {
            const std::vector<std::uint8_t> request = RrefRequest(kRefNames[i], frequency, i);
            plat::SendDatagram(socket_, request.data(), static_cast<std::int32_t>(request.size()), target_);
        }
    }

    SimValues Values() const {
        SimValues v;
        if (!present_) return v;
        // An aircraft with fewer engines leaves the others' gauges at rest.
        const float count = values_[kEngineCount];
        const int engines = seen_[kEngineCount] && count >= 0.0f && count <= 64.0f ? static_cast<int>(count) : 2;
        const bool celsius = !seen_[kOilInCelsius] || values_[kOilInCelsius] != 0.0f;
        for (int i = 0; i < 2 && i < engines; ++i) {
            v.fuelFlowPph[i] = PoundsPerHourFromKgPerSecond(values_[kFlow0 + i]);
            v.oilPressurePsi[i] = values_[kOilPress0 + i];
            const double oil = values_[kOilTemp0 + i];
            v.oilTemperatureC[i] = celsius ? oil : CelsiusFromFahrenheit(oil);
            v.running[i] = values_[kRunning0 + i];
        }
        v.paused = values_[kPaused];
        for (int i = 0; i < 2; ++i) {
            const double capacityKg = static_cast<double>(values_[kTankShare0 + i]) * values_[kFuelCapacity];
            v.tankCapacityGal[i] = GallonsFromKg(capacityKg);
            v.tankLevel[i] = capacityKg > 0.0 ? values_[kFuel0 + i] / capacityKg : 0.0;
        }
        return v;
    }

    plat::SocketHandle socket_;
    plat::SocketAddressV4 target_;
    Notices notices_;
    std::uint8_t buffer_[kBufferSize];
    std::vector<RrefValue> replies_;
    float values_[kRefCount] = {};
    bool seen_[kRefCount] = {};
    bool present_ = false;
    bool everPresent_ = false;
    std::uint32_t lastValues_ = 0;
    std::uint32_t lastSubscribe_ = 0;
};

}  // namespace

std::unique_ptr<OffsetSource> OpenXPlaneSource(const plat::SocketAddressV4& target, const std::string& name,
                                               std::string& error) {
    const plat::SocketHandle socket = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeDatagram, plat::kProtocolUdp);
    if (socket == plat::kNoSocket) {
        error = "no UDP socket (socket error " + std::to_string(plat::LastSocketError()) + ")";
        return nullptr;
    }
    plat::SocketAddressV4 local;  // any address, an ephemeral port
    if (plat::BindSocket(socket, local) != 0) {
        error = "cannot bind a UDP socket (socket error " + std::to_string(plat::LastSocketError()) + ")";
        plat::CloseSocket(socket);
        return nullptr;
    }
    return std::make_unique<XPlaneSource>(socket, target, name);
}
