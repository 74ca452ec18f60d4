// The virtual 3470 through KxapiServiceSim's real FIFOs: the DVB-S2 port tunes, locks and
// answers its statistics (fixed-layout commands 30 and 31, XML command 38), parameters and
// constellation; the LNB supply and DiSEqC; the I/Q port takes the tuner with its own
// parameters.
#include <gtest/gtest.h>

#include <vector>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;

constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t S2_CARRIER_HZ = 1150000000; // 27.5 MBd, C/N 12 dB in the default scenario
constexpr int32_t S2_SYMBOL_RATE_BD = 27500000;

// DVB-S2 parameters for the port to find code rate, pilots and frame size in.
Kxapi::KxDemodPars S2Pars(int32_t symbolRateBd = S2_SYMBOL_RATE_BD)
{
    return Kxapi::KxDemodPars::DvbS2Automatic(symbolRateBd);
}

class Kxa3470ProcessTest : public DemodClientTest {};

TEST_F(Kxa3470ProcessTest, DvbS2PortLocksAndAnswersItsStatistics)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SERIAL_3470, 0));
    ASSERT_EQ(KXAPI_OK, client.Svc().Tune(S2_CARRIER_HZ, S2Pars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, LOCK_WAIT_MS));

    // Command 31: the 25 supported statistics, Lock first.
    std::vector<int32_t> ids;
    ASSERT_EQ(KXAPI_OK, client.Svc().SupportedStatsGetOld(64, ids));
    ASSERT_EQ(25u, ids.size());
    EXPECT_EQ(Kxapi::KX_STAT_LOCK, ids[0]);

    // Command 38: the PL-header lock and MER from the port's cache.
    std::vector<KxStatistic> stats;
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            return Read(client, {Kxapi::KX_STAT_PL_HEADER_LOCK, Kxapi::KX_STAT_MER_PL_HEADERS}, stats) == KXAPI_OK &&
                   stats[1].m_Result == KXAPI_OK;
        },
        LOCK_WAIT_MS));
    bool locked = false;
    int32_t merTenths = 0;
    EXPECT_EQ(KXAPI_OK, stats[0].GetValue(locked));
    EXPECT_TRUE(locked);
    EXPECT_EQ(KXAPI_OK, stats[1].GetValue(merTenths));
    EXPECT_NEAR(115, merTenths, 10) << "C/N 12 dB less the implementation loss, in tenths of a dB";

    // Command 30: the same port through the fixed layout.
    std::vector<Kxapi::TStatPars> old;
    ASSERT_EQ(KXAPI_OK, client.Svc().StatisticsGetOld({Kxapi::KX_STAT_LOCK, Kxapi::KX_STAT_PL_HEADER_LOCK}, old));
    ASSERT_EQ(2u, old.size());
    EXPECT_EQ(KXAPI_OK, static_cast<KXAPI_RESULT>(old[0].m_Result));
    EXPECT_EQ(Kxapi::KX_STAT_PL_HEADER_LOCK, old[1].m_StatisticId);

    // Parameters as the demodulator measures them, and the tuner's frequency.
    Kxapi::KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, client.Svc().ControlGet(pars));
    ASSERT_TRUE(pars.IsDvbS2());
    EXPECT_NEAR(S2_SYMBOL_RATE_BD, pars.DvbS2()->m_SymRateBd, 1000);
    int64_t freqHz = 0;
    EXPECT_EQ(KXAPI_OK, client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(S2_CARRIER_HZ, freqHz);

    // Constellation of the stream and of all streams.
    for (int64_t stream : {0, -1}) {
        std::vector<Kxapi::KxConstelPoint> points;
        ASSERT_EQ(KXAPI_OK, client.Svc().ConstellationPointsGet(200, stream, points)) << stream;
        ASSERT_EQ(200u, points.size());
        int nonZero = 0;
        for (const Kxapi::KxConstelPoint& p : points)
            nonZero += p.m_X != 0 || p.m_Y != 0;
        EXPECT_GT(nonZero, 180) << "stream " << stream;
    }

    // Out of the port's range: refused at once.
    EXPECT_EQ(KXAPI_E_INVALID_FREQ, client.Svc().Tune(949999999, S2Pars()));
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, client.Svc().Tune(S2_CARRIER_HZ, S2Pars(72000001)));
    EXPECT_EQ(0, client.ReconnectCount());
}

TEST_F(Kxa3470ProcessTest, LnbSupplyToneAndDiseqc)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SERIAL_3470, 0));
    EXPECT_EQ(KXAPI_E_INVALID_MODE, client.Svc().LnbToneEnable(true)) << "supply still off";
    EXPECT_EQ(KXAPI_E_INVALID_MODE, client.Svc().LnbBurstSend(1));
    ASSERT_EQ(KXAPI_OK, client.Svc().LnbVoltageSet(2));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, client.Svc().LnbVoltageSet(4));
    ASSERT_EQ(KXAPI_OK, client.Svc().LnbEnable(true));
    EXPECT_EQ(KXAPI_OK, client.Svc().LnbToneEnable(true));
    EXPECT_EQ(KXAPI_OK, client.Svc().LnbBurstSend(0));
    std::vector<uint8_t> reply;
    ASSERT_EQ(KXAPI_OK, client.Svc().LnbDiseqcSend({0xE2, 0x10, 0x38, 0xF0}, 4, reply));
    ASSERT_EQ(1u, reply.size());
    EXPECT_EQ(0xE4, reply[0]) << "the switch acknowledges";
    ASSERT_EQ(KXAPI_OK, client.Svc().LnbEnable(false));
    EXPECT_EQ(KXAPI_E_INVALID_MODE, client.Svc().LnbToneEnable(false));

    // The I/Q port has no LNB.
    DemodPortClient iq;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(iq, SERIAL_3470, 1));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, iq.Svc().LnbEnable(true));
}

TEST_F(Kxa3470ProcessTest, IqPortTakesTheTunerWithItsOwnParameters)
{
    DemodPortClient iq;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(iq, SERIAL_3470, 1));
    std::vector<KxStatistic> none;
    ASSERT_EQ(KXAPI_OK, iq.Svc().GetSupportedStatistics(16, none));
    EXPECT_TRUE(none.empty()) << "raw samples, no measurements";

    Kxapi::KxDemodPars pars(Kxapi::KX_MOD_IQ);
    pars.Iq()->m_BandwidthHz = 100000000;
    pars.Iq()->m_IqDataType = 1;
    pars.Iq()->m_SampleRateHz = 40000000;
    ASSERT_EQ(KXAPI_OK, iq.Svc().Tune(1400000000, pars));
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, iq.Svc().Tune(1400000000, S2Pars()));
    pars.Iq()->m_SampleRateHz = 30000000;
    EXPECT_EQ(KXAPI_E_INVALID_SAMPRATE, iq.Svc().Tune(1400000000, pars));

    Kxapi::KxDemodPars held;
    ASSERT_TRUE(kxtest::WaitUntil([&] { return iq.Svc().ControlGet(held) == KXAPI_OK && held.IsIq() &&
                                               held.Iq()->m_SampleRateHz == 40000000; },
                                  EVENT_WAIT_MS));
    EXPECT_EQ(100000000, held.Iq()->m_BandwidthHz);
}

TEST_F(Kxa3470ProcessTest, AnOpenSymbolRateIsFoundAndTheWindowedValuesFollowTheCarriersCn)
{
    // The default scene's 1150 MHz carrier: 8PSK 2/3 (ideal Es/N0 6.62 dB), C/N 12 dB, which
    // the virtual demodulator measures as an MER of 11.5 dB (its implementation loss 0.5 dB).
    constexpr int32_t MER_TENTHS = 115;
    constexpr int32_t IDEAL_ES_N0_TENTHS = 66;
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SERIAL_3470, 0));
    ASSERT_EQ(KXAPI_OK, client.Svc().Tune(S2_CARRIER_HZ, S2Pars(-1)));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, 3 * LOCK_WAIT_MS)) << "the detector's search";
    Kxapi::KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, client.Svc().ControlGet(pars));
    ASSERT_TRUE(pars.IsDvbS2());
    EXPECT_NEAR(S2_SYMBOL_RATE_BD, pars.DvbS2()->m_SymRateBd, S2_SYMBOL_RATE_BD / 1000) << "within 0.1 %";

    // The carrier's one stream, as the short window lists it, and its values once it holds frames.
    int32_t isi = -1;
    ASSERT_TRUE(kxtest::WaitUntil(
        [&] {
            std::vector<KxStatistic> list(1, KxStatistic(Kxapi::KX_STAT_DVBS2_ISI));
            list[0].m_XtraId[1] = 0;
            Kxapi::KxDvbS2IsiList isis;
            if (client.Svc().GetStatistics(list.data(), 1) != KXAPI_OK || list[0].GetValue(isis) != KXAPI_OK ||
                isis.m_Isis.size() != 1)
                return false;
            isi = isis.m_Isis[0].m_Isi;
            return true;
        },
        LOCK_WAIT_MS));
    const std::vector<int32_t> ids = {Kxapi::KX_STAT_MER,           Kxapi::KX_STAT_ES_N0,
                                      Kxapi::KX_STAT_EB_N0,         Kxapi::KX_STAT_LINK_MARGIN,
                                      Kxapi::KX_STAT_BER_PRE_LDPC,  Kxapi::KX_STAT_FER_POST_LDPC,
                                      Kxapi::KX_STAT_BER_POST_LDPC, Kxapi::KX_STAT_FER_POST_BCH,
                                      Kxapi::KX_STAT_BER_POST_BCH,  Kxapi::KX_STAT_LOCK_PERC};
    std::vector<KxStatistic> stats;
    const auto readWindow = [&] {
        stats.clear();
        for (int32_t id : ids) {
            stats.emplace_back(id);
            stats.back().m_XtraId[0] = isi;
            stats.back().m_XtraId[1] = 0;  // the short window
        }
        if (client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size())) != KXAPI_OK)
            return false;
        for (const KxStatistic& stat : stats) {
            if (stat.m_Result != KXAPI_OK)
                return false;
        }
        return true;
    };
    const bool filled = kxtest::WaitUntil(readWindow, LOCK_WAIT_MS);
    std::string results;
    for (const KxStatistic& stat : stats)
        results += " " + std::to_string(stat.m_StatisticId) + ":" + KxapiResult2Str(static_cast<KXAPI_RESULT>(stat.m_Result));
    ASSERT_TRUE(filled) << "the short window never filled:" << results;
    // Frames come only while the demodulator is locked, so the short window (1 s) that first
    // filled still held ticks from before the lock; a second later it holds locked ticks only.
    XpUtil::Sleep(1200);
    ASSERT_TRUE(readWindow()) << "the short window after a second";
    int32_t mer = 0, esN0 = 0, ebN0 = 0, margin = 0, lockPercent = 0;
    double berPreLdpc = -1, ferPostLdpc = -1, berPostLdpc = -1, ferPostBch = -1, berPostBch = -1;
    EXPECT_EQ(KXAPI_OK, stats[0].GetValue(mer));
    EXPECT_EQ(KXAPI_OK, stats[1].GetValue(esN0));
    EXPECT_EQ(KXAPI_OK, stats[2].GetValue(ebN0));
    EXPECT_EQ(KXAPI_OK, stats[3].GetValue(margin));
    EXPECT_EQ(KXAPI_OK, stats[4].GetValue(berPreLdpc));
    EXPECT_EQ(KXAPI_OK, stats[5].GetValue(ferPostLdpc));
    EXPECT_EQ(KXAPI_OK, stats[6].GetValue(berPostLdpc));
    EXPECT_EQ(KXAPI_OK, stats[7].GetValue(ferPostBch));
    EXPECT_EQ(KXAPI_OK, stats[8].GetValue(berPostBch));
    EXPECT_EQ(KXAPI_OK, stats[9].GetValue(lockPercent));
    EXPECT_NEAR(MER_TENTHS, mer, 5) << "MER within 0.5 dB of C/N less the implementation loss";
    EXPECT_NEAR(mer, esN0, 1);
    EXPECT_NEAR(mer - 48, ebN0, 1) << "Eb/N0: Es/N0 less 10 log10(3 bits per 8PSK symbol)";
    EXPECT_NEAR(mer - IDEAL_ES_N0_TENTHS, margin, 1) << "margin over the ideal Es/N0 of 8PSK 2/3";
    // Before the decoder, 8PSK at 11.5 dB loses about one bit in seventy; 5 dB above the
    // code's threshold nothing is left after it.
    EXPECT_GT(berPreLdpc, 1e-3);
    EXPECT_LT(berPreLdpc, 5e-2);
    EXPECT_EQ(0.0, ferPostLdpc);
    EXPECT_EQ(0.0, berPostLdpc);
    EXPECT_EQ(0.0, ferPostBch);
    EXPECT_EQ(0.0, berPostBch);
    EXPECT_EQ(100, lockPercent);
}

} // namespace
} // namespace demodclient
