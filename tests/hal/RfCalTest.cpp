// RF-level calibration sets: the correction over temperature, frequency and input power, and
// the stored little-endian record.
#include <cstring>

#include <gtest/gtest.h>

#include "HalTestSupport.h"
#include "KxRfCal.h"

using namespace Kxapi;

namespace {

// Two tables (-300 and -600) over three points 100, 110, 120 MHz.
KxRfCalV1 TwoTables()
{
    KxRfCalV1 cal;
    cal.m_StartFreqMHz = 100;
    cal.m_FreqStepMHz = 10;
    cal.SetNumFrequencies(3);
    cal.SetNumTables(2);
    cal.m_Tables[0].m_Power = -300;
    cal.m_Tables[0].m_Offsets = {10, 20, 30};
    cal.m_Tables[1].m_Power = -600;
    cal.m_Tables[1].m_Offsets = {40, 60, 80};
    return cal;
}

} // namespace

TEST(RfCalCorrection, EmptySetCorrectsTemperatureOnly)
{
    KxRfCalV1 cal;
    RfCalZero(&cal);
    cal.m_RefTemperature = 25;
    cal.m_TempCoefficient = 0.5f;
    // 10 x 0.5 x (35 - 25) = 50.
    EXPECT_EQ(-250, cal.RfCalCorrection(-300, 500, 35));
    EXPECT_EQ(-350, cal.RfCalCorrection(-300, 500, 15));
    cal.SetNumTables(1);
    EXPECT_EQ(-250, cal.RfCalCorrection(-300, 500, 35)) << "a table without frequency points";
}

TEST(RfCalCorrection, FrequencyBracket)
{
    KxRfCalV1 cal = TwoTables();
    // Exactly on the -300 table.
    EXPECT_EQ(-300 + 10, cal.RfCalCorrection(-300, 100, 0));
    EXPECT_EQ(-300 + 20, cal.RfCalCorrection(-300, 110, 0));
    EXPECT_EQ(-300 + 15, cal.RfCalCorrection(-300, 105, 0));
    EXPECT_EQ(-300 + 13, cal.RfCalCorrection(-300, 103, 0)); // 12.999... rounds to 13
    // Below the start: the first point; above the last: the last point.
    EXPECT_EQ(-300 + 10, cal.RfCalCorrection(-300, 50, 0));
    EXPECT_EQ(-300 + 30, cal.RfCalCorrection(-300, 120, 0));
    EXPECT_EQ(-300 + 30, cal.RfCalCorrection(-300, 2000, 0));
}

TEST(RfCalCorrection, PowerBracket)
{
    KxRfCalV1 cal = TwoTables();
    // Half way between the tables at 100 MHz: (10 + 40) / 2 = 25.
    EXPECT_EQ(-450 + 25, cal.RfCalCorrection(-450, 100, 0));
    // A third of the way from -600 to -300 at 105 MHz: lower 50, upper 15 -> 50 - 35/3 = 38.3.
    EXPECT_EQ(-500 + 38, cal.RfCalCorrection(-500, 105, 0));
    // Exactly on the -600 table: that table alone.
    EXPECT_EQ(-600 + 60, cal.RfCalCorrection(-600, 110, 0));
    // Outside both tables: the nearest one.
    EXPECT_EQ(-100 + 10, cal.RfCalCorrection(-100, 100, 0));
    EXPECT_EQ(-900 + 80, cal.RfCalCorrection(-900, 130, 0));
    // Temperature first, then the tables at the corrected level: -460 + 10 = -450.
    cal.m_RefTemperature = 20;
    cal.m_TempCoefficient = 1.0f;
    EXPECT_EQ(-450 + 25, cal.RfCalCorrection(-460, 100, 21));
}

TEST(RfCalCorrection, SingleTableNeverInterpolatesInPower)
{
    KxRfCalV1 cal = TwoTables();
    cal.SetNumTables(1);
    EXPECT_EQ(-800 + 20, cal.RfCalCorrection(-800, 110, 0));
    EXPECT_EQ(-100 + 20, cal.RfCalCorrection(-100, 110, 0));
}

TEST(RfCalRecord, RoundTripAndLayout)
{
    KxRfCalV1 cal = TwoTables();
    cal.m_RefTemperature = 23;
    cal.m_TempCoefficient = -0.25f;
    cal.m_Reserved[0] = 0x1234;
    cal.m_Reserved[1] = 0xBEEF;
    std::vector<unsigned char> record = cal.ToRecord();
    ASSERT_EQ(15u + 2u * (3u + 2u), record.size());
    EXPECT_EQ(23, record[0]);
    EXPECT_EQ(2, record[5]);
    EXPECT_EQ(100, record[6]);
    EXPECT_EQ(0, record[7]);
    EXPECT_EQ(10, record[8]);
    EXPECT_EQ(3, record[9]);
    EXPECT_EQ(0x34, record[11]);
    EXPECT_EQ(0xEF, record[13]);
    // Power -300 little-endian, then the offsets.
    EXPECT_EQ(0xD4, record[15]);
    EXPECT_EQ(0xFE, record[16]);
    EXPECT_EQ(10, record[17]);

    KxRfCalV1 back;
    ASSERT_EQ(KXAPI_OK, back.FromRecord(record.data(), static_cast<int>(record.size())));
    EXPECT_EQ(23, back.m_RefTemperature);
    EXPECT_FLOAT_EQ(-0.25f, back.m_TempCoefficient);
    EXPECT_EQ(0xBEEF, back.m_Reserved[1]);
    ASSERT_EQ(2, back.NumTables());
    EXPECT_EQ(-600, back.m_Tables[1].m_Power);
    EXPECT_EQ(80, back.m_Tables[1].m_Offsets[2]);
    EXPECT_EQ(cal.RfCalCorrection(-500, 105, 30), back.RfCalCorrection(-500, 105, 30));
}

TEST(RfCalRecord, ShortRecordsAreRejectedAndLeaveTheSetCleared)
{
    KxRfCalV1 cal = TwoTables();
    std::vector<unsigned char> record = cal.ToRecord();
    KxRfCalV1 target = TwoTables();
    EXPECT_EQ(KXAPI_E_EEPROM_FORMAT, target.FromRecord(record.data(), 14));
    EXPECT_EQ(0, target.NumTables());
    EXPECT_EQ(KXAPI_E_EEPROM_FORMAT, target.FromRecord(record.data(), static_cast<int>(record.size()) - 1));
    EXPECT_EQ(0, target.NumFrequencies());
    EXPECT_EQ(KXAPI_E_EEPROM_FORMAT, target.FromRecord(nullptr, 40));
    // A header without tables is a valid, empty set.
    EXPECT_EQ(KXAPI_E_EEPROM_FORMAT, target.FromRecord(record.data(), 15)) << "the header announces two tables";
    record[5] = 0;
    EXPECT_EQ(KXAPI_OK, target.FromRecord(record.data(), 15));
    EXPECT_EQ(100, target.m_StartFreqMHz);
}

namespace {

class RfCalVpdTest : public haltest::VirtualCardFixture {};

} // namespace

TEST_F(RfCalVpdTest, StoredRecordOfAPortIsReadFromTheVpd)
{
    Attach(haltest::SERIAL_3460);
    KxRfCalV1 stored = TwoTables();
    stored.m_RefTemperature = 30;
    // The driver's VPD request carries the first four characters of the keyword ("P1_RFCAL_V1").
    m_pCard->SetVpd(-1, "P1_R", stored.ToRecord());
    KxRfCalV1 cal;
    ASSERT_EQ(KXAPI_OK, cal.ReadFromVpd(m_Device, 1));
    EXPECT_EQ(30, cal.m_RefTemperature);
    EXPECT_EQ(2, cal.NumTables());
    EXPECT_TRUE(KxapiFailed(cal.ReadFromVpd(m_Device, 2)));
    EXPECT_EQ(0, cal.NumTables());
    m_pCard->SetVpd(-1, "P2_R", {1, 2, 3});
    EXPECT_EQ(KXAPI_E_EEPROM_FORMAT, cal.ReadFromVpd(m_Device, 2));
}
