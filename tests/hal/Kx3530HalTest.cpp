// Kx3530Hal on the virtual twelve-port QAM card: its frequency, symbol-rate, annex and mode
// rules, the port groups and their master tuners, the MER tables, the bad-packet total, the
// initialisation rule of the state machine's tune step and what the ports read on the card's
// carriers. What every model must do is in HalConformanceTest.
#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "HalTestSupport.h"
#include "Kx3530Hal.h"
#include "QamHalTestSupport.h"
#include "SimTda10024.h"
#include "SimTda18252.h"

using namespace Kxapi;
using namespace QamReceiver;
using haltest::SERIAL_3530;
using qamtest::QamPars;
using qamtest::Read;
using qamtest::TuneAndLock;
using qamtest::Value;

namespace {

// Carriers of the default scenario's 3530 (every port sees the same set).
struct Carrier {
    long long m_FreqHz;
    int32_t m_ModType;
    int32_t m_Annex;
    int32_t m_SymbolRateBd;
    double m_LevelDbm;
    double m_CnDb;
};
constexpr Carrier QAM64_A = {314000000, KX_MOD_QAM64, 1, 6900000, -40.0, 30.0};
constexpr Carrier QAM256_B = {322000000, KX_MOD_QAM256, 3, 5360537, -45.0, 35.0};
constexpr Carrier QAM64_C = {354000000, KX_MOD_QAM64, 2, 5274000, -47.0, 29.0};
constexpr double DBMV_PER_DBM = 48.8;

KxDemodPars ParsOf(const Carrier& carrier)
{
    return QamPars(carrier.m_ModType, carrier.m_Annex, carrier.m_SymbolRateBd);
}

class Kx3530HalTest : public haltest::VirtualCardFixture {
protected:
    void SetUp() override
    {
        Attach(SERIAL_3530);
        m_pHal = std::make_unique<Kx3530Hal>(SERIAL_3530, m_Device);
        ASSERT_EQ(KXAPI_OK, m_pHal->Init());
    }

    void InitPorts(std::initializer_list<int> ports)
    {
        for (int port : ports)
            ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(port)) << "port " << port;
    }

    SimTda18252& Tuner(int port)
    {
        return *dynamic_cast<SimTda18252*>(m_pCard->I2cDevice(port - 1, Kx3530Hal::TUNER_I2C_ADDRESS));
    }
    SimTda10024& Demod(int port)
    {
        return *dynamic_cast<SimTda10024*>(m_pCard->I2cDevice(port - 1, Kx3530Hal::DEMOD_I2C_ADDRESS));
    }

    std::unique_ptr<Kx3530Hal> m_pHal;
};

} // namespace

TEST(Kx3530GroupTest, FirstPortsOfTheGroupsAreTheirOwnMasters)
{
    // port -> master index (-1: the port is its group's first).
    const int expected[13] = {0, -1, 0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8};
    for (int port = 1; port <= 12; port++)
        EXPECT_EQ(expected[port], Kx3530Hal::GetMasterIndex(port)) << "port " << port;
}

TEST(Kx3530MerTest, MseReadingsFollowTheModulationsTable)
{
    struct Row {
        int32_t m_ModType;
        int m_Mse;
        int m_MerTenths;
    };
    const Row rows[] = {
        {KX_MOD_QAM16, 100, 158}, // between (16 dB, 97) and (15 dB, 108)
        {KX_MOD_QAM16, 8, 400},   {KX_MOD_QAM16, 3, 400},  {KX_MOD_QAM16, 141, 130}, {KX_MOD_QAM16, 200, 130},
        {KX_MOD_QAM16, 62, 200},  {KX_MOD_QAM32, 97, 160}, {KX_MOD_QAM32, 100, 160}, {KX_MOD_QAM32, 20, 300},
        {KX_MOD_QAM64, 66, 170},  {KX_MOD_QAM64, 17, 300}, {KX_MOD_QAM64, 18, 298},  {KX_MOD_QAM256, 37, 220},
        {KX_MOD_QAM256, 30, 248}, {KX_MOD_QAM256, 255, 220}, {KX_MOD_QAM256, 7, 400},
        // Types without a table of their own read the QAM-16 table.
        {KX_MOD_QAM128, 100, 158}, {KX_MOD_QAM4, 141, 130}, {KX_MOD_QAMAUTO, 62, 200},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.m_MerTenths, MerTenthsFromMse(row.m_ModType, row.m_Mse))
            << "type " << row.m_ModType << ", MSE " << row.m_Mse;
}

TEST(Kx3530BadPacketTest, TotalFollowsTheCounterAndStaysBelowTheBound)
{
    struct Step {
        uint32_t m_Count;
        long long m_Total;
    };
    struct Case {
        long long m_StartTotal;
        uint32_t m_StartLast;
        std::vector<Step> m_Steps;
    };
    const Case cases[] = {
        {0, 0, {{5, 5}, {5, 5}, {12, 12}}},
        // The chip's 32-bit counter wraps: the difference counts across it.
        {100, 0xFFFFFFF0u, {{0x10, 132}}},
        // At the bound the total is taken back by 2^31 - 1.
        {BAD_PACKET_TOTAL_MAX - 1, 0, {{1, BAD_PACKET_TOTAL_MAX}, {2, 0}, {5, 3}}},
        {BAD_PACKET_TOTAL_MAX, 0, {{0xFFFFFFFFu, (BAD_PACKET_TOTAL_MAX + 0xFFFFFFFFll) % BAD_PACKET_TOTAL_WRAP}}},
    };
    for (const Case& c : cases) {
        long long total = c.m_StartTotal;
        uint32_t last = c.m_StartLast;
        for (const Step& step : c.m_Steps) {
            AccumulateBadPackets(total, last, step.m_Count);
            EXPECT_EQ(step.m_Total, total) << "start " << c.m_StartTotal << ", count " << step.m_Count;
            EXPECT_LE(total, BAD_PACKET_TOTAL_MAX);
            EXPECT_EQ(step.m_Count, last);
        }
    }
}

TEST(Kx3530LevelTest, LevelComesFromTheGainChain)
{
    struct Row {
        int m_Band, m_Agc1, m_Agc2, m_DemodAgc, m_MasterAgc1;
        int m_LevelTenths;
    };
    const Row rows[] = {
        // x = 90 x 0.2 + 12 + 60 x 0.3 - 3.1 = 44.9 dB of gain on band 3 (no offset): -44.9 dBm.
        {3, 3, 90, 60, -1, -449},
        // Band 0 adds 2 dB (2.1 rounded), band 2's 0.5 rounds to 0, band 6 takes 1 dB off.
        {0, 3, 90, 60, -1, -429},
        {2, 3, 90, 60, -1, -449},
        {6, 3, 90, 60, -1, -459},
        // Only the low three bits of AGC1 count; steps 5 to 7 add no gain.
        {3, 8 + 3, 90, 60, -1, -449},
        {3, 5, 90, 60, -1, -329},
        // A fed port adds the master's LNA gain less the 5.6 dB feed.
        {3, 2, 90, 60, 3, -483},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.m_LevelTenths,
                  Kx3530Hal::UncalibratedLevel(row.m_Band, row.m_Agc1, row.m_Agc2, row.m_DemodAgc, row.m_MasterAgc1))
            << "band " << row.m_Band << ", AGC1 " << row.m_Agc1 << ", master " << row.m_MasterAgc1;
}

TEST_F(Kx3530HalTest, FrequencyLimitsAreInclusive)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({2}));
    struct Row {
        long long m_FreqHz;
        int m_TunerId;
        KXAPI_RESULT m_Result;
    };
    const Row rows[] = {
        {53999999, -1, KXAPI_E_INVALID_RATE},   {54000000, -1, KXAPI_OK}, {1002000000, -1, KXAPI_OK},
        {1002000001, -1, KXAPI_E_INVALID_RATE}, {-54000000, -1, KXAPI_E_INVALID_RATE},
        {474000000, 0, KXAPI_E_INVALID_ARG},    {474000000, 1, KXAPI_E_INVALID_ARG},
    };
    for (const Row& row : rows)
        for (bool execute : {false, true})
            EXPECT_EQ(row.m_Result, m_pHal->SetTunerFrequency(2, row.m_FreqHz, row.m_TunerId, execute))
                << row.m_FreqHz << " Hz, tuner " << row.m_TunerId << ", execute " << execute;
    KxDemodPars pars = ParsOf(QAM64_A);
    EXPECT_EQ(KXAPI_E_INVALID_RATE, m_pHal->Tune(2, 53999999, pars, true));
}

TEST_F(Kx3530HalTest, ParameterRulesAreCheckedInOrder)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({1}));
    struct Row {
        int32_t m_ModType;
        int32_t m_Annex;
        int32_t m_SymbolRateBd;
        KXAPI_RESULT m_Result;
    };
    const Row rows[] = {
        {KX_MOD_QAM64, 1, 4999999, KXAPI_E_INVALID_SYMRATE}, {KX_MOD_QAM64, 1, 5000000, KXAPI_OK},
        {KX_MOD_QAM64, 1, 7100000, KXAPI_OK},                {KX_MOD_QAM64, 1, 7100001, KXAPI_E_INVALID_SYMRATE},
        {KX_MOD_QAM64, 1, -1, KXAPI_OK},                     {KX_MOD_QAM64, 1, -2, KXAPI_E_INVALID_SYMRATE},
        {KX_MOD_QAM256, 0, 6900000, KXAPI_E_INVALID_J83ANNEX}, {KX_MOD_QAM256, 4, 6900000, KXAPI_E_INVALID_J83ANNEX},
        {KX_MOD_QAM256, 4, 1, KXAPI_E_INVALID_J83ANNEX},     {KX_MOD_QAM4, 3, 5056941, KXAPI_OK},
        {KX_MOD_QAM128, 2, 6900000, KXAPI_OK},               {KX_MOD_QAMAUTO, 1, 6900000, KXAPI_E_INVALID_MODE},
    };
    for (const Row& row : rows) {
        KxDemodPars pars = QamPars(row.m_ModType, row.m_Annex, row.m_SymbolRateBd);
        for (bool execute : {false, true})
            EXPECT_EQ(row.m_Result, m_pHal->SetDemodControl(1, pars, execute))
                << "type " << row.m_ModType << ", annex " << row.m_Annex << ", " << row.m_SymbolRateBd << " Bd";
    }
    KxDemodPars dvbt(KX_MOD_DVBT);
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->SetDemodControl(1, dvbt, false));
    // The frequency is checked before the parameters.
    KxDemodPars bad = QamPars(KX_MOD_QAM64, 9, 1);
    EXPECT_EQ(KXAPI_E_INVALID_RATE, m_pHal->Tune(1, 1, bad, false));
    EXPECT_EQ(KXAPI_E_INVALID_PARS, m_pHal->ResetAgc(1, 2, false));
}

TEST_F(Kx3530HalTest, TuneStepBeforeInitPortIsAnInitialisationError)
{
    EXPECT_EQ(KXAPI_E_INIT_ERROR, m_pHal->Tune(7, false));
    ASSERT_NO_FATAL_FAILURE(InitPorts({7}));
    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(7, false));
    EXPECT_EQ(KXAPI_E_INIT_ERROR, m_pHal->Tune(8, false)) << "each port is initialised on its own";
}

TEST_F(Kx3530HalTest, InitialisationWiresTheGroups)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    for (int port = 1; port <= 12; port++) {
        EXPECT_EQ(Kx3530Hal::GetMasterIndex(port) == -1, Tuner(port).MasterOutput()) << "port " << port;
        EXPECT_FALSE(Tuner(port).LoopThrough()) << "port " << port;
        // Every opening of the tuner's gate was closed again.
        EXPECT_FALSE(Demod(port).TunerGateOpen()) << "port " << port;
    }
    KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(5, pars));
    EXPECT_EQ(QamPars(KX_MOD_QAM64, 2, POWER_ON_SYMBOL_RATE_BD), pars);
}

TEST_F(Kx3530HalTest, PortsLockOnTheirCarriersAndReadThem)
{
    // A group's first port and a port it feeds, each on a carrier of its own.
    ASSERT_NO_FATAL_FAILURE(InitPorts({5, 6}));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 5, QAM64_A.m_FreqHz, ParsOf(QAM64_A)));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 6, QAM256_B.m_FreqHz, ParsOf(QAM256_B)));
    for (const auto& [port, carrier] : {std::pair{5, QAM64_A}, std::pair{6, QAM256_B}}) {
        const std::vector<KxStatistic> stats =
            Read(*m_pHal, port,
                 {KX_STAT_CARRIER_LOCK, KX_STAT_MER, KX_STAT_SNR, KX_STAT_CNR, KX_STAT_RF_LVL_UNCALIB,
                  KX_STAT_RF_LVL_CHAN, KX_STAT_BER_PRE_RS, KX_STAT_BAD_PCK_CNT, KX_STAT_TEMP_TUNER});
        EXPECT_TRUE(Value<bool>(stats[0]));
        // MER within 1 dB of the C/N less the 0.5 dB implementation loss.
        const double merDb = Value<int32_t>(stats[1]) / 10.0;
        EXPECT_NEAR(carrier.m_CnDb - 0.5, merDb, 1.0) << "port " << port;
        EXPECT_EQ(Value<int32_t>(stats[1]), Value<int32_t>(stats[2]));
        EXPECT_EQ(Value<int32_t>(stats[1]), Value<int32_t>(stats[3]));
        // Levels in tenths of a dBmV within 1.5 dB (uncalibrated) and 3 dB (calibrated).
        const double levelDbmv = carrier.m_LevelDbm + DBMV_PER_DBM;
        EXPECT_NEAR(levelDbmv, Value<int32_t>(stats[4]) / 10.0, 1.5) << "port " << port;
        EXPECT_NEAR(levelDbmv, Value<int32_t>(stats[5]) / 10.0, 3.0) << "port " << port;
        EXPECT_LT(Value<double>(stats[6]), 1e-6) << "port " << port;
        EXPECT_EQ(0, Value<int32_t>(stats[7])) << "port " << port;
        // The board sensor (39 degrees on the virtual card), the tuner reading below 60.
        EXPECT_NEAR(39.0, Value<int32_t>(stats[8]), 2.5);
    }
    // The demodulator reports what it found: annex B with its interleaving, the symbol rate.
    KxDemodPars found;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(6, found));
    KxDemodPars expected = ParsOf(QAM256_B);
    expected.Qam()->m_Interleaving = 5;
    EXPECT_EQ(expected, found);
}

TEST_F(Kx3530HalTest, AutomaticSymbolRateFindsTheCarriers)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({1, 3}));
    // A manual rate 1 % off does not lock; the automatic one finds the carrier's rate.
    KxDemodPars off = QamPars(KX_MOD_QAM64, 2, QAM64_C.m_SymbolRateBd * 101 / 100);
    EXPECT_FALSE(TuneAndLock(*m_pHal, 3, QAM64_C.m_FreqHz, off, qamtest::NO_LOCK_WAIT_MS));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 3, QAM64_C.m_FreqHz, QamPars(KX_MOD_QAM64, 2, -1)));
    KxDemodPars found;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(3, found));
    EXPECT_EQ(ParsOf(QAM64_C), found);
}

TEST_F(Kx3530HalTest, FedPortsHearNothingWhileTheirMasterIsDown)
{
    // Port 11's signal comes through port 9's tuner, whose output is off until port 9 is set up.
    ASSERT_NO_FATAL_FAILURE(InitPorts({11}));
    EXPECT_FALSE(TuneAndLock(*m_pHal, 11, QAM64_A.m_FreqHz, ParsOf(QAM64_A), qamtest::NO_LOCK_WAIT_MS));
    ASSERT_NO_FATAL_FAILURE(InitPorts({9}));
    EXPECT_TRUE(TuneAndLock(*m_pHal, 11, QAM64_A.m_FreqHz, ParsOf(QAM64_A)));
}

TEST_F(Kx3530HalTest, WrongModulationOrAnnexDoesNotLock)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({9}));
    EXPECT_FALSE(TuneAndLock(*m_pHal, 9, QAM64_A.m_FreqHz, QamPars(KX_MOD_QAM256, 1, QAM64_A.m_SymbolRateBd),
                             qamtest::NO_LOCK_WAIT_MS));
    EXPECT_FALSE(TuneAndLock(*m_pHal, 9, QAM64_A.m_FreqHz, QamPars(KX_MOD_QAM64, 3, QAM64_A.m_SymbolRateBd),
                             qamtest::NO_LOCK_WAIT_MS));
    // Not locked: no frequency offset to report, the locked-only readings are still taken.
    long long freqHz = 0;
    EXPECT_EQ(KXAPI_E_LOCKED, m_pHal->GetTunerFrequency(9, freqHz, -1));
    EXPECT_TRUE(TuneAndLock(*m_pHal, 9, QAM64_A.m_FreqHz, ParsOf(QAM64_A)));
}

TEST_F(Kx3530HalTest, TunerFrequencyAddsTheCarrierOffset)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({9, 12}));
    // Tuned 150 kHz above the carrier: the demodulator's offset brings it back.
    ASSERT_TRUE(TuneAndLock(*m_pHal, 12, QAM64_A.m_FreqHz + 150000, ParsOf(QAM64_A)));
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(12, freqHz, -1));
    EXPECT_EQ(QAM64_A.m_FreqHz, freqHz);
}

TEST_F(Kx3530HalTest, ConstellationPointsSpreadAroundTheQamGrid)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({1, 4}));
    KxConstelPoint points[300];
    EXPECT_EQ(KXAPI_E_INVALID_BUF, m_pHal->GetConstellationPoints(4, 300, nullptr, -1, true));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 4, QAM64_A.m_FreqHz, ParsOf(QAM64_A)));
    // More than one I2C transfer's worth.
    ASSERT_EQ(KXAPI_OK, m_pHal->GetConstellationPoints(4, 300, points, -1, true));
    int quadrants[4] = {};
    for (const KxConstelPoint& point : points) {
        EXPECT_EQ(0, point.m_X % 128);
        EXPECT_EQ(0, point.m_Y % 128);
        EXPECT_LE(std::abs(point.m_X), 128 * 128);
        quadrants[(point.m_X >= 0 ? 0 : 1) + (point.m_Y >= 0 ? 0 : 2)]++;
    }
    for (int count : quadrants)
        EXPECT_GT(count, 30) << "points in every quadrant";
}

TEST_F(Kx3530HalTest, FrozenAgcKeepsTheLnaStep)
{
    ASSERT_NO_FATAL_FAILURE(InitPorts({1}));
    ASSERT_TRUE(TuneAndLock(*m_pHal, 1, QAM64_A.m_FreqHz, ParsOf(QAM64_A)));
    const int running = Tuner(1).Agc1Step();
    ASSERT_EQ(KXAPI_OK, m_pHal->ResetAgc(1, 1, true));
    // A much stronger carrier would take the LNA down; frozen, it stays.
    m_pCard->Scene().Carriers(0)[3].m_LevelDbm = -15.0;
    EXPECT_EQ(running, Tuner(1).Agc1Step());
    ASSERT_EQ(KXAPI_OK, m_pHal->ResetAgc(1, 0, true));
    EXPECT_LT(Tuner(1).Agc1Step(), running);
}
