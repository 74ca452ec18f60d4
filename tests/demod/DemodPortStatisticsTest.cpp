// What the worker's polling puts into the statistics cache and how the read commands answer
// from it: lock and MER, the fixed and generic statistics reads, remembered parameters and
// frequencies, poll dividers, polling switched off, retuning and the reset after the last
// user left.
#include <gtest/gtest.h>

#include "PortFixture.h"

using namespace Kxapi;
using kxtest::RecordingPortClient;
using kxtest::TestDemodHal;
using kxtest::WaitUntil;

namespace {

constexpr long long FREQ_HZ = 474000000;

class StatsTest : public kxtest::PortFixture {
protected:
    void SetUp() override { InitPort({FREQ_HZ}); }
    DemodMsg Request(const DemodMsg& msg) { return PortFixture::Request(m_Client, msg); }
    void AttachAndLock()
    {
        ASSERT_TRUE(m_Port.Attach());
        DemodMsg reply = Request(kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(FREQ_HZ)));
        ASSERT_EQ(KxGetU32(reply.data(), 4), KXAPI_OK);
        ASSERT_TRUE(WaitUntil([&] { return LockAndMer().first; }, 3000));
    }
    // Command 7: lock and MER as the cache holds them.
    std::pair<bool, int32_t> LockAndMer()
    {
        DemodMsg reply = Request(DemodBuildCodeOnly(DEMOD_CMD_LOCK_MER_GET_OLD));
        bool locked = false;
        int32_t mer = -1;
        DemodParseLockMerReply(reply.data(), reply.size(), locked, mer);
        return {locked, mer};
    }

    RecordingPortClient m_Client;
};

} // namespace

TEST_F(StatsTest, BeforeAnyUserTheCacheHoldsTheDefaults)
{
    EXPECT_TRUE(WaitUntil([&] { return m_Port.State() == 1; }, 1000));
    DemodMsg reply = Request(DemodBuildCodeOnly(DEMOD_CMD_LOCK_MER_GET_OLD));
    bool locked = true;
    int32_t mer = -1;
    // Not locked, MER not measured: answered as a failure of the read.
    EXPECT_EQ(DemodParseLockMerReply(reply.data(), reply.size(), locked, mer), KXAPI_E_DEV_DRIVER);
    EXPECT_FALSE(locked);
    EXPECT_EQ(m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS), 0);
}

TEST_F(StatsTest, ALockedPortAnswersItsStatisticsFromTheCache)
{
    AttachAndLock();
    auto [locked, mer] = LockAndMer();
    EXPECT_TRUE(locked);
    EXPECT_EQ(mer, TestDemodHal::MER_TENTHS_DB);

    DemodMsg reply = Request(DemodBuildStatsOldReq({KX_STAT_LOCK, KX_STAT_RF_LVL_CHAN_QS, 9999}));
    std::vector<TStatPars> stats;
    ASSERT_EQ(DemodParseStatsOldReply(reply.data(), reply.size(), 3, stats), KXAPI_OK);
    ASSERT_EQ(stats.size(), 3u);
    EXPECT_EQ(stats[0].m_Value[0], 1);
    EXPECT_EQ(stats[1].m_StatisticId, KX_STAT_RF_LVL_CHAN_QS);
    EXPECT_EQ(KxGetI32(stats[1].m_Value, 0), 474);
    EXPECT_EQ(stats[2].m_Result, KXAPI_E_NOT_SUPPORTED);

    std::vector<KxStatistic> list{KxStatistic(KX_STAT_MER), KxStatistic(KX_STAT_LOCK)};
    std::wstring xml;
    ASSERT_EQ(KxStatistic::ToXml(list.data(), 2, xml), KXAPI_OK);
    reply = Request(kxtest::GenericReq(DEMOD_CMD_GET_STATISTICS, xml));
    std::wstring text;
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_STATISTICS, text), KXAPI_OK);
    std::vector<KxStatistic> back;
    ASSERT_EQ(KxStatistic::FromXml(text, back), KXAPI_OK);
    ASSERT_EQ(back.size(), 2u);
    int32_t merValue = 0;
    EXPECT_EQ(back[0].GetValue(merValue), KXAPI_OK);
    EXPECT_EQ(merValue, TestDemodHal::MER_TENTHS_DB);
}

TEST_F(StatsTest, AnEmptyStatisticsListIsAnsweredWithAnEmptyList)
{
    AttachAndLock();
    // Both an empty text and a document without any "kxstat" element are an empty list.
    for (const std::wstring& xml : {std::wstring(), std::wstring(L"<other/>")}) {
        DemodMsg reply = Request(kxtest::GenericReq(DEMOD_CMD_GET_STATISTICS, xml));
        std::wstring text;
        ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_STATISTICS, text), KXAPI_OK);
        std::vector<KxStatistic> back{KxStatistic(KX_STAT_LOCK)};
        EXPECT_EQ(KxStatistic::FromXml(text, back), KXAPI_OK);
        EXPECT_TRUE(back.empty());
    }
}

TEST_F(StatsTest, ParametersFrequenciesAndSupportedStatisticsComeFromTheCache)
{
    AttachAndLock();
    DemodMsg reply = Request(DemodBuildCodeOnly(DEMOD_CMD_CONTROL_GET_OLD));
    OldStyleParsWire wire;
    ASSERT_EQ(DemodParseControlGetOldReply(reply.data(), reply.size(), wire), KXAPI_OK);
    EXPECT_EQ(wire.m_ModType, KX_MOD_DVBT);

    reply = Request(DemodBuildCodeOnly(DEMOD_CMD_CONTROL_GET));
    std::wstring text;
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_CONTROL_GET, text), KXAPI_OK);
    KxDemodPars pars;
    ASSERT_EQ(pars.FromXml(text), KXAPI_OK);
    EXPECT_EQ(pars.ModType(), KX_MOD_DVBT);
    EXPECT_EQ(pars.DvbT()->m_Bandwidth, 4);

    reply = Request(DemodBuildCodeOnly(DEMOD_CMD_TUNER_FREQ_GET_OLD));
    int64_t freqHz = 0;
    ASSERT_EQ(DemodParseFreqGetReply(reply.data(), reply.size(), freqHz), KXAPI_OK);
    EXPECT_EQ(freqHz, FREQ_HZ);
    std::wstring xml;
    DemodAppendIntElem(xml, DEMOD_ELEM_TUNER_ID, 1);
    reply = Request(kxtest::GenericReq(DEMOD_CMD_TUNER_FREQ_GET, xml));
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_NOT_SUPPORTED); // one tuner only

    reply = Request(DemodBuildSupportedOldReq(8));
    std::vector<int32_t> ids;
    ASSERT_EQ(DemodParseSupportedOldReply(reply.data(), reply.size(), 8, ids), KXAPI_OK);
    EXPECT_EQ(ids, (std::vector<int32_t>{KX_STAT_LOCK, KX_STAT_MER, KX_STAT_RF_LVL_CHAN_QS,
                                         KX_STAT_TEMP_ENCODER}));
    reply = Request(DemodBuildSupportedOldReq(2));
    EXPECT_EQ(KxGetU32(reply.data(), 4), KXAPI_E_BUF_TOO_SMALL);
    xml.clear();
    DemodAppendIntElem(xml, DEMOD_ELEM_COUNT, 4);
    reply = Request(kxtest::GenericReq(DEMOD_CMD_GET_SUPPORTED_STATS, xml));
    ASSERT_EQ(DemodParseGenericReply(reply.data(), reply.size(), DEMOD_CMD_GET_SUPPORTED_STATS, text), KXAPI_OK);
    std::vector<KxStatistic> supported;
    ASSERT_EQ(KxStatistic::FromXml(text, supported), KXAPI_OK);
    EXPECT_EQ(supported.size(), 4u);
}

TEST_F(StatsTest, SlowStatisticsFollowTheirDividerAndPollingCanBeSwitchedOff)
{
    AttachAndLock();
    ASSERT_TRUE(WaitUntil([&] { return m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS) >= 8; }, 5000));
    const int rf = m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS);
    const int temp = m_Hal.StatReads(KX_STAT_TEMP_ENCODER);
    // Every second poll reads the divider-2 statistic (a forced read restarts the count).
    EXPECT_GE(temp * 2, rf - 2);
    EXPECT_LE(temp * 2, rf + 2);

    std::wstring off;
    DemodAppendIntElem(off, DEMOD_ELEM_ENABLE, 0);
    ASSERT_EQ(KxGetU32(Request(kxtest::GenericReq(DEMOD_CMD_STATS_POLLING_ENABLE, off)).data(), 4), KXAPI_OK);
    XpUtil::Sleep(150);
    const int rfOff = m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS);
    const int lockOff = m_Hal.StatReads(KX_STAT_LOCK);
    ASSERT_TRUE(WaitUntil([&] { return m_Hal.StatReads(KX_STAT_LOCK) >= lockOff + 3; }, 3000));
    EXPECT_EQ(m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS), rfOff); // lock still followed, nothing else
    EXPECT_TRUE(LockAndMer().first);

    std::wstring on;
    DemodAppendIntElem(on, DEMOD_ELEM_ENABLE, 1);
    Request(kxtest::GenericReq(DEMOD_CMD_STATS_POLLING_ENABLE, on));
    EXPECT_TRUE(WaitUntil([&] { return m_Hal.StatReads(KX_STAT_RF_LVL_CHAN_QS) > rfOff; }, 3000));
    std::wstring missing;
    EXPECT_EQ(KxGetU32(Request(kxtest::GenericReq(DEMOD_CMD_STATS_POLLING_ENABLE, missing)).data(), 4),
              KXAPI_E_INTERNAL);
}

TEST_F(StatsTest, ATuneMakesThePortAcquireAgainBeforeItPollsAgain)
{
    AttachAndLock();
    const size_t callsBefore = m_Hal.Calls().size();
    m_Hal.AddCarrier(482000000);
    ASSERT_EQ(KxGetU32(Request(kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(482000000))).data(), 4), KXAPI_OK);
    // From its acceptance on, the old tuning's statistics are no longer answered.
    EXPECT_FALSE(LockAndMer().first);
    ASSERT_TRUE(WaitUntil([&] {
        long long f = 0;
        DemodMsg reply = Request(DemodBuildCodeOnly(DEMOD_CMD_TUNER_FREQ_GET_OLD));
        int64_t freq = 0;
        DemodParseFreqGetReply(reply.data(), reply.size(), freq);
        f = freq;
        return f == 482000000 && LockAndMer().first;
    }, 3000));
    // After the executed tune the state machine stepped the acquisition again.
    auto calls = m_Hal.Calls();
    size_t tuneAt = 0;
    for (size_t i = callsBefore; i < calls.size(); i++)
        if (calls[i].m_Name == "Tune" && calls[i].m_Execute)
            tuneAt = i;
    ASSERT_GT(tuneAt, 0u);
    bool stepped = false;
    for (size_t i = tuneAt; i < calls.size(); i++)
        stepped = stepped || calls[i].m_Name == "TuneStep";
    EXPECT_TRUE(stepped);
}

TEST_F(StatsTest, TheLastUserLeavingResetsTheStatistics)
{
    AttachAndLock();
    EXPECT_TRUE(m_Port.Detach(&m_Client));
    ASSERT_TRUE(WaitUntil([&] { return m_Port.State() == 1; }, 2000));
    auto [locked, mer] = LockAndMer();
    EXPECT_FALSE(locked);
    EXPECT_EQ(mer, 0);
    // The port keeps no user, so nothing is polled any more.
    const int reads = m_Hal.StatReads(KX_STAT_LOCK);
    XpUtil::Sleep(300);
    EXPECT_EQ(m_Hal.StatReads(KX_STAT_LOCK), reads);
}

TEST_F(StatsTest, ATuneThatFailsOnTheHardwareDoesNotHoldTheStatisticsBack)
{
    AttachAndLock();
    // Accepted by the check, refused when the worker runs it.
    m_Hal.m_TuneExecuteResult = KXAPI_E_DEV_DRIVER;
    DemodMsg reply = Request(kxtest::GenericReq(DEMOD_CMD_TUNE, kxtest::TuneXml(482000000)));
    ASSERT_EQ(KxGetU32(reply.data(), 4), KXAPI_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_Hal.Executed("Tune").size() == 2; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return LockAndMer().first; }, 3000));
    EXPECT_EQ(LockAndMer().second, TestDemodHal::MER_TENTHS_DB);
}
