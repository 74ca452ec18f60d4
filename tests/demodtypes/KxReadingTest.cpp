// Statistics as people read them: units and scales from the statistic table, level units, and
// the quality grade against the C/N the tuned modulation needs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "DvbS2ModCod.h"
#include "KxReading.h"

namespace {

using namespace Kxapi;

KxStatistic IntStat(int32_t id, int32_t value)
{
    KxStatistic stat(id);
    stat.SetValue(value);
    return stat;
}

KxStatistic DoubleStat(int32_t id, double value)
{
    KxStatistic stat(id);
    stat.SetValue(value);
    return stat;
}

TEST(KxReading, ScalarStatisticsPrintInTheirUnitFromTheirScale)
{
    struct Case {
        KxStatistic m_Stat;
        const char* m_pText;
        double m_Value;
    };
    const Case cases[] = {
        {IntStat(KX_STAT_RF_LVL_UNCALIB, -14), "-1.4 dBmV", -1.4},
        {IntStat(KX_STAT_RF_LVL_UNCALIB_DBM, -512), "-51.2 dBm", -51.2},
        {IntStat(KX_STAT_MER, 273), "27.3 dB", 27.3},
        {IntStat(KX_STAT_LOCK_PERC, 97), "97 %", 97.0},
        {IntStat(KX_STAT_TEMP_TUNER, 43), "43 degC", 43.0},
        {IntStat(KX_STAT_BAD_PCK_CNT, 17), "17", 17.0},
        {DoubleStat(KX_STAT_BER_POST_LDPC, 2.3e-5), "2.3e-05", 2.3e-5},
        {DoubleStat(KX_STAT_FREQ_SHIFT, -1250.0), "-1250 Hz", -1250.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pText);
        const KxReading reading = KxReadStatistic(c.m_Stat);
        ASSERT_EQ(KxReading::KX_READING_NUMBER, reading.m_Kind);
        EXPECT_EQ(c.m_pText, KxFormatReading(reading));
        EXPECT_DOUBLE_EQ(c.m_Value, reading.m_Value); // the scaled value is the nearest double
    }
    EXPECT_DOUBLE_EQ(-14.0, KxReadStatistic(IntStat(KX_STAT_RF_LVL_UNCALIB, -14)).m_Raw);
}

TEST(KxReading, FlagsFailuresAndStructuresAreNotNumbers)
{
    KxStatistic lock(KX_STAT_LOCK);
    lock.SetValue(true);
    EXPECT_EQ("true", KxFormatReading(KxReadStatistic(lock)));

    KxStatistic failed = IntStat(KX_STAT_MER, 250);
    failed.m_Result = KXAPI_E_NOT_LOCKED;
    const KxReading reading = KxReadStatistic(failed);
    EXPECT_EQ(KxReading::KX_READING_NONE, reading.m_Kind);
    EXPECT_EQ("KXAPI_E_NOT_LOCKED", KxFormatReading(reading));

    KxStatistic isis(KX_STAT_DVBS2_ISI);
    isis.SetValue(KxDvbS2IsiList{});
    EXPECT_EQ(KxReading::KX_READING_STRUCTURED, KxReadStatistic(isis).m_Kind);
}

TEST(KxReading, LevelsConvertBetweenDbmDbmvAndDbuvAt75Ohm)
{
    double out = 0.0;
    ASSERT_TRUE(KxConvertLevel(-48.75, "dBm", "dBmV", out));
    EXPECT_NEAR(0.0, out, 1e-9);
    ASSERT_TRUE(KxConvertLevel(0.0, "dBmV", "dBuV", out));
    EXPECT_NEAR(60.0, out, 1e-9);
    ASSERT_TRUE(KxConvertLevel(60.0, "dBuV", "dBm", out));
    EXPECT_NEAR(-48.75, out, 1e-9);
    EXPECT_FALSE(KxConvertLevel(1.0, "dB", "dBm", out));
    EXPECT_FALSE(KxConvertLevel(1.0, "dBm", nullptr, out));
}

KxDemodPars S2(int32_t modType, int32_t codeRate)
{
    KxDemodPars pars;
    pars.SetModType(modType);
    pars.DvbS2()->m_CodeRate = codeRate;
    return pars;
}

TEST(KxReading, RequiredCnFollowsModulationAndCodeRate)
{
    EXPECT_DOUBLE_EQ(1.00, KxRequiredCnDb(S2(KX_S2_QPSK, KX_CR_1_2)));
    EXPECT_DOUBLE_EQ(16.05, KxRequiredCnDb(S2(KX_S2_32APSK, KX_CR_9_10)));
    EXPECT_TRUE(std::isnan(KxRequiredCnDb(S2(KX_S2_QPSK, KX_CR_AUTO))));
    EXPECT_TRUE(std::isnan(KxRequiredCnDb(S2(KX_S2_8PSK, KX_CR_1_4)))); // no such mod-cod

    KxDemodPars qam;
    qam.SetModType(KX_MOD_QAM256);
    EXPECT_DOUBLE_EQ(29.76, KxRequiredCnDb(qam));
    KxDemodPars dvbs;
    dvbs.SetModType(KX_MOD_DVBS);
    dvbs.DvbS()->m_CodeRate = KX_CR_7_8;
    EXPECT_DOUBLE_EQ(8.48, KxRequiredCnDb(dvbs));
    KxDemodPars iq;
    iq.SetModType(KX_MOD_IQ);
    EXPECT_TRUE(std::isnan(KxRequiredCnDb(iq)));
}

TEST(KxReading, GradeBoundariesAreTheMarginsAboveTheRequiredCn)
{
    const double required = 23.84;
    EXPECT_EQ(KX_QUALITY_POOR, KxGradeQuality(required - 3.0, required));
    EXPECT_EQ(KX_QUALITY_POOR, KxGradeQuality(required + KX_QUALITY_OK_MARGIN_DB - 0.01, required));
    EXPECT_EQ(KX_QUALITY_OK, KxGradeQuality(required + KX_QUALITY_OK_MARGIN_DB, required));
    EXPECT_EQ(KX_QUALITY_GOOD, KxGradeQuality(required + KX_QUALITY_GOOD_MARGIN_DB, required));
    EXPECT_EQ(KX_QUALITY_UNKNOWN, KxGradeQuality(30.0, NAN));
    EXPECT_STREQ("good", KxQualityGradeName(KX_QUALITY_GOOD));
}

} // namespace
