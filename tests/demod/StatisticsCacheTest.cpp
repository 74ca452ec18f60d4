// The statistics cache of one receiver port: key expansion and normalisation, defaults,
// moving averages, enabling, the fixed-layout read and batch consistency.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CritSecAutoLockSvc.h"
#include "StatisticsCache.h"

using namespace Kxapi;

namespace {

constexpr int32_t ID_RF_LEVEL = 7;   // int32
constexpr int32_t ID_TEMP = 9;       // int32
constexpr int32_t ID_BER = 256;      // double
constexpr int32_t ID_LOCK = 512;     // bool

SupportedStatisticsType Type(int32_t id, int32_t window = 0, int32_t x0 = -1, int32_t x1 = -1, bool lockedOnly = false)
{
    SupportedStatisticsType type{};
    type.StatisticId = id;
    type.LockedOnly = lockedOnly;
    type.AverageWindow = window;
    type.PollDivider = 1;
    type.XtraId[0] = x0;
    type.XtraId[1] = x1;
    type.XtraId[2] = -1;
    type.XtraId[3] = -1;
    return type;
}

// Defaults as a model would give them: an error result and value -1 (false for bools).
KxStatistic DefaultFor(const SupportedStatisticsType& type)
{
    KxStatistic stat(type.StatisticId);
    for (int j = 0; j < 4; j++)
        stat.m_XtraId[j] = type.XtraId[j];
    stat.m_Result = static_cast<int32_t>(KXAPI_E_TUNING);
    if (std::holds_alternative<int32_t>(stat.GetRawValue()))
        stat.SetValue<int32_t>(-1);
    else if (std::holds_alternative<double>(stat.GetRawValue()))
        stat.SetValue(-1.0);
    return stat;
}

void InitCache(StatisticsCache& cache, const std::vector<SupportedStatisticsType>& types)
{
    std::vector<KxStatistic> defaults;
    for (const SupportedStatisticsType& type : types)
        defaults.push_back(DefaultFor(type));
    cache.Init(static_cast<int>(types.size()), types.data(), defaults.data());
}

KxStatistic IntStat(int32_t id, int32_t value, KXAPI_RESULT result = KXAPI_OK, int32_t x0 = -1, int32_t x1 = -1)
{
    KxStatistic stat(id);
    stat.SetValue(value);
    stat.m_Result = static_cast<int32_t>(result);
    stat.m_XtraId[0] = x0;
    stat.m_XtraId[1] = x1;
    return stat;
}

KxStatistic Read(StatisticsCache& cache, int32_t id, bool average = false, int32_t x0 = -1, int32_t x1 = -1)
{
    KxStatistic stat(id);
    stat.m_XtraId[0] = x0;
    stat.m_XtraId[1] = x1;
    EXPECT_EQ(KXAPI_OK, cache.GetStatistics(1, &stat, average));
    return stat;
}

int32_t IntValue(const KxStatistic& stat)
{
    const int32_t* value = std::get_if<int32_t>(&stat.GetRawValue());
    EXPECT_NE(nullptr, value);
    return value == nullptr ? 0 : *value;
}

void Store(StatisticsCache& cache, std::vector<KxStatistic> batch, bool refreshKeys = false)
{
    cache.StoreStatistics(batch, refreshKeys);
}

} // namespace

TEST(StatisticsCacheKeys, SubChannelAndLayerMarkersYieldSixteenKeys)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 0, 0, 2, true)});
    std::vector<SupportedStatisticsType> expanded;
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    ASSERT_EQ(16u, expanded.size());
    const int32_t sub[] = {-1, 1, 2, 4};
    const int32_t layer[] = {-1, 0, 1, 2};
    for (size_t i = 0; i < expanded.size(); i++) {
        EXPECT_EQ(sub[i / 4], expanded[i].XtraId[0]) << i;
        EXPECT_EQ(layer[i % 4], expanded[i].XtraId[1]) << i;
        EXPECT_EQ(-1, expanded[i].XtraId[2]);
        // Only the copies without a layer keep the locked-only rule.
        EXPECT_EQ(layer[i % 4] < 0, expanded[i].LockedOnly) << i;
    }
    // Every expanded key was cached with the default: a stored value reaches exactly its key.
    cache.StoreStatisticsResult(KXAPI_OK);
    Store(cache, {IntStat(ID_RF_LEVEL, 55, KXAPI_OK, 2, 1)});
    EXPECT_EQ(55, IntValue(Read(cache, ID_RF_LEVEL, false, 2, 1)));
    KxStatistic other = Read(cache, ID_RF_LEVEL, false, 2, 0);
    EXPECT_EQ(-1, IntValue(other));
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_TUNING), other.m_Result);
}

TEST(StatisticsCacheKeys, PlpMarkerFollowsThePlpListAndFallsBackToItsOwnKey)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 0, 1)});
    std::vector<SupportedStatisticsType> expanded;
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    ASSERT_EQ(1u, expanded.size());
    EXPECT_EQ(1, expanded[0].XtraId[0]);

    std::vector<int> plps = {3, 7};
    cache.SetMultiPlpIds(plps, KXAPI_OK);
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    ASSERT_EQ(2u, expanded.size());
    EXPECT_EQ(3, expanded[0].XtraId[0]);
    EXPECT_EQ(7, expanded[1].XtraId[0]);

    // A failed PLP read empties the list.
    cache.SetMultiPlpIds(plps, KXAPI_E_TUNING);
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    EXPECT_EQ(1u, expanded.size());
}

TEST(StatisticsCacheKeys, LayerMarkerMultipliesThePlpKeysAndWithoutPlpsTheOwnKeyStays)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 0, 1, 2, true), Type(ID_TEMP, 0, -1, 2), Type(ID_LOCK, 0, 3)});
    std::vector<SupportedStatisticsType> expanded;
    // No PLP list: the PLP-and-layer type keeps its own key; a layer-only type has four.
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    ASSERT_EQ(6u, expanded.size());
    EXPECT_EQ(3, expanded[5].XtraId[0]); // the other PLP marker, also without a list
    EXPECT_EQ(1, expanded[0].XtraId[0]);
    EXPECT_EQ(2, expanded[0].XtraId[1]);
    EXPECT_TRUE(expanded[0].LockedOnly);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(ID_TEMP, expanded[1 + i].StatisticId);
        EXPECT_EQ(-1, expanded[1 + i].XtraId[0]);
        EXPECT_EQ(i - 1, expanded[1 + i].XtraId[1]);
    }

    std::vector<int> plps = {3, 7};
    cache.SetMultiPlpIds(plps, KXAPI_OK);
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(expanded));
    ASSERT_EQ(14u, expanded.size());
    EXPECT_EQ(3, expanded[12].XtraId[0]);
    EXPECT_EQ(7, expanded[13].XtraId[0]);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(i < 4 ? 3 : 7, expanded[i].XtraId[0]) << i;
        EXPECT_EQ(i % 4 - 1, expanded[i].XtraId[1]) << i;
        EXPECT_EQ(i % 4 == 0, expanded[i].LockedOnly) << i;
    }
}

TEST(StatisticsCacheKeys, RefreshAfterPlpListShrankDropsVanishedPlps)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 0, 1)});
    cache.StoreStatisticsResult(KXAPI_OK);
    std::vector<int> plps = {0, 1};
    cache.SetMultiPlpIds(plps, KXAPI_OK);
    Store(cache, {IntStat(ID_RF_LEVEL, 10, KXAPI_OK, 0), IntStat(ID_RF_LEVEL, 11, KXAPI_OK, 1)}, true);
    EXPECT_EQ(11, IntValue(Read(cache, ID_RF_LEVEL, false, 1)));

    plps = {0};
    cache.SetMultiPlpIds(plps, KXAPI_OK);
    Store(cache, {IntStat(ID_RF_LEVEL, 20, KXAPI_OK, 0)}, true);
    EXPECT_EQ(20, IntValue(Read(cache, ID_RF_LEVEL, false, 0)));
    // PLP 1 is gone: the read falls back to the default.
    KxStatistic gone = Read(cache, ID_RF_LEVEL, false, 1);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_TUNING), gone.m_Result);
    EXPECT_EQ(-1, IntValue(gone));
    EXPECT_EQ(1, gone.m_XtraId[0]);
}

TEST(StatisticsCacheKeys, UnusedExtraIdsAreNormalisedAway)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_TEMP)});
    cache.StoreStatisticsResult(KXAPI_OK);
    Store(cache, {IntStat(ID_TEMP, 42)});
    KxStatistic stat = Read(cache, ID_TEMP, false, 7, 3);
    EXPECT_EQ(KXAPI_OK, static_cast<KXAPI_RESULT>(stat.m_Result));
    EXPECT_EQ(42, IntValue(stat));
    EXPECT_EQ(-1, stat.m_XtraId[0]);
    EXPECT_EQ(-1, stat.m_XtraId[1]);
}

TEST(StatisticsCacheDefaults, UnsupportedUnmatchedAndLayeredStatistics)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_TEMP), Type(ID_RF_LEVEL, 0, 5, 2)});
    cache.StoreStatisticsResult(KXAPI_OK);

    KxStatistic unsupported = Read(cache, ID_BER);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_NOT_SUPPORTED), unsupported.m_Result);

    // Marker 5 is a literal value: keys of layers -1..2 under XtraId[0] = -1 exist, others do not.
    KxStatistic layered = Read(cache, ID_RF_LEVEL, false, -1, 1);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_TUNING), layered.m_Result);
    KxStatistic unmatched = Read(cache, ID_RF_LEVEL, false, 9, 1);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_STAT_NOTAVAIL), unmatched.m_Result);
    EXPECT_EQ(-1, IntValue(unmatched));
    EXPECT_EQ(9, unmatched.m_XtraId[0]);
    EXPECT_EQ(1, unmatched.m_XtraId[1]);
}

TEST(StatisticsCacheDefaults, FailedPollAnswersEveryReadUntilAGoodOne)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_TEMP)});
    KxStatistic stat(ID_TEMP);
    // A fresh cache has no poll yet.
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, cache.GetStatistics(1, &stat, false));
    cache.StoreStatisticsResult(KXAPI_E_I2C);
    EXPECT_EQ(KXAPI_E_I2C, cache.GetStatistics(1, &stat, false));
    cache.StoreStatisticsResult(KXAPI_OK);
    EXPECT_EQ(KXAPI_OK, cache.GetStatistics(1, &stat, false));
}

TEST(StatisticsCacheDefaults, SetDefaultValuesKeepsExtraIds)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 0, 0)});
    std::vector<KxStatistic> poll = {IntStat(ID_RF_LEVEL, 99, KXAPI_OK, 4), IntStat(ID_BER, 0)};
    poll[1] = KxStatistic(ID_BER);
    poll[1].m_Result = 5;
    cache.SetDefaultValues(poll);
    EXPECT_EQ(-1, IntValue(poll[0]));
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_TUNING), poll[0].m_Result);
    EXPECT_EQ(4, poll[0].m_XtraId[0]);
    EXPECT_EQ(5, poll[1].m_Result); // no default: untouched
}

TEST(StatisticsCacheAverages, IntegerWindowEmptiesOnErrorAndRestarts)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 10)});
    cache.StoreStatisticsResult(KXAPI_OK);
    for (int32_t v : {1, 2, 3}) {
        Store(cache, {IntStat(ID_RF_LEVEL, v)});
    }
    EXPECT_EQ(2, IntValue(Read(cache, ID_RF_LEVEL, true)));
    EXPECT_EQ(3, IntValue(Read(cache, ID_RF_LEVEL, false)));

    Store(cache, {IntStat(ID_RF_LEVEL, 100, KXAPI_E_I2C)});
    KxStatistic failed = Read(cache, ID_RF_LEVEL, true);
    EXPECT_EQ(static_cast<int32_t>(KXAPI_E_I2C), failed.m_Result);
    EXPECT_EQ(100, IntValue(failed)); // an error result is never averaged

    Store(cache, {IntStat(ID_RF_LEVEL, 8)});
    EXPECT_EQ(8, IntValue(Read(cache, ID_RF_LEVEL, true)));
}

TEST(StatisticsCacheAverages, WindowWrapsAndIntegerMeanIsCutTowardZero)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL, 3), Type(ID_BER, 2)});
    cache.StoreStatisticsResult(KXAPI_OK);
    for (int32_t v : {1, 2, -10, -11, -12}) {
        Store(cache, {IntStat(ID_RF_LEVEL, v)});
    }
    // Window holds -10, -11, -12: mean -11.
    EXPECT_EQ(-11, IntValue(Read(cache, ID_RF_LEVEL, true)));
    Store(cache, {IntStat(ID_RF_LEVEL, -1)});
    // -11, -12, -1: mean -8 exactly; then -12, -1, 0 gives -4.33 -> -4.
    EXPECT_EQ(-8, IntValue(Read(cache, ID_RF_LEVEL, true)));
    Store(cache, {IntStat(ID_RF_LEVEL, 0)});
    EXPECT_EQ(-4, IntValue(Read(cache, ID_RF_LEVEL, true)));

    for (double v : {1e-3, 3e-3, 5e-3}) {
        KxStatistic ber(ID_BER);
        ber.SetValue(v);
        ber.m_Result = KXAPI_OK;
        Store(cache, {ber});
    }
    double mean = 0.0;
    EXPECT_EQ(KXAPI_OK, Read(cache, ID_BER, true).GetValue(mean));
    EXPECT_DOUBLE_EQ(4e-3, mean);
}

TEST(StatisticsCacheEnable, DisablingResetsAndIgnoresStoresUntilEnabled)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_TEMP)});
    cache.StoreStatisticsResult(KXAPI_OK);
    KxDemodPars pars(KX_MOD_IQ);
    cache.StoreDemodPars(pars, KXAPI_OK);
    cache.StoreTunerFrequency(474000000, 0, KXAPI_OK);
    KxDvbT2StreamSelPars t2{2, 3};
    cache.StoreStreamSelection(t2, KXAPI_OK);
    Store(cache, {IntStat(ID_TEMP, 41)});

    cache.Enable(false);
    EXPECT_FALSE(cache.IsEnabled());
    KxDemodPars out(KX_MOD_DVBT);
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, cache.GetDemodPars(out));
    EXPECT_EQ(KX_MOD_NONE, out.ModType());
    long long freq = 1;
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, cache.GetTunerFrequency(freq, 0));
    EXPECT_EQ(0, freq);
    KxDvbT2StreamSelPars t2Out;
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, cache.GetStreamSelection(t2Out));
    EXPECT_EQ(-1, t2Out.m_PlpId);
    EXPECT_EQ(-1, t2Out.m_CommonPlpId);
    KxDvbC2StreamSelPars c2Out;
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, cache.GetStreamSelection(c2Out));
    EXPECT_EQ(-1, c2Out.m_DSliceId);
    // The poll result is kept, the value went back to its default.
    EXPECT_EQ(-1, IntValue(Read(cache, ID_TEMP)));

    Store(cache, {IntStat(ID_TEMP, 43)});
    cache.StoreDemodPars(pars, KXAPI_OK);
    EXPECT_EQ(-1, IntValue(Read(cache, ID_TEMP)));

    cache.Enable(true);
    EXPECT_EQ(-1, IntValue(Read(cache, ID_TEMP)));
    Store(cache, {IntStat(ID_TEMP, 43)});
    EXPECT_EQ(43, IntValue(Read(cache, ID_TEMP)));
    cache.StoreDemodPars(pars, KXAPI_OK);
    EXPECT_EQ(KXAPI_OK, cache.GetDemodPars(out));
    EXPECT_EQ(KX_MOD_IQ, out.ModType());
}

TEST(StatisticsCacheEnable, InitResetsResultsAndKeepsLastParameters)
{
    StatisticsCache cache;
    EXPECT_FALSE(cache.IsEnabled());
    std::vector<SupportedStatisticsType> none;
    EXPECT_EQ(KXAPI_E_DEVICE, cache.GetSupportedStatisticsInternal(none));
    KxDemodPars out;
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, cache.GetDemodPars(out));

    cache.Init(0, nullptr, nullptr);
    EXPECT_TRUE(cache.IsEnabled());
    EXPECT_EQ(KXAPI_OK, cache.GetSupportedStatisticsInternal(none));
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, cache.GetDemodPars(out));

    cache.StoreDemodPars(KxDemodPars(KX_MOD_IQ), KXAPI_OK);
    cache.StoreTunerFrequency(5, 1, KXAPI_OK);
    InitCache(cache, {Type(ID_TEMP)});
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, cache.GetDemodPars(out));
    EXPECT_EQ(KX_MOD_IQ, out.ModType());
    long long freq = 1;
    EXPECT_EQ(KXAPI_E_DEV_DRIVER, cache.GetTunerFrequency(freq, 1));
    EXPECT_EQ(0, freq);
}

TEST(StatisticsCacheReads, TunerIndexesAndSupportedLists)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_LOCK), Type(ID_RF_LEVEL, 10), Type(ID_TEMP)});
    cache.StoreTunerFrequency(1000, -1, KXAPI_OK);
    long long freq = 0;
    EXPECT_EQ(KXAPI_OK, cache.GetTunerFrequency(freq, 1));
    EXPECT_EQ(1000, freq);
    cache.StoreTunerFrequency(2000, 0, KXAPI_OK);
    EXPECT_EQ(KXAPI_OK, cache.GetTunerFrequency(freq, -1));
    EXPECT_EQ(2000, freq);
    freq = 77;
    EXPECT_EQ(KXAPI_E_INVALID_ARG, cache.GetTunerFrequency(freq, 2));
    EXPECT_EQ(77, freq);

    std::vector<KxStatistic> list(5);
    int count = 2;
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, cache.GetSupportedStatistics(count, list.data()));
    EXPECT_EQ(0, list[0].m_StatisticId);
    count = 5;
    ASSERT_EQ(KXAPI_OK, cache.GetSupportedStatistics(count, list.data()));
    EXPECT_EQ(3, count);
    EXPECT_EQ(ID_LOCK, list[0].m_StatisticId);
    EXPECT_EQ(ID_RF_LEVEL, list[1].m_StatisticId);
    EXPECT_EQ(ID_TEMP, list[2].m_StatisticId);
}

TEST(StatisticsCacheConcurrency, ReaderNeverSeesHalfABatch)
{
    StatisticsCache cache;
    InitCache(cache, {Type(ID_RF_LEVEL), Type(ID_TEMP)});
    cache.StoreStatisticsResult(KXAPI_OK);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int32_t n = 0; n < 2000; n++) {
            CritSecAutoLockSvc lock(cache.GetStatisticsLock());
            Store(cache, {IntStat(ID_RF_LEVEL, n)});
            Store(cache, {IntStat(ID_TEMP, n)}, true);
        }
        stop = true;
    });
    int mismatches = 0;
    int reads = 0;
    while (!stop) {
        KxStatistic pair[2] = {KxStatistic(ID_RF_LEVEL), KxStatistic(ID_TEMP)};
        ASSERT_EQ(KXAPI_OK, cache.GetStatistics(2, pair, false));
        if (IntValue(pair[0]) != IntValue(pair[1]))
            mismatches++;
        reads++;
    }
    writer.join();
    EXPECT_EQ(0, mismatches) << "of " << reads << " reads";
    EXPECT_EQ(1999, IntValue(Read(cache, ID_TEMP)));
}
