// 64 clients on one port of KxapiServiceSim at once: every client reads statistics, some
// re-tune, for a bounded time (KX_DEMOD_STRESS_SECONDS, default 20, at most 60). No reply
// may be lost or malformed, no client may hang; afterwards the port is released.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DemodClientFixture.h"
#include "XpUtil.h"

namespace demodclient {
namespace {

using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;

constexpr int NUM_CLIENTS = 64;
constexpr int TUNING_EVERY = 8;              // every 8th client also re-tunes
constexpr unsigned int REPLY_LIMIT_MS = 20000; // a reply slower than this counts as a hang

unsigned int StressSeconds()
{
    const char* pText = getenv("KX_DEMOD_STRESS_SECONDS");
    long seconds = pText != nullptr ? strtol(pText, nullptr, 10) : 20;
    return static_cast<unsigned int>(seconds < 1 ? 1 : (seconds > 60 ? 60 : seconds));
}

// What one client saw; checked on the test thread.
struct ClientTally {
    KXAPI_RESULT m_OpenResult = KXAPI_E_INTERNAL;
    int m_Reads = 0;
    int m_Tunes = 0;
    int m_FailedRequests = 0;     // a request whose result was not KXAPI_OK
    KXAPI_RESULT m_FirstFailure = KXAPI_OK;
    int m_BadStatistics = 0;      // a statistic of the wrong id or an unexpected result
    int m_Reconnects = 0;
};

void RunClient(int index, unsigned int seconds, ClientTally& tally)
{
    DemodPortClient client;
    client.SetReplyTimeout(REPLY_LIMIT_MS);
    // All 64 connect at once: the later ones may have to try again.
    tally.m_OpenResult = OpenWhenReady(client);
    if (tally.m_OpenResult != KXAPI_OK)
        return;
    const bool tunes = index % TUNING_EVERY == 0;
    const std::vector<int32_t> ids = {Kxapi::KX_STAT_LOCK, Kxapi::KX_STAT_RF_LVL_UNCALIB, Kxapi::KX_STAT_TEMP_TUNER};
    unsigned int start = XpUtil::GetTickCount();
    for (int round = 0; XpUtil::GetTickCount() - start < seconds * 1000u; round++) {
        KXAPI_RESULT result = KXAPI_OK;
        if (tunes && round % 20 == 0) {
            int64_t freqHz = CARRIER_FREQ_HZ + 1000000LL * ((index + round) % 5);
            result = round % 40 == 0 ? client.Svc().Tune(freqHz, IqPars())
                                     : client.Svc().TuneOld(freqHz, Kxapi::OldStyleParsWire{15, 0, 0, 0});
            tally.m_Tunes++;
        } else if (round % 2 == 0) {
            std::vector<KxStatistic> stats;
            for (int32_t id : ids)
                stats.emplace_back(id);
            result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
            for (size_t i = 0; result == KXAPI_OK && i < stats.size(); i++) {
                // While a tune is pending the cache answers with the receiver's "tuning"
                // defaults or "not locked"; anything else is a fault.
                uint32_t r = static_cast<uint32_t>(stats[i].m_Result);
                if (stats[i].m_StatisticId != ids[i] ||
                    (r != KXAPI_OK && r != KXAPI_E_TUNING && r != KXAPI_E_NOT_LOCKED && r != KXAPI_E_LOCKED))
                    tally.m_BadStatistics++;
            }
            tally.m_Reads++;
        } else {
            std::vector<Kxapi::TStatPars> stats;
            result = client.Svc().StatisticsGetOld(ids, stats);
            for (size_t i = 0; result == KXAPI_OK && i < stats.size(); i++)
                if (stats[i].m_StatisticId != ids[i])
                    tally.m_BadStatistics++;
            tally.m_Reads++;
        }
        if (result != KXAPI_OK && tally.m_FailedRequests++ == 0)
            tally.m_FirstFailure = result;
        XpUtil::Sleep(5);
    }
    tally.m_Reconnects = client.ReconnectCount();
}

TEST_F(DemodClientTest, SixtyFourClientsOfOnePortReadAndTuneThenThePortIsReleased)
{
    {
        DemodPortClient ready;
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(ready));
        ASSERT_EQ(KXAPI_OK, ready.Svc().Tune(CARRIER_FREQ_HZ, IqPars()));
    }
    const unsigned int seconds = StressSeconds();
    std::vector<ClientTally> tallies(NUM_CLIENTS);
    std::vector<std::thread> threads;
    for (int i = 0; i < NUM_CLIENTS; i++)
        threads.emplace_back(RunClient, i, seconds, std::ref(tallies[static_cast<size_t>(i)]));
    for (std::thread& thread : threads)
        thread.join();

    int reads = 0, tunes = 0;
    for (int i = 0; i < NUM_CLIENTS; i++) {
        const ClientTally& tally = tallies[static_cast<size_t>(i)];
        SCOPED_TRACE("client " + std::to_string(i));
        EXPECT_EQ(KXAPI_OK, tally.m_OpenResult);
        EXPECT_EQ(0, tally.m_FailedRequests) << "first failure " << KxapiResult2Str(tally.m_FirstFailure);
        EXPECT_EQ(0, tally.m_BadStatistics);
        EXPECT_EQ(0, tally.m_Reconnects);
        EXPECT_GT(tally.m_Reads, 0);
        reads += tally.m_Reads;
        tunes += tally.m_Tunes;
    }
    EXPECT_GT(tunes, 0);
    RecordProperty("statistics_reads", reads);
    RecordProperty("tunes", tunes);

    // Every client has gone: the port is idle and its cache holds the defaults again. With
    // polling off the next client sees them (only the lock is refreshed then).
    {
        DemodPortClient setup;
        ASSERT_EQ(KXAPI_OK, OpenWhenReady(setup));
        ASSERT_EQ(KXAPI_OK, setup.Svc().StatisticsPollingEnable(false));
    }
    XpUtil::Sleep(1000);
    DemodPortClient after;
    ASSERT_EQ(KXAPI_OK, OpenWhenReady(after));
    std::vector<KxStatistic> stats;
    ASSERT_EQ(KXAPI_OK, Read(after, {Kxapi::KX_STAT_RF_LVL_UNCALIB, Kxapi::KX_STAT_TEMP_TUNER}, stats));
    int32_t value = 0;
    EXPECT_EQ(KXAPI_E_TUNING, stats[0].GetValue(value));
    EXPECT_EQ(-1, value);
    EXPECT_EQ(KXAPI_E_TUNING, stats[1].GetValue(value));
    EXPECT_EQ(-1, value);
    // And the service still serves: polling on again brings real readings.
    ASSERT_EQ(KXAPI_OK, after.Svc().StatisticsPollingEnable(true));
    EXPECT_TRUE(kxtest::WaitUntil(
        [&] { return Read(after, {Kxapi::KX_STAT_TEMP_TUNER}, stats) == KXAPI_OK && stats[0].m_Result == KXAPI_OK; },
        LOCK_WAIT_MS));
}

} // namespace
} // namespace demodclient
