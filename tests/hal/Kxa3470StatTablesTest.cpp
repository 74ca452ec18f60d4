// The 3470's statistics formulas that need no card: roll-off codes, the RF-level chain and its
// offset tables.
#include <cmath>

#include <gtest/gtest.h>

#include "Kxa3470StatTables.h"
#include "KxRfCal.h"

using namespace Kxapi;

TEST(RollOff, EveryCodeAndItsNeighbours)
{
    const struct {
        int m_Code;
        double m_RollOff;
    } codes[] = {{768, 0.05}, {1024, 0.10}, {1280, 0.15}, {1536, 0.20}, {1792, 0.25}, {2048, 0.35}, {65280, 0.0}};
    for (const auto& row : codes) {
        double rollOff = -1.0;
        EXPECT_TRUE(RollOffFromCode(row.m_Code, rollOff)) << row.m_Code;
        EXPECT_DOUBLE_EQ(row.m_RollOff, rollOff);
        EXPECT_FALSE(RollOffFromCode(row.m_Code - 1, rollOff)) << row.m_Code - 1;
        EXPECT_FALSE(RollOffFromCode(row.m_Code + 1, rollOff)) << row.m_Code + 1;
    }
    EXPECT_DOUBLE_EQ(27.5, OccupiedBandwidthMHz(27500000, 0.0));
    EXPECT_DOUBLE_EQ(37.125, OccupiedBandwidthMHz(27500000, 0.35));
}

TEST(RfLvlOffsets, InterpolatedAndHeldAtTheEnds)
{
    const struct {
        long long m_X;
        double m_Offset;
    } temps[] = {{-10, -36}, {30, -36}, {40, -18}, {50, 0}, {60, 23}, {70, 46}, {80, 46}};
    for (const auto& row : temps)
        EXPECT_DOUBLE_EQ(row.m_Offset, GetRfLvlOffset(g_TempOffset, TEMP_OFFSET_POINTS, row.m_X)) << row.m_X;
    const struct {
        long long m_X;
        double m_Offset;
    } rates[] = {{5000000, 0}, {10000000, 0}, {15000000, 3.5}, {27500000, 30.25},
                 {45000000, 74.5}, {70000000, 127}, {75000000, 127}};
    for (const auto& row : rates)
        EXPECT_DOUBLE_EQ(row.m_Offset, GetRfLvlOffset(g_SymrateOffset, SYMRATE_OFFSET_POINTS, row.m_X)) << row.m_X;
}

TEST(RfLvlUncalib, ChainGainAndPowerReading)
{
    // Power 2^20: 20 log10(1024 / 32768 x 1000) = 29.897 dB. AGC 0: chain gain
    // 7 + 90.55 - 1.0 - 2.2 - 6.0 = 88.35 dB.
    EXPECT_NEAR(29.897 - 88.35, RfLvlUncalibDbmV(7, 0, 1u << 20), 1e-3);
    // Full-scale AGC (4096) takes 2.73 x 40.5 dB off the chain gain; each dB of baseband gain
    // lowers the input level by one dB.
    EXPECT_NEAR(RfLvlUncalibDbmV(7, 0, 1u << 20) + 110.565, RfLvlUncalibDbmV(7, 4096, 1u << 20), 1e-9);
    EXPECT_NEAR(RfLvlUncalibDbmV(7, 0, 1u << 20) - 3.0, RfLvlUncalibDbmV(10, 0, 1u << 20), 1e-9);
    EXPECT_EQ(-488, KxapiVoltage2Power(0));
    EXPECT_EQ(0, KxapiPower2Voltage(KxapiVoltage2Power(0)));
}
