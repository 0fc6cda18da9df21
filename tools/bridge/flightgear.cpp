// The FlightGear bridge: connect, switch to data mode, ask for every property twenty times a second,
// take the answers in order, and connect again with growing pauses when the simulator goes. Asking
// rather than subscribing: most of these properties are tied, and tied properties take no listeners.
#include "tools/bridge/flightgear.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/printable.h"
#include "platform/clock.h"
#include "tools/bridge/notices.h"
#include "tools/bridge/simvalues.h"

namespace {

constexpr std::uint32_t kRoundMs = 50;        // twenty rounds of questions a second
// A round unanswered this long: the simulator is gone. FlightGear answers once a frame, and a frame
// can take seconds while it loads scenery or draws without a graphics card.
constexpr std::uint32_t kStallMs = 10000;
constexpr std::uint32_t kConnectMs = 3000;    // a connect slower than this is given up
constexpr std::uint32_t kFirstPauseMs = 500;  // between connects, doubling up to the last
constexpr std::uint32_t kLastPauseMs = 8000;
constexpr std::uint32_t kHealthyMs = 2000;    // clean rounds for this long earn back the short pause
constexpr std::size_t kLongestLine = 512;
constexpr std::size_t kReadPerPoll = 16384;   // so a flood cannot hold up the caller's other work

enum Prop {
    kPph0, kPph1, kGph0, kGph1, kOilPress0, kOilPress1, kOilTemp0, kOilTemp1, kRunning0, kRunning1,
    kFreeze, kLevel0, kLevel1, kCapacity0, kCapacity1, kDensity0, kDensity1,
    kPropCount
};
const char* const kPaths[kPropCount] = {
    "/engines/engine[0]/fuel-flow_pph",  "/engines/engine[1]/fuel-flow_pph",
    "/engines/engine[0]/fuel-flow-gph",  "/engines/engine[1]/fuel-flow-gph",
    "/engines/engine[0]/oil-pressure-psi", "/engines/engine[1]/oil-pressure-psi",
    "/engines/engine[0]/oil-temperature-degf", "/engines/engine[1]/oil-temperature-degf",
    "/engines/engine[0]/running", "/engines/engine[1]/running",
    "/sim/freeze/master",
    "/consumables/fuel/tank[0]/level-gal_us", "/consumables/fuel/tank[1]/level-gal_us",
    "/consumables/fuel/tank[0]/capacity-gal_us", "/consumables/fuel/tank[1]/capacity-gal_us",
    "/consumables/fuel/tank[0]/density-ppg", "/consumables/fuel/tank[1]/density-ppg",
};
constexpr double kAvgasPoundsPerGallon = 6.0;  // for an aircraft that names no density either

// The number a data-mode answer holds; NaN for an empty answer (a property the aircraft lacks) or
// an error line. garbled is set for a line that is neither.
double ValueOf(std::string line, bool& garbled) {
    garbled = false;
    // A prompt left over from before data mode took hold ends with "> ".
    const std::size_t prompt = line.rfind("> ");
    if (prompt != std::string::npos) line.erase(0, prompt + 2);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return NAN;
    line = line.substr(first, line.find_last_not_of(" \t") + 1 - first);
    if (line == "true") return 1.0;
    if (line == "false") return 0.0;
    if (line.compare(0, 4, "-ERR") == 0) return NAN;
    char* end = nullptr;
    const double value = std::strtod(line.c_str(), &end);
    if (end == line.c_str() || *end != '\0') {
        garbled = true;
        return NAN;
    }
    return value;
}

double Known(double value) { return std::isfinite(value) ? value : 0.0; }

class FlightGearSource : public OffsetSource {
public:
    FlightGearSource(const plat::SocketAddressV4& target, const std::string& name)
        : target_(target), notices_("FlightGear at " + name) {
        notices_.Say("waiting for its property server (start FlightGear with: fgfs --telnet=" +
                     name.substr(name.rfind(':') + 1) + ")");
    }

    ~FlightGearSource() override { Close(); }

    void Poll(std::uint32_t now) override {
        if (state_ == State::Waiting && now - pauseFrom_ >= pauseMs_) Connect(now);
        if (state_ == State::Connecting) FinishConnect(now);
        if (state_ != State::Connected) return;
        if (!Read(now)) return;
        if (asked_ > 0 && now - roundSent_ >= kStallMs) {
            Drop(now, "stopped answering");
            return;
        }
        if (asked_ == 0 && now - roundSent_ >= kRoundMs) Ask(now);
    }

    void WriteOffsets(std::uint8_t* space) const override { WriteSimValues(values_, space); }

    std::string Describe() const override { return DescribeSimValues(values_); }

    bool Present() const override { return present_; }

private:
    enum class State { Waiting, Connecting, Connected };

    void Connect(std::uint32_t now) {
        socket_ = plat::OpenSocket(plat::kAddressFamilyInet, plat::kSocketTypeStream, plat::kProtocolTcp);
        if (socket_ == plat::kNoSocket) {
            notices_.Complain(now, "no socket (socket error " + std::to_string(plat::LastSocketError()) + ")");
            Pause(now);
            return;
        }
        const std::int32_t started = plat::StartConnect(socket_, target_);
        if (started < 0) {
            Drop(now, "cannot connect");
            return;
        }
        state_ = State::Connecting;
        connectFrom_ = now;
        if (started == 0) FinishConnect(now);
    }

    void FinishConnect(std::uint32_t now) {
        const std::int32_t ready = plat::WaitSocketWritable(socket_, 0, 0);
        if (ready == 0) {
            if (now - connectFrom_ >= kConnectMs) Drop(now, "connect timed out");
            return;
        }
        if (ready < 0 || plat::ConnectOutcome(socket_) != 0) {
            Drop(now, "connect refused");
            return;
        }
        state_ = State::Connected;
        input_.clear();
        skippingLine_ = false;
        asked_ = 0;
        healthyFrom_ = now;
        static const char kDataMode[] = "data\r\n";  // no prompts and bare values from here on
        if (!Send(now, kDataMode, sizeof kDataMode - 1)) return;
        Ask(now);
    }

    // False when the connection went.
    bool Read(std::uint32_t now) {
        std::size_t taken = 0;
        char chunk[4096];
        while (taken < kReadPerPoll) {
            const std::int32_t ready = plat::WaitSocketReadable(socket_, 0, 0);
            if (ready == 0) break;
            const std::int32_t got = ready < 0 ? -1 : plat::ReceiveBytes(socket_, chunk, sizeof chunk);
            if (got == 0) {
                Drop(now, input_.empty() ? "closed the connection" : "closed the connection in the middle of a line");
                return false;
            }
            if (got < 0) {
                if (plat::LastSocketError() == plat::kErrorWouldBlock) break;
                Drop(now, "connection lost");
                return false;
            }
            taken += static_cast<std::size_t>(got);
            if (!TakeBytes(now, chunk, static_cast<std::size_t>(got))) return false;
        }
        return true;
    }

    bool TakeBytes(std::uint32_t now, const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                const bool skipped = skippingLine_;
                skippingLine_ = false;
                if (!input_.empty() && input_.back() == '\r') input_.pop_back();
                if (!skipped && !TakeLine(now)) return false;
                input_.clear();
            } else if (!skippingLine_) {
                input_ += c;
                if (input_.size() > kLongestLine) {
                    notices_.Complain(now, "ignored a line longer than " + std::to_string(kLongestLine) + " bytes");
                    input_.clear();
                    skippingLine_ = true;
                    Answer(NAN);  // its place in the round still counts
                }
            }
        }
        return true;
    }

    bool TakeLine(std::uint32_t now) {
        if (asked_ == 0) {
            // Answers no longer line up with the questions: start afresh on a new connection.
            notices_.Complain(now, "sent a line it was not asked for: " + PrintableBytes(input_.substr(0, 60)));
            Drop(now, "out of step");
            return false;
        }
        bool garbled = false;
        const double value = ValueOf(input_, garbled);
        if (garbled) notices_.Complain(now, "ignored an answer that is no number: " + PrintableBytes(input_.substr(0, 60)));
        Answer(value);
        return true;
    }

    void Answer(double value) {
        if (asked_ == 0) return;
        round_[kPropCount - asked_] = value;
        if (--asked_ == 0) Complete();
    }

    void Complete() {
        const std::uint32_t now = plat::TickCount();
        SimValues v;
        for (int i = 0; i < 2; ++i) {
            double density = round_[kDensity0 + i];
            if (!(density > 0.0)) density = round_[kDensity0] > 0.0 ? round_[kDensity0] : kAvgasPoundsPerGallon;
            // Some aircraft give the flow in gallons alone.
            const double pph = round_[kPph0 + i];
            v.fuelFlowPph[i] = std::isfinite(pph) ? pph : Known(round_[kGph0 + i]) * density;
            v.oilPressurePsi[i] = Known(round_[kOilPress0 + i]);
            v.oilTemperatureC[i] = std::isfinite(round_[kOilTemp0 + i]) ? CelsiusFromFahrenheit(round_[kOilTemp0 + i]) : 0.0;
            v.running[i] = Known(round_[kRunning0 + i]);
            const double capacity = Known(round_[kCapacity0 + i]);
            v.tankCapacityGal[i] = capacity;
            v.tankLevel[i] = capacity > 0.0 ? Known(round_[kLevel0 + i]) / capacity : 0.0;
        }
        v.paused = Known(round_[kFreeze]);
        values_ = v;
        if (!present_) {
            notices_.Say(everPresent_ ? "came back; its values are served again" : "answers; its values are served");
            present_ = everPresent_ = true;
        }
        if (now - healthyFrom_ >= kHealthyMs) pauseMs_ = kFirstPauseMs;
    }

    void Ask(std::uint32_t now) {
        if (question_.empty())
            for (const char* path : kPaths) question_ += std::string("get ") + path + "\r\n";
        if (!Send(now, question_.data(), question_.size())) return;
        asked_ = kPropCount;
        roundSent_ = now;
    }

    // Whole or not at all: a peer that cannot take a round of questions is not reading them.
    bool Send(std::uint32_t now, const char* data, std::size_t size) {
        const std::int32_t sent = plat::SendBytes(socket_, data, static_cast<std::int32_t>(size));
        if (sent == static_cast<std::int32_t>(size)) return true;
        Drop(now, sent < 0 && plat::LastSocketError() != plat::kErrorWouldBlock ? "connection lost" : "not reading");
        return false;
    }

    void Drop(std::uint32_t now, const char* why) {
        Close();
        if (present_) {
            present_ = false;
            values_ = SimValues{};
            notices_.Say(std::string("went away (") + why + "); values read 0 until it answers again");
        }
        Pause(now);
    }

    void Pause(std::uint32_t now) {
        state_ = State::Waiting;
        pauseFrom_ = now;
        pauseMs_ = pauseMs_ == 0 ? kFirstPauseMs : std::min(pauseMs_ * 2, kLastPauseMs);
    }

    void Close() {
        if (socket_ != plat::kNoSocket) plat::CloseSocket(socket_);
        socket_ = plat::kNoSocket;
    }

    plat::SocketAddressV4 target_;
    Notices notices_;
    plat::SocketHandle socket_ = plat::kNoSocket;
    State state_ = State::Waiting;
    std::uint32_t pauseFrom_ = 0;
    std::uint32_t pauseMs_ = 0;  // 0 before the first connect: try at once
    std::uint32_t connectFrom_ = 0;
    std::uint32_t roundSent_ = 0;
    std::uint32_t healthyFrom_ = 0;
    std::string question_;
    std::string input_;
    bool skippingLine_ = false;
    int asked_ = 0;  // answers still to come in this round
    double round_[kPropCount] = {};
    SimValues values_;
    bool present_ = false;
    bool everPresent_ = false;
};

}  // namespace

std::unique_ptr<OffsetSource> OpenFlightGearSource(const plat::SocketAddressV4& target, const std::string& name,
                                                   std::string&) {
    return std::make_unique<FlightGearSource>(target, name);
}
