// The virtual 3470 through KxapiServiceSim's real FIFOs: the DVB-S2 port tunes, locks and
// answers its statistics (fixed-layout commands 30 and 31, XML command 38), parameters and
// constellation; the LNB supply and DiSEqC; a second client of the port receives the tune
// events; the I/Q port takes the tuner with its own parameters.
#include <gtest/gtest.h>

#include <vector>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;

constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t S2_CARRIER_HZ = 1150000000; // 27.5 MBd, C/N 12 dB in the default scenario
constexpr int64_t OTHER_CARRIER_HZ = 1750000000;
constexpr int32_t S2_SYMBOL_RATE_BD = 27500000;

Kxapi::KxDemodPars S2Pars(int32_t symbolRateBd = S2_SYMBOL_RATE_BD)
{
    Kxapi::KxDemodPars pars(Kxapi::KX_MOD_DVBS2);
    Kxapi::KxDemodParsDvbS2Adv* s2 = pars.DvbS2();
    s2->m_CodeRate = 15;
    s2->m_Pilots = 3;
    s2->m_SpecInv = 48;
    s2->m_FecFrame = 12;
    s2->m_SymRateBd = symbolRateBd;
    return pars;
}

class Kxa3470ProcessTest : public DemodClientTest {
protected:
    // Opens port index 0 (the DVB-S2 port) and tunes it to the carrier until it locks.
    void TuneLocked(DemodPortClient& client)
    {
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(client, SERIAL_3470, 0));
        ASSERT_EQ(KXAPI_OK, client.Svc().Tune(S2_CARRIER_HZ, S2Pars()));
        ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, LOCK_WAIT_MS));
    }
};

TEST_F(Kxa3470ProcessTest, DvbS2PortLocksAndAnswersItsStatistics)
{
    DemodPortClient client;
    ASSERT_NO_FATAL_FAILURE(TuneLocked(client));

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

TEST_F(Kxa3470ProcessTest, SecondClientReceivesTheTuneEvents)
{
    DemodPortClient first, second;
    ASSERT_NO_FATAL_FAILURE(TuneLocked(first));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(second, SERIAL_3470, 0));
    EventLog events;
    ASSERT_EQ(KXAPI_OK, second.CallbackRegisterEvents(events.Callback(), 3));

    ASSERT_EQ(KXAPI_OK, first.Svc().Tune(OTHER_CARRIER_HZ, S2Pars(45000000)));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return events.CountOfKind(Kxapi::DEMOD_EVENT_PARS_CHANGED) >= 1; },
                                  EVENT_WAIT_MS));
    bool sawFrequency = false;
    for (const Kxapi::DemodEvent& event : events.Events()) {
        if (event.m_Kind != Kxapi::DEMOD_EVENT_FREQ_CHANGED)
            continue;
        sawFrequency = true;
        EXPECT_EQ(SERIAL_3470, event.m_Serial);
        EXPECT_EQ(1, event.m_Port);
        EXPECT_EQ(S2_CARRIER_HZ, event.m_OldFreqHz);
        EXPECT_EQ(OTHER_CARRIER_HZ, event.m_NewFreqHz);
    }
    EXPECT_TRUE(sawFrequency);
    // The new carrier (16APSK, C/N 16.5 dB) locks as well.
    ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(second); }, LOCK_WAIT_MS));
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

} // namespace
} // namespace demodclient
