// The simulator stand-in killed between exchanges and during one: the client gives its codes, keeps
// its destinations, and never waits longer than its (shortened) time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "tests/simlink/linkfixture.h"

namespace {

constexpr std::uint32_t kSendTimeoutMs = 200;
// Ten attempts, each up to the send time-out, with a 1 ms sleep after each, and scheduling slack.
constexpr std::uint32_t kWorstExchangeMs = 10 * (kSendTimeoutMs + 1) + 1500;

class KilledSimulatorTest : public LinkTest {
protected:
    void Open(std::vector<std::string> args) {
        UseShortTimings(kSendTimeoutMs);
        sim_ = std::make_unique<StandIn>(std::move(args));
        ASSERT_TRUE(sim_->ready());
        SimLinkResult result = LinkNoSimulator;
        ASSERT_TRUE(SimLinkOpen(0, result)) << result;
    }
    // One read of the interface version; the exchange's code and how long it took.
    SimLinkResult Exchange(std::uint32_t& destination, std::uint32_t& tookMs) {
        SimLinkResult result = LinkOk;
        EXPECT_TRUE(SimLinkQueueRead(0x3304, 4, &destination, result));
        const std::uint32_t start = plat::TickCount();
        SimLinkProcess(result);
        tookMs = plat::TickCount() - start;
        return result;
    }
    std::unique_ptr<StandIn> sim_;
};

}  // namespace

// Catches a dead simulator taken for a live one, values made up after its death, or a link that
// closes itself (the panel would then never get a simulator back without a restart).
TEST_F(KilledSimulatorTest, KilledBetweenExchanges) {
    Open({});
    std::uint32_t version = 0;
    std::uint32_t took = 0;
    ASSERT_EQ(Exchange(version, took), LinkOk);
    EXPECT_NE(version, 0u);
    sim_->Kill();
    for (int round = 0; round < 3; ++round) {
        std::uint32_t destination = 0xA5A5A5A5;
        EXPECT_EQ(Exchange(destination, took), LinkSendFailed) << "round " << round;
        EXPECT_EQ(destination, 0xA5A5A5A5u);
        EXPECT_LT(took, kWorstExchangeMs);
        EXPECT_NE(simLinkState.areaStart, nullptr);
        EXPECT_EQ(simLinkState.cursor, simLinkState.areaStart) << "the failed exchange emptied the queue";
    }
}

// Catches an exchange that waits on a simulator that died while holding the message, or that takes
// the half-carried-out area as an answer.
TEST_F(KilledSimulatorTest, KilledDuringAnExchange) {
    // Every exchange after the open is answered only after 1.5 s, far past the send time-out.
    Open({"--fault", "late", "--late-ms", "1500", "--fault-after", "1"});
    std::uint32_t destination = 0xA5A5A5A5;
    std::thread killer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sim_->Kill();
    });
    std::uint32_t took = 0;
    const SimLinkResult result = Exchange(destination, took);
    killer.join();
    EXPECT_TRUE(result == LinkSendFailed || result == LinkNoAnswer) << result;
    EXPECT_EQ(destination, 0xA5A5A5A5u);
    EXPECT_LT(took, kWorstExchangeMs);
    EXPECT_NE(simLinkState.areaStart, nullptr);
    // The link goes on failing quickly, and a new stand-in can be reached by a fresh open.
    EXPECT_EQ(Exchange(destination, took), LinkSendFailed);
    EXPECT_LT(took, kWorstExchangeMs);
    SimLinkClose();
    sim_ = std::make_unique<StandIn>(std::vector<std::string>{});
    ASSERT_TRUE(sim_->ready());
    SimLinkResult reopened = LinkNoSimulator;
    EXPECT_TRUE(SimLinkOpen(0, reopened)) << reopened;
    EXPECT_EQ(Exchange(destination, took), LinkOk);
    EXPECT_NE(destination, 0xA5A5A5A5u);
}
