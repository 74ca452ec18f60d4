// Kxa3470Hal on a virtual 3470: the clock generator and LNB supply as Init leaves them, the
// ports' power-on defaults, the frequency, symbol-rate and parameter rules of a tune, the I/Q
// port that acts in the validation pass and yields to another process holding port 1, the LNB
// operations and the register values they write, a fixed-rate tune that locks with its
// statistics and constellation, and the board's mapping rules. What every model must do (port
// numbers, validation passes, limits, defaults) is in HalConformanceTest.
#include <cstdlib>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "CritSecAutoLock.h"

#include "HalTestSupport.h"
#include "KxAf.h"
#include "Kxa3470Hal.h"
#include "Max2121B.h"
#include "Sim3470Blocks.h"
#include "SimMax2121B.h"
#include "XpUtil.h"

using namespace Kxapi;
using haltest::SERIAL_3470;

namespace {

constexpr long long CARRIER_HZ = 1150000000; // 27.5 MBd, C/N 12 dB in the default scenario
constexpr int32_t CARRIER_SYMBOL_RATE_BD = 27500000;
constexpr unsigned int LOCK_WAIT_MS = 3000;

// The automatic DVB-S2 parameters, of another DVB-S2 modulation type where given.
KxDemodPars S2Pars(int32_t symbolRateBd, int32_t modType = KX_MOD_DVBS2)
{
    KxDemodPars pars = KxDemodPars::DvbS2Automatic(symbolRateBd);
    if (modType != KX_MOD_DVBS2) {
        const KxDemodParsDvbS2Adv fields = *pars.DvbS2();
        pars = KxDemodPars(modType);
        *pars.DvbS2() = fields;
    }
    return pars;
}

KxDemodPars IqPars(int32_t bandwidthHz, int32_t sampleRateHz, int32_t dataType = 1)
{
    KxDemodPars pars(KX_MOD_IQ);
    pars.Iq()->m_BandwidthHz = bandwidthHz;
    pars.Iq()->m_IqDataType = dataType;
    pars.Iq()->m_SampleRateHz = sampleRateHz;
    return pars;
}

class Kxa3470HalTest : public haltest::VirtualCardFixture {
protected:
    void SetUp() override
    {
        Attach(SERIAL_3470);
        m_pTuner = Sim3470Tuner(*m_pCard);
        m_pLnbChip = dynamic_cast<SimI2cRegisterFile*>(m_pCard->I2cDevice(0, SIM3470_LNB_I2C_ADDRESS));
        m_pLnbBlock = Sim3470LnbController(*m_pCard);
        ASSERT_NE(nullptr, m_pTuner);
        ASSERT_NE(nullptr, m_pLnbChip);
        ASSERT_NE(nullptr, m_pLnbBlock);
        m_pHal = std::make_unique<Kxa3470Hal>(SERIAL_3470, m_Device);
        ASSERT_EQ(KXAPI_OK, m_pHal->Init());
        ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(1));
        ASSERT_EQ(KXAPI_OK, m_pHal->InitPort(2));
    }

    int LnbRegister(int reg) { return m_pLnbChip->Memory()[static_cast<size_t>(reg)]; }

    int SampleRateMHz()
    {
        KxDemodPars pars;
        EXPECT_EQ(KXAPI_OK, m_pHal->GetDemodControl(2, pars));
        return pars.IsIq() ? pars.Iq()->m_SampleRateHz / 1000000 : -1;
    }

    // One periodic step of the port as its worker runs it; true when Lock reads true after it.
    bool Step()
    {
        EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, false));
        KxStatistic lock(KX_STAT_LOCK);
        EXPECT_EQ(KXAPI_OK, m_pHal->GetStatistics(1, 1, &lock));
        bool locked = false;
        locked = lock.GetValue(locked) == KXAPI_OK && locked;
        EXPECT_EQ(KXAPI_OK, m_pHal->Update(1, locked));
        return locked;
    }

    // Runs the port's periodic and maintenance steps until Lock reads true, then for ms more
    // milliseconds; false when it did not lock.
    bool TuneUntilLocked(unsigned int ms = 0)
    {
        unsigned int start = XpUtil::GetTickCount();
        bool locked = false;
        while (!locked && XpUtil::GetTickCount() - start < LOCK_WAIT_MS)
            locked = Step() || (XpUtil::Sleep(100), false);
        for (start = XpUtil::GetTickCount(); locked && XpUtil::GetTickCount() - start < ms; XpUtil::Sleep(100))
            Step();
        return locked;
    }

    SimMax2121B* m_pTuner = nullptr;
    SimI2cRegisterFile* m_pLnbChip = nullptr;
    SimLnbControllerModel* m_pLnbBlock = nullptr;
    std::unique_ptr<Kxa3470Hal> m_pHal;
};

} // namespace

TEST_F(Kxa3470HalTest, InitProgramsClockGeneratorAndLnbSupply)
{
    auto* pClock = dynamic_cast<SimCdcm6208*>(m_pCard->I2cDevice(0, SIM3470_CLOCK_I2C_ADDRESS));
    ASSERT_NE(nullptr, pClock);
    const std::vector<std::pair<uint16_t, uint16_t>> expected = {
        {0, 0x01B9},  {1, 0x0004},  {2, 0x002C},  {3, 0x00B4},  {4, 0x204C},  {5, 0x0000},  {6, 0x0000},
        {7, 0x0022},  {8, 0x0011},  {9, 0x0602},  {10, 0x0004}, {11, 0x4000}, {12, 0x0000}, {13, 0x0000},
        {14, 0x0000}, {15, 0x0000}, {16, 0x0000}, {17, 0x0000}, {18, 0x0000}, {19, 0x0000}, {20, 0x0000},
        {21, 0x0000}, {40, 0x0000}, {3, 0x00F4}};
    EXPECT_EQ(expected, pClock->Writes()) << "23 writes, then register 3 once more";
    EXPECT_EQ(0, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG)) << "supply off";
    EXPECT_EQ(1, LnbRegister(Kxa3470Hal::LNBH25_TONE_REG));
    EXPECT_FALSE(m_pLnbBlock->ToneOn());

    // A second Init of the live HAL is refused.
    EXPECT_EQ(KXAPI_E_IN_USE, m_pHal->Init());
}

TEST_F(Kxa3470HalTest, PortsStartFromTheirPowerOnDefaults)
{
    EXPECT_EQ(1200000000, m_pTuner->FrequencyHz());
    EXPECT_EQ(40000000, m_pTuner->LpfHz());
    EXPECT_EQ(7, m_pTuner->BasebandGain());
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_EQ(1200000000, freqHz);
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->GetTunerFrequency(1, freqHz, 0));

    KxDemodPars iq;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(2, iq));
    EXPECT_EQ(IqPars(80000000, 160000000), iq) << "twice the tuner's low-pass, the converter's rate";

    // Port 1 reports parameters only once a stream is locked.
    KxDemodPars s2;
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_pHal->GetDemodControl(1, s2));
    KxDemodPars blind;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetAutoBlindScanPars(1, blind));
    EXPECT_EQ(S2Pars(-1), blind);
}

TEST_F(Kxa3470HalTest, TuneFrequencyAndSymbolRateLimits)
{
    struct Case {
        long long m_FreqHz;
        int32_t m_SymbolRateBd;
        KXAPI_RESULT m_Expected;
    } const cases[] = {
        {949999999, CARRIER_SYMBOL_RATE_BD, KXAPI_E_INVALID_FREQ},
        {950000000, CARRIER_SYMBOL_RATE_BD, KXAPI_OK},
        {2150000000, CARRIER_SYMBOL_RATE_BD, KXAPI_OK},
        {2150000001, CARRIER_SYMBOL_RATE_BD, KXAPI_E_INVALID_FREQ},
        {CARRIER_HZ, 85000, KXAPI_E_INVALID_SYMRATE},
        {CARRIER_HZ, 89999, KXAPI_E_INVALID_SYMRATE},
        {CARRIER_HZ, 90000, KXAPI_OK},
        {CARRIER_HZ, 72000000, KXAPI_OK},
        {CARRIER_HZ, 72000001, KXAPI_E_INVALID_SYMRATE},
        {CARRIER_HZ, -1, KXAPI_OK},
        {CARRIER_HZ, -2, KXAPI_E_INVALID_SYMRATE},
    };
    for (const Case& c : cases) {
        for (bool execute : {false, true}) {
            KxDemodPars pars = S2Pars(c.m_SymbolRateBd);
            EXPECT_EQ(c.m_Expected, m_pHal->Tune(1, c.m_FreqHz, pars, execute))
                << c.m_FreqHz << " Hz, " << c.m_SymbolRateBd << " Bd, execute " << execute;
        }
    }
}

TEST_F(Kxa3470HalTest, ParameterRulesOfEachPort)
{
    struct Case {
        const char* m_pWhat;
        int m_Port;
        KxDemodPars m_Pars;
        KXAPI_RESULT m_Expected;
    };
    KxDemodPars plainS2 = S2Pars(CARRIER_SYMBOL_RATE_BD, KX_MOD_DVBS2_QPSK);
    plainS2.DvbS2()->m_CodeRate = 2;
    plainS2.DvbS2()->m_Pilots = 0;
    plainS2.DvbS2()->m_FecFrame = 0;
    KxDemodPars qpskAuto = plainS2;
    qpskAuto.DvbS2()->m_Pilots = 3;
    KxDemodPars badInversion = S2Pars(CARRIER_SYMBOL_RATE_BD);
    badInversion.DvbS2()->m_SpecInv = 32;
    const Case cases[] = {
        {"I/Q on the DVB-S2 port", 1, IqPars(100000000, 40000000), KXAPI_E_INVALID_MODTYPE},
        {"DVB-S2 on the I/Q port", 2, S2Pars(CARRIER_SYMBOL_RATE_BD), KXAPI_E_INVALID_MODTYPE},
        {"DVB-S2 record with none of the automatic fields", 1, plainS2, KXAPI_E_INVALID_PARS},
        {"QPSK with automatic pilots", 1, qpskAuto, KXAPI_OK},
        {"record's own check", 1, badInversion, KXAPI_E_INVALID_MODPARS},
        {"I/Q data type 0", 2, IqPars(100000000, 40000000, 0), KXAPI_E_INVALID_ARG},
        {"I/Q bandwidth below 80 MHz", 2, IqPars(79999999, 40000000), KXAPI_E_INVALID_BANDWIDTH},
        {"I/Q bandwidth above 248 MHz", 2, IqPars(248000001, 40000000), KXAPI_E_INVALID_BANDWIDTH},
        {"I/Q sample rate 30 MHz", 2, IqPars(100000000, 30000000), KXAPI_E_INVALID_SAMPRATE},
        {"QAM on the DVB-S2 port", 1, KxDemodPars(KX_MOD_QAM64), KXAPI_E_INVALID_MODTYPE},
    };
    for (const Case& c : cases) {
        KxDemodPars pars = c.m_Pars;
        const KXAPI_RESULT result = m_pHal->Tune(c.m_Port, CARRIER_HZ, pars, true);
        if (c.m_Expected == KXAPI_E_INVALID_MODTYPE && c.m_Port == 1 && pars.ModType() == KX_MOD_QAM64)
            EXPECT_TRUE(KxapiFailed(result)) << c.m_pWhat; // the QAM record's own check may answer first
        else
            EXPECT_EQ(c.m_Expected, result) << c.m_pWhat;
    }
}

TEST_F(Kxa3470HalTest, IqPortActsInTheValidationPassOnly)
{
    EXPECT_TRUE(m_pHal->ActsInValidationPass(2));
    EXPECT_FALSE(m_pHal->ActsInValidationPass(1));
    KxDemodPars pars = IqPars(100000000, 40000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(2, 1500000000, pars, false));
    EXPECT_EQ(1500000000, m_pTuner->FrequencyHz());
    EXPECT_EQ(50000000, m_pTuner->LpfHz()) << "low-pass at half the bandwidth";
    EXPECT_EQ(40, SampleRateMHz());

    KxDemodPars other = IqPars(200000000, 80000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(2, 1600000000, other, true));
    EXPECT_EQ(1500000000, m_pTuner->FrequencyHz()) << "the queued execution changes nothing";
    EXPECT_EQ(50000000, m_pTuner->LpfHz());
    EXPECT_EQ(40, SampleRateMHz());

    // Bandwidth -1 keeps the tuner's low-pass.
    KxDemodPars keep = IqPars(-1, 20000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->SetDemodControl(2, keep, false));
    EXPECT_EQ(50000000, m_pTuner->LpfHz());
    EXPECT_EQ(20, SampleRateMHz());

    // While the I/Q port has the tuner, port 1's periodic step leaves it alone.
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, false));
    EXPECT_EQ(1500000000, m_pTuner->FrequencyHz());
}

TEST_F(Kxa3470HalTest, IqPortMayOnlyChangeItsRateWhileAnotherProcessHoldsPort1)
{
    // Another process holds a block of port 1's channel exclusively.
    KxDeviceInt other;
    ASSERT_EQ(KXAPI_OK, other.AttachToSerial(SERIAL_3470));
    KxAf mux;
    ASSERT_EQ(KXAPI_OK, mux.Init(AF_DATASTMUX, other.Core(), 0));
    ASSERT_EQ(KXAPI_OK, mux.ExclAccess(KX_EXCL_ACQUIRE));

    KxDemodPars tune = IqPars(100000000, 40000000);
    EXPECT_EQ(KXAPI_E_IN_USE, m_pHal->Tune(2, 1500000000, tune, false));
    EXPECT_EQ(KXAPI_E_IN_USE, m_pHal->SetTunerFrequency(2, 1500000000, -1, false));
    KxDemodPars newBandwidth = IqPars(100000000, 40000000);
    EXPECT_EQ(KXAPI_E_IN_USE, m_pHal->SetDemodControl(2, newBandwidth, false));
    EXPECT_EQ(1200000000, m_pTuner->FrequencyHz());

    KxDemodPars rateOnly = IqPars(-1, 10000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->SetDemodControl(2, rateOnly, false));
    EXPECT_EQ(10, SampleRateMHz());
    EXPECT_EQ(1200000000, m_pTuner->FrequencyHz()) << "the tuner stays with port 1";
    EXPECT_EQ(40000000, m_pTuner->LpfHz());

    ASSERT_EQ(KXAPI_OK, mux.ExclAccess(KX_EXCL_RELEASE));
    EXPECT_EQ(KXAPI_OK, m_pHal->Tune(2, 1500000000, tune, false)) << "free again";
    EXPECT_EQ(1500000000, m_pTuner->FrequencyHz());
}

TEST_F(Kxa3470HalTest, LnbVoltageRegisterValues)
{
    const int expected[4] = {1, 8, 4, 11};
    for (unsigned int level = 0; level < 4; level++) {
        ASSERT_EQ(KXAPI_OK, m_pHal->LnbSetVoltage(1, level, true)) << level;
        EXPECT_EQ(expected[level], LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG)) << "level " << level;
    }
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->LnbSetVoltage(1, 4, true));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->LnbSetVoltage(1, 4, false));
    EXPECT_EQ(11, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSetVoltage(1, 2, false));
    EXPECT_EQ(11, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG)) << "the validation pass writes nothing";
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->LnbSetVoltage(2, 1, true));
}

TEST_F(Kxa3470HalTest, LnbOperationsWithTheSupplyOffAndOn)
{
    static const unsigned char DISEQC[] = {0xE0, 0x10, 0x38, 0xF0};
    static const unsigned char DISEQC_REPLY[] = {0xE2, 0x10, 0x38, 0xF0};
    unsigned char reply[8] = {};
    int replyLength = sizeof(reply);

    // Supply off: tone, burst and DiSEqC are refused; the voltage is still set.
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->LnbEnableTone(1, true, true));
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->LnbSendBurst(1, 1, true));
    EXPECT_EQ(KXAPI_E_INVALID_MODE, m_pHal->LnbSendDiseqcMessage(1, DISEQC, 4, nullptr, nullptr, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSetVoltage(1, 2, true));
    EXPECT_EQ(4, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG));
    EXPECT_FALSE(m_pLnbBlock->ToneOn());
    EXPECT_TRUE(m_pLnbBlock->Messages().empty());

    // Supply on: the remembered voltage, then tone, burst and DiSEqC reach the controller.
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSetVoltage(1, 3, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnable(1, false, true));
    EXPECT_EQ(0, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnable(1, true, true));
    EXPECT_EQ(11, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnableTone(1, true, true));
    EXPECT_TRUE(m_pLnbBlock->ToneOn());
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSendBurst(1, 7, true));
    EXPECT_EQ(1, m_pLnbBlock->LastBurst()) << "any burst but 0 is burst 1";
    EXPECT_EQ(KXAPI_E_INVALID_BUF, m_pHal->LnbSendDiseqcMessage(1, nullptr, 4, nullptr, nullptr, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSendDiseqcMessage(1, DISEQC, 4, nullptr, nullptr, true));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSendDiseqcMessage(1, DISEQC_REPLY, 4, reply, &replyLength, true));
    ASSERT_EQ(1, replyLength);
    EXPECT_EQ(0xE4, reply[0]);
    ASSERT_EQ(2u, m_pLnbBlock->Messages().size());
    EXPECT_EQ(std::vector<unsigned char>(DISEQC, DISEQC + 4), m_pLnbBlock->Messages()[0]);

    // The validation pass sends nothing.
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbSendDiseqcMessage(1, DISEQC, 4, nullptr, nullptr, false));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnableTone(1, false, false));
    EXPECT_EQ(2u, m_pLnbBlock->Messages().size());
    EXPECT_TRUE(m_pLnbBlock->ToneOn());

    // Off switches the tone off and forgets it; on again keeps it off.
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnable(1, false, true));
    EXPECT_FALSE(m_pLnbBlock->ToneOn());
    EXPECT_EQ(0, LnbRegister(Kxa3470Hal::LNBH25_VOLTAGE_REG));
    ASSERT_EQ(KXAPI_OK, m_pHal->LnbEnable(1, true, true));
    EXPECT_FALSE(m_pLnbBlock->ToneOn());

    for (auto op : {+[](Kxa3470Hal& h) { return h.LnbEnable(2, true, true); },
                    +[](Kxa3470Hal& h) { return h.LnbEnableTone(2, true, true); },
                    +[](Kxa3470Hal& h) { return h.LnbSendBurst(2, 0, true); }})
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, op(*m_pHal)) << "the I/Q port has no LNB";
}

TEST_F(Kxa3470HalTest, FixedSymbolRateLocksAndReportsStatistics)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(1));
    KxDemodPars pars = S2Pars(CARRIER_SYMBOL_RATE_BD);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, CARRIER_HZ, pars, true));
    ASSERT_TRUE(TuneUntilLocked(1000)); // the maintenance steps see the PL-header lock of the last half second
    EXPECT_EQ(CARRIER_HZ, m_pTuner->FrequencyHz());
    EXPECT_EQ(16500000, m_pTuner->LpfHz()) << "27.5 MBd x 1.20 / 2: the maintenance step follows the carrier's roll-off";

    std::vector<KxStatistic> stats = {KxStatistic(KX_STAT_PL_HEADER_LOCK), KxStatistic(KX_STAT_MER),
                                      KxStatistic(KX_STAT_STREAM_LOCK), KxStatistic(KX_STAT_STREAM_LOCK),
                                      KxStatistic(KX_STAT_LOCK_PERC), KxStatistic(KX_STAT_BER_PRE_LDPC),
                                      KxStatistic(KX_STAT_TEMP_TUNER)};
    stats[2].m_XtraId[0] = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetStatistics(1, static_cast<int>(stats.size()), stats.data()));
    bool locked = false;
    EXPECT_EQ(KXAPI_OK, stats[0].GetValue(locked));
    EXPECT_TRUE(locked);
    int32_t merTenths = 0;
    EXPECT_EQ(KXAPI_OK, stats[1].GetValue(merTenths));
    EXPECT_NEAR(115, merTenths, 10) << "C/N 12 dB less the implementation loss, in tenths";
    EXPECT_EQ(KXAPI_OK, stats[2].GetValue(locked));
    EXPECT_TRUE(locked) << "stream 0";
    EXPECT_EQ(KXAPI_E_PLP_NOT_FOUND, static_cast<KXAPI_RESULT>(stats[3].m_Result)) << "no stream named";
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, static_cast<KXAPI_RESULT>(stats[4].m_Result)) << "LockPerc has windows only";
    EXPECT_EQ(KXAPI_E_PLP_NOT_FOUND, static_cast<KXAPI_RESULT>(stats[5].m_Result));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, static_cast<KXAPI_RESULT>(stats[6].m_Result));

    KxDemodPars reported;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(1, reported));
    ASSERT_TRUE(reported.IsDvbS2());
    EXPECT_NEAR(CARRIER_SYMBOL_RATE_BD, reported.DvbS2()->m_SymRateBd, 1000);

    // Constellation of one stream and of all streams; arguments checked first.
    KxConstelPoint points[100];
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->GetConstellationPoints(1, 0, points, 0, true));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_pHal->GetConstellationPoints(1, 10, nullptr, 0, true));
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_pHal->GetConstellationPoints(1, 10, points, 7, true)) << "no stream 7";
    for (int stream : {0, -1}) {
        std::fill(std::begin(points), std::end(points), KxConstelPoint{});
        ASSERT_EQ(KXAPI_OK, m_pHal->GetConstellationPoints(1, 100, points, stream, true)) << stream;
        int nonZero = 0;
        for (const KxConstelPoint& p : points)
            nonZero += p.m_X != 0 || p.m_Y != 0;
        EXPECT_GT(nonZero, 90) << "stream " << stream;
    }
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->GetConstellationPoints(2, 100, points, -1, true));

    std::vector<int> plps;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetPlpList(1, plps));
    ASSERT_FALSE(plps.empty());
    EXPECT_EQ(-1, plps[0]);
}

// The default scene's VCM carrier at 1400 MHz sends stream 0 with MODCOD 7 (QPSK 3/4) and
// stream 3 with MODCOD 4 (QPSK 1/2): each stream's signalling data shows its own PLS code.
TEST_F(Kxa3470HalTest, EachStreamOfAVcmCarrierReportsItsOwnPls)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(1));
    KxDemodPars pars = S2Pars(30000000);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, 1400000000, pars, true));
    ASSERT_TRUE(TuneUntilLocked(1000));
    const struct {
        int m_Isi;
        int32_t m_Pls;
    } rows[] = {{0, 7 << 2}, {3, 4 << 2}};
    for (const auto& row : rows) {
        KxStatistic sig(KX_STAT_S2_ISI_SIG);
        sig.m_XtraId[0] = row.m_Isi;
        ASSERT_EQ(KXAPI_OK, m_pHal->GetStatistics(1, 1, &sig));
        KxDvbS2IsiSigData data;
        ASSERT_EQ(KXAPI_OK, sig.GetValue(data)) << "ISI " << row.m_Isi;
        EXPECT_EQ(row.m_Isi, data.m_Isi);
        EXPECT_EQ(row.m_Pls, data.m_Pls) << "ISI " << row.m_Isi;
        EXPECT_EQ(0, data.m_CcmAcm) << "a VCM carrier's baseband header says ACM/VCM";
    }
}

TEST_F(Kxa3470HalTest, MaintenanceStepRecentresTheTunerOnTheCarrier)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(1));
    // 2 MHz above the carrier: inside the demodulator's capture range, so it locks and measures
    // the offset; the next maintenance step moves the tuner onto the carrier.
    KxDemodPars pars = S2Pars(CARRIER_SYMBOL_RATE_BD);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, CARRIER_HZ + 2000000, pars, true));
    ASSERT_TRUE(TuneUntilLocked(1000)); // the maintenance steps see the PL-header lock of the last half second
    long long freqHz = 0;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetTunerFrequency(1, freqHz, -1));
    EXPECT_NEAR(CARRIER_HZ, freqHz, 200) << "tuner + measured offset";
    EXPECT_NEAR(CARRIER_HZ, m_pTuner->FrequencyHz(), 200);

    // A carrier that disappears is looked for again: the re-lock check re-tunes.
    {
        CritSecAutoLock sceneLock(m_pCard->Lock()); // the card's models read the scene under it
        m_pCard->Scene().Carriers(0).erase(m_pCard->Scene().Carriers(0).begin());
    }
    KxStatistic lock(KX_STAT_LOCK);
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            m_pHal->Tune(1, false);
            m_pHal->GetStatistics(1, 1, &lock);
            bool locked = true;
            return lock.GetValue(locked) == KXAPI_OK && !locked;
        },
        LOCK_WAIT_MS));
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            m_pHal->Tune(1, false);
            return m_pTuner->FrequencyHz() == CARRIER_HZ + 2000000;
        },
        5000))
        << "back on the client's frequency after at most seven 500 ms checks";
}

TEST_F(Kxa3470HalTest, OpenSymbolRateIsFoundByTheDetector)
{
    ASSERT_EQ(KXAPI_OK, m_pHal->OnFirstUsage(1));
    // The 45 MBd carrier does not lock at the 27.5 MBd the demodulator holds: the detector
    // measures the spectrum, estimates the rate and sweeps candidates until it locks.
    KxDemodPars open = S2Pars(-1);
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, 1750000000, open, true));
    KxStatistic lock(KX_STAT_LOCK);
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, false));
            m_pHal->GetStatistics(1, 1, &lock);
            bool locked = false;
            return lock.GetValue(locked) == KXAPI_OK && locked;
        },
        20000));
    KxDemodPars reported;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDemodControl(1, reported));
    EXPECT_NEAR(45000000, reported.DvbS2()->m_SymRateBd, 450000) << "within the demodulator's 1 %";

    // Nothing at 1300 MHz: the periodic steps answer OK and the port stays unlocked.
    ASSERT_EQ(KXAPI_OK, m_pHal->Tune(1, 1300000000, open, true));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(KXAPI_OK, m_pHal->Tune(1, false)) << "step " << i;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetStatistics(1, 1, &lock));
    bool locked = true;
    EXPECT_EQ(KXAPI_OK, lock.GetValue(locked));
    EXPECT_FALSE(locked);
}

TEST_F(Kxa3470HalTest, AttributesAndStatisticsOfThePorts)
{
    struct Case {
        int m_Attribute;
        int m_Expected;
    } const cases[] = {{DEMOD_ATTR_MOD_FREQ_ABSMAX, 2150}, {DEMOD_ATTR_MOD_FREQ_ABSMIN, 950},
                       {DEMOD_ATTR_MOD_FREQ_MAX, 2150}, {DEMOD_ATTR_MOD_FREQ_MIN, 950}};
    for (int port : {1, 2}) {
        for (const Case& c : cases) {
            int value = -1;
            EXPECT_EQ(KXAPI_OK, m_pHal->GetAttribute(port, c.m_Attribute, value, true));
            EXPECT_EQ(c.m_Expected, value) << "port " << port << ", attribute " << c.m_Attribute;
        }
        int value = 77;
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_pHal->GetAttribute(port, 8, value, true));
        EXPECT_EQ(77, value);
    }

    SupportedStatisticsType list[32];
    int count = 32;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetSupportedStatistics(1, count, list));
    EXPECT_EQ(25, count);
    count = 32;
    ASSERT_EQ(KXAPI_OK, m_pHal->GetSupportedStatistics(2, count, list));
    EXPECT_EQ(0, count) << "the I/Q port measures nothing";

    // Defaults: levels -1, lock flags false, error rates -1.0 while not locked.
    std::vector<KxStatistic> stats = {KxStatistic(KX_STAT_AGC1), KxStatistic(KX_STAT_LOCK_PERC),
                                      KxStatistic(KX_STAT_BER_PRE_BCH), KxStatistic(KX_STAT_DVBS2_ISI),
                                      KxStatistic(KX_STAT_TEMP_TUNER)};
    ASSERT_EQ(KXAPI_OK, m_pHal->GetDefaultStatisticValues(static_cast<int>(stats.size()), stats.data()));
    int32_t agc = 0, lockPerc = -1;
    double ber = 0.0;
    EXPECT_EQ(KXAPI_E_TUNING, stats[0].GetValue(agc));
    EXPECT_EQ(-1, agc);
    EXPECT_EQ(KXAPI_OK, stats[1].GetValue(lockPerc));
    EXPECT_EQ(0, lockPerc);
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, stats[2].GetValue(ber));
    EXPECT_EQ(-1.0, ber);
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, static_cast<KXAPI_RESULT>(stats[3].m_Result));
    EXPECT_EQ(KXAPI_E_TUNING, static_cast<KXAPI_RESULT>(stats[4].m_Result)) << "anything else";
}

TEST(Kxa3470RulesTest, SpectrumInversionAndSampleRateMappings)
{
    struct Inversion {
        int m_Parameter;
        KXAPI_RESULT m_Result;
        int m_Code;
    } const inversions[] = {{16, KXAPI_OK, 1}, {48, KXAPI_OK, 0}, {0, KXAPI_OK, 2}, {32, KXAPI_E_INVALID_ARG, -1}};
    for (const Inversion& c : inversions) {
        int code = -1;
        EXPECT_EQ(c.m_Result, Kxa3470Hal::SpecInvToHardware(c.m_Parameter, code)) << c.m_Parameter;
        EXPECT_EQ(c.m_Code, code) << c.m_Parameter;
    }

    struct Division {
        int m_Division;
        KXAPI_RESULT m_Result;
        int m_RateMHz;
    } const divisions[] = {{0, KXAPI_E_INTERNAL, -1}, {1, KXAPI_OK, 160}, {2, KXAPI_OK, 80},
                           {32, KXAPI_OK, 5},         {33, KXAPI_E_INTERNAL, -1}};
    for (const Division& c : divisions) {
        int rate = -1;
        EXPECT_EQ(c.m_Result, Kxa3470Hal::SampleRateOfDivision(c.m_Division, rate)) << c.m_Division;
        EXPECT_EQ(c.m_RateMHz, rate) << c.m_Division;
    }

    struct Rate {
        long long m_RateHz;
        KXAPI_RESULT m_Result;
        int m_Division;
    } const rates[] = {{160000000, KXAPI_OK, 1}, {80000000, KXAPI_OK, 2},  {40000000, KXAPI_OK, 4},
                       {20000000, KXAPI_OK, 8},  {10000000, KXAPI_OK, 16}, {5000000, KXAPI_OK, 32},
                       {30000000, KXAPI_E_INVALID_RATE, -1}, {160000001, KXAPI_E_INVALID_RATE, -1}};
    for (const Rate& c : rates) {
        int division = -1;
        EXPECT_EQ(c.m_Result, Kxa3470Hal::DivisionOfSampleRate(c.m_RateHz, division)) << c.m_RateHz;
        EXPECT_EQ(c.m_Division, division) << c.m_RateHz;
    }
}

TEST(Kxa3470RulesTest, LowPassCoefficientsOfTheLevelFilter)
{
    // Cutoff 32 MHz at 160 MHz: x = 0.1; 16-bit taps scaled by 32767. Centre 2x; one tap from
    // the centre sin(0.2 pi) / pi; five taps away sin(pi) = 0.
    const std::vector<int> taps = Kxa3470Hal::CalcLpfFirFilterCoeffs(6, 32000000, 160000000, 16);
    ASSERT_EQ(6u, taps.size());
    EXPECT_EQ(6553, taps[5]);
    EXPECT_EQ(6131, taps[4]);
    EXPECT_EQ(0, taps[0]);
    // The whole symmetric filter passes DC at (about) full scale.
    const std::vector<int> longTaps = Kxa3470Hal::CalcLpfFirFilterCoeffs(400, 32000000, 160000000, 16);
    long long sum = longTaps.back();
    for (size_t i = 0; i + 1 < longTaps.size(); i++)
        sum += 2LL * longTaps[i];
    EXPECT_NEAR(32767, sum, 200);
    EXPECT_TRUE(Kxa3470Hal::CalcLpfFirFilterCoeffs(0, 32000000, 160000000, 16).empty());
}

TEST(Kxa3470RulesTest, NextBlindScanFrequency)
{
    struct Case {
        long long m_OffsetHz;
        long long m_SymbolRateBd;
        KXAPI_RESULT m_Result;
        long long m_FoundHz;
        long long m_NextHz;
    } const cases[] = {
        // Found 1150.2 MHz; its band ends 27.5 MBd x 1.35 / 2 above: 1168.7625 MHz, rounded.
        {200000, 27500000, KXAPI_OK, 1150200000, 1169000000},
        {-13750000, 27500000, KXAPI_OK, 1136250000, 1155000000}, // 1154.8125 MHz rounded up
        {13750001, 27500000, KXAPI_E_INVALID_FREQ, 1163750001, 1163750001},
        {-13750001, 27500000, KXAPI_E_INVALID_FREQ, 1136249999, 1136249999},
    };
    for (const Case& c : cases) {
        long long found = 0, next = 0;
        EXPECT_EQ(c.m_Result,
                  Kxa3470Hal::NextBlindScanFrequency(1150000000, c.m_OffsetHz, c.m_SymbolRateBd, 0.35, found, next))
            << c.m_OffsetHz;
        EXPECT_EQ(c.m_FoundHz, found) << c.m_OffsetHz;
        EXPECT_EQ(c.m_NextHz, next) << c.m_OffsetHz;
    }
}

using Max2121BTest = haltest::VirtualCardFixture;

TEST_F(Max2121BTest, DriverAndVirtualChipAgreeOnTheRegisterSet)
{
    ASSERT_NO_FATAL_FAILURE(Attach(SERIAL_3470));
    KxAf i2c;
    ASSERT_EQ(KXAPI_OK, i2c.Init(AF_I2CM, "MAX2121B", m_Device.Core(), 0));
    KxProxyI2CM* pI2c = nullptr;
    ASSERT_EQ(KXAPI_OK, i2c.GetProxy(pI2c));

    Max2121B tuner;
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, tuner.SetFrequency(1200000000));
    EXPECT_NE(KXAPI_OK, tuner.Init(pI2c, 98)) << "nobody at that address";
    ASSERT_EQ(KXAPI_OK, tuner.Init(pI2c, 96));
    struct Case {
        long long m_FreqHz;
        KXAPI_RESULT m_Result;
    } const freqs[] = {{924999999, KXAPI_E_INVALID_FREQ}, {925000000, KXAPI_OK}, {2175000000, KXAPI_OK},
                       {2175000001, KXAPI_E_INVALID_FREQ}, {1234567891, KXAPI_OK}};
    long long lastGood = 0;
    for (const Case& c : freqs) {
        EXPECT_EQ(c.m_Result, tuner.SetFrequency(c.m_FreqHz)) << c.m_FreqHz;
        if (c.m_Result == KXAPI_OK)
            lastGood = c.m_FreqHz;
        long long readBack = 0;
        ASSERT_EQ(KXAPI_OK, tuner.GetFrequency(readBack));
        EXPECT_EQ(lastGood, readBack) << "reports exactly what it runs on";
    }
    ASSERT_EQ(KXAPI_OK, tuner.SetLpfBandWidth(48600000));
    int lpf = 0;
    ASSERT_EQ(KXAPI_OK, tuner.GetLpfBandWidth(lpf));
    EXPECT_EQ(48600000, lpf);
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, tuner.SetLpfBandWidth(130000001));
    EXPECT_EQ(KXAPI_E_INVALID_BANDWIDTH, tuner.SetLpfBandWidth(49999));
    ASSERT_EQ(KXAPI_OK, tuner.SetBBGain(15));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, tuner.SetBBGain(16));
    int gain = 0;
    ASSERT_EQ(KXAPI_OK, tuner.GetBBGain(gain));
    EXPECT_EQ(15, gain);
    SimMax2121B* pChip = Sim3470Tuner(*m_pCard);
    ASSERT_NE(nullptr, pChip);
    EXPECT_EQ(1234567891, pChip->FrequencyHz());
    EXPECT_EQ(48600000, pChip->LpfHz());
    EXPECT_EQ(15, pChip->BasebandGain());
}
