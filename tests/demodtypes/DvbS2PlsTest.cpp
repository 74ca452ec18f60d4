// The DVB-S2 / S2X PLS codes against the performance tables, the constellations' minimum
// distances, the erfc approximation and the pre-LDPC bit-error model.
#include <cmath>

#include <gtest/gtest.h>

#include "DvbS2ModCod.h"
#include "DvbS2Pls.h"

using namespace Kxapi;

namespace {

struct PlsRow {
    int m_Pls;
    int32_t m_ModType;
    int32_t m_CodeRate;
    int32_t m_FrameType;
    bool m_Pilots;
    double m_EsN0Db;
};

// Spot values from EN 302 307-1 and -2 (PLS = MODCOD << 2 | short << 1 | pilots for DVB-S2).
const PlsRow PLS_ROWS[] = {
    {4, KX_S2_QPSK, KX_CR_1_4, MODCOD_FRAME_NORMAL, false, -2.35},
    {5, KX_S2_QPSK, KX_CR_1_4, MODCOD_FRAME_NORMAL, true, -2.35},
    {6, KX_S2_QPSK, KX_CR_1_4, MODCOD_FRAME_SHORT, false, -2.35},
    {16, KX_S2_QPSK, KX_CR_1_2, MODCOD_FRAME_NORMAL, false, 1.00},
    {44, KX_S2_QPSK, KX_CR_9_10, MODCOD_FRAME_NORMAL, false, 6.42},
    {48, KX_S2_8PSK, KX_CR_3_5, MODCOD_FRAME_NORMAL, false, 5.50},
    {57, KX_S2_8PSK, KX_CR_3_4, MODCOD_FRAME_NORMAL, true, 7.91},
    {72, KX_S2_16APSK, KX_CR_2_3, MODCOD_FRAME_NORMAL, false, 8.97},
    {92, KX_S2_16APSK, KX_CR_9_10, MODCOD_FRAME_NORMAL, false, 13.13},
    {96, KX_S2_32APSK, KX_CR_3_4, MODCOD_FRAME_NORMAL, false, 12.73},
    {112, KX_S2_32APSK, KX_CR_9_10, MODCOD_FRAME_NORMAL, false, 16.05},
    {132, KX_S2_QPSK, KX_CR_13_45, MODCOD_FRAME_NORMAL, false, -2.03},
    {133, KX_S2_QPSK, KX_CR_13_45, MODCOD_FRAME_NORMAL, true, -2.03},
    {138, KX_S2X_8APSK_L, KX_CR_5_9, MODCOD_FRAME_NORMAL, false, 4.73},
    {148, KX_S2X_16APSK_L, KX_CR_1_2, MODCOD_FRAME_NORMAL, false, 5.97},
    {172, KX_S2_16APSK, KX_CR_77_90, MODCOD_FRAME_NORMAL, false, 11.99},
    {174, KX_S2X_32APSK_L, KX_CR_2_3, MODCOD_FRAME_NORMAL, false, 11.10},
    {184, KX_S2X_64APSK_L, KX_CR_32_45, MODCOD_FRAME_NORMAL, false, 13.98},
    {198, KX_S2X_64APSK, KX_CR_5_6, MODCOD_FRAME_NORMAL, false, 16.55},
    {201, KX_S2X_128APSK, KX_CR_3_4, MODCOD_FRAME_NORMAL, true, 17.73},
    {204, KX_S2X_256APSK_L, KX_CR_29_45, MODCOD_FRAME_NORMAL, false, 16.98},
    {214, KX_S2X_256APSK, KX_CR_3_4, MODCOD_FRAME_NORMAL, false, 19.57},
    {216, KX_S2_QPSK, KX_CR_11_45, MODCOD_FRAME_SHORT, false, -2.40},
    {248, KX_S2_32APSK, KX_CR_32_45, MODCOD_FRAME_SHORT, false, 11.75},
};

} // namespace

TEST(PlsToModCodList, SpotValuesMatchThePerformanceTables)
{
    for (const PlsRow& row : PLS_ROWS) {
        SCOPED_TRACE(row.m_Pls);
        const ModCodListItem* pItem = FindModCod(row.m_Pls);
        ASSERT_NE(nullptr, pItem);
        EXPECT_EQ(row.m_ModType, pItem->m_ModType);
        EXPECT_EQ(row.m_CodeRate, pItem->m_CodeRate);
        EXPECT_EQ(row.m_FrameType, pItem->m_FrameType);
        EXPECT_EQ(row.m_Pilots, pItem->m_Pilots);
        EXPECT_DOUBLE_EQ(row.m_EsN0Db, pItem->m_IdealEsN0Db);
    }
}

TEST(PlsToModCodList, CodesWithoutModCodAreAbsent)
{
    // Dummy frame, 9/10 has no short frame, VL-SNR, the unassigned S2X codes, out of range.
    for (int pls : {0, 1, 2, 3, 46, 47, 70, 71, 114, 115, 128, 129, 176, 177, 188, 192, 196, 250, 254, 255, -1, 65536})
        EXPECT_EQ(nullptr, FindModCod(pls)) << pls;
    // 28 DVB-S2 MODCODs x 4 less the short 9/10 codes (with and without pilots), 38 normal and
    // 17 short S2X codes x 2.
    EXPECT_EQ(112u - 8u + 76u + 34u, InitPlsToModCodList().size());
    EXPECT_EQ(&InitPlsToModCodList(), &g_PlsToModCodList);
}

TEST(PlsToModCodList, EveryCodeIsAStandardModCodWithAMatchingConstellation)
{
    for (const auto& [pls, item] : InitPlsToModCodList()) {
        SCOPED_TRACE(pls);
        EXPECT_TRUE(KxIsDvbS2ModCod(item.m_ModType, item.m_CodeRate));
        ASSERT_GE(item.m_Constellation, 0);
        ASSERT_LT(item.m_Constellation, PRELDPC_TAB_SIZE);
        EXPECT_EQ(BitsPerModType(item.m_ModType), BitsPerConstellation(item.m_Constellation));
        EXPECT_EQ((pls & 1) != 0, item.m_Pilots);
    }
}

TEST(PreLdpcTable, MinimumDistancesOfTheDvbS2Constellations)
{
    // Unit average energy: QPSK 2, 8PSK 4 sin^2(pi/8); the APSK values by the constellation of
    // the standard (16APSK 3/4: gamma 2.85; 32APSK 9/10: 2.53 and 4.30).
    const struct {
        int m_Pls;
        double m_D2;
    } rows[] = {{16, 2.0},       {48, 4.0 * std::pow(std::sin(M_PI / 8), 2)},
                {72, 0.260015},  {76, 0.315364},
                {92, 0.340101},  {96, 0.117398},
                {112, 0.145715}};
    for (const auto& row : rows)
        EXPECT_NEAR(row.m_D2, PreLDPC_Tab_d[FindModCod(row.m_Pls)->m_Constellation], 1e-6) << row.m_Pls;
    // Larger constellations pack their points closer.
    EXPECT_GT(PreLDPC_Tab_d[FindModCod(112)->m_Constellation], PreLDPC_Tab_d[FindModCod(184)->m_Constellation]);
    EXPECT_GT(PreLDPC_Tab_d[FindModCod(200)->m_Constellation], PreLDPC_Tab_d[FindModCod(214)->m_Constellation]);
}

TEST(PreLdpcTable, BitsPerSymbolByIndexRange)
{
    const int expected[][2] = {{0, 2}, {1, 3}, {3, 3}, {4, 4}, {18, 4}, {19, 5}, {29, 5},
                               {30, 6}, {33, 6}, {34, 7}, {35, 7}, {36, 8}, {40, 8}};
    for (const auto& row : expected)
        EXPECT_EQ(row[1], BitsPerConstellation(row[0])) << row[0];
    EXPECT_EQ(0, BitsPerModType(KX_S2_AUTO));
    EXPECT_EQ(0, BitsPerModType(15));
}

TEST(ErfcApprox, WithinTheApproximationsBound)
{
    for (double x = -4.0; x <= 6.0; x += 0.05)
        EXPECT_NEAR(std::erfc(x), ErfcApprox(x), 1.5e-7) << x;
}

TEST(CalcBerPreLdpc, QpskFollowsTheGrayBitErrorRate)
{
    // QPSK: BER = erfc(sqrt(Es/N0 / 2)) / 2.
    for (double esN0Db : {-2.0, 0.0, 3.0, 6.0, 9.0}) {
        double ber = 0.0;
        ASSERT_EQ(KXAPI_OK, CalcBerPreLdpc(16, esN0Db, ber));
        const double esN0 = std::pow(10.0, esN0Db / 10.0);
        EXPECT_NEAR(std::erfc(std::sqrt(esN0 / 2.0)) / 2.0, ber, 1e-7) << esN0Db;
    }
    // 8PSK: erfc(sqrt(d2 Es/N0 / 4)) / 3 with d2 = 4 sin^2(pi/8).
    double ber = 0.0;
    ASSERT_EQ(KXAPI_OK, CalcBerPreLdpc(48, 8.0, ber));
    EXPECT_NEAR(std::erfc(std::sqrt(0.585786 * std::pow(10.0, 0.8) / 4.0)) / 3.0, ber, 1e-7);
    // The BER falls as Es/N0 rises.
    double better = 0.0;
    ASSERT_EQ(KXAPI_OK, CalcBerPreLdpc(48, 10.0, better));
    EXPECT_LT(better, ber);

    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, CalcBerPreLdpc(176, 8.0, ber));
    EXPECT_EQ(-1.0, ber);
}
