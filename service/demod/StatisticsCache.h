// StatisticsCache: the last known value of every supported statistic of one receiver port,
// with defaults, moving averages, and the last demodulation parameters, tuner frequencies,
// stream selections and PLP ids, each with the result of the read that produced it.
// Writer: the port's worker thread; readers: client handler threads. Every operation holds
// the cache's recursive lock; the worker holds it (GetStatisticsLock) across a whole pass, so
// a reader never sees half a pass. Every change also counts in Version(), so that a reply
// built from the cache can be sent again, without the lock, while nothing changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "DemodPars.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"
#include "KxapiResult.h"
#include "SupportedStatisticsType.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

// Statistic id and four extra ids, ordered lexicographically as signed integers.
struct StatisticKey {
    int32_t StatisticId = 0;
    int32_t XtraId[4] = {-1, -1, -1, -1};
    StatisticKey() = default;
    explicit StatisticKey(const Kxapi::KxStatistic& stat);
    bool operator<(const StatisticKey& other) const;
    bool operator==(const StatisticKey& other) const;
};

struct MovingAverageType {
    int32_t WritePos = 0;
    int32_t Count = 0;
    std::vector<double> Samples;
};

class StatisticsCache : private KxNonCopyable {
public:
    StatisticsCache();
    virtual ~StatisticsCache();

    // Builds the cache from a model's table; types[i] and defaults[i] belong together.
    void Init(int count, const SupportedStatisticsType* types, const Kxapi::KxStatistic* defaults);
    // Disabling resets every value to its default and the parameters, frequencies and
    // selections to "not locked"; stores are ignored until enabled again.
    void Enable(bool enable);
    bool IsEnabled();
    // The cache's own lock, for a caller that stores a batch atomically.
    IXpCritSec* GetStatisticsLock() { return m_pLock.get(); }
    // Grows with every change of the cache (by the time the changing operation lets go of the
    // lock): a reply built from the cache when Version() read v is what the cache still
    // answers while Version() reads v. Read without the lock.
    uint64_t Version() const { return m_Version.load(std::memory_order_acquire); }

    void StoreStatistics(std::vector<Kxapi::KxStatistic>& stats, bool refreshKeys);
    void StoreStatisticsResult(unsigned int result);
    void SetDefaultValues(std::vector<Kxapi::KxStatistic>& stats);
    void StoreDemodPars(const Kxapi::KxDemodPars& pars, unsigned int result);
    // index 0 or 1; any other index sets both tuners.
    void StoreTunerFrequency(long long freqHz, int index, unsigned int result);
    void StoreStreamSelection(const Kxapi::KxDvbC2StreamSelPars& sel, unsigned int result);
    void StoreStreamSelection(const Kxapi::KxDvbT2StreamSelPars& sel, unsigned int result);
    void StoreStreamSelection(const Kxapi::KxAtsc3StreamSelPars& sel, unsigned int result);
    void SetMultiPlpIds(std::vector<int>& ids, unsigned int result);

    // Reads statistics in place (keys normalised; averaged when asked). Returns the last poll's
    // result when that failed, else KXAPI_OK with a result per statistic.
    KXAPI_RESULT GetStatistics(int count, Kxapi::KxStatistic* stats, bool average);
    KXAPI_RESULT GetDemodPars(Kxapi::KxDemodPars& pars);
    // index -1 or 0: tuner 0; 1: tuner 1; others KXAPI_E_INVALID_ARG.
    KXAPI_RESULT GetTunerFrequency(long long& freqHz, int index);
    KXAPI_RESULT GetStreamSelection(Kxapi::KxDvbC2StreamSelPars& sel);
    KXAPI_RESULT GetStreamSelection(Kxapi::KxDvbT2StreamSelPars& sel);
    KXAPI_RESULT GetStreamSelection(Kxapi::KxAtsc3StreamSelPars& sel);
    // count: capacity in, number out; KXAPI_E_BUF_TOO_SMALL (nothing copied) when too small.
    KXAPI_RESULT GetSupportedStatistics(int& count, Kxapi::KxStatistic* list);
    // The same rule for their ids alone.
    KXAPI_RESULT GetSupportedStatisticIds(int& count, int32_t* ids);
    // The supported types with their keys expanded; KXAPI_E_DEVICE before the first Init.
    KXAPI_RESULT GetSupportedStatisticsInternal(std::vector<SupportedStatisticsType>& out);
    void CleanUp();

private:
    // Keys a supported type stands for (markers in XtraId[0] and XtraId[1]); false when the
    // type expands to nothing (it then stands for its own key).
    bool GetXtraIdKeys(const StatisticKey& key, std::vector<StatisticKey>& keys) const;
    // Clears the extra ids the statistic's supported type does not use.
    void NormalizeKey(StatisticKey& key) const;
    // Copies the default of the statistic's id over it, keeping its own extra ids.
    void SetDefaultValue(Kxapi::KxStatistic& stat) const;
    void StoreAverageSample(const Kxapi::KxStatistic& stat);
    void UpdateAverageValue(Kxapi::KxStatistic& stat) const;
    void ExpandSupportedTypes(std::vector<SupportedStatisticsType>& out) const;
    void ResetSelections(int32_t value, unsigned int result);

    // Counts one change when it leaves scope (a mutator declares it after taking the lock).
    class ChangeScope {
    public:
        explicit ChangeScope(std::atomic<uint64_t>& version) : m_Version(version) {}
        ~ChangeScope() { m_Version.fetch_add(1, std::memory_order_release); }
        ChangeScope(const ChangeScope&) = delete;
        ChangeScope& operator=(const ChangeScope&) = delete;

    private:
        std::atomic<uint64_t>& m_Version;
    };

    XpCritSecPtr m_pLock;
    std::atomic<uint64_t> m_Version{0};
    std::map<StatisticKey, Kxapi::KxStatistic> m_Values;
    std::map<int32_t, Kxapi::KxStatistic> m_Defaults;
    std::vector<Kxapi::KxStatistic> m_SupportedStatistics;
    std::vector<SupportedStatisticsType> m_SupportedTypes;
    std::vector<int> m_PlpIds;
    unsigned int m_StatisticsResult;
    std::map<int32_t, MovingAverageType> m_Averages;
    bool m_Enabled = false;
    bool m_Initialised = false;
    Kxapi::KxDemodPars m_DemodPars;
    unsigned int m_DemodParsResult;
    long long m_TunerFreqHz[2] = {0, 0};
    unsigned int m_TunerFreqResult[2];
    Kxapi::KxDvbT2StreamSelPars m_DvbT2Sel;
    unsigned int m_DvbT2SelResult;
    Kxapi::KxDvbC2StreamSelPars m_DvbC2Sel;
    unsigned int m_DvbC2SelResult;
    Kxapi::KxAtsc3StreamSelPars m_Atsc3Sel;
    unsigned int m_Atsc3SelResult;
};
