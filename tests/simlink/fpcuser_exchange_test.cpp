// Queueing and processing requests over the real transport, in the stand-in's fault modes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/simlink/linkfixture.h"

namespace {

constexpr std::uint32_t kUsable = 32512;

std::uint32_t UsedBytes() { return static_cast<std::uint32_t>(simLinkState.cursor - simLinkState.areaStart); }

// Catches: queueing or sending on a closed link, or destinations touched by it.
TEST_F(LinkTest, ClosedLinkGivesCode9AndTouchesNothing) {
    SimLinkUseTransport(TestTransport());
    SimLinkResult result = LinkOk;
    std::uint32_t destination = 0xA5A5A5A5;
    EXPECT_FALSE(SimLinkQueueRead(0x3304, 4, &destination, result));
    EXPECT_EQ(result, LinkNotOpen);
    result = LinkOk;
    EXPECT_FALSE(SimLinkQueueWrite(0x4000, 4, &destination, result));
    EXPECT_EQ(result, LinkNotOpen);
    result = LinkOk;
    EXPECT_FALSE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkNotOpen);
    EXPECT_EQ(destination, 0xA5A5A5A5u);
    EXPECT_EQ(transportLog.sends, 0);
}

class OpenLinkTest : public LinkTest {
protected:
    void Open(std::vector<std::string> args) {
        sim_ = std::make_unique<StandIn>(std::move(args));
        ASSERT_TRUE(sim_->ready());
        SimLinkResult result = LinkNoSimulator;
        ASSERT_TRUE(SimLinkOpen(0, result));
        SimLinkUseTransport(TestTransport());
    }
    std::unique_ptr<StandIn> sim_;
};

// Catches: an empty exchange sent to the simulator.
TEST_F(OpenLinkTest, EmptyQueueGivesCode10AndSendsNothing) {
    Open({});
    SimLinkResult result = LinkOk;
    EXPECT_FALSE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkNothingQueued);
    EXPECT_EQ(transportLog.sends, 0);
}

// Catches: records carried out out of order, writes lost, or the tag breaking the version word.
TEST_F(OpenLinkTest, WritesAndReadsRunInQueueOrder) {
    Open({});
    SimLinkResult result = LinkNoSimulator;
    const std::uint8_t pattern[6] = {1, 2, 3, 4, 5, 6};
    std::uint8_t back[6] = {};
    std::uint32_t word = 0;
    const std::uint16_t tag = 0x1234;
    ASSERT_TRUE(SimLinkQueueWrite(0x4000, 6, pattern, result));
    ASSERT_TRUE(SimLinkQueueRead(0x4000, 6, back, result));
    ASSERT_TRUE(SimLinkQueueWrite(0x330A, 2, &tag, result));
    ASSERT_TRUE(SimLinkQueueRead(0x3308, 4, &word, result));
    ASSERT_TRUE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkOk);
    EXPECT_EQ(std::memcmp(back, pattern, 6), 0);
    EXPECT_EQ(word, 0xFADE0007u);
    EXPECT_EQ(simLinkState.cursor, simLinkState.areaStart);
}

// Catches: zero-byte reads or reads without destination that copy, crash or misplace later records.
TEST_F(OpenLinkTest, ZeroByteReadAndReadWithoutDestination) {
    Open({});
    SimLinkResult result = LinkNoSimulator;
    std::uint32_t untouched = 0xA5A5A5A5;
    std::uint32_t version = 0;
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 0, &untouched, result));
    EXPECT_EQ(UsedBytes(), 16u);
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, nullptr, result));
    EXPECT_EQ(UsedBytes(), 36u);
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &version, result));
    ASSERT_TRUE(SimLinkProcess(result));
    EXPECT_EQ(untouched, 0xA5A5A5A5u);
    EXPECT_EQ(version, 0x40030000u);
    ASSERT_EQ(transportLog.sentAreas.size(), 1u);
    const auto& area = transportLog.sentAreas[0];
    EXPECT_EQ(Le32(area, 12), 1u);  // index of the first record
    EXPECT_EQ(Le32(area, 28), 0u);  // no destination
    EXPECT_EQ(Le32(area, 32), 0u);  // its zero-filled slot
    EXPECT_EQ(Le32(area, 48), 3u);
    EXPECT_EQ(Le32(area, 56), 0u);  // end marker
}

// Catches: an off-by-one in the room test, a huge count slipping through, or a refused record
// changing the queue.
TEST_F(OpenLinkTest, RoomLimitAt32512Bytes) {
    Open({});
    SimLinkResult result = LinkOk;
    std::vector<std::uint8_t> big(kUsable, 0xEE);
    EXPECT_FALSE(SimLinkQueueRead(0x3300, kUsable - 20 + 1, big.data(), result));
    EXPECT_EQ(result, LinkAreaFull);
    EXPECT_EQ(UsedBytes(), 0u);
    for (std::uint32_t huge : {kUsable + 1, 0xFFFFFFFFu, 0xFFFFFFF0u}) {
        EXPECT_FALSE(SimLinkQueueRead(0x3300, huge, big.data(), result));
        EXPECT_FALSE(SimLinkQueueWrite(0x3300, huge, big.data(), result));
        EXPECT_EQ(result, LinkAreaFull);
    }
    ASSERT_TRUE(SimLinkQueueRead(0x3300, kUsable - 20, big.data(), result));  // exactly full
    EXPECT_EQ(UsedBytes(), kUsable - 4);
    EXPECT_FALSE(SimLinkQueueRead(0x3304, 0, nullptr, result));
    EXPECT_EQ(result, LinkAreaFull);
    EXPECT_EQ(UsedBytes(), kUsable - 4);
    ASSERT_TRUE(SimLinkProcess(result));
    EXPECT_EQ(Le32(big, 4), 0x40030000u);  // 0x3304 sits four bytes in
    EXPECT_EQ(big[kUsable - 20 - 1], 0);    // far past the offset space reads as zero
    EXPECT_EQ(big[kUsable - 20], 0xEE);     // nothing beyond its count

    std::vector<std::uint8_t> source(kUsable, 0x11);
    EXPECT_FALSE(SimLinkQueueWrite(0x5000, kUsable - 16 + 1, source.data(), result));
    EXPECT_EQ(UsedBytes(), 0u);
    ASSERT_TRUE(SimLinkQueueWrite(0x5000, kUsable - 16, source.data(), result));
    EXPECT_EQ(UsedBytes(), kUsable - 4);
    ASSERT_TRUE(SimLinkProcess(result));
}

// Catches: the client's own record list overflowing before the area does.
TEST_F(OpenLinkTest, AreaFullOfSmallestRecords) {
    Open({});
    SimLinkResult result = LinkOk;
    std::uint32_t reads = 0;
    while (SimLinkQueueRead(0x3304, 0, nullptr, result)) ++reads;
    EXPECT_EQ(result, LinkAreaFull);
    EXPECT_EQ(reads, (kUsable - 4) / 16);
    ASSERT_TRUE(SimLinkProcess(result));
    std::uint32_t writes = 0;
    std::uint8_t byte = 0;
    while (SimLinkQueueWrite(0x6000, 0, &byte, result)) ++writes;
    EXPECT_EQ(result, LinkAreaFull);
    EXPECT_EQ(writes, (kUsable - 4) / 12);
    ASSERT_TRUE(SimLinkProcess(result));
}

// Catches: a refused exchange reported as success, the queue kept, or the link closed.
TEST_F(OpenLinkTest, AnswerZeroGivesCode13AndLinkStaysOpen) {
    Open({"--fault", "answer-zero", "--fault-after", "1"});
    for (int round = 0; round < 2; ++round) {
        SimLinkResult result = LinkOk;
        std::uint32_t destination = 0xA5A5A5A5;
        ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &destination, result));
        EXPECT_FALSE(SimLinkProcess(result));
        EXPECT_EQ(result, LinkRejected);
        EXPECT_EQ(destination, 0xA5A5A5A5u);
        EXPECT_NE(simLinkState.areaStart, nullptr);
        EXPECT_EQ(simLinkState.cursor, simLinkState.areaStart);
    }
}

// Catches: a send that waits forever, too few or too many attempts, or the wrong code.
TEST_F(OpenLinkTest, SilentSimulatorGivesCode11AfterTenAttempts) {
    Open({"--fault", "never-answer", "--fault-after", "1"});
    UseShortTimings(40);
    SimLinkResult result = LinkOk;
    std::uint32_t destination = 0xA5A5A5A5;
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &destination, result));
    EXPECT_FALSE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkNoAnswer);
    EXPECT_EQ(transportLog.sends, 10);
    EXPECT_EQ(destination, 0xA5A5A5A5u);
    EXPECT_NE(simLinkState.areaStart, nullptr);
    EXPECT_EQ(simLinkState.cursor, simLinkState.areaStart);
}

// Catches: a time-out that is not honoured either way: a late answer is waited for while inside
// the time-out and given up on when beyond it.
TEST_F(OpenLinkTest, LateAnswerWithinAndBeyondTheTimeout) {
    Open({"--fault", "late", "--fault-after", "1", "--late-ms", "60"});
    SimLinkResult result = LinkOk;
    std::uint32_t version = 0;
    UseShortTimings(2000);
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &version, result));
    EXPECT_TRUE(SimLinkProcess(result));
    EXPECT_EQ(version, 0x40030000u);
    EXPECT_EQ(transportLog.sends, 1);

    UseShortTimings(20);
    version = 0;
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &version, result));
    EXPECT_FALSE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkNoAnswer);
    EXPECT_EQ(version, 0u);
}

// Catches: a vanished simulator not reported as a send failure, or the link closed or reopened.
TEST_F(OpenLinkTest, VanishedSimulatorGivesCode12AndLinkStaysOpen) {
    Open({});
    sim_->Kill();
    SimLinkResult result = LinkOk;
    std::uint32_t destination = 0xA5A5A5A5;
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &destination, result));
    EXPECT_FALSE(SimLinkProcess(result));
    EXPECT_EQ(result, LinkSendFailed);
    EXPECT_EQ(transportLog.sends, 10);
    EXPECT_EQ(destination, 0xA5A5A5A5u);
    EXPECT_NE(simLinkState.areaStart, nullptr);
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkAlreadyOpen);
}

// Catches: a client that believes sizes or destinations written back by the other process.
// (Run under AddressSanitizer in the sanitizer build: any write outside the fields is reported.)
TEST_F(OpenLinkTest, RewrittenHeadersAreRejectedAndNothingIsCopied) {
    Open({"--fault", "hostile", "--fault-after", "1"});
    struct Guarded {
        std::uint8_t before[32];
        std::uint8_t fields[10][8];
        std::uint8_t after[32];
    };
    for (int round = 0; round < 12; ++round) {
        Guarded g;
        std::memset(&g, 0xAB, sizeof g);
        SimLinkResult result = LinkOk;
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(SimLinkQueueRead(0x3304 + 4 * (i % 2), i < 2 ? 8 : 2, g.fields[i], result));
        EXPECT_FALSE(SimLinkProcess(result)) << "round " << round;
        EXPECT_EQ(result, LinkRejected);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&g);
        for (std::size_t i = 0; i < sizeof g; ++i) ASSERT_EQ(bytes[i], 0xAB) << "round " << round << " byte " << i;
        EXPECT_NE(simLinkState.areaStart, nullptr);
    }
}

}  // namespace
