// Fuel-used counting with a tick source of the test's own, and the read-out texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "simlink/panelreading.h"
#include "simlink/panelvariables.h"

namespace {

// Runs frames `spacingMs` apart for `seconds` at a constant flow, starting from a fresh timer.
double BurnFor(double seconds, std::uint32_t spacingMs, double kgPerHour, std::uint32_t start = 1000) {
    panelValues.fuelUsed1 = 0.0;
    fuelTimerStart = start;
    FlightSample sample{};
    const auto frames = static_cast<std::uint32_t>(seconds * 1000.0 / spacingMs);
    for (std::uint32_t i = 1; i <= frames; ++i) StepFuelUsed(start + i * spacingMs, kgPerHour, 0.0, sample, false);
    return panelValues.fuelUsed1;
}

}  // namespace

// Catches totals that run fast at high frame rates or slow at low ones.
TEST(FuelUsed, CountsTheTimeThatPassedAtAnyFrameSpacing) {
    for (std::uint32_t spacing : {1u, 5u, 16u, 100u, 300u, 3000u}) {
        const double total = BurnFor(600.0, spacing, 360.0);
        EXPECT_NEAR(total, 60.0, 0.6) << "frames " << spacing << " ms apart";
    }
}

TEST(FuelUsed, StepsOnlyPastTheCadenceAndAcrossTheTickWrap) {
    FlightSample sample{};
    panelValues.fuelUsed1 = 0.0;
    fuelTimerStart = 10000;
    StepFuelUsed(10950, 360.0, 0.0, sample, false);
    EXPECT_EQ(panelValues.fuelUsed1, 0.0) << "950 ms is not enough";
    EXPECT_EQ(fuelTimerStart, 10000u);
    StepFuelUsed(10951, 360.0, 0.0, sample, false);
    EXPECT_NEAR(panelValues.fuelUsed1, 0.0951, 1e-9);
    EXPECT_EQ(fuelTimerStart, 10951u);

    panelValues.fuelUsed1 = 0.0;
    fuelTimerStart = 0xFFFFFF00u;
    StepFuelUsed(0x00000300u, 360.0, 0.0, sample, false);
    EXPECT_NEAR(fuelTimerElapsed, 1.024, 1e-12);
    EXPECT_NEAR(panelValues.fuelUsed1, 0.1024, 1e-9);
}

// Catches paused or menu time being counted once the simulator runs again.
TEST(FuelUsed, PauseAndMenuAddNothingAndAreNotCountedAfterwards) {
    FlightSample sample{};
    panelValues.fuelUsed1 = 0.0;
    fuelTimerStart = 0;
    sample.paused = 1;
    for (std::uint32_t t = 100; t <= 60000; t += 100) StepFuelUsed(t, 360.0, 0.0, sample, false);
    sample.paused = 0;
    sample.inMenu = 1;
    for (std::uint32_t t = 60100; t <= 90000; t += 100) StepFuelUsed(t, 360.0, 0.0, sample, false);
    EXPECT_EQ(panelValues.fuelUsed1, 0.0);
    sample.inMenu = 0;
    StepFuelUsed(90500, 360.0, 0.0, sample, false);
    StepFuelUsed(91000, 360.0, 0.0, sample, false);
    EXPECT_NEAR(panelValues.fuelUsed1, 0.1, 1e-9);
}

// Catches the roads' difference being lost: the network road counts running engines only.
TEST(FuelUsed, NetworkRoadCountsOnlyRunningEnginesFsuipcRoadCountsBoth) {
    FlightSample sample{};
    sample.combustion1 = 1;
    sample.combustion2 = 0;
    panelValues.fuelUsed1 = panelValues.fuelUsed2 = 0.0;
    fuelTimerStart = 0;
    StepFuelUsed(1000, 360.0, 360.0, sample, true);
    EXPECT_NEAR(panelValues.fuelUsed1, 0.1, 1e-9);
    EXPECT_EQ(panelValues.fuelUsed2, 0.0);
    StepFuelUsed(2000, 360.0, 360.0, sample, false);
    EXPECT_NEAR(panelValues.fuelUsed2, 0.1, 1e-9);
}

// Catches garbage from the simulator poisoning the totals for the rest of the flight.
TEST(FuelUsed, FlowThatIsNotAFiniteAmountAddsNothing) {
    FlightSample sample{};
    for (double flow : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -500.0}) {
        panelValues.fuelUsed1 = 3.0;
        fuelTimerStart = 0;
        StepFuelUsed(2000, flow, 0.0, sample, false);
        EXPECT_EQ(panelValues.fuelUsed1, 3.0) << flow;
    }
}

// Catches rounding instead of truncation, wrong padding, and overflow of large totals.
TEST(FuelUsedText, TruncatesPadsToFourDigitsAndNeverOverflows) {
    EXPECT_EQ(FuelUsedText(0.0), "0000");
    EXPECT_EQ(FuelUsedText(9.99), "0009");
    EXPECT_EQ(FuelUsedText(10.0), "0010");
    EXPECT_EQ(FuelUsedText(999.5), "0999");
    EXPECT_EQ(FuelUsedText(1000.0), "1000");
    EXPECT_EQ(FuelUsedText(12345.6), "12345");
    EXPECT_EQ(FuelUsedText(1e20), "100000000000000000000");
    EXPECT_EQ(FuelUsedText(std::numeric_limits<double>::max()).size(), 309u);
}
