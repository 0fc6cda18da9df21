// Raw simulator values to gauge values and needle angles, and the network road's integer fields.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "simlink/conversions.h"
#include "simlink/panelvariables.h"

namespace {

// Catches: unsigned pressure words read as signed, or a wrong scale or break at 40.
TEST(Conversions, OilPressure) {
    EXPECT_NEAR(OilPressureValue(16384), 26.241045, 1e-6);
    EXPECT_NEAR(OilPressureAngle(OilPressureValue(16384)), 320.4326, 1e-3);
    EXPECT_NEAR(OilPressureValue(32768), 52.482090, 1e-6);
    EXPECT_NEAR(OilPressureAngle(OilPressureValue(32768)), 354.8401, 1e-3);
    EXPECT_NEAR(OilPressureValue(0xFFFF), 104.962579, 1e-6);  // 65535, not -1
    EXPECT_NEAR(OilPressureAngle(OilPressureValue(0xFFFF)), 457.1770, 1e-3);  // not reduced or clamped
    EXPECT_FLOAT_EQ(OilPressureAngle(40.0), 330.5f);  // the upper line from 40 on
    EXPECT_FLOAT_EQ(OilPressureAngle(39.0), 327.45f);
}

// Catches: temperature words read as unsigned, or the |t| test done on t.
TEST(Conversions, OilTemperature) {
    EXPECT_NEAR(OilTemperatureValue(static_cast<std::int16_t>(0xFFFF)), -0.021237, 1e-6);
    EXPECT_NEAR(OilTemperatureAngle(OilTemperatureValue(-1)), 240.0117, 1e-3);
    EXPECT_NEAR(OilTemperatureValue(4681), 99.408326, 1e-6);
    EXPECT_NEAR(OilTemperatureAngle(OilTemperatureValue(4681)), 154.6360, 1e-3);
    EXPECT_FLOAT_EQ(OilTemperatureAngle(-40.0), 304.5f);
}

// Catches: a wrong pound factor or needle slope, or a wrong per-second share.
TEST(Conversions, FuelFlow) {
    EXPECT_FLOAT_EQ(FuelFlowAngle(350.0), 451.0f);
    EXPECT_FLOAT_EQ(FuelFlowAngle(0.0), 310.0f);
    EXPECT_NEAR(FuelFlowAngle(FuelFlowKgPerHour(771.6049)), 451.0, 1e-3);
    EXPECT_DOUBLE_EQ(FuelPerSecond(360.0), 0.1);
}

// Catches: fields of one engine feeding the other's needles, or a missing conversion.
TEST(Conversions, SampleToPanel) {
    FlightSample zero{};
    panelValues = PanelValues{};
    const FuelFlowKg k0 = ApplySampleToPanel(zero);
    EXPECT_EQ(k0.engine1, 0.0);
    EXPECT_EQ(k0.engine2, 0.0);
    for (float a : {panelValues.fuelFlowAngle1, panelValues.fuelFlowAngle2}) EXPECT_FLOAT_EQ(a, 310.0f);
    for (float a : {panelValues.oilPressAngle1, panelValues.oilPressAngle2}) EXPECT_FLOAT_EQ(a, 306.0f);
    for (float a : {panelValues.oilTempAngle1, panelValues.oilTempAngle2}) EXPECT_FLOAT_EQ(a, 240.0f);

    FlightSample s{};
    s.fuelFlowPph1 = 771.6049;
    s.oilPressRaw1 = 16384;
    s.oilTempRaw1 = 4681;
    s.oilPressRaw2 = 0xFFFF;
    s.oilTempRaw2 = -1;
    const FuelFlowKg k = ApplySampleToPanel(s);
    EXPECT_NEAR(k.engine1, 350.0, 1e-4);
    EXPECT_EQ(k.engine2, 0.0);
    EXPECT_NEAR(panelValues.fuelFlowAngle1, 451.0f, 1e-3);
    EXPECT_FLOAT_EQ(panelValues.fuelFlowAngle2, 310.0f);
    EXPECT_NEAR(panelValues.oilPressAngle1, 320.4326, 1e-3);
    EXPECT_NEAR(panelValues.oilTempAngle1, 154.6360, 1e-3);
    EXPECT_NEAR(panelValues.oilPressAngle2, 457.1770, 1e-3);
    EXPECT_NEAR(panelValues.oilTempAngle2, 240.0117, 1e-3);
}

// Catches: rounding halves away from zero, or a crash or garbage on numbers no field can hold.
TEST(NetworkNumbers, RoundHalfEvenAndCutToTheField) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.4999), 1);
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(RoundHalfEven(1e300), 0);
    EXPECT_EQ(RoundHalfEven(9223372036854775808.0), 0);
    EXPECT_EQ(RoundHalfEven(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());

    FlightSample s{};
    StoreNetworkNumber(s, 0, 123.456);
    EXPECT_EQ(s.fuelFlowPph1, 123.456);
    StoreNetworkNumber(s, 2, 65535);  // a signed 16-bit field reads -1, as through FSUIPC
    EXPECT_EQ(s.oilTempRaw1, -1);
    StoreNetworkNumber(s, 4, 65535);
    EXPECT_EQ(s.oilPressRaw1, 65535);
    StoreNetworkNumber(s, 5, 65536 + 7);
    EXPECT_EQ(s.oilPressRaw2, 7);
    StoreNetworkNumber(s, 6, 2.5);  // not running
    EXPECT_EQ(s.combustion1, 2);
    StoreNetworkNumber(s, 7, 1);
    EXPECT_EQ(s.combustion2, 1);
    StoreNetworkNumber(s, 8, -1);
    EXPECT_EQ(s.paused, -1);
    StoreNetworkNumber(s, 9, 257);  // eight bits
    EXPECT_EQ(s.inMenu, 1);
    StoreNetworkNumber(s, 9, std::numeric_limits<double>::infinity());
    EXPECT_EQ(s.inMenu, 0);
    StoreNetworkNumber(s, 42, 1.0);  // no such row: nothing happens
    StoreNetworkNumber(s, -1, 1.0);
}

// Catches: tank contents computed without the 32-bit product or with the wrong rounding.
TEST(StartupTanks, Contents) {
    EXPECT_EQ(TankContents(100, 6291456), 75);  // 75 %
    EXPECT_EQ(TankContents(0, 8388608), 0);
    EXPECT_EQ(TankContents(100, 8388608), 100);
    // 300 % overflows level x 100 in 32 bits and wraps as it would there.
    EXPECT_EQ(TankContents(100, 3 * 8388608), -212);
}

}  // namespace
