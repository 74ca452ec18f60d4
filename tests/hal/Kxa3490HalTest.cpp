// Kxa3490Hal on the virtual two-port QAM cards (one on its own inputs, one whose I/O
// configuration shares port 1's input): the detune sequence, the input choice and its level
// path, the frequency responses with their rounding, the bounded LNA sum, the spectral
// inversion through the board's inverting IF and the levels read on the cards' carriers.
#include <memory>

#include <gtest/gtest.h>

#include "HalTestSupport.h"
#include "Kxa3490Hal.h"
#include "QamHalTestSupport.h"
#include "SimTda10024.h"
#include "SimTda18252.h"

using namespace Kxapi;
using haltest::SERIAL_3490;
using qamtest::QamPars;
using qamtest::Read;
using qamtest::TuneAndLock;
using qamtest::Value;

namespace {

constexpr int64_t SERIAL_3490_SHARED = 3490000002;
constexpr double DBMV_PER_DBM = 48.8;
// Carriers of the cards: the shared card's port 1 input, and port 2's own input.
constexpr long long SHARED_QAM256_HZ = 394000000; // -50 dBm, 6.952 MBd
constexpr long long SHARED_INVERTED_QAM64_HZ = 402000000; // -42 dBm, arrives inverted
constexpr long long PORT2_OWN_QAM64_HZ = 610000000; // -48 dBm
constexpr long long QAM128_HZ = 714000000; // -35 dBm on both inputs of the first card

class Kxa3490HalTest : public haltest::VirtualCardFixture {
protected:
    void Open(int64_t serial)
    {
        Attach(serial);
        m_pHal = std::make_unique<Kxa3490Hal>(serial, m_Device);
        ASSERT_EQ(KXAPI_OK, m_pHal->Init());
        for (int port = 1; port <= 2; port++) {
            ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(port));
            ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(port));
        }
    }
    SimTda18252& Tuner(int port)
    {
        return *dynamic_cast<SimTda18252*>(m_pCard->I2cDevice(-1, Kxa3490Hal::TUNER_I2C_ADDRESSES[port - 1]));
    }
    SimTda10024& Demod(int port)
    {
        return *dynamic_cast<SimTda10024*>(m_pCard->I2cDevice(-1, Kxa3490Hal::DEMOD_I2C_ADDRESSES[port - 1]));
    }

    // RfLvlChan of a port against what its own Agc1/Agc2 readings of the same call give.
    void ExpectLevelFromReadings(int port, bool shared, double carrierDbm)
    {
        int feederAgc1 = 0;
        if (shared) {
            const std::vector<KxStatistic> feeder = Read(*m_pHal, 1, {KX_STAT_AGC1});
            feederAgc1 = Value<int32_t>(feeder[0]) / 1000000 % 10;
        }
        const std::vector<KxStatistic> stats = Read(*m_pHal, port, {KX_STAT_AGC1, KX_STAT_AGC2, KX_STAT_RF_LVL_CHAN});
        const int32_t packed = Value<int32_t>(stats[0]);
        const int band = packed / 10000000, agc1 = packed / 1000000 % 10, agc2 = packed % 1000000;
        const int level = Value<int32_t>(stats[2]);
        EXPECT_EQ(Kxa3490Hal::CalcRfLevel(port, band, agc1 + feederAgc1, agc2, Value<int32_t>(stats[1]),
                                          m_TunedHz, shared),
                  level);
        EXPECT_NEAR(carrierDbm + DBMV_PER_DBM, level / 10.0, 1.5) << "port " << port;
    }

    std::unique_ptr<Kxa3490Hal> m_pHal;
    long long m_TunedHz = 0;
};

} // namespace

TEST(Kxa3490LevelTest, FrequencyResponseIsInterpolatedAndRounded)
{
    struct Row {
        int m_Port;
        bool m_Shared;
        long long m_FreqHz;
        int m_Offset;
    };
    const Row rows[] = {
        {1, false, 66500000, -43},  // halfway between 54 MHz (-44) and 79 MHz (-42)
        {1, false, 54000000, -44},  {1, false, 10000000, -44}, {1, false, 79000000, -42},
        {1, false, 979000000, -31}, {1, false, 1002000000, -31},
        {1, false, 91500000, -42},  // halfway down from -42 to -44: the rounded step is halved to 0
        {2, false, 54000000, -31},  {2, true, 54000000, -23},  {2, true, 354000000, 3},
        {2, true, 366500000, 3},    // 3 to 4: a half step
        {3, false, 66500000, 0},    {0, true, 66500000, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.m_Offset, Kxa3490Hal::GetRfLevelFrequencyOffset(row.m_Port, row.m_FreqHz, row.m_Shared))
            << "port " << row.m_Port << ", shared " << row.m_Shared << ", " << row.m_FreqHz << " Hz";
}

TEST(Kxa3490LevelTest, LevelTakesTheSegmentsAndBoundsTheLnaSum)
{
    // Segment 0 up to a sum of 182: 0 + 100 + 50 = 150 -> floor((150 x -119299 + 32768) / 65536) = -273,
    // + 309, band 3 of port 1 (-19), less the response at 79 MHz (-42): 59.
    EXPECT_EQ(59, Kxa3490Hal::CalcRfLevel(1, 3, 4, 100, 50, 79000000, false));
    // Sum 183 (segment 1): floor((183 x -237086 + 32768) / 65536) = -662, + 636 - 19 + 42 = -3.
    EXPECT_EQ(-3, Kxa3490Hal::CalcRfLevel(1, 3, 4, 133, 50, 79000000, false));
    // An LNA sum past 7 reads the last entry.
    for (int agc1 : {7, 8, 9, 15})
        EXPECT_EQ(Kxa3490Hal::CalcRfLevel(2, 1, 7, 90, 60, 400000000, true),
                  Kxa3490Hal::CalcRfLevel(2, 1, agc1, 90, 60, 400000000, true))
            << agc1;
    // Port 2's band offsets and path.
    EXPECT_EQ(Kxa3490Hal::CalcRfLevel(2, 7, 4, 100, 50, 79000000, false) - 70 + 16,
              Kxa3490Hal::CalcRfLevel(2, 0, 4, 100, 50, 79000000, false));
}

TEST_F(Kxa3490HalTest, EverySecondAcquisitionIsDetuned)
{
    ASSERT_NO_FATAL_FAILURE(Open(SERIAL_3490));
    ASSERT_EQ(KXAPI_OK, m_pHal->SetTunerFrequency(1, QAM128_HZ, -1, true));
    const long long expected[] = {QAM128_HZ - Kxa3490Hal::DETUNE_HZ, QAM128_HZ, QAM128_HZ - Kxa3490Hal::DETUNE_HZ};
    for (long long hz : expected) {
        EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, false));
        EXPECT_EQ(hz, Tuner(1).TunedHz());
    }
    // One toggle for the card: port 2's acquisition takes the next turn.
    ASSERT_EQ(KXAPI_OK, m_pHal->SetTunerFrequency(2, QAM128_HZ, -1, true));
    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(2, false));
    EXPECT_EQ(QAM128_HZ, Tuner(2).TunedHz());
}

TEST_F(Kxa3490HalTest, UninitialisedPortsSkipTheAcquisition)
{
    Attach(SERIAL_3490);
    m_pHal = std::make_unique<Kxa3490Hal>(SERIAL_3490, m_Device);
    ASSERT_EQ(KXAPI_OK, m_pHal->Init());
    EXPECT_EQ(KXAPI_OK_FAILSAFE, m_pHal->Tune(2, false));
    EXPECT_FALSE(Tuner(2).Tuned());
}

TEST_F(Kxa3490HalTest, OwnInputsUseTheirOwnPath)
{
    ASSERT_NO_FATAL_FAILURE(Open(SERIAL_3490));
    EXPECT_FALSE(m_pHal->SharedInput());
    EXPECT_EQ(1, Demod(2).ControlOutput());
    EXPECT_FALSE(Tuner(1).LoopThrough());
    for (int port = 1; port <= 2; port++) {
        ASSERT_TRUE(TuneAndLock(*m_pHal, port, QAM128_HZ, QamPars(KX_MOD_QAM128, 1, 6900000))) << port;
        m_TunedHz = QAM128_HZ;
        ExpectLevelFromReadings(port, false, -35.0);
        const std::vector<KxStatistic> stats = Read(*m_pHal, port, {KX_STAT_MER, KX_STAT_SPECTRUM_INV});
        EXPECT_NEAR(30.5, Value<int32_t>(stats[0]) / 10.0, 1.0);
        EXPECT_FALSE(Value<bool>(stats[1]));
    }
}

TEST_F(Kxa3490HalTest, SharedInputTakesPortOnesSignalAndPath)
{
    ASSERT_NO_FATAL_FAILURE(Open(SERIAL_3490_SHARED));
    EXPECT_TRUE(m_pHal->SharedInput());
    EXPECT_EQ(0, Demod(2).ControlOutput());
    EXPECT_TRUE(Tuner(1).LoopThrough());
    // Port 2 hears port 1's input, not its own connector.
    EXPECT_FALSE(TuneAndLock(*m_pHal, 2, PORT2_OWN_QAM64_HZ, QamPars(KX_MOD_QAM64, 1, 6900000),
                             qamtest::NO_LOCK_WAIT_MS));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 1, SHARED_QAM256_HZ, QamPars(KX_MOD_QAM256, 1, 6952000)));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 2, SHARED_QAM256_HZ, QamPars(KX_MOD_QAM256, 1, -1)));
    m_TunedHz = SHARED_QAM256_HZ;
    ExpectLevelFromReadings(1, false, -50.0);
    ExpectLevelFromReadings(2, true, -50.0);
    // The inverted carrier reads inverted through the board's inverting IF.
    ASSERT_TRUE(TuneAndLock(*m_pHal, 2, SHARED_INVERTED_QAM64_HZ, QamPars(KX_MOD_QAM64, 1, 6900000)));
    bool inverted = false;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetSpectrumInversion(2, inverted));
    EXPECT_TRUE(inverted);
    const std::vector<KxStatistic> stats = Read(*m_pHal, 1, {KX_STAT_SPECTRUM_INV});
    EXPECT_FALSE(Value<bool>(stats[0])) << "port 1 is still on the upright carrier";
}

TEST_F(Kxa3490HalTest, OnlyTheLoopThroughConfigurationSharesTheInput)
{
    ASSERT_NO_FATAL_FAILURE(Open(SERIAL_3490));
    struct Row {
        int64_t m_Value, m_SubValue;
        bool m_Shared;
    };
    const Row rows[] = {{20, 25, true}, {20, 24, false}, {21, 25, false}, {25, 20, false}, {0, 0, false}};
    for (const Row& row : rows) {
        m_pCard->SetProperty(1, Kxa3490Hal::IO_CONFIG_PROPERTY, row.m_Value);
        m_pCard->SetProperty(1, Kxa3490Hal::IO_CONFIG_SUB_PROPERTY, row.m_SubValue);
        ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(2));
        EXPECT_EQ(row.m_Shared, m_pHal->SharedInput()) << row.m_Value << "/" << row.m_SubValue;
        EXPECT_EQ(row.m_Shared ? 0 : 1, Demod(2).ControlOutput()) << row.m_Value << "/" << row.m_SubValue;
        EXPECT_EQ(row.m_Shared, Tuner(1).LoopThrough()) << row.m_Value << "/" << row.m_SubValue;
    }
    // Port 1's first client changes nothing of port 2's input.
    m_pCard->SetProperty(1, Kxa3490Hal::IO_CONFIG_PROPERTY, 20);
    m_pCard->SetProperty(1, Kxa3490Hal::IO_CONFIG_SUB_PROPERTY, 25);
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(2));
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(1));
    EXPECT_TRUE(m_pHal->SharedInput());
    EXPECT_TRUE(Tuner(1).LoopThrough());
}
