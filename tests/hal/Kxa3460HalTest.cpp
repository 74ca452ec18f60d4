// Kxa3460Hal on a virtual 3460: power-on defaults, the checks of tune, parameter and frequency
// requests, the tuner statistics read from the virtual TDA18273, and the cards the driver
// refuses (no tuner, real silicon, a card pulled during the tuner's slow initialisation). What
// every model must do (port numbers, validation passes, limits) is in HalConformanceTest.
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "HalTestSupport.h"
#include "Kxa3460Hal.h"
#include "QamHalTestSupport.h"
#include "SimI2cDevice.h"
#include "VirtualChipRegs.h"
#include "XpUtil.h"

using namespace Kxapi;
using haltest::SERIAL_3460;

namespace {

constexpr long long CARRIER_HZ = 474000000; // -50 dBm in the default scenario
constexpr long long EMPTY_HZ = 600000000;   // no carrier there
constexpr unsigned int LOCK_WAIT_MS = 5000;

KxDemodPars IqPars(int32_t bandwidthHz = 8000000)
{
    KxDemodPars pars(KX_MOD_IQ);
    pars.Iq()->m_BandwidthHz = bandwidthHz;
    pars.Iq()->m_IqDataType = 0;
    pars.Iq()->m_SampleRateHz = 9142857;
    return pars;
}

KxDemodPars ValidDvbTPars()
{
    KxDemodPars pars(KX_MOD_DVBT);
    KxDemodParsDvbT* t = pars.DvbT();
    t->m_CodeRate = 2;
    t->m_Bandwidth = 3;
    t->m_Constellation = 48;
    t->m_Guard = 256;
    t->m_Interleaving = 4096;
    t->m_Mode = 0x20000;
    return pars;
}

class Kxa3460HalTest : public haltest::VirtualCardFixture {
protected:
    void SetUp() override
    {
        Attach(SERIAL_3460);
        m_pHal = std::make_unique<Kxa3460Hal>(SERIAL_3460, m_Device);
        ASSERT_EQ(KXAPI_OK, m_pHal->Init());
    }

    // Reads Lock, RfLvlUncalib and TempTuner, in that order.
    std::vector<KxStatistic> ReadTunerStatistics()
    {
        return qamtest::Read(*m_pHal, 1, {KX_STAT_LOCK, KX_STAT_RF_LVL_UNCALIB, KX_STAT_TEMP_TUNER});
    }
    bool Locked() { return qamtest::Locked(*m_pHal, 1); }

    std::unique_ptr<Kxa3460Hal> m_pHal;
};

int32_t IntValue(const KxStatistic& stat)
{
    int32_t value = 0;
    stat.GetValue(value);
    return value;
}

} // namespace

TEST_F(Kxa3460HalTest, InitPortSetsPowerOnDefaults)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    EXPECT_EQ(1, m_pHal->NumDemodPorts());
    KxTunePars tunePars;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunePars(1, &tunePars, false));
    const KxTunePars expected = {{4, 8000000, -1, -1, -1, -1, -1, -1, -1}};
    EXPECT_EQ(expected, tunePars);
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(474000000, freqHz);
    KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(1, pars));
    ASSERT_TRUE(pars.IsIq());
    EXPECT_EQ(8000000, pars.Iq()->m_BandwidthHz);
    EXPECT_EQ(0, pars.Iq()->m_IqDataType);
    EXPECT_EQ(9142857, pars.Iq()->m_SampleRateHz);
    // The power-on tune reached the chip: it settles on the carrier at 474 MHz.
    EXPECT_TRUE(kxtest::WaitUntil([&] { return Locked(); }, LOCK_WAIT_MS));
}

TEST_F(Kxa3460HalTest, FrequencyLimitsAreInclusive)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    KxDemodPars pars = IqPars();
    for (bool execute : {false, true}) {
        EXPECT_EQ(KXAPI_E_INVALID_FREQ, m_pHal->Tune(1, 41999999, pars, execute));
        EXPECT_EQ(KXAPI_E_INVALID_FREQ, m_pHal->SetTunerFrequency(1, 41999999, -1, execute));
        EXPECT_EQ(KXAPI_E_INVALID_FREQ, m_pHal->SetTunerFrequency(1, 870000001, -1, execute));
    }
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(474000000, freqHz) << "a refused tune changes nothing";

    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, 42000000, pars, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(42000000, freqHz);
    EXPECT_EQ(KXAPI_OK, m_pHal->SetTunerFrequency(1, 870000000, -1, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(870000000, freqHz);
    // The validation pass accepts without tuning.
    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, 500000000, pars, false));
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(870000000, freqHz);
}

TEST_F(Kxa3460HalTest, OnlyValidIqParametersAreAccepted)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    KxDemodPars dvbt = ValidDvbTPars();
    ASSERT_EQ(KXAPI_OK, dvbt.CheckValidity());
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->Tune(1, CARRIER_HZ, dvbt, true));
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->SetDemodControl(1, dvbt, false));
    // Validity comes before the modulation type and the frequency.
    KxDemodPars badIq = IqPars(3000000);
    EXPECT_EQ(badIq.CheckValidity(), m_pHal->Tune(1, 10, badIq, true));
    EXPECT_NE(KXAPI_OK, badIq.CheckValidity());
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->Tune(1, 10, dvbt, true));

    // The 3460's own I/Q type is taken as well.
    KxDemodPars iq3460(KX_MOD_IQ3460);
    iq3460.Iq3460()->m_Tuner = {4, 8000000, -1, -1, -1, -1, -1, -1, -1};
    ASSERT_EQ(KXAPI_OK, iq3460.CheckValidity());
    EXPECT_EQ(KXAPI_OK, m_pHal->SetDemodControl(1, iq3460, false));
    KxDemodPars iq = IqPars(6000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->SetDemodControl(1, iq, true));
    KxDemodPars stored;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(1, stored));
    EXPECT_EQ(iq, stored);
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(474000000, freqHz) << "parameters alone keep the frequency";
}

TEST_F(Kxa3460HalTest, OtherTunersAreRefused)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    long long freqHz = 0;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->SetTunerFrequency(1, CARRIER_HZ, 0, false));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->GetTunerFrequency(1, freqHz, 1));
    // Operations the model does not have keep the defaults.
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->LnbEnable(1, true, false));
    KxDemodPars blind;
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->GetAutoBlindScanPars(1, blind));
}

TEST_F(Kxa3460HalTest, TuneParsAreStoredOnlyWhenTheTunerTookThem)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    KxTunePars pars = {{2, 7000000, 1, 2, 3, 4, 5, 6, 7}};
    // Validation only: nothing stored.
    ASSERT_EQ(KXAPI_OK, m_pHal->SetTunePars(1, &pars, false));
    KxTunePars stored;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunePars(1, &stored, false));
    EXPECT_EQ(4, stored.m_Words[0]);
    ASSERT_EQ(KXAPI_OK, m_pHal->SetTunePars(1, &pars, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunePars(1, &stored, false));
    EXPECT_EQ(pars, stored);

    // The tuner stops answering: the block stays as it was and the failure is reported.
    m_pCard->AddI2cDevice(-1, Kxa3460Hal::TUNER_I2C_ADDRESS, nullptr);
    KxTunePars other = {{1, 6000000, -1, -1, -1, -1, -1, -1, -1}};
    EXPECT_EQ(KXAPI_E_I2C, m_pHal->SetTunePars(1, &other, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunePars(1, &stored, false));
    EXPECT_EQ(pars, stored);
    KxDemodPars iq = IqPars();
    EXPECT_EQ(KXAPI_E_I2C, m_pHal->Tune(1, 500000000, iq, true));
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(474000000, freqHz);
}

TEST_F(Kxa3460HalTest, StatisticsFollowTheRfScene)
{
    int count = 3;
    SupportedStatisticsType list[3] = {};
    ASSERT_EQ(KXAPI_OK, m_pHal->GetSupportedStatistics(1, count, list));
    EXPECT_EQ(3, count);
    EXPECT_EQ(KX_STAT_LOCK, list[0].StatisticId);
    EXPECT_EQ(KX_STAT_RF_LVL_UNCALIB, list[1].StatisticId);
    EXPECT_EQ(10, list[1].AverageWindow);
    EXPECT_EQ(KX_STAT_TEMP_TUNER, list[2].StatisticId);
    for (const SupportedStatisticsType& row : list) {
        EXPECT_EQ(1, row.PollDivider);
        EXPECT_FALSE(row.LockedOnly);
        EXPECT_EQ(-1, row.XtraId[0]);
    }

    ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return Locked(); }, LOCK_WAIT_MS));
    std::vector<KxStatistic> stats = ReadTunerStatistics();
    EXPECT_EQ(KXAPI_OK, static_cast<KXAPI_RESULT>(stats[1].m_Result));
    // -50 dBm is -1.2 dBmV: about -12 tenths, with a little measurement noise.
    EXPECT_GE(IntValue(stats[1]), -22);
    EXPECT_LE(IntValue(stats[1]), -3);
    EXPECT_EQ(KXAPI_OK, static_cast<KXAPI_RESULT>(stats[2].m_Result));
    EXPECT_GE(IntValue(stats[2]), 40);
    EXPECT_LE(IntValue(stats[2]), 45);

    // Away from any carrier the tuner reads the noise floor (-100 dBm = -51.2 dBmV) and does
    // not settle, however long it tries.
    KxDemodPars pars = IqPars();
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, EMPTY_HZ, pars, true));
    XpUtil::Sleep(500);
    stats = ReadTunerStatistics();
    bool locked = true;
    EXPECT_EQ(KXAPI_OK, stats[0].GetValue(locked));
    EXPECT_FALSE(locked);
    EXPECT_LE(IntValue(stats[1]), -490);
    EXPECT_GE(IntValue(stats[1]), -535);

    // Back on the carrier it settles again.
    ASSERT_EQ(KXAPI_OK, m_pHal->SetTunerFrequency(1, CARRIER_HZ, -1, true));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return Locked(); }, LOCK_WAIT_MS));
}

TEST_F(Kxa3460HalTest, DefaultsAndReadingsBeforeTheTunerExists)
{
    std::vector<KxStatistic> defaults = {KxStatistic(KX_STAT_LOCK), KxStatistic(KX_STAT_RF_LVL_UNCALIB),
                                         KxStatistic(KX_STAT_TEMP_TUNER), KxStatistic(KX_STAT_CNR)};
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDefaultStatisticValues(static_cast<int>(defaults.size()), defaults.data()));
    bool locked = true;
    EXPECT_EQ(KXAPI_OK, defaults[0].GetValue(locked));
    EXPECT_FALSE(locked);
    EXPECT_EQ(KXAPI_E_TUNING, static_cast<KXAPI_RESULT>(defaults[1].m_Result));
    EXPECT_EQ(-1, IntValue(defaults[1]));
    EXPECT_EQ(-1, IntValue(defaults[2]));
    EXPECT_EQ(KXAPI_E_TUNING, static_cast<KXAPI_RESULT>(defaults[3].m_Result));

    // No InitPort yet: every reading fails on its own, the call itself succeeds.
    std::vector<KxStatistic> stats = ReadTunerStatistics();
    for (const KxStatistic& stat : stats)
        EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, static_cast<KXAPI_RESULT>(stat.m_Result));
    EXPECT_EQ(-1, IntValue(stats[1]));
    KxDemodPars pars = IqPars();
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, m_pHal->Tune(1, CARRIER_HZ, pars, true));
    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, CARRIER_HZ, pars, false));
}

TEST_F(Kxa3460HalTest, DetachedDeviceIsRefusedBeforeThePort)
{
    ASSERT_EQ(KXAPI_OK, m_Device.Detach());
    KxDemodPars pars = IqPars();
    KxTunePars tunePars;
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_pHal->InitPort(2));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_pHal->Tune(1, CARRIER_HZ, pars, false));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_pHal->SetTunePars(1, &tunePars, true));
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_pHal->SetTunerFrequency(1, CARRIER_HZ, -1, true));
}

TEST_F(Kxa3460HalTest, TunerOtherThanTheVirtualOneIsNotSupported)
{
    // Real silicon answers its own registers, not the virtual identification.
    m_pCard->AddI2cDevice(-1, Kxa3460Hal::TUNER_I2C_ADDRESS, new SimI2cRegisterFile(256));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->InitPort(1));
    // Nothing answering at the tuner's address at all.
    m_pCard->AddI2cDevice(-1, Kxa3460Hal::TUNER_I2C_ADDRESS, nullptr);
    EXPECT_EQ(KXAPI_E_I2C, m_pHal->InitPort(1));
}

namespace {

const char SLOW_TUNER_SCENARIO[] = R"({
  "seed": 7,
  "cards": [{
    "model": 3460, "serial": 3460000009,
    "properties": [{"name": "SIM_INIT_DELAY_MS", "value": 400}],
    "inputs": [[{"freqHz": 474000000, "standard": "DVB-T", "bandwidthHz": 7610000, "levelDbm": -60.0}]]
  }]
})";

const char VERY_SLOW_TUNER_SCENARIO[] = R"({
  "cards": [{
    "model": 3460, "serial": 3460000009,
    "properties": [{"name": "SIM_INIT_DELAY_MS", "value": 20000}]
  }]
})";

class SlowTunerTest : public haltest::VirtualCardFixture {};

} // namespace

TEST_F(SlowTunerTest, SlowInitialisationIsWaitedFor)
{
    Attach(3460000009, SLOW_TUNER_SCENARIO);
    Kxa3460Hal hal(3460000009, m_Device);
    EXPECT_EQ(KXAPI_OK, hal.InitPort(1));
    KxTunePars tunePars;
    ASSERT_EQ(KXAPI_OK, hal.GetTunePars(1, &tunePars, false));
    EXPECT_EQ(8000000, tunePars.m_Words[1]);
}

TEST_F(SlowTunerTest, CardPulledDuringInitialisationFailsIt)
{
    Attach(3460000009, VERY_SLOW_TUNER_SCENARIO);
    Kxa3460Hal hal(3460000009, m_Device);
    KXAPI_RESULT result = KXAPI_OK;
    std::thread init([&] { result = hal.InitPort(1); });
    XpUtil::Sleep(200);
    ASSERT_EQ(KXAPI_OK, m_Environment.Rack().Unplug(3460000009));
    init.join();
    EXPECT_TRUE(KxapiFailed(result)) << KxapiResult2Str(result);
}
