// Demod port clients against KxapiServiceSim through real FIFOs: attach, tune, lock,
// statistics from the port's cache, events between the clients of one port, reconnect.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "DemodClientFixture.h"
#include "DemodPortClient.h"
#include "DemodSvcEvents.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodEvent;
using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;


TEST(DemodPortClientNoService, InitWithoutServiceFailsWithConnectToServiceAndLeavesNoEventFifo)
{
    kxtest::ScopedIpcDirectory dir;
    DemodPortClient client;
    EXPECT_EQ(KXAPI_E_CONNECT_TO_SERVICE, client.Init(SERIAL_3460, 0));
    EXPECT_FALSE(client.IsOpen());
    EXPECT_TRUE(kxtest::ListDir(dir.Path()).empty());
}

TEST_F(DemodClientTest, AttachTuneLockAndTunerStatisticsOfTheVirtual3460)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client));
    ASSERT_EQ(KXAPI_OK, client.Svc().Tune(CARRIER_FREQ_HZ, IqPars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, LOCK_WAIT_MS));

    // The tuner's statistics, in the supported order, from the port's cache.
    std::vector<KxStatistic> supported;
    ASSERT_EQ(KXAPI_OK, client.Svc().GetSupportedStatistics(16, supported));
    ASSERT_EQ(3u, supported.size());
    EXPECT_EQ(Kxapi::KX_STAT_LOCK, supported[0].m_StatisticId);
    EXPECT_EQ(Kxapi::KX_STAT_RF_LVL_UNCALIB, supported[1].m_StatisticId);
    EXPECT_EQ(Kxapi::KX_STAT_TEMP_TUNER, supported[2].m_StatisticId);

    // RfLvlUncalib is averaged over 10 polls: read it once the window has filled.
    XpUtil::Sleep(1200);
    std::vector<KxStatistic> stats;
    ASSERT_EQ(KXAPI_OK, Read(client, {Kxapi::KX_STAT_LOCK, Kxapi::KX_STAT_RF_LVL_UNCALIB, Kxapi::KX_STAT_TEMP_TUNER}, stats));
    bool locked = false;
    int32_t level = 0, temperature = 0;
    EXPECT_EQ(KXAPI_OK, stats[0].GetValue(locked));
    EXPECT_TRUE(locked);
    EXPECT_EQ(KXAPI_OK, stats[1].GetValue(level));
    EXPECT_NE(-1, level); // not the default of an unpolled statistic
    EXPECT_EQ(KXAPI_OK, stats[2].GetValue(temperature));
    EXPECT_GE(temperature, 20);
    EXPECT_LE(temperature, 80);

    // The port reports what it was tuned to.
    int64_t freqHz = 0;
    EXPECT_EQ(KXAPI_OK, client.Svc().TunerFreqGetOld(freqHz));
    EXPECT_EQ(CARRIER_FREQ_HZ, freqHz);
    Kxapi::KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, client.Svc().ControlGet(pars));
    ASSERT_TRUE(pars.IsIq());
    EXPECT_EQ(8000000, pars.Iq()->m_BandwidthHz);
    EXPECT_EQ(0, client.ReconnectCount());
}

TEST_F(DemodClientTest, FixedLayoutTuneAndStatisticsReadOfTheSamePort)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client));
    ASSERT_EQ(KXAPI_OK, client.Svc().TuneOld(CARRIER_FREQ_HZ, Kxapi::OldStyleParsWire{15, 0, 0, 0}));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return IsLocked(client); }, LOCK_WAIT_MS));
    std::vector<Kxapi::TStatPars> stats;
    ASSERT_EQ(KXAPI_OK, client.Svc().StatisticsGetOld({Kxapi::KX_STAT_LOCK, Kxapi::KX_STAT_TEMP_TUNER}, stats));
    ASSERT_EQ(2u, stats.size());
    EXPECT_EQ(Kxapi::KX_STAT_LOCK, stats[0].m_StatisticId);
    EXPECT_EQ(KXAPI_OK, static_cast<KXAPI_RESULT>(stats[0].m_Result));
    // Out-of-range requests come back as the service's own error, not as a broken reply.
    EXPECT_EQ(KXAPI_E_INVALID_FREQ, client.Svc().TuneOld(870000001, Kxapi::OldStyleParsWire{15, 0, 0, 0}));
    EXPECT_EQ(KXAPI_E_INVALID_FREQ, client.Svc().Tune(41999999, IqPars()));
}

TEST_F(DemodClientTest, OnlyTheOtherClientOfThePortReceivesTheTuneEvents)
{
    DemodPortClient first, second;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(first));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(second));
    EventLog firstEvents, secondEvents;
    ASSERT_EQ(KXAPI_OK, first.CallbackRegisterEvents(firstEvents.Callback(), 3));
    ASSERT_EQ(KXAPI_OK, second.CallbackRegisterEvents(secondEvents.Callback(), 3));

    // A first tune makes the port remember 474 MHz; the second changes to 482 MHz.
    ASSERT_EQ(KXAPI_OK, first.Svc().Tune(CARRIER_FREQ_HZ, IqPars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return secondEvents.CountOfKind(Kxapi::DEMOD_EVENT_PARS_CHANGED) >= 1; },
                                  EVENT_WAIT_MS));
    size_t before = secondEvents.Events().size();
    const int64_t newFreqHz = 482000000;
    ASSERT_EQ(KXAPI_OK, first.Svc().Tune(newFreqHz, IqPars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return secondEvents.Events().size() >= before + 2; }, EVENT_WAIT_MS));

    std::vector<DemodEvent> events = secondEvents.Events();
    const DemodEvent& freqEvent = events[before];
    const DemodEvent& parsEvent = events[before + 1];
    EXPECT_EQ(Kxapi::DEMOD_EVENT_FREQ_CHANGED, freqEvent.m_Kind);
    EXPECT_EQ(SERIAL_3460, freqEvent.m_Serial);
    EXPECT_EQ(1, freqEvent.m_Port);
    EXPECT_EQ(CARRIER_FREQ_HZ, freqEvent.m_OldFreqHz);
    EXPECT_EQ(newFreqHz, freqEvent.m_NewFreqHz);
    EXPECT_EQ(Kxapi::DEMOD_EVENT_PARS_CHANGED, parsEvent.m_Kind);
    EXPECT_EQ(CARRIER_FREQ_HZ, parsEvent.m_OldFreqHz);
    EXPECT_EQ(newFreqHz, parsEvent.m_NewFreqHz);
    EXPECT_EQ(15, parsEvent.m_OldPars.m_ModType);
    EXPECT_EQ(15, parsEvent.m_NewPars.m_ModType);

    // The tuning client's own changes never come back to it; give a stray event time to arrive.
    XpUtil::Sleep(300);
    EXPECT_TRUE(firstEvents.Events().empty());
}

TEST_F(DemodClientTest, ClientsThatDidNotAskForEventsReceiveNone)
{
    DemodPortClient tuner, quiet;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(tuner));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(quiet));
    EventLog quietEvents, witnessEvents;
    // Mask 0 keeps the registration but asks for nothing.
    ASSERT_EQ(KXAPI_OK, quiet.CallbackRegisterEvents(quietEvents.Callback(), 0));
    DemodPortClient witness;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(witness));
    ASSERT_EQ(KXAPI_OK, witness.CallbackRegisterEvents(witnessEvents.Callback(), 1));
    // Mask bit 0 alone: frequency changes only. (A tune still queued when the next arrives
    // would be replaced by it, so each tune is awaited.)
    ASSERT_EQ(KXAPI_OK, tuner.Svc().Tune(478000000, IqPars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return witnessEvents.CountOfKind(Kxapi::DEMOD_EVENT_FREQ_CHANGED) >= 1; },
                                  EVENT_WAIT_MS));
    ASSERT_EQ(KXAPI_OK, tuner.Svc().Tune(486000000, IqPars()));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return witnessEvents.CountOfKind(Kxapi::DEMOD_EVENT_FREQ_CHANGED) >= 2; },
                                  EVENT_WAIT_MS));
    XpUtil::Sleep(300);
    EXPECT_EQ(0u, witnessEvents.CountOfKind(Kxapi::DEMOD_EVENT_PARS_CHANGED));
    EXPECT_TRUE(quietEvents.Events().empty());
}

TEST_F(DemodClientTest, UnknownDeviceAndPortAreRefusedAndLeaveTheClientClosed)
{
    DemodPortClient ready;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(ready)); // the service has initialised its devices
    DemodPortClient client;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Init(1234567, 0));
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(KXAPI_E_NO_SUCH_PORT, client.Init(SERIAL_3460, 1));
    EXPECT_FALSE(client.IsOpen());
    // The same object opens the right port afterwards; a second Init of an open client is refused.
    EXPECT_EQ(KXAPI_OK, client.Init(SERIAL_3460, 0));
    EXPECT_EQ(KXAPI_E_IN_USE, client.Init(SERIAL_3460, 0));
}

TEST_F(DemodClientTest, CloseRemovesTheEventFifoAndDetaches)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client));
    std::string fifo = m_Service.File(std::string(client.EventPipeName().begin(), client.EventPipeName().end()));
    EXPECT_EQ(0, access(fifo.c_str(), F_OK));
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_NE(0, access(fifo.c_str(), F_OK));
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, client.CallbackRegisterEvents([](const DemodEvent&) {}, 3));
    client.Close(); // a second close is harmless
}

TEST_F(DemodClientTest, EveryClientObjectHasItsOwnEventFifoName)
{
    DemodPortClient a, b;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(a));
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(b));
    EXPECT_NE(a.EventPipeName(), b.EventPipeName());
    std::wstring prefix = L"KxapiDemodSvc_EvPipe_3460000001_1_" + std::to_wstring(getpid()) + L"_";
    EXPECT_EQ(0u, a.EventPipeName().rfind(prefix, 0));
}

TEST_F(DemodClientTest, StatisticsPollingOffKeepsTunerStatisticsAtTheirDefaultsUntilOn)
{
    // A released port resets its cache to the receiver's defaults; with polling off only the
    // lock is refreshed, so the defaults stay visible to the next client.
    {
        DemodPortClient setup;
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(setup));
        ASSERT_EQ(KXAPI_OK, setup.Svc().StatisticsPollingEnable(false));
    }
    XpUtil::Sleep(1000); // several 100 ms ticks with no client: the port is idle
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client));
    std::vector<KxStatistic> stats;
    ASSERT_EQ(KXAPI_OK, Read(client, {Kxapi::KX_STAT_TEMP_TUNER}, stats));
    int32_t temperature = 0;
    EXPECT_EQ(KXAPI_E_TUNING, stats[0].GetValue(temperature));
    EXPECT_EQ(-1, temperature);
    ASSERT_EQ(KXAPI_OK, client.Svc().StatisticsPollingEnable(true));
    EXPECT_TRUE(kxtest::WaitUntil(
        [&] { return Read(client, {Kxapi::KX_STAT_TEMP_TUNER}, stats) == KXAPI_OK && stats[0].m_Result == KXAPI_OK; },
        LOCK_WAIT_MS));
}

TEST_F(DemodClientTest, AServiceRestartFailsOneRequestThenTheClientIsAttachedAgain)
{
    DemodPortClient client;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(client));
    EventLog events;
    ASSERT_EQ(KXAPI_OK, client.CallbackRegisterEvents(events.Callback(), 3));
    m_Service.Stop();
    ASSERT_TRUE(m_Service.Start()) << m_Service.Log();
    {
        DemodPortClient probe; // waits until the new service holds the device
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(probe));
    }
    Kxapi::KxTunePars tunePars;
    // The request that meets the broken connection fails; the client reconnects and attaches,
    // so the next request (answered by the receiver, not the cache) goes through.
    EXPECT_EQ(KXAPI_E_INTERNAL, client.Svc().TuneParsGet(tunePars));
    EXPECT_EQ(1, client.ReconnectCount());
    EXPECT_EQ(KXAPI_OK, client.Svc().TuneParsGet(tunePars));
    EXPECT_EQ(8000000, tunePars.m_Words[1]);
    // The event registration came back with the connection: another client's tune reaches it.
    DemodPortClient other;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(other));
    ASSERT_EQ(KXAPI_OK, other.Svc().Tune(490000000, IqPars()));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return events.CountOfKind(Kxapi::DEMOD_EVENT_PARS_CHANGED) >= 1; },
                                  EVENT_WAIT_MS));
}

} // namespace
} // namespace demodclient
