// The panel's read steps through the FSUIPC client against the stand-in, end to end.
#include <gtest/gtest.h>

#include <cstring>

#include "simlink/conversions.h"
#include "simlink/panelvariables.h"
#include "tests/simlink/linkfixture.h"
#include "tools/flightmodel/flightmodel.h"
#include "tools/flightmodel/offsetspace.h"

namespace {

// The stand-in's memory as the model fills it at a given time; the stand-in holds that time still.
std::uint8_t expected[kOffsetSpaceSize];
void ExpectModelAt(double seconds) {
    FlightModel m;
    FlightModelReset(m);
    FlightModelAdvance(m, seconds);
    std::memset(expected, 0, sizeof expected);
    WriteModelOffsets(m, expected);
}
template <typename T>
T Expected(std::uint32_t offset) {
    T v;
    std::memcpy(&v, expected + offset, sizeof v);
    return v;
}

using ReadStepTest = LinkTest;

// Catches: a read landing in the wrong field, with the wrong width or signedness, or angles not
// following the sample.
TEST_F(ReadStepTest, CruiseValuesReachSampleAndNeedles) {
    StandIn sim({"--start-at", "590", "--time-scale", "0"});
    ASSERT_TRUE(sim.ready());
    SimLinkResult result = LinkOk;
    ASSERT_TRUE(SimLinkOpen(0, result));
    ExpectModelAt(590);

    mainTankLeftContents = mainTankRightContents = -1;
    ReadStartupTanksFsuipc();
    EXPECT_EQ(mainTankLeftContents, TankContents(Expected<std::int32_t>(0x0B80), Expected<std::int32_t>(0x0B7C)));
    EXPECT_EQ(mainTankRightContents, TankContents(Expected<std::int32_t>(0x0B98), Expected<std::int32_t>(0x0B94)));
    EXPECT_GT(mainTankLeftContents, 0);

    FlightSample s;
    std::memset(&s, 0x5A, sizeof s);  // the step zeroes it first
    ReadFlightSampleFsuipc(s);
    EXPECT_EQ(s.fuelFlowPph1, Expected<double>(0x0918));
    EXPECT_EQ(s.fuelFlowPph2, Expected<double>(0x09B0));
    EXPECT_EQ(s.oilTempRaw1, Expected<std::int16_t>(0x08B8));
    EXPECT_EQ(s.oilTempRaw2, Expected<std::int16_t>(0x0950));
    EXPECT_EQ(s.oilPressRaw1, Expected<std::uint16_t>(0x08BA));
    EXPECT_EQ(s.oilPressRaw2, Expected<std::uint16_t>(0x0952));
    EXPECT_EQ(s.combustion1, 1);
    EXPECT_EQ(s.combustion2, 1);
    EXPECT_EQ(s.paused, 0);
    EXPECT_EQ(s.inMenu, 0);
    EXPECT_GT(s.fuelFlowPph1, 0.0);

    const FuelFlowKg k = ApplySampleToPanel(s);
    EXPECT_DOUBLE_EQ(k.engine1, FuelFlowKgPerHour(s.fuelFlowPph1));
    EXPECT_EQ(panelValues.fuelFlowAngle2, FuelFlowAngle(FuelFlowKgPerHour(s.fuelFlowPph2)));
    EXPECT_EQ(panelValues.oilPressAngle1, OilPressureAngle(OilPressureValue(s.oilPressRaw1)));
    EXPECT_EQ(panelValues.oilTempAngle2, OilTemperatureAngle(OilTemperatureValue(s.oilTempRaw2)));
    // Cruise sits well up both oil scales.
    EXPECT_GT(OilPressureValue(s.oilPressRaw1), 60.0);
    EXPECT_GT(OilTemperatureValue(s.oilTempRaw1), 100.0);
}

// Catches: the pause and menu flags read with the wrong width or at the wrong offset.
TEST_F(ReadStepTest, PauseAndMenuFlags) {
    SimLinkResult result = LinkOk;
    FlightSample s;
    {
        StandIn sim({"--start-at", "610", "--time-scale", "0"});
        ASSERT_TRUE(sim.ready());
        ASSERT_TRUE(SimLinkOpen(0, result));
        ReadFlightSampleFsuipc(s);
        EXPECT_EQ(s.paused, 1);
        EXPECT_EQ(s.inMenu, 0);
        SimLinkClose();
    }
    StandIn sim({"--start-at", "710", "--time-scale", "0"});
    ASSERT_TRUE(sim.ready());
    ASSERT_TRUE(SimLinkOpen(0, result));
    ReadFlightSampleFsuipc(s);
    EXPECT_EQ(s.paused, 0);
    EXPECT_EQ(s.inMenu, 1);
}

// Catches: a failed link leaving stale values instead of the zero picture.
TEST_F(ReadStepTest, NoLinkGivesTheZeroPicture) {
    FlightSample s;
    std::memset(&s, 0x5A, sizeof s);
    ReadFlightSampleFsuipc(s);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&s);
    for (std::size_t i = 0; i < sizeof s; ++i) ASSERT_EQ(bytes[i], 0) << i;
    ApplySampleToPanel(s);
    EXPECT_FLOAT_EQ(panelValues.fuelFlowAngle1, 310.0f);
    EXPECT_FLOAT_EQ(panelValues.oilPressAngle2, 306.0f);
    EXPECT_FLOAT_EQ(panelValues.oilTempAngle1, 240.0f);
    mainTankLeftContents = 5;
    ReadStartupTanksFsuipc();
    EXPECT_EQ(mainTankLeftContents, 0);
}

}  // namespace
