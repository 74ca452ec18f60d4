#include "StatisticsCache.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"

using namespace Kxapi;

namespace {

const int32_t SUBCHANNEL_IDS[] = {-1, 1, 2, 4};
const int32_t LAYER_IDS[] = {-1, 0, 1, 2};

StatisticKey KeyOf(const SupportedStatisticsType& type)
{
    StatisticKey key;
    key.StatisticId = type.StatisticId;
    for (int j = 0; j < 4; j++)
        key.XtraId[j] = type.XtraId[j];
    return key;
}

void ApplyKey(KxStatistic& stat, const StatisticKey& key)
{
    for (int j = 0; j < 4; j++)
        stat.m_XtraId[j] = key.XtraId[j];
}

// A statistic of `id` with the given extra ids (an id outside the table keeps the bare id).
KxStatistic MakeStatistic(const StatisticKey& key)
{
    KxStatistic stat;
    if (KxapiFailed(stat.SetId(key.StatisticId)))
        stat.m_StatisticId = key.StatisticId;
    ApplyKey(stat, key);
    return stat;
}

} // namespace

StatisticKey::StatisticKey(const KxStatistic& stat) : StatisticId(stat.m_StatisticId)
{
    for (int j = 0; j < 4; j++)
        XtraId[j] = stat.m_XtraId[j];
}

bool StatisticKey::operator<(const StatisticKey& other) const
{
    if (StatisticId != other.StatisticId)
        return StatisticId < other.StatisticId;
    for (int j = 0; j < 4; j++) {
        if (XtraId[j] != other.XtraId[j])
            return XtraId[j] < other.XtraId[j];
    }
    return false;
}

bool StatisticKey::operator==(const StatisticKey& other) const
{
    return !(*this < other) && !(other < *this);
}

StatisticsCache::StatisticsCache()
    : m_pLock(Xp::Instance()->MakeCritSec()), m_StatisticsResult(KXAPI_E_DEV_DRIVER),
      m_DemodParsResult(KXAPI_E_DEV_DRIVER), m_TunerFreqResult{KXAPI_E_DEV_DRIVER, KXAPI_E_DEV_DRIVER},
      m_DvbT2SelResult(KXAPI_E_DEV_DRIVER), m_DvbC2SelResult(KXAPI_E_DEV_DRIVER), m_Atsc3SelResult(KXAPI_E_DEV_DRIVER)
{
}

StatisticsCache::~StatisticsCache()
{
    CleanUp();
}

void StatisticsCache::CleanUp()
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    m_Enabled = false;
    m_Values.clear();
    m_Defaults.clear();
    m_SupportedStatistics.clear();
    m_SupportedTypes.clear();
    m_Averages.clear();
}

void StatisticsCache::ResetSelections(int32_t value, unsigned int result)
{
    if (value != 0) {
        m_DvbT2Sel.m_PlpId = m_DvbT2Sel.m_CommonPlpId = value;
        m_DvbC2Sel.m_DSliceId = m_DvbC2Sel.m_PlpId = m_DvbC2Sel.m_CommonPlpId = value;
        m_Atsc3Sel.m_PlpId = value;
    }
    m_DvbT2SelResult = m_DvbC2SelResult = m_Atsc3SelResult = result;
}

bool StatisticsCache::GetXtraIdKeys(const StatisticKey& key, std::vector<StatisticKey>& keys) const
{
    keys.clear();
    StatisticKey base;
    base.StatisticId = key.StatisticId;
    if (key.XtraId[0] == STAT_XTRA_SUBCHANNELS) {
        for (int32_t id : SUBCHANNEL_IDS) {
            StatisticKey k = base;
            k.XtraId[0] = id;
            keys.push_back(k);
        }
    } else if (key.XtraId[0] == STAT_XTRA_PER_PLP || key.XtraId[0] == STAT_XTRA_PER_PLP_ALT) {
        if (m_PlpIds.empty())
            return false;
        for (int id : m_PlpIds) {
            StatisticKey k = base;
            k.XtraId[0] = id;
            keys.push_back(k);
        }
    }
    if (key.XtraId[1] == STAT_XTRA_LAYERS) {
        if (keys.empty())
            keys.push_back(base);
        std::vector<StatisticKey> layered;
        layered.reserve(keys.size() * 4);
        for (const StatisticKey& k : keys) {
            for (int32_t layer : LAYER_IDS) {
                StatisticKey l = k;
                l.XtraId[1] = layer;
                layered.push_back(l);
            }
        }
        keys.swap(layered);
    }
    return !keys.empty();
}

void StatisticsCache::NormalizeKey(StatisticKey& key) const
{
    for (const SupportedStatisticsType& type : m_SupportedTypes) {
        if (type.StatisticId != key.StatisticId)
            continue;
        for (int j = 0; j < 4; j++) {
            if (type.XtraId[j] == STAT_XTRA_UNUSED)
                key.XtraId[j] = STAT_XTRA_UNUSED;
        }
        return;
    }
}

void StatisticsCache::SetDefaultValue(KxStatistic& stat) const
{
    auto it = m_Defaults.find(stat.m_StatisticId);
    if (it == m_Defaults.end())
        return;
    int32_t xtra[4];
    std::copy(stat.m_XtraId, stat.m_XtraId + 4, xtra);
    stat = it->second;
    std::copy(xtra, xtra + 4, stat.m_XtraId);
}

void StatisticsCache::StoreAverageSample(const KxStatistic& stat)
{
    auto it = m_Averages.find(stat.m_StatisticId);
    if (it == m_Averages.end())
        return;
    MovingAverageType& average = it->second;
    if (stat.m_Result != static_cast<int32_t>(KXAPI_OK)) {
        average.Count = 0;
        average.WritePos = 0;
        return;
    }
    double sample = 0.0;
    if (const double* d = std::get_if<double>(&stat.GetRawValue()))
        sample = *d;
    else if (const int32_t* i = std::get_if<int32_t>(&stat.GetRawValue()))
        sample = *i;
    else
        return;
    const int32_t size = static_cast<int32_t>(average.Samples.size());
    if (size == 0)
        return;
    average.Samples[static_cast<size_t>(average.WritePos)] = sample;
    average.WritePos = (average.WritePos + 1) % size;
    if (average.Count < size)
        average.Count++;
}

void StatisticsCache::UpdateAverageValue(KxStatistic& stat) const
{
    auto it = m_Averages.find(stat.m_StatisticId);
    if (it == m_Averages.end() || stat.m_Result != static_cast<int32_t>(KXAPI_OK))
        return;
    const MovingAverageType& average = it->second;
    // An empty window has no mean: the last value stands.
    if (average.Count <= 0)
        return;
    double sum = 0.0;
    for (int32_t i = 0; i < average.Count && static_cast<size_t>(i) < average.Samples.size(); i++)
        sum += average.Samples[static_cast<size_t>(i)];
    const double mean = sum / average.Count;
    if (std::holds_alternative<double>(stat.GetRawValue()))
        stat.SetValue(mean);
    else if (std::holds_alternative<int32_t>(stat.GetRawValue()))
        stat.SetValue(static_cast<int32_t>(mean));
}

void StatisticsCache::Init(int count, const SupportedStatisticsType* types, const KxStatistic* defaults)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    CleanUp();
    m_StatisticsResult = KXAPI_E_DEV_DRIVER;
    m_DemodParsResult = KXAPI_E_DEV_DRIVER;
    m_TunerFreqHz[0] = m_TunerFreqHz[1] = 0;
    m_TunerFreqResult[0] = m_TunerFreqResult[1] = KXAPI_E_DEV_DRIVER;
    ResetSelections(0, KXAPI_E_DEV_DRIVER);

    if (count >= 1 && types != nullptr && defaults != nullptr) {
        for (int i = 0; i < count; i++) {
            const SupportedStatisticsType& type = types[i];
            m_Defaults[type.StatisticId] = defaults[i];
            const StatisticKey own = KeyOf(type);
            m_SupportedStatistics.push_back(MakeStatistic(own));
            m_SupportedTypes.push_back(type);
            std::vector<StatisticKey> keys;
            if (!GetXtraIdKeys(own, keys))
                keys.assign(1, own);
            for (const StatisticKey& key : keys) {
                KxStatistic stat = MakeStatistic(key);
                SetDefaultValue(stat);
                m_Values[key] = stat;
            }
        }
        for (int i = 0; i < count; i++) {
            if (types[i].AverageWindow > 0) {
                MovingAverageType& average = m_Averages[types[i].StatisticId];
                average.Samples.assign(static_cast<size_t>(types[i].AverageWindow), 0.0);
                average.WritePos = 0;
                average.Count = 0;
            }
        }
    }
    m_Enabled = true;
    m_Initialised = true;
}

void StatisticsCache::Enable(bool enable)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    m_Enabled = enable;
    if (enable)
        return;
    for (auto& entry : m_Values)
        SetDefaultValue(entry.second);
    m_DemodPars = KxDemodPars();
    m_DemodParsResult = KXAPI_E_NOT_LOCKED;
    m_TunerFreqHz[0] = m_TunerFreqHz[1] = 0;
    m_TunerFreqResult[0] = m_TunerFreqResult[1] = KXAPI_E_DEV_DRIVER;
    ResetSelections(-1, KXAPI_E_NOT_LOCKED);
}

bool StatisticsCache::IsEnabled()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_Enabled;
}

void StatisticsCache::ExpandSupportedTypes(std::vector<SupportedStatisticsType>& out) const
{
    out.clear();
    for (const SupportedStatisticsType& type : m_SupportedTypes) {
        std::vector<StatisticKey> keys;
        if (!GetXtraIdKeys(KeyOf(type), keys)) {
            out.push_back(type);
            continue;
        }
        for (const StatisticKey& key : keys) {
            SupportedStatisticsType copy = type;
            std::copy(key.XtraId, key.XtraId + 4, copy.XtraId);
            if (copy.XtraId[1] >= 0)
                copy.LockedOnly = false;
            out.push_back(copy);
        }
    }
}

KXAPI_RESULT StatisticsCache::GetSupportedStatisticsInternal(std::vector<SupportedStatisticsType>& out)
{
    CritSecAutoLockSvc lock(m_pLock);
    if (!m_Initialised)
        return KXAPI_E_DEVICE;
    ExpandSupportedTypes(out);
    return KXAPI_OK;
}

void StatisticsCache::StoreStatistics(std::vector<KxStatistic>& stats, bool refreshKeys)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    if (refreshKeys) {
        std::vector<SupportedStatisticsType> expanded;
        ExpandSupportedTypes(expanded);
        std::set<StatisticKey> live;
        for (const SupportedStatisticsType& type : expanded)
            live.insert(KeyOf(type));
        for (auto it = m_Values.begin(); it != m_Values.end();) {
            if (live.count(it->first) == 0)
                it = m_Values.erase(it);
            else
                ++it;
        }
    }
    for (const KxStatistic& stat : stats) {
        m_Values[StatisticKey(stat)] = stat;
        StoreAverageSample(stat);
    }
}

void StatisticsCache::StoreStatisticsResult(unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (m_Enabled)
        m_StatisticsResult = result;
}

void StatisticsCache::SetDefaultValues(std::vector<KxStatistic>& stats)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    for (KxStatistic& stat : stats)
        SetDefaultValue(stat);
}

void StatisticsCache::StoreDemodPars(const KxDemodPars& pars, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    m_DemodPars = pars;
    m_DemodParsResult = result;
}

void StatisticsCache::StoreTunerFrequency(long long freqHz, int index, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    if (index == 0 || index == 1) {
        m_TunerFreqHz[index] = freqHz;
        m_TunerFreqResult[index] = result;
        return;
    }
    m_TunerFreqHz[0] = m_TunerFreqHz[1] = freqHz;
    m_TunerFreqResult[0] = m_TunerFreqResult[1] = result;
}

void StatisticsCache::StoreStreamSelection(const KxDvbC2StreamSelPars& sel, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    m_DvbC2Sel = sel;
    m_DvbC2SelResult = result;
}

void StatisticsCache::StoreStreamSelection(const KxDvbT2StreamSelPars& sel, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    m_DvbT2Sel = sel;
    m_DvbT2SelResult = result;
}

void StatisticsCache::StoreStreamSelection(const KxAtsc3StreamSelPars& sel, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    m_Atsc3Sel = sel;
    m_Atsc3SelResult = result;
}

void StatisticsCache::SetMultiPlpIds(std::vector<int>& ids, unsigned int result)
{
    CritSecAutoLockSvc lock(m_pLock);
    ChangeScope change(m_Version);
    if (!m_Enabled)
        return;
    m_PlpIds.clear();
    if (result == KXAPI_OK)
        m_PlpIds = ids;
}

KXAPI_RESULT StatisticsCache::GetStatistics(int count, KxStatistic* stats, bool average)
{
    CritSecAutoLockSvc lock(m_pLock);
    if (m_StatisticsResult != KXAPI_OK)
        return m_StatisticsResult;
    if (count > 0 && stats == nullptr)
        return KXAPI_E_INVALID_ARG;
    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        StatisticKey key(stat);
        NormalizeKey(key);
        auto cached = m_Values.find(key);
        if (cached != m_Values.end()) {
            stat = cached->second;
            if (average)
                UpdateAverageValue(stat);
            continue;
        }
        auto def = m_Defaults.find(stat.m_StatisticId);
        if (def == m_Defaults.end()) {
            stat.m_Result = static_cast<int32_t>(KXAPI_E_NOT_SUPPORTED);
            continue;
        }
        int32_t xtra[4];
        std::copy(stat.m_XtraId, stat.m_XtraId + 4, xtra);
        stat = def->second;
        std::copy(xtra, xtra + 4, stat.m_XtraId);
        stat.m_Result = def->second.m_XtraId[1] == STAT_XTRA_LAYERS ? static_cast<int32_t>(KXAPI_E_STAT_NOTAVAIL)
                                                                 : def->second.m_Result;
    }
    return KXAPI_OK;
}

KXAPI_RESULT StatisticsCache::GetDemodPars(KxDemodPars& pars)
{
    CritSecAutoLockSvc lock(m_pLock);
    if (!m_Enabled) {
        pars.SetModType(KX_MOD_NONE);
        return KXAPI_E_NOT_LOCKED;
    }
    pars = m_DemodPars;
    return m_DemodParsResult;
}

KXAPI_RESULT StatisticsCache::GetTunerFrequency(long long& freqHz, int index)
{
    CritSecAutoLockSvc lock(m_pLock);
    if (index == -1 || index == 0) {
        freqHz = m_TunerFreqHz[0];
        return m_TunerFreqResult[0];
    }
    if (index == 1) {
        freqHz = m_TunerFreqHz[1];
        return m_TunerFreqResult[1];
    }
    return KXAPI_E_INVALID_ARG;
}

KXAPI_RESULT StatisticsCache::GetStreamSelection(KxDvbC2StreamSelPars& sel)
{
    CritSecAutoLockSvc lock(m_pLock);
    sel = m_DvbC2Sel;
    return m_DvbC2SelResult;
}

KXAPI_RESULT StatisticsCache::GetStreamSelection(KxDvbT2StreamSelPars& sel)
{
    CritSecAutoLockSvc lock(m_pLock);
    sel = m_DvbT2Sel;
    return m_DvbT2SelResult;
}

KXAPI_RESULT StatisticsCache::GetStreamSelection(KxAtsc3StreamSelPars& sel)
{
    CritSecAutoLockSvc lock(m_pLock);
    sel = m_Atsc3Sel;
    return m_Atsc3SelResult;
}

KXAPI_RESULT StatisticsCache::GetSupportedStatisticIds(int& count, int32_t* ids)
{
    CritSecAutoLockSvc lock(m_pLock);
    const int size = static_cast<int>(m_SupportedStatistics.size());
    if (count < size)
        return KXAPI_E_BUF_TOO_SMALL;
    if (size > 0 && ids == nullptr)
        return KXAPI_E_INVALID_ARG;
    for (int i = 0; i < size; i++)
        ids[i] = m_SupportedStatistics[static_cast<size_t>(i)].m_StatisticId;
    count = size;
    return KXAPI_OK;
}

KXAPI_RESULT StatisticsCache::GetSupportedStatistics(int& count, KxStatistic* list)
{
    CritSecAutoLockSvc lock(m_pLock);
    const int size = static_cast<int>(m_SupportedStatistics.size());
    if (count < size)
        return KXAPI_E_BUF_TOO_SMALL;
    if (size > 0 && list == nullptr)
        return KXAPI_E_INVALID_ARG;
    std::copy(m_SupportedStatistics.begin(), m_SupportedStatistics.end(), list);
    count = size;
    return KXAPI_OK;
}

