// The stand-in's own life: it ends with its parent or its lifetime, refuses bad arguments, owns one class.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "platform/process.h"
#include "tests/simlink/standin.h"

namespace {

const char* const kStandIn = KOVEX_BIN_DIR "/kovex-simulator";

plat::ChildProcess Start(std::vector<std::string> args) {
    args.insert(args.begin(), kStandIn);
    return StartTestChild(args);
}

template <typename Condition>
bool Within(std::uint32_t ms, Condition done) {
    for (const std::uint32_t start = plat::TickCount(); !done(); plat::SleepMs(1))
        if (plat::TickCount() - start > ms) return false;
    return true;
}

bool EndsWithin(plat::ChildProcess child, std::uint32_t ms) {
    return Within(ms, [child] { return !plat::ChildProcessRunning(child); });
}

// Catches: a stand-in that outlives a crashed test.
TEST(StandInLife, EndsWhenItsInputClosesOrItsLifetimeRunsOut) {
    PrivateIpcDir dir;
    const plat::ChildProcess tied = Start({"--exit-with-parent", "--lifetime", "60"});
    ASSERT_NE(tied, 0);
    // Bounds, not delays: a process that is still starting (slow under Wine on a loaded machine) only
    // then sees its input closed or starts its clock.
    EXPECT_EQ(plat::StopChildProcess(tied, 15000), 0);  // ended by itself, not killed

    const plat::ChildProcess timed = Start({"--lifetime", "0.2"});
    ASSERT_NE(timed, 0);
    EXPECT_TRUE(EndsWithin(timed, 15000));
    EXPECT_EQ(plat::StopChildProcess(timed, 0), 0);
    EXPECT_EQ(plat::IpcFindWindow("UIPCMAIN"), 0u);  // it took its window with it
}

// Catches: bad arguments accepted silently, or a missing help text.
TEST(StandInLife, ArgumentsAreChecked) {
    PrivateIpcDir dir;
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--fault", "sometimes"},
                                                                 {"--class", "NOTEPAD"},
                                                                 {"--time-scale", "-1"},
                                                                 {"--simulator-code", "70000"},
                                                                 {"--lifetime"},
                                                                 {"--what"}}) {
        const plat::ChildProcess child = Start(bad);
        ASSERT_NE(child, 0);
        EXPECT_TRUE(EndsWithin(child, 5000));
        EXPECT_EQ(plat::StopChildProcess(child, 0), 2) << bad[0];
    }
    const plat::ChildProcess help = Start({"--help"});
    EXPECT_TRUE(EndsWithin(help, 5000));
    EXPECT_EQ(plat::StopChildProcess(help, 0), 0);
}

// Catches: two simulators answering under one class.
TEST(StandInLife, OneOwnerPerClass) {
    PrivateIpcDir dir;
    StandIn first({});
    ASSERT_TRUE(first.ready());
    const plat::ChildProcess second = Start({"--lifetime", "10"});
    ASSERT_NE(second, 0);
    EXPECT_TRUE(EndsWithin(second, 5000));
    EXPECT_EQ(plat::StopChildProcess(second, 0), 1);
    EXPECT_NE(plat::IpcFindWindow("UIPCMAIN"), 0u);

    // The owner killed (its socket left behind, as after a crash), four started together: one takes
    // the class, the rest say another simulator runs, and the name leads to the one that stays.
    first.Kill();
    std::vector<plat::ChildProcess> rivals;
    for (int i = 0; i < 4; ++i) rivals.push_back(Start({"--lifetime", "30"}));
    std::vector<int> codes(rivals.size(), -1);  // -1 while it runs
    int ended = 0;
    for (const std::uint32_t start = plat::TickCount(); ended < 3 && plat::TickCount() - start < 20000;
         plat::SleepMs(5))
        for (std::size_t i = 0; i < rivals.size(); ++i)
            if (codes[i] < 0 && rivals[i] && !plat::ChildProcessRunning(rivals[i])) {
                codes[i] = plat::StopChildProcess(rivals[i], 0);
                ++ended;
            }
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 1), 3);
    // The refusals can come before the owner has made its window (slow under Wine): wait for it.
    Within(10000, [] { return plat::IpcFindWindow("UIPCMAIN") != 0; });
    EXPECT_NE(plat::IpcFindWindow("UIPCMAIN"), 0u);
    for (std::size_t i = 0; i < rivals.size(); ++i)
        if (codes[i] < 0 && rivals[i]) plat::StopChildProcess(rivals[i], 2000);
}

}  // namespace
