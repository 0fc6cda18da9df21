// Opening and closing the FSUIPC link against the stand-in in its fault modes.
#include <gtest/gtest.h>

#include "tests/simlink/linkfixture.h"

namespace {

// Catches: a wrong version exchange (record layout, client tag, attempts) or a wrong success state.
TEST_F(LinkTest, OpenExchangesVersionsAndTagsOnce) {
    StandIn sim({"--interface-version", "0x19980005", "--simulator-code", "7"});
    ASSERT_TRUE(sim.ready());
    SimLinkUseTransport(TestTransport());
    SimLinkResult result = LinkNoSimulator;
    ASSERT_TRUE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkOk);
    EXPECT_EQ(simLinkState.InterfaceVersion, 0x19980005u);  // the lowest version that passes
    EXPECT_EQ(simLinkState.SimulatorVersion, 7u);           // only the simulator code remains
    EXPECT_NE(simLinkState.areaStart, nullptr);
    EXPECT_EQ(simLinkState.cursor, simLinkState.areaStart);

    // One exchange sufficed: two reads and the client tag, in this layout.
    ASSERT_EQ(transportLog.sends, 1);
    const auto& area = transportLog.sentAreas[0];
    EXPECT_EQ(Le32(area, 0), 1u);
    EXPECT_EQ(Le32(area, 4), 0x3304u);
    EXPECT_EQ(Le32(area, 8), 4u);
    EXPECT_EQ(Le32(area, 12), 1u);  // destination field: the record's 1-based index
    EXPECT_EQ(Le32(area, 16), 0u);  // zeroed data slot
    EXPECT_EQ(Le32(area, 20), 1u);
    EXPECT_EQ(Le32(area, 24), 0x3308u);
    EXPECT_EQ(Le32(area, 28), 4u);
    EXPECT_EQ(Le32(area, 32), 2u);
    EXPECT_EQ(Le32(area, 40), 2u);
    EXPECT_EQ(Le32(area, 44), 0x330Au);
    EXPECT_EQ(Le32(area, 48), 2u);
    EXPECT_EQ(area[52], 0xEC);
    EXPECT_EQ(area[53], 0x03);
    EXPECT_EQ(Le32(area, 54), 0u);  // end marker
    EXPECT_EQ(simLinkState.ClientTag, 1004u);

    // The tag written at 0x330A does not spoil 0xFADE for the next client.
    SimLinkClose();
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    ASSERT_TRUE(SimLinkOpen(0, result));
    EXPECT_EQ(simLinkState.SimulatorVersion, 7u);
}

// Catches: an open that does not refuse a second open or disturbs the open link.
TEST_F(LinkTest, SecondOpenWhileOpenIsRefusedAndLinkKeepsServing) {
    StandIn sim({});
    ASSERT_TRUE(sim.ready());
    SimLinkResult result = LinkOk;
    ASSERT_TRUE(SimLinkOpen(0, result));
    std::uint8_t* area = simLinkState.areaStart;
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkAlreadyOpen);
    EXPECT_EQ(simLinkState.areaStart, area);
    std::uint32_t version = 0;
    ASSERT_TRUE(SimLinkQueueRead(0x3304, 4, &version, result));
    ASSERT_TRUE(SimLinkProcess(result));
    EXPECT_EQ(version, 0x40030000u);
}

// Catches: a missing simulator not reported, or resources held after it.
TEST_F(LinkTest, NoSimulatorGivesCode2) {
    SimLinkUseTransport(TestTransport());
    SimLinkResult result = LinkOk;
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoSimulator);
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    EXPECT_EQ(transportLog.addAtoms, 0);
    EXPECT_EQ(transportLog.createMappings, 0);
}

// Catches: a stale socket of a dead simulator taken for a live window.
TEST_F(LinkTest, DeadSimulatorsSocketIsNoWindow) {
    {
        StandIn sim({});
        ASSERT_TRUE(sim.ready());
        sim.Kill();
    }
    SimLinkResult result = LinkOk;
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoSimulator);
}

// Catches: an existing mapping of the computed name silently shared instead of refused.
TEST_F(LinkTest, ExistingMappingOfTheNameGivesCode5) {
    StandIn sim({});
    ASSERT_TRUE(sim.ready());
    const std::string name = SimLinkAreaName();
    EXPECT_EQ(name, "FsasmLib:IPC:" + [] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(plat::CurrentProcessId()));
        return std::string(hex);
    }() + ":1");
    bool exists = false;
    const plat::IpcMapping squatter = plat::IpcCreateMapping(name.c_str(), 4096, &exists);
    ASSERT_NE(squatter, 0u);
    SimLinkUseTransport(TestTransport());
    SimLinkResult result = LinkOk;
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoMapping);
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    EXPECT_EQ(transportLog.addAtoms, transportLog.deleteAtoms);  // the atom went back
    plat::IpcCloseMapping(squatter);
    EXPECT_TRUE(SimLinkOpen(0, result));
}

// Catches: a wrong version test, or the wrong code for the class under which the window was found.
TEST_F(LinkTest, BadVersionGivesCode7UnderUipcmainAnd14UnderFs98main) {
    SimLinkResult result = LinkOk;
    {
        StandIn sim({"--bad-version"});
        ASSERT_TRUE(sim.ready());
        EXPECT_FALSE(SimLinkOpen(0, result));
        EXPECT_EQ(result, LinkBadVersion);
        EXPECT_EQ(simLinkState.InterfaceVersion, 0x19980004u);
        EXPECT_EQ(simLinkState.areaStart, nullptr);
    }
    {
        StandIn sim({"--bad-version"}, "FS98MAIN");
        ASSERT_TRUE(sim.ready());
        EXPECT_FALSE(SimLinkOpen(0, result));
        EXPECT_EQ(result, LinkBadVersionFallback);
        EXPECT_EQ(simLinkState.areaStart, nullptr);
    }
    {
        StandIn sim({}, "FS98MAIN");  // a good version under the fallback class is fine
        ASSERT_TRUE(sim.ready());
        EXPECT_TRUE(SimLinkOpen(0, result));
    }
}

// Catches: more or fewer than five version attempts, or the tag written again after the first.
TEST_F(LinkTest, VersionWordsStayingZeroCostFiveAttempts) {
    for (const char* cls : {"UIPCMAIN", "FS98MAIN"}) {
        StandIn sim({"--fault", "zero-versions"}, cls);
        ASSERT_TRUE(sim.ready());
        SimLinkUseTransport(TestTransport());
        SimLinkResult result = LinkOk;
        EXPECT_FALSE(SimLinkOpen(0, result));
        EXPECT_EQ(result, std::string(cls) == "UIPCMAIN" ? LinkBadVersion : LinkBadVersionFallback);
        EXPECT_EQ(simLinkState.areaStart, nullptr);
        ASSERT_EQ(transportLog.sends, 5);
        EXPECT_EQ(Le32(transportLog.sentAreas[0], 40), 2u);  // the first carries the tag
        for (int i = 1; i < 5; ++i) {
            EXPECT_EQ(Le32(transportLog.sentAreas[i], 40), 0u) << "attempt " << i;  // end marker after two reads
        }
        EXPECT_EQ(transportLog.mapViews, transportLog.unmapViews);
        EXPECT_EQ(transportLog.createMappings, transportLog.closeMappings);
    }
}

// Catches: the required simulator code ignored, or enforced when 0.
TEST_F(LinkTest, RequiredSimulatorCode) {
    StandIn sim({"--simulator-code", "9"});
    ASSERT_TRUE(sim.ready());
    SimLinkResult result = LinkOk;
    EXPECT_FALSE(SimLinkOpen(7, result));
    EXPECT_EQ(result, LinkWrongSimulator);
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    EXPECT_TRUE(SimLinkOpen(9, result));
    SimLinkClose();
    EXPECT_TRUE(SimLinkOpen(0, result));
    EXPECT_EQ(simLinkState.SimulatorVersion, 9u);
}

// Catches: a close that releases twice or leaves state behind.
TEST_F(LinkTest, CloseTwiceAndOnNeverOpenedLink) {
    SimLinkClose();
    SimLinkClose();
    StandIn sim({});
    ASSERT_TRUE(sim.ready());
    SimLinkUseTransport(TestTransport());
    SimLinkResult result = LinkOk;
    ASSERT_TRUE(SimLinkOpen(0, result));
    SimLinkClose();
    SimLinkClose();
    EXPECT_EQ(transportLog.deleteAtoms, 1);
    EXPECT_EQ(transportLog.unmapViews, 1);
    EXPECT_EQ(transportLog.closeMappings, 1);
    EXPECT_EQ(simLinkState.areaStart, nullptr);
    EXPECT_EQ(simLinkState.cursor, nullptr);
    EXPECT_EQ(simLinkState.atom, 0);
    EXPECT_EQ(simLinkState.mapping, 0u);
    EXPECT_EQ(simLinkState.window, 0u);
    EXPECT_EQ(simLinkState.InterfaceVersion, 0x40030000u);  // the version words are kept
    EXPECT_TRUE(SimLinkOpen(0, result));                     // and the name is free again
}

// Catches: failures of the platform's own calls not mapped to their codes or leaking what was got.
TEST_F(LinkTest, PlatformFailuresGiveCodes3To6) {
    StandIn sim({});
    ASSERT_TRUE(sim.ready());
    SimLinkResult result = LinkOk;

    SimLinkUseTransport(TestTransport(FailingCall::RegisterMessage));
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoMessage);
    EXPECT_EQ(transportLog.addAtoms, 0);

    SimLinkUseTransport(TestTransport(FailingCall::AddAtom));
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoAtom);
    EXPECT_EQ(transportLog.createMappings, 0);

    SimLinkUseTransport(TestTransport(FailingCall::MapView));
    EXPECT_FALSE(SimLinkOpen(0, result));
    EXPECT_EQ(result, LinkNoView);
    EXPECT_EQ(transportLog.deleteAtoms, transportLog.addAtoms);
    EXPECT_EQ(transportLog.closeMappings, 1);
    EXPECT_EQ(simLinkState.areaStart, nullptr);

    SimLinkUseTransport(nullptr);  // nothing was left behind: the real open succeeds
    EXPECT_TRUE(SimLinkOpen(0, result));
}

}  // namespace
