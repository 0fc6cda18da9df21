// The stand-in's flight model: the needles travel the dials' printed scales through a flight.
#include <gtest/gtest.h>

#include <cstring>

#include "simlink/conversions.h"
#include "tools/flightmodel/flightmodel.h"
#include "tools/flightmodel/offsetspace.h"

namespace {

FlightModel At(double seconds) {
    FlightModel m;
    FlightModelReset(m);
    FlightModelAdvance(m, seconds);
    return m;
}

// Catches: a script whose values leave the gauges' ranges or whose phases come in the wrong order.
TEST(FlightModel, PhasesStayOnTheScales) {
    const FlightModel off = At(5);
    EXPECT_FALSE(off.engine[0].running);
    EXPECT_EQ(off.engine[0].fuelFlowKgh, 0.0);
    EXPECT_DOUBLE_EQ(off.engine[0].oilTempC, kAmbientC);

    const FlightModel oneStarted = At(20);
    EXPECT_TRUE(oneStarted.engine[0].running);
    EXPECT_FALSE(oneStarted.engine[1].running);

    const FlightModel idle = At(80);
    for (const EngineModel& e : idle.engine) {
        EXPECT_TRUE(e.running);
        EXPECT_GE(e.oilPressPsi, 20.0);
        EXPECT_LE(e.oilPressPsi, 40.0);
        EXPECT_GT(e.oilTempC, kAmbientC);
        EXPECT_LT(e.fuelFlowKgh, 60.0);
    }
    EXPECT_STREQ(FlightModelPhase(At(100)), "run-up");
    const FlightModel takeOff = At(200);
    EXPECT_GT(takeOff.engine[0].fuelFlowKgh, 250.0);
    EXPECT_LE(takeOff.engine[0].fuelFlowKgh, 400.0);

    const FlightModel cruise = At(590);
    for (const EngineModel& e : cruise.engine) {
        EXPECT_GE(e.oilPressPsi, 60.0);
        EXPECT_LE(e.oilPressPsi, 85.0);
        EXPECT_GE(e.oilTempC, 100.0);
        EXPECT_LE(e.oilTempC, 120.0);
    }
    EXPECT_LT(cruise.fuelKg[0], At(0).fuelKg[0]);
}

// Catches: a pause or menu phase that goes on flying, or flags that never show.
TEST(FlightModel, PauseAndMenuFreezeTheAircraft) {
    const FlightModel early = At(601);
    const FlightModel late = At(629);
    EXPECT_TRUE(early.paused);
    EXPECT_TRUE(late.paused);
    EXPECT_EQ(early.fuelKg[0], late.fuelKg[0]);
    EXPECT_EQ(early.engine[0].oilTempC, late.engine[0].oilTempC);
    EXPECT_TRUE(At(710).inMenu);
    EXPECT_FALSE(At(710).paused);
    EXPECT_FALSE(At(800).inMenu);
}

// Catches: raw encodings that do not match what the panel's conversions read back.
TEST(FlightModel, OffsetsUseThePanelsEncodings) {
    EXPECT_NEAR(OilPressureValue(OilPressureRaw(77.0)), 77.0, 0.01);
    EXPECT_NEAR(OilTemperatureValue(OilTemperatureRaw(110.0)), 110.0, 0.03);
    EXPECT_EQ(OilPressureRaw(-5.0), 0);
    EXPECT_EQ(OilPressureRaw(1e9), 65535);
    EXPECT_EQ(OilTemperatureRaw(-1e9), -32768);

    const FlightModel m = At(590);
    static std::uint8_t space[kOffsetSpaceSize];
    WriteModelOffsets(m, space);
    double pph = 0;
    std::memcpy(&pph, space + 0x09B0, 8);
    EXPECT_NEAR(FuelFlowKgPerHour(pph), m.engine[1].fuelFlowKgh, 1e-9);
    std::uint16_t combustion = 0;
    std::memcpy(&combustion, space + 0x0894, 2);
    EXPECT_EQ(combustion, 1);
    std::int32_t capacity = 0, level = 0;
    std::memcpy(&capacity, space + 0x0B98, 4);
    std::memcpy(&level, space + 0x0B94, 4);
    EXPECT_EQ(capacity, 100);
    EXPECT_GT(level, 0);
    EXPECT_LT(level, 8388608);
}

}  // namespace
