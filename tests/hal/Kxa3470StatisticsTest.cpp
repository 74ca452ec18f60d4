// Kxa3470Statistics: the window values over the rings, the rings made with a pair's first frame
// and dropped when it stops, the lock indications, and the sampling thread against a scripted
// card (also run under ThreadSanitizer).
#include <chrono>
#include <thread>

#include "DvbS2ModCod.h"
#include "Kxa3470StatFixture.h"
#include "Kxa3470StatTables.h"
#include "KxRfCal.h"

using namespace Kxapi;
using namespace stat3470;

namespace {
constexpr int SHORT = KXA3470_WINDOW_SHORT;
constexpr int MEDIUM = KXA3470_WINDOW_MEDIUM;
constexpr int LONG = KXA3470_WINDOW_LONG;
constexpr int ALL = KXA3470_ALL;
constexpr int QPSK_1_2 = 16;      // normal frames, no pilots
constexpr int QPSK_1_2_SHORT = 18;
constexpr int PSK8_3_4 = 56;
constexpr int APSK16_2_3 = 72;
} // namespace

using Kxa3470WindowTest = EngineFixture;

TEST_F(Kxa3470WindowTest, EbN0OfAQpskWindowIsEsN0Less3Db)
{
    TickFrames(10, 1, QPSK_1_2, 4, 12.0);
    EXPECT_EQ(120, WindowInt(1, SHORT, KX_STAT_MER));
    EXPECT_EQ(120, WindowInt(1, SHORT, KX_STAT_ES_N0));
    // 12.0 - 3.0103 = 8.99 dB.
    EXPECT_EQ(90, WindowInt(1, SHORT, KX_STAT_EB_N0));
    double ebN0 = 0.0;
    ASSERT_EQ(KXAPI_OK, Kxa3470Calc::EbN0(m_Engine.ShortPls(1), 12.0, ebN0));
    EXPECT_NEAR(12.0 - 3.0103, ebN0, 1e-4);
}

TEST_F(Kxa3470WindowTest, EbN0AveragesThePlsCodesBitsPerSymbol)
{
    for (int t = 0; t < 10; t++)
        Tick({Frame(1, QPSK_1_2, t + 1, 12.0), Frame(1, APSK16_2_3, t + 1, 12.0)});
    double ebN0 = 0.0;
    ASSERT_EQ(KXAPI_OK, Kxa3470Calc::EbN0(m_Engine.ShortPls(1), 12.0, ebN0));
    // (12 - 10 log10 2 + 12 - 10 log10 4) / 2.
    EXPECT_NEAR(12.0 - (3.0103 + 6.0206) / 2.0, ebN0, 1e-4);
}

TEST_F(Kxa3470WindowTest, LinkMarginAgainstTheMostDemandingPls)
{
    for (int t = 0; t < 10; t++)
        Tick({Frame(1, QPSK_1_2, t + 1, 12.0), Frame(1, PSK8_3_4, t + 1, 12.0)});
    // 8PSK 3/4 needs 7.91 dB, QPSK 1/2 1.00 dB.
    EXPECT_EQ(41, WindowInt(1, SHORT, KX_STAT_LINK_MARGIN));
    double margin = 0.0;
    EXPECT_EQ(KXAPI_OK, Kxa3470Calc::LinkMargin(m_Engine.ShortPls(1), 9.0, margin));
    EXPECT_NEAR(9.0 - 7.91, margin, 1e-9);
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, Kxa3470Calc::LinkMargin({}, 9.0, margin));
}

TEST_F(Kxa3470WindowTest, LockPercentageRoundsHalfUp)
{
    // Percentages of PL-header-locked ticks: trunc(locked / total x 100 + 0.5).
    const struct {
        uint32_t m_Locked;
        uint32_t m_Total;
        int m_Percent;
    } rows[] = {{7, 10, 70}, {2, 3, 67}, {1, 3, 33}, {1, 8, 13}, {0, 5, 0}, {5, 5, 100}, {1, 200, 1}, {1, 201, 0}};
    for (const auto& row : rows) {
        int percent = -1;
        EXPECT_EQ(KXAPI_OK, Kxa3470Calc::LockPercentage(row.m_Locked, row.m_Total, percent));
        EXPECT_EQ(row.m_Percent, percent) << row.m_Locked << "/" << row.m_Total;
    }
    int percent = -1;
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, Kxa3470Calc::LockPercentage(0, 0, percent));

    // Over a window: 7 of the last 10 ticks had the PL-header lock.
    for (int t = 0; t < 10; t++)
        TickFrames(1, 1, QPSK_1_2, 2, 10.0, 0, Signal(t >= 3));
    EXPECT_EQ(70, WindowInt(ALL, SHORT, KX_STAT_LOCK_PERC));
    // The stream decoded in every tick.
    EXPECT_EQ(100, WindowInt(1, SHORT, KX_STAT_LOCK_PERC));
}

TEST_F(Kxa3470WindowTest, StreamLockPercentageCountsTicksWithFourFifthsDecoded)
{
    // 5 frames per tick; 1 failed keeps the tick locked, 2 failed do not.
    for (int t = 0; t < 10; t++) {
        std::vector<S2FrameStatus> frames;
        for (int f = 0; f < 5; f++)
            frames.push_back(Frame(1, QPSK_1_2, t * 5 + f + 1, 10.0,
                                   f < (t < 4 ? 2 : 1) ? KXA3470_FRAME_LDPC_FAILED : 0));
        Tick(frames);
    }
    EXPECT_EQ(60, WindowInt(1, SHORT, KX_STAT_LOCK_PERC));
}

TEST_F(Kxa3470WindowTest, FrameErrorRatesAndPostDecoderBer)
{
    // 40 frames: 4 LDPC failures, 1 BCH failure.
    for (int t = 0; t < 10; t++)
        Tick({Frame(1, QPSK_1_2, 4 * t + 1, 6.0, t < 4 ? KXA3470_FRAME_LDPC_FAILED : 0),
              Frame(1, QPSK_1_2, 4 * t + 2, 6.0, t == 0 ? KXA3470_FRAME_BCH_FAILED : 0),
              Frame(1, QPSK_1_2, 4 * t + 3, 6.0), Frame(1, QPSK_1_2, 4 * t + 4, 6.0)});
    EXPECT_DOUBLE_EQ(0.1, WindowDouble(1, SHORT, KX_STAT_FER_POST_LDPC));
    EXPECT_DOUBLE_EQ(0.025, WindowDouble(1, SHORT, KX_STAT_FER_POST_BCH));
    double pre = 0.0;
    ASSERT_EQ(KXAPI_OK, CalcBerPreLdpc(QPSK_1_2, 6.0, pre));
    EXPECT_DOUBLE_EQ(pre, WindowDouble(1, SHORT, KX_STAT_BER_PRE_LDPC));
    EXPECT_DOUBLE_EQ(0.1 * pre, WindowDouble(1, SHORT, KX_STAT_BER_POST_LDPC));
    EXPECT_DOUBLE_EQ(0.1 * pre, WindowDouble(1, SHORT, KX_STAT_BER_PRE_BCH));
    EXPECT_DOUBLE_EQ(0.025 * pre, WindowDouble(1, SHORT, KX_STAT_BER_POST_BCH));
    // The all-streams window sums every stream.
    EXPECT_DOUBLE_EQ(0.1, WindowDouble(ALL, SHORT, KX_STAT_FER_POST_LDPC));

    double fer = -1.0;
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, Kxa3470Calc::FerPostLdpc({}, fer));
    std::map<int, BaseStatistics> noFrames{{QPSK_1_2, BaseStatistics()}};
    EXPECT_EQ(KXAPI_OK, Kxa3470Calc::FerPostBch(noFrames, fer));
    EXPECT_EQ(0.0, fer);
}

TEST_F(Kxa3470WindowTest, PreLdpcBerWeighsNormalFramesFourTimes)
{
    for (int t = 0; t < 10; t++)
        Tick({Frame(1, QPSK_1_2, t + 1, 4.0), Frame(1, QPSK_1_2_SHORT, t + 1, 4.0), Frame(1, PSK8_3_4, t + 1, 4.0)});
    double qpsk = 0.0;
    double psk8 = 0.0;
    CalcBerPreLdpc(QPSK_1_2, 4.0, qpsk);
    CalcBerPreLdpc(PSK8_3_4, 4.0, psk8);
    double ber = 0.0;
    ASSERT_EQ(KXAPI_OK, Kxa3470Calc::BerPreLdpc(m_Engine.ShortPls(1), 4.0, ber));
    EXPECT_NEAR((4 * qpsk + qpsk + 4 * psk8) / 9.0, ber, 1e-15);

    std::map<int, BaseStatistics> unknown = m_Engine.ShortPls(1);
    unknown[176] = unknown[QPSK_1_2];
    EXPECT_EQ(KXAPI_E_INVALID_MODTYPE, Kxa3470Calc::BerPreLdpc(unknown, 4.0, ber));
    EXPECT_EQ(-1.0, ber);
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, Kxa3470Calc::BerPreLdpc({}, 4.0, ber));
}

TEST_F(Kxa3470WindowTest, MerLeavesOutTicksWithLostReports)
{
    // Five ticks at 8 dB; then five at 14 dB whose running numbers skip one frame each.
    TickFrames(5, 1, QPSK_1_2, 2, 8.0);
    for (int t = 0; t < 5; t++) {
        uint32_t& number = m_FrameNumbers[{1, QPSK_1_2}];
        number += 2;
        Tick({Frame(1, QPSK_1_2, ++number, 14.0)});
    }
    EXPECT_EQ(80, WindowInt(1, SHORT, KX_STAT_MER));
    // The signal's MER is the mean of the streams' MERs.
    TickFrames(5, 2, QPSK_1_2, 2, 12.0);
    TickFrames(5, 1, QPSK_1_2, 2, 10.0);
    EXPECT_EQ(100, WindowInt(1, SHORT, KX_STAT_MER));
    EXPECT_EQ(120, WindowInt(2, SHORT, KX_STAT_MER));
    EXPECT_EQ(110, WindowInt(ALL, SHORT, KX_STAT_MER));
}

TEST_F(Kxa3470WindowTest, WindowQueries)
{
    for (int t = 0; t < 20; t++)
        Tick({Frame(3, QPSK_1_2, t + 1), Frame(7, QPSK_1_2, t + 1)});
    KXAPI_RESULT result;
    KxStatistic stat = Window(3, -1, KX_STAT_MER, result);
    EXPECT_EQ(KXAPI_E_STAT_NOTAVAIL, result);

    stat = Window(0, SHORT, KX_STAT_DVBS2_ISI, result);
    EXPECT_EQ(KXAPI_OK, result);
    KxDvbS2IsiList list;
    ASSERT_EQ(KXAPI_OK, stat.GetValue(list));
    ASSERT_EQ(2u, list.m_Isis.size());
    EXPECT_EQ(3, list.m_Isis[0].m_Isi);
    EXPECT_EQ(7, list.m_Isis[1].m_Isi);

    // An ISI without a window answers the empty window's value.
    EXPECT_EQ(-1, WindowInt(9, SHORT, KX_STAT_MER, KXAPI_E_STAT_NOTAVAIL));
    // A statistic no window computes.
    stat = Window(3, SHORT, KX_STAT_AGC1, result);
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, result);
    // The extra ids of the request stay.
    KxStatistic mer(KX_STAT_MER);
    mer.m_XtraId[0] = 3;
    EXPECT_EQ(KXAPI_OK, m_Engine.GetWindowStatistic(3, SHORT, mer));
    EXPECT_EQ(3, mer.m_XtraId[0]);
    EXPECT_EQ(KX_STAT_MER, mer.m_StatisticId);
    // The medium window is empty until the first second ends... it ended: 20 ticks.
    EXPECT_EQ(100, WindowInt(7, MEDIUM, KX_STAT_MER));
    EXPECT_EQ(-1, WindowInt(7, LONG, KX_STAT_MER, KXAPI_E_STAT_NOTAVAIL));
}

TEST_F(Kxa3470WindowTest, RingsAreMadeWithTheFirstFrameAndDroppedWhenThePairStops)
{
    TickFrames(3, 0, 0, 0);
    EXPECT_EQ(1u, m_Engine.NumRows(0)); // the signal row only
    EXPECT_FALSE(m_Engine.HasRow(0, 5, QPSK_1_2));
    const size_t idle = m_Engine.MemoryBytes();

    TickFrames(1, 5, QPSK_1_2, 1);
    for (int level = 0; level < 3; level++) {
        EXPECT_TRUE(m_Engine.HasRow(level, 5, QPSK_1_2)) << level;
        EXPECT_TRUE(m_Engine.HasRow(level, 5, ALL)) << level;
    }
    EXPECT_TRUE(m_Engine.HasWindow(0, 5));
    EXPECT_GT(m_Engine.MemoryBytes(), idle + (300 + 60 + 60) * sizeof(BaseStatistics));

    // Another PLS of the stream keeps the stream; the first PLS goes after a second without it.
    TickFrames(6, 5, PSK8_3_4, 1); // to the end of the first second
    EXPECT_TRUE(m_Engine.HasRow(0, 5, QPSK_1_2));
    TickFrames(4, 5, PSK8_3_4, 1);
    EXPECT_FALSE(m_Engine.HasRow(0, 5, QPSK_1_2));
    EXPECT_TRUE(m_Engine.HasRow(0, 5, PSK8_3_4));
    EXPECT_TRUE(m_Engine.HasRow(1, 5, QPSK_1_2)); // still in the last minute
    EXPECT_TRUE(m_Engine.HasWindow(0, 5));

    // The stream stops: its short rows and window go after a second, the medium ones after a
    // minute, the long ones after an hour.
    TickFrames(10, 0, 0, 0);
    EXPECT_FALSE(m_Engine.HasRow(0, 5, PSK8_3_4));
    EXPECT_FALSE(m_Engine.HasRow(0, 5, ALL));
    EXPECT_FALSE(m_Engine.HasWindow(0, 5));
    EXPECT_TRUE(m_Engine.HasWindow(1, 5));
    TickFrames(600, 0, 0, 0);
    EXPECT_FALSE(m_Engine.HasRow(1, 5, PSK8_3_4));
    EXPECT_FALSE(m_Engine.HasWindow(1, 5));
    EXPECT_TRUE(m_Engine.HasRow(2, 5, PSK8_3_4));
    EXPECT_EQ(100, WindowInt(5, LONG, KX_STAT_MER));
    TickFrames(600 * 59, 0, 0, 0);
    EXPECT_TRUE(m_Engine.HasRow(2, 5, PSK8_3_4));
    TickFrames(600, 0, 0, 0);
    EXPECT_FALSE(m_Engine.HasRow(2, 5, PSK8_3_4));
    EXPECT_EQ(3u, m_Engine.NumRows(0) + m_Engine.NumRows(1) + m_Engine.NumRows(2));

    // Back again: made anew.
    TickFrames(1, 5, QPSK_1_2, 1);
    EXPECT_TRUE(m_Engine.HasRow(2, 5, QPSK_1_2));
    m_Engine.Clear();
    EXPECT_EQ(0u, m_Engine.NumRows(0) + m_Engine.NumRows(1) + m_Engine.NumRows(2));
}

TEST_F(Kxa3470WindowTest, MediumAndLongEntriesSumTheirSecondsAndMinutes)
{
    // One minute: the first 30 s with 2 of 10 frames failing, the rest clean.
    for (int s = 0; s < 60; s++)
        for (int t = 0; t < 10; t++) {
            std::vector<S2FrameStatus> frames;
            for (int f = 0; f < 10; f++)
                frames.push_back(Next(1, QPSK_1_2, 10.0, s < 30 && f < 2 ? KXA3470_FRAME_LDPC_FAILED : 0));
            Tick(frames);
        }
    EXPECT_DOUBLE_EQ(0.0, WindowDouble(1, SHORT, KX_STAT_FER_POST_LDPC));
    EXPECT_DOUBLE_EQ(0.1, WindowDouble(1, MEDIUM, KX_STAT_FER_POST_LDPC));
    EXPECT_DOUBLE_EQ(0.1, WindowDouble(1, LONG, KX_STAT_FER_POST_LDPC));
    EXPECT_EQ(100, WindowInt(1, MEDIUM, KX_STAT_LOCK_PERC));
    EXPECT_EQ(100, WindowInt(ALL, LONG, KX_STAT_LOCK_PERC));
}

TEST_F(Kxa3470WindowTest, PlHeaderAndStreamLocks)
{
    int index = -1;
    EXPECT_FALSE(m_Engine.PlHeaderLock());
    EXPECT_FALSE(m_Engine.LockAll());
    EXPECT_FALSE(m_Engine.StreamLockFound());

    // 4 of the last 5 ticks with the PL-header lock: locked; 3 of 5: not.
    TickFrames(1, 1, QPSK_1_2, 5, 10.0, 0, Signal(false));
    TickFrames(4, 1, QPSK_1_2, 5);
    EXPECT_TRUE(m_Engine.PlHeaderLock());
    EXPECT_TRUE(m_Engine.StreamLock(1, index));
    EXPECT_EQ(0, index);
    TickFrames(1, 1, QPSK_1_2, 5, 10.0, 0, Signal(false));
    EXPECT_TRUE(m_Engine.PlHeaderLock());
    TickFrames(1, 1, QPSK_1_2, 5, 10.0, 0, Signal(false));
    EXPECT_FALSE(m_Engine.PlHeaderLock());
    EXPECT_FALSE(m_Engine.StreamLock(1, index));

    // Stream 2 decodes 3 of 4 frames (75 %): not locked; stream 1 is.
    for (int t = 0; t < 5; t++)
        Tick({Next(1, QPSK_1_2), Next(2, QPSK_1_2), Next(2, PSK8_3_4, 10.0, KXA3470_FRAME_NOT_DECODED),
              Next(2, PSK8_3_4), Next(2, PSK8_3_4)});
    EXPECT_TRUE(m_Engine.StreamLock(1, index));
    EXPECT_FALSE(m_Engine.StreamLock(2, index));
    EXPECT_EQ(1, index);
    EXPECT_TRUE(m_Engine.StreamLockFound());
    EXPECT_FALSE(m_Engine.LockAll());
    EXPECT_FALSE(m_Engine.StreamLock(3, index));
    EXPECT_EQ(-1, index);
    // 4 of 5: locked.
    for (int t = 0; t < 5; t++)
        Tick({Next(1, QPSK_1_2), Next(2, PSK8_3_4, 10.0, KXA3470_FRAME_BCH_FAILED), Next(2, PSK8_3_4),
              Next(2, PSK8_3_4), Next(2, PSK8_3_4), Next(2, PSK8_3_4)});
    EXPECT_TRUE(m_Engine.StreamLock(2, index));
    EXPECT_TRUE(m_Engine.LockAll());
}

TEST_F(Kxa3470WindowTest, StreamSignallingFromTheLatestFrame)
{
    // MATYPE-1: transport stream (11), multiple streams, CCM, roll-off 0.20 (10).
    const uint32_t maType = 0xC0 | KXA3470_MATYPE_MIS | KXA3470_MATYPE_CCM | 0x2;
    Tick({Frame(4, 57, 1, 10.0, 0, maType)});
    KxDvbS2IsiSigData data;
    ASSERT_EQ(KXAPI_OK, m_Engine.IsiSigData(4, data));
    EXPECT_EQ(4, data.m_Isi);
    EXPECT_EQ(57, data.m_Pls);
    EXPECT_EQ(KX_S2_8PSK, data.m_ModType);
    EXPECT_EQ(KX_CR_3_4, data.m_CodeRate);
    EXPECT_EQ(1, data.m_Pilots);
    EXPECT_EQ(MODCOD_FRAME_NORMAL, data.m_FecFrame);
    EXPECT_EQ(20, data.m_RollOffPct);
    EXPECT_EQ(1, data.m_CcmAcm);
    EXPECT_EQ(3, data.m_StreamType);
    EXPECT_EQ(KXAPI_E_PLP_NOT_FOUND, m_Engine.IsiSigData(5, data));

    KxDemodPars pars;
    ASSERT_EQ(KXAPI_OK, m_Engine.DemodPars(4, pars));
    EXPECT_EQ(KX_S2_8PSK, pars.ModType());
    ASSERT_NE(nullptr, pars.DvbS2());
    EXPECT_EQ(KX_CR_3_4, pars.DvbS2()->m_CodeRate);
    bool ccm = false;
    int pls = 0;
    EXPECT_EQ(KXAPI_OK, m_Engine.BBHeadCoding(ccm));
    EXPECT_TRUE(ccm);
    EXPECT_EQ(KXAPI_OK, m_Engine.CcmPlsValue(pls));
    EXPECT_EQ(57, pls);
    m_Engine.ForgetStreams();
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Engine.BBHeadCoding(ccm));
}

TEST_F(Kxa3470WindowTest, PlHeaderMerOverTheLastSecondsValidEntries)
{
    double mer = 0.0;
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Engine.MerPlHeaders(mer));
    for (int t = 0; t < 10; t++)
        Tick({}, Signal(t % 2 == 0, t % 2 == 0 ? 9.0 : 30.0)); // unlocked ticks carry no valid MER
    ASSERT_EQ(KXAPI_OK, m_Engine.MerPlHeaders(mer));
    EXPECT_DOUBLE_EQ(9.0, mer);
    EXPECT_EQ(90, WindowInt(ALL, SHORT, KX_STAT_MER_PL_HEADERS));
}

// The object with its lock, thread and card.
class Kxa3470StatisticsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pScript = std::make_shared<ScriptedStatSource::Script>();
        ASSERT_TRUE(m_Stats.Init(std::make_unique<ScriptedStatSource>(m_pScript)));
    }
    void Queue(const std::vector<S2FrameStatus>& frames)
    {
        std::lock_guard<std::mutex> lock(m_pScript->m_Lock);
        m_pScript->m_Pending.insert(m_pScript->m_Pending.end(), frames.begin(), frames.end());
    }

    std::shared_ptr<ScriptedStatSource::Script> m_pScript;
    Kxa3470Statistics m_Stats;
};

TEST_F(Kxa3470StatisticsTest, OverflowClearsTheBlockAndLosesTheTick)
{
    EXPECT_EQ(1, m_pScript->m_Clears.load()); // Init
    Queue({Frame(1, QPSK_1_2, 1), Frame(1, QPSK_1_2, 2)});
    m_pScript->m_Overflow = true;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Stats.UpdateStatisticsBuffers(false, false, 1.0));
    EXPECT_EQ(2, m_pScript->m_Clears.load());
    EXPECT_EQ(0, m_pScript->m_Reads.load());
    std::vector<int> isis;
    m_Stats.GetIsiIds(isis);
    EXPECT_TRUE(isis.empty());

    // More reports than one read carries are all taken.
    std::vector<S2FrameStatus> frames;
    for (uint32_t n = 1; n <= 600; n++)
        frames.push_back(Frame(1, QPSK_1_2, n));
    Queue(frames);
    EXPECT_EQ(KXAPI_OK, m_Stats.UpdateStatisticsBuffers(false, false, 1.0));
    EXPECT_EQ(3, m_pScript->m_Reads.load());
    double fer = -1.0;
    EXPECT_EQ(KXAPI_OK, m_Stats.GetFerPostLdpc(KXA3470_ALL, fer));
    EXPECT_EQ(0.0, fer);
    EXPECT_EQ(KXAPI_OK, m_Stats.GetFerPostBch(1, fer));
    EXPECT_EQ(0.0, fer);
}

TEST_F(Kxa3470StatisticsTest, BufferingGatesTheLockIndicationsAndPlHeaderMer)
{
    for (int t = 0; t < 5; t++) {
        Queue({Frame(1, QPSK_1_2, t + 1)});
        m_Stats.UpdateStatisticsBuffers(false, false, 1.0);
    }
    double mer = 0.0;
    int index = 0;
    EXPECT_FALSE(m_Stats.BufferingEnabled());
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Stats.GetMerPlHeaders(mer));
    EXPECT_FALSE(m_Stats.GetPlHeaderLock());
    EXPECT_FALSE(m_Stats.GetLock(1, index));
    EXPECT_EQ(-1, index);
    // The same rings with buffering on: locked.
    m_Stats.EnableBuffering(true);
    EXPECT_TRUE(m_Stats.GetLock(1, index));
    EXPECT_EQ(0, index);
    EXPECT_TRUE(m_Stats.StreamLockFound());
    EXPECT_EQ(KXAPI_OK, m_Stats.GetMerPlHeaders(mer));
    EXPECT_DOUBLE_EQ(10.0, mer);
    m_Stats.EnableBuffering(false);
    EXPECT_FALSE(m_Stats.GetLockAll());
    EXPECT_FALSE(m_Stats.StreamLockFound());
}

TEST_F(Kxa3470StatisticsTest, RollOffBandwidthAndLevels)
{
    double rollOff = -1.0;
    EXPECT_EQ(KXAPI_OK, m_Stats.GetRollOff(rollOff));
    EXPECT_DOUBLE_EQ(0.20, rollOff);
    m_pScript->m_RollOffCode = 65280;
    double bandwidth = 0.0;
    EXPECT_EQ(KXAPI_OK, m_Stats.GetOccupiedBw(27500000, bandwidth));
    EXPECT_DOUBLE_EQ(27.5, bandwidth);
    m_pScript->m_RollOffCode = 1000;
    EXPECT_EQ(KXAPI_E_INTERNAL, m_Stats.GetRollOff(rollOff));

    m_pScript->m_Inversion = 1;
    bool inverted = false;
    EXPECT_EQ(KXAPI_OK, m_Stats.GetSpectrumInv(inverted));
    EXPECT_TRUE(inverted);

    double level = 0.0;
    ASSERT_EQ(KXAPI_OK, m_Stats.GetRfLvlUncalib(7, level));
    EXPECT_NEAR(29.897 - 88.35, level, 1e-3);
    // Without calibration and without PL-header lock: the level (-58.5 dBmV: -585 tenths, -1073
    // dBm tenths) plus trunc((63 + offset at 50 degrees 0) / 10) = 6.
    int chan = 0;
    ASSERT_EQ(KXAPI_OK, m_Stats.GetRfLvlChan(7, 1200000000, 50, 27500000, chan));
    EXPECT_EQ(-585 + 6, chan);
    // At 30 degrees: trunc((63 - 36) / 10) = 2.
    ASSERT_EQ(KXAPI_OK, m_Stats.GetRfLvlChan(7, 1200000000, 30, 27500000, chan));
    EXPECT_EQ(-585 + 2, chan);
    // Both calibrations apply: each a temperature coefficient of 1 tenth per degree above 40.
    KxRfCalV1 cal;
    RfCalZero(&cal);
    cal.m_RefTemperature = 40;
    cal.m_TempCoefficient = 0.1f;
    m_Stats.SetTableCalibration(cal);
    m_Stats.SetStoredCalibration(cal);
    ASSERT_EQ(KXAPI_OK, m_Stats.GetRfLvlChan(7, 1200000000, 50, 27500000, chan));
    EXPECT_EQ(-585 + 6 + 10 + 10, chan);
    m_Stats.ClearStoredCalibration();
    ASSERT_EQ(KXAPI_OK, m_Stats.GetRfLvlChan(7, 1200000000, 50, 27500000, chan));
    EXPECT_EQ(-585 + 6 + 10, chan);
}

TEST_F(Kxa3470StatisticsTest, SamplingThreadTicksWhileBufferingAndReadersRunBeside)
{
    m_Stats.EnableBuffering(true);
    std::atomic<bool> done{false};
    // A feeder for the card and a reader on the HAL's side, both beside the sampling thread.
    std::thread feeder([&] {
        uint32_t number = 0;
        while (!done.load()) {
            Queue({Frame(2, QPSK_1_2, ++number, 11.0), Frame(2, QPSK_1_2, ++number, 11.0)});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::thread reader([&] {
        while (!done.load()) {
            KxStatistic stat(KX_STAT_MER);
            m_Stats.GetWindowStatistic(2, SHORT, stat);
            int index = 0;
            m_Stats.GetLock(2, index);
            double mer = 0.0;
            m_Stats.GetMerPlHeaders(mer);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    // Within 2 s the thread has ticked often enough for the stream to lock.
    int index = -1;
    bool locked = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!locked && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        locked = m_Stats.GetLock(2, index);
    }
    EXPECT_TRUE(locked);
    EXPECT_EQ(0, index);
    double mer = 0.0;
    EXPECT_EQ(KXAPI_OK, m_Stats.GetMer(2, mer));
    EXPECT_NEAR(11.0, mer, 1e-9);
    EXPECT_GT(m_Stats.MemoryBytes(), 0u);
    done = true;
    feeder.join();
    reader.join();
    m_Stats.Close();
    std::vector<int> isis;
    m_Stats.GetIsiIds(isis);
    EXPECT_TRUE(isis.empty());
}

TEST_F(Kxa3470StatisticsTest, ClearBuffersEmptiesTheRingsAndTheBlock)
{
    Queue({Frame(1, QPSK_1_2, 1)});
    m_Stats.UpdateStatisticsBuffers(false, false, 1.0);
    std::vector<int> isis;
    m_Stats.GetIsiIds(isis);
    EXPECT_EQ(std::vector<int>{1}, isis);
    const int clears = m_pScript->m_Clears.load();
    m_Stats.ClearBuffers();
    EXPECT_EQ(clears + 1, m_pScript->m_Clears.load());
    m_Stats.GetIsiIds(isis);
    EXPECT_TRUE(isis.empty());
}
