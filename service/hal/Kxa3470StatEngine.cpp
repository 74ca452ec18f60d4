#include "Kxa3470StatEngine.h"

#include <cmath>
#include <set>

#include "Kxa3470StatTables.h"

using namespace Kxapi;

namespace {

constexpr int ALL = KXA3470_ALL;
constexpr size_t LOCK_TICKS = 5;       // ticks the instantaneous locks look at (500 ms)
constexpr size_t PLH_MER_TICKS = 10;   // ticks of the PL-header MER (1 s)

// A tick (or window) of a stream is locked when at least 80 % of its frames decoded.
bool MostlyGood(uint32_t good, uint32_t frames)
{
    return frames > 0 && 5ull * good >= 4ull * frames;
}

KxStatistic MakeInt(int32_t id, int32_t value, KXAPI_RESULT result)
{
    KxStatistic stat(id);
    stat.SetValue(value);
    stat.m_Result = static_cast<int32_t>(result);
    return stat;
}

KxStatistic MakeDouble(int32_t id, double value, KXAPI_RESULT result)
{
    KxStatistic stat(id);
    stat.SetValue(value);
    stat.m_Result = static_cast<int32_t>(result);
    return stat;
}

int32_t Tenths(double db)
{
    return static_cast<int32_t>(std::lround(db * 10.0));
}

} // namespace

void BaseStatistics::Add(const BaseStatistics& o)
{
    m_Frames += o.m_Frames;
    m_SeqFrames += o.m_SeqFrames;
    m_BadFrames += o.m_BadFrames;
    m_LdpcFailed += o.m_LdpcFailed;
    m_BchFailed += o.m_BchFailed;
    m_NotDecoded += o.m_NotDecoded;
    m_MerCount += o.m_MerCount;
    m_MerSum += o.m_MerSum;
    m_CorrectedBits += o.m_CorrectedBits;
    m_Ticks += o.m_Ticks;
    m_LockTicks += o.m_LockTicks;
    m_PlhLockTicks += o.m_PlhLockTicks;
    m_PlhMerCount += o.m_PlhMerCount;
    m_PlhMerSum += o.m_PlhMerSum;
}

void StatRing::Push(const BaseStatistics& entry)
{
    m_Entries[m_Next] = entry;
    m_Next = (m_Next + 1) % m_Entries.size();
    if (m_Count < m_Entries.size())
        m_Count++;
}

const BaseStatistics& StatRing::Recent(size_t age) const
{
    const size_t size = m_Entries.size();
    return m_Entries[(m_Next + size - 1 - age % size) % size];
}

BaseStatistics StatRing::Sum(size_t n) const
{
    BaseStatistics sum;
    for (size_t age = 0; age < n && age < m_Count; age++)
        sum.Add(Recent(age));
    return sum;
}

bool StatRing::HasFrames(size_t n) const
{
    for (size_t age = 0; age < n && age < m_Count; age++)
        if (Recent(age).m_Frames != 0)
            return true;
    return false;
}

namespace Kxa3470Calc {

KXAPI_RESULT BerPreLdpc(const std::map<int, BaseStatistics>& pls, double merDb, double& ber)
{
    ber = -1.0;
    double sum = 0.0;
    int weights = 0;
    for (const auto& [code, stats] : pls) {
        if (!stats.Consistent())
            continue;
        const ModCodListItem* pItem = FindModCod(code);
        double value = 0.0;
        if (pItem == nullptr || KxapiFailed(CalcBerPreLdpc(code, merDb, value))) {
            ber = -1.0;
            return KXAPI_E_INVALID_MODTYPE;
        }
        const int weight = pItem->m_FrameType == MODCOD_FRAME_NORMAL ? 4 : 1;
        sum += weight * value;
        weights += weight;
    }
    if (weights == 0)
        return KXAPI_E_STAT_NOTAVAIL;
    ber = sum / weights;
    return KXAPI_OK;
}

KXAPI_RESULT EbN0(const std::map<int, BaseStatistics>& pls, double merDb, double& ebN0Db)
{
    ebN0Db = 0.0;
    double sum = 0.0;
    int count = 0;
    for (const auto& [code, stats] : pls) {
        if (!stats.Consistent())
            continue;
        const ModCodListItem* pItem = FindModCod(code);
        const int bits = pItem == nullptr ? 0 : BitsPerModType(pItem->m_ModType);
        if (bits == 0)
            return KXAPI_E_NOT_LOCKED;
        sum += merDb - 10.0 * std::log10(static_cast<double>(bits));
        count++;
    }
    if (count == 0)
        return KXAPI_E_STAT_NOTAVAIL;
    ebN0Db = sum / count;
    return KXAPI_OK;
}

KXAPI_RESULT LinkMargin(const std::map<int, BaseStatistics>& pls, double merDb, double& marginDb)
{
    marginDb = 0.0;
    const ModCodListItem* pMostComplex = nullptr;
    for (const auto& [code, stats] : pls) {
        const ModCodListItem* pItem = FindModCod(code);
        if (stats.m_Frames == 0 || pItem == nullptr)
            continue;
        if (pMostComplex == nullptr || pItem->m_IdealEsN0Db > pMostComplex->m_IdealEsN0Db)
            pMostComplex = pItem;
    }
    if (pMostComplex == nullptr)
        return KXAPI_E_STAT_NOTAVAIL;
    marginDb = merDb - pMostComplex->m_IdealEsN0Db;
    return KXAPI_OK;
}

namespace {
KXAPI_RESULT FrameErrorRate(const std::map<int, BaseStatistics>& pls, uint32_t BaseStatistics::*failed, double& fer)
{
    fer = -1.0;
    if (pls.empty())
        return KXAPI_E_STAT_NOTAVAIL;
    uint64_t frames = 0;
    uint64_t failures = 0;
    for (const auto& entry : pls) {
        frames += entry.second.m_Frames;
        failures += entry.second.*failed;
    }
    fer = frames == 0 ? 0.0 : static_cast<double>(failures) / static_cast<double>(frames);
    return KXAPI_OK;
}
} // namespace

KXAPI_RESULT FerPostLdpc(const std::map<int, BaseStatistics>& pls, double& fer)
{
    return FrameErrorRate(pls, &BaseStatistics::m_LdpcFailed, fer);
}

KXAPI_RESULT FerPostBch(const std::map<int, BaseStatistics>& pls, double& fer)
{
    return FrameErrorRate(pls, &BaseStatistics::m_BchFailed, fer);
}

KXAPI_RESULT LockPercentage(uint32_t locked, uint32_t total, int& percent)
{
    percent = 0;
    if (total == 0)
        return KXAPI_E_STAT_NOTAVAIL;
    percent = static_cast<int>(std::trunc(static_cast<double>(locked) / total * 100.0 + 0.5));
    return KXAPI_OK;
}

} // namespace Kxa3470Calc

Kxa3470StatEngine::Kxa3470StatEngine()
{
    m_Levels[HIRES].m_RingEntries = HIRES_ENTRIES;
    m_Levels[HIRES].m_WindowEntries = 10;
    m_Levels[HIRES].m_PeriodMs = 100;
    m_Levels[MEDIUM].m_RingEntries = MEDIUM_ENTRIES;
    m_Levels[MEDIUM].m_WindowEntries = 60;
    m_Levels[MEDIUM].m_PeriodMs = 1000;
    m_Levels[LONG].m_RingEntries = LONG_ENTRIES;
    m_Levels[LONG].m_WindowEntries = 60;
    m_Levels[LONG].m_PeriodMs = 60000;
}

void Kxa3470StatEngine::Clear()
{
    for (Level& level : m_Levels) {
        level.m_Rows.clear();
        level.m_Windows.clear();
    }
    m_Current.clear();
    m_LastFrameNumber.clear();
    m_Streams.clear();
}

void Kxa3470StatEngine::CreateNewBuffers(const Key& key)
{
    for (Level& level : m_Levels) {
        auto& row = level.m_Rows[key];
        if (row == nullptr)
            row = std::make_unique<StatRing>(level.m_RingEntries);
        if (key.first != ALL && key.second != ALL) {
            auto& isiRow = level.m_Rows[Key(key.first, ALL)];
            if (isiRow == nullptr)
                isiRow = std::make_unique<StatRing>(level.m_RingEntries);
        }
    }
}

void Kxa3470StatEngine::Tick(const Kxa3470SignalReading& signal, const std::vector<S2FrameStatus>& frames,
                             bool second, bool minute)
{
    Level& hires = m_Levels[HIRES];
    const Key signalKey(ALL, ALL);
    if (hires.m_Rows.find(signalKey) == hires.m_Rows.end())
        CreateNewBuffers(signalKey);

    for (const S2FrameStatus& frame : frames) {
        const int pls = static_cast<int>(frame.m_PlsCode & 0xFF);
        const int isi = static_cast<int>((frame.m_PlsCode >> 8) & 0xFF);
        const uint32_t maType = (frame.m_PlsCode >> 16) & 0xFF;
        const Key key(isi, pls);
        if (hires.m_Rows.find(key) == hires.m_Rows.end())
            CreateNewBuffers(key);
        BaseStatistics& entry = m_Current[key];
        auto last = m_LastFrameNumber.find(key);
        entry.m_SeqFrames += last == m_LastFrameNumber.end() ? 1u : frame.m_FrameCount - last->second;
        m_LastFrameNumber[key] = frame.m_FrameCount;
        entry.m_Frames++;
        const uint32_t failures = frame.m_Flags & (KXA3470_FRAME_LDPC_FAILED | KXA3470_FRAME_BCH_FAILED |
                                                   KXA3470_FRAME_NOT_DECODED);
        entry.m_BadFrames += failures != 0 ? 1 : 0;
        entry.m_LdpcFailed += (frame.m_Flags & KXA3470_FRAME_LDPC_FAILED) != 0 ? 1 : 0;
        entry.m_BchFailed += (frame.m_Flags & KXA3470_FRAME_BCH_FAILED) != 0 ? 1 : 0;
        entry.m_NotDecoded += (frame.m_Flags & KXA3470_FRAME_NOT_DECODED) != 0 ? 1 : 0;
        entry.m_CorrectedBits += frame.m_ErrorCount;
        const uint32_t figure = frame.m_Flags >> 16;
        if (figure > 0) {
            entry.m_MerSum += (static_cast<double>(figure) - 1.0) * 0.125 - 1.0;
            entry.m_MerCount++;
        }
        m_Streams[isi] = Stream{pls, maType};
    }

    // The stream lock of this tick per ISI.
    std::map<int, BaseStatistics> isiTick;
    for (const auto& [key, entry] : m_Current) {
        BaseStatistics& sum = isiTick[key.first];
        sum.m_Frames += entry.m_Frames;
        sum.m_BadFrames += entry.m_BadFrames;
    }

    BaseStatistics signalEntry;
    signalEntry.m_Ticks = 1;
    signalEntry.m_LockTicks = signal.m_FrameLock ? 1 : 0;
    signalEntry.m_PlhLockTicks = signal.m_PlHeaderLock ? 1 : 0;
    if (signal.m_PlHeaderLock && std::isfinite(signal.m_PlHeaderMerDb) && signal.m_PlHeaderMerDb > -100.0 &&
        signal.m_PlHeaderMerDb < 100.0) {
        signalEntry.m_PlhMerSum = signal.m_PlHeaderMerDb;
        signalEntry.m_PlhMerCount = 1;
    }

    for (auto& [key, pRing] : hires.m_Rows) {
        if (key == signalKey) {
            pRing->Push(signalEntry);
        } else if (key.second == ALL) {
            BaseStatistics lock;
            lock.m_Ticks = 1;
            auto found = isiTick.find(key.first);
            if (found != isiTick.end())
                lock.m_LockTicks = MostlyGood(found->second.m_Frames - found->second.m_BadFrames,
                                              found->second.m_Frames) ? 1 : 0;
            pRing->Push(lock);
        } else {
            auto found = m_Current.find(key);
            pRing->Push(found == m_Current.end() ? BaseStatistics() : found->second);
        }
    }
    m_Current.clear();
    CleanupBuffers(hires);
    CalcWindowStats(hires, KXA3470_WINDOW_SHORT);

    if (second) {
        FoldInto(hires, hires.m_WindowEntries, m_Levels[MEDIUM]);
        CleanupBuffers(m_Levels[MEDIUM]);
        CalcWindowStats(m_Levels[MEDIUM], KXA3470_WINDOW_MEDIUM);
    }
    if (minute) {
        FoldInto(m_Levels[MEDIUM], MEDIUM_ENTRIES, m_Levels[LONG]);
        CleanupBuffers(m_Levels[LONG]);
        CalcWindowStats(m_Levels[LONG], KXA3470_WINDOW_LONG);
    }
}

void Kxa3470StatEngine::FoldInto(const Level& from, size_t entries, Level& to)
{
    for (auto& [key, pRing] : to.m_Rows) {
        auto found = from.m_Rows.find(key);
        pRing->Push(found == from.m_Rows.end() ? BaseStatistics() : found->second->Sum(entries));
    }
}

void Kxa3470StatEngine::CleanupBuffers(Level& level)
{
    const bool hires = &level == &m_Levels[HIRES];
    std::set<int> isisLeft;
    for (auto it = level.m_Rows.begin(); it != level.m_Rows.end();) {
        const Key& key = it->first;
        if (key.first == ALL || key.second == ALL) {
            ++it;
            continue;
        }
        if (it->second->HasFrames(level.m_WindowEntries)) {
            isisLeft.insert(key.first);
            ++it;
            continue;
        }
        if (hires)
            m_LastFrameNumber.erase(key);
        it = level.m_Rows.erase(it);
    }
    for (auto it = level.m_Rows.begin(); it != level.m_Rows.end();) {
        const int isi = it->first.first;
        if (isi != ALL && isisLeft.count(isi) == 0) {
            if (hires)
                m_Streams.erase(isi);
            it = level.m_Rows.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = level.m_Windows.begin(); it != level.m_Windows.end();) {
        if (it->first != ALL && isisLeft.count(it->first) == 0)
            it = level.m_Windows.erase(it);
        else
            ++it;
    }
}

void Kxa3470StatEngine::CalcWindow(const Level& level, int isi, WindowStatistics& win) const
{
    win.m_Pls.clear();
    double merSum = 0.0;
    int merEntries = 0;
    for (const auto& [key, pRing] : level.m_Rows) {
        if (key.second == ALL || (isi != ALL && key.first != isi))
            continue;
        win.m_Pls[key.second].Add(pRing->Sum(level.m_WindowEntries));
        if (isi == ALL)
            continue;
        for (size_t age = 0; age < level.m_WindowEntries && age < pRing->Count(); age++) {
            const BaseStatistics& entry = pRing->Recent(age);
            if (entry.Consistent() && entry.m_MerCount > 0) {
                merSum += entry.Mer();
                merEntries++;
            }
        }
    }
    if (isi == ALL) {
        // The signal's MER: the mean of the streams' MERs.
        for (const auto& [otherIsi, other] : level.m_Windows) {
            if (otherIsi != ALL && KxapiSucceeded(other.m_MerResult)) {
                merSum += other.m_MerDb;
                merEntries++;
            }
        }
    }
    win.m_MerDb = merEntries > 0 ? merSum / merEntries : -1.0;
    win.m_MerResult = merEntries > 0 ? KXAPI_OK : KXAPI_E_STAT_NOTAVAIL;
}

void Kxa3470StatEngine::FillValues(const Level& level, int isi, WindowStatistics& win, double merDb,
                                   KXAPI_RESULT merResult) const
{
    win.m_Values.clear();
    auto put = [&win](KxStatistic stat) { win.m_Values[stat.m_StatisticId] = std::move(stat); };
    const bool merOk = KxapiSucceeded(merResult);
    const int32_t merTenths = merOk ? Tenths(merDb) : -1;
    for (int32_t id : {KX_STAT_MER, KX_STAT_CNR, KX_STAT_SNR, KX_STAT_ES_N0})
        put(MakeInt(id, merTenths, merResult));

    BaseStatistics signal;
    auto signalRow = level.m_Rows.find(Key(ALL, ALL));
    if (signalRow != level.m_Rows.end())
        signal = signalRow->second->Sum(level.m_WindowEntries);
    put(signal.m_PlhMerCount > 0 ? MakeInt(KX_STAT_MER_PL_HEADERS, Tenths(signal.m_PlhMerSum / signal.m_PlhMerCount),
                                           KXAPI_OK)
                                 : MakeInt(KX_STAT_MER_PL_HEADERS, -1, KXAPI_E_NOT_LOCKED));

    uint32_t locked = signal.m_PlhLockTicks;
    if (isi != ALL) {
        auto isiRow = level.m_Rows.find(Key(isi, ALL));
        locked = isiRow == level.m_Rows.end() ? 0 : isiRow->second->Sum(level.m_WindowEntries).m_LockTicks;
    }
    int percent = 0;
    KXAPI_RESULT result = Kxa3470Calc::LockPercentage(locked, signal.m_Ticks, percent);
    put(MakeInt(KX_STAT_LOCK_PERC, percent, result));

    double ferLdpc = -1.0;
    double ferBch = -1.0;
    const KXAPI_RESULT ferLdpcResult = Kxa3470Calc::FerPostLdpc(win.m_Pls, ferLdpc);
    const KXAPI_RESULT ferBchResult = Kxa3470Calc::FerPostBch(win.m_Pls, ferBch);
    put(MakeDouble(KX_STAT_FER_POST_LDPC, ferLdpc, ferLdpcResult));
    put(MakeDouble(KX_STAT_FER_POST_BCH, ferBch, ferBchResult));

    double berPre = -1.0;
    KXAPI_RESULT berResult = merResult;
    if (merOk)
        berResult = Kxa3470Calc::BerPreLdpc(win.m_Pls, merDb, berPre);
    put(MakeDouble(KX_STAT_BER_PRE_LDPC, berPre, berResult));
    auto post = [&](double fer, KXAPI_RESULT ferResult) -> std::pair<double, KXAPI_RESULT> {
        if (KxapiFailed(berResult))
            return {-1.0, berResult};
        if (KxapiFailed(ferResult))
            return {-1.0, ferResult};
        return {fer * berPre, KXAPI_OK};
    };
    const auto postLdpc = post(ferLdpc, ferLdpcResult);
    const auto postBch = post(ferBch, ferBchResult);
    put(MakeDouble(KX_STAT_BER_POST_LDPC, postLdpc.first, postLdpc.second));
    put(MakeDouble(KX_STAT_BER_PRE_BCH, postLdpc.first, postLdpc.second));
    put(MakeDouble(KX_STAT_BER_POST_BCH, postBch.first, postBch.second));

    double ebN0 = 0.0;
    result = merOk ? Kxa3470Calc::EbN0(win.m_Pls, merDb, ebN0) : merResult;
    put(MakeInt(KX_STAT_EB_N0, KxapiSucceeded(result) ? Tenths(ebN0) : 0, result));
    double margin = 0.0;
    result = merOk ? Kxa3470Calc::LinkMargin(win.m_Pls, merDb, margin) : merResult;
    put(MakeInt(KX_STAT_LINK_MARGIN, KxapiSucceeded(result) ? Tenths(margin) : 0, result));
}

void Kxa3470StatEngine::CalcWindowStats(Level& level, int window)
{
    std::set<int> isis;
    bool signal = false;
    for (const auto& entry : level.m_Rows) {
        if (entry.first.first != ALL)
            isis.insert(entry.first.first);
        else
            signal = true;
    }
    auto prepare = [&](int isi) -> WindowStatistics& {
        WindowStatistics& win = level.m_Windows[isi];
        win.m_Type = window;
        win.m_NumEntries = static_cast<int>(level.m_WindowEntries);
        win.m_PeriodMs = level.m_PeriodMs;
        return win;
    };
    // Streams first: the all-streams MER is the mean of theirs.
    for (int isi : isis) {
        WindowStatistics& win = prepare(isi);
        CalcWindow(level, isi, win);
        FillValues(level, isi, win, win.m_MerDb, win.m_MerResult);
    }
    if (signal) {
        WindowStatistics& win = prepare(ALL);
        CalcWindow(level, ALL, win);
        FillValues(level, ALL, win, win.m_MerDb, win.m_MerResult);
    }
}

WindowStatistics Kxa3470StatEngine::EmptyWindow(int window)
{
    Level empty;
    empty.m_RingEntries = 0;
    empty.m_WindowEntries = 0;
    empty.m_PeriodMs = 0;
    WindowStatistics win;
    win.m_Type = window;
    Kxa3470StatEngine().CalcWindow(empty, 0, win);
    Kxa3470StatEngine().FillValues(empty, 0, win, win.m_MerDb, win.m_MerResult);
    return win;
}

KXAPI_RESULT Kxa3470StatEngine::GetWindowStatistic(int isi, int window, KxStatistic& stat) const
{
    if (window < 0) {
        stat.m_Result = KXAPI_E_STAT_NOTAVAIL;
        return KXAPI_E_STAT_NOTAVAIL;
    }
    if (window > KXA3470_WINDOW_LONG) {
        stat.m_Result = KXAPI_E_NOT_SUPPORTED;
        return KXAPI_E_NOT_SUPPORTED;
    }
    const Level& level = m_Levels[window];
    if (stat.m_StatisticId == KX_STAT_DVBS2_ISI) {
        KxDvbS2IsiList list;
        std::set<int> isis;
        for (const auto& entry : level.m_Rows)
            if (entry.first.first != ALL)
                isis.insert(entry.first.first);
        for (int id : isis)
            list.m_Isis.push_back(KxS2IsiId{id});
        stat.SetId(KX_STAT_DVBS2_ISI);
        stat.SetValue(list);
        stat.m_Result = KXAPI_OK;
        return KXAPI_OK;
    }
    auto found = level.m_Windows.find(isi);
    const bool known = found != level.m_Windows.end();
    static const WindowStatistics EMPTY[3] = {EmptyWindow(0), EmptyWindow(1), EmptyWindow(2)};
    const WindowStatistics& win = known ? found->second : EMPTY[window];
    auto value = win.m_Values.find(stat.m_StatisticId);
    if (value == win.m_Values.end()) {
        stat.m_Result = KXAPI_E_NOT_SUPPORTED;
        return KXAPI_E_NOT_SUPPORTED;
    }
    KxStatistic answer = value->second;
    std::copy(std::begin(stat.m_XtraId), std::end(stat.m_XtraId), std::begin(answer.m_XtraId));
    if (!known)
        answer.m_Result = KXAPI_E_STAT_NOTAVAIL;
    stat = answer;
    return static_cast<KXAPI_RESULT>(stat.m_Result);
}

bool Kxa3470StatEngine::PlHeaderLock() const
{
    const Level& hires = m_Levels[HIRES];
    auto found = hires.m_Rows.find(Key(ALL, ALL));
    if (found == hires.m_Rows.end())
        return false;
    return found->second->Sum(LOCK_TICKS).m_PlhLockTicks >= 4;
}

std::vector<int> Kxa3470StatEngine::IsiIds() const
{
    std::set<int> isis;
    for (const auto& entry : m_Levels[HIRES].m_Rows)
        if (entry.first.first != ALL && entry.first.second != ALL)
            isis.insert(entry.first.first);
    return std::vector<int>(isis.begin(), isis.end());
}

bool Kxa3470StatEngine::StreamLock(int isi, int& grabberIndex) const
{
    grabberIndex = -1;
    if (!PlHeaderLock())
        return false;
    uint64_t frames = 0;
    uint64_t good = 0;
    bool data = false;
    for (const auto& [key, pRing] : m_Levels[HIRES].m_Rows) {
        if (key.first != isi || key.second == ALL)
            continue;
        for (size_t age = 0; age < LOCK_TICKS && age < pRing->Count(); age++) {
            const BaseStatistics& entry = pRing->Recent(age);
            if (!entry.Consistent())
                continue;
            frames += entry.m_Frames;
            good += entry.m_Frames - entry.m_BadFrames;
            data = true;
        }
    }
    if (data) {
        const std::vector<int> isis = IsiIds();
        for (size_t i = 0; i < isis.size(); i++)
            if (isis[i] == isi)
                grabberIndex = static_cast<int>(i);
    }
    return frames > 0 && 5 * good >= 4 * frames;
}

bool Kxa3470StatEngine::LockAll() const
{
    const std::vector<int> isis = IsiIds();
    if (isis.empty())
        return false;
    int index = 0;
    for (int isi : isis)
        if (!StreamLock(isi, index))
            return false;
    return true;
}

bool Kxa3470StatEngine::StreamLockFound() const
{
    int index = 0;
    for (int isi : IsiIds())
        if (StreamLock(isi, index))
            return true;
    return false;
}

KXAPI_RESULT Kxa3470StatEngine::IsiSigData(int isi, KxDvbS2IsiSigData& data) const
{
    auto found = m_Streams.find(isi);
    if (found == m_Streams.end())
        return KXAPI_E_PLP_NOT_FOUND;
    const Stream& stream = found->second;
    data = KxDvbS2IsiSigData();
    data.m_Isi = isi;
    data.m_MaType = static_cast<int32_t>(stream.m_MaType);
    data.m_Pls = stream.m_Pls;
    static const int32_t ROLL_OFF_PCT[4] = {35, 25, 20, 0};
    data.m_RollOffPct = ROLL_OFF_PCT[stream.m_MaType & 3];
    data.m_CcmAcm = (stream.m_MaType & KXA3470_MATYPE_CCM) != 0 ? 1 : 0;
    data.m_StreamType = static_cast<int32_t>((stream.m_MaType >> 6) & 3);
    const ModCodListItem* pItem = FindModCod(stream.m_Pls);
    if (pItem == nullptr)
        return KXAPI_E_INVALID_MODTYPE;
    data.m_ModType = pItem->m_ModType;
    data.m_CodeRate = pItem->m_CodeRate;
    data.m_FecFrame = pItem->m_FrameType;
    data.m_Pilots = pItem->m_Pilots ? 1 : 0;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470StatEngine::DemodPars(int isi, KxDemodPars& pars) const
{
    auto found = m_Streams.find(isi);
    if (found == m_Streams.end())
        return KXAPI_E_PLP_NOT_FOUND;
    const ModCodListItem* pItem = FindModCod(found->second.m_Pls);
    if (pItem == nullptr)
        return KXAPI_E_INVALID_MODTYPE;
    KxDemodPars result;
    KXAPI_RESULT r = result.SetModType(pItem->m_ModType);
    if (KxapiFailed(r) || result.DvbS2() == nullptr)
        return KxapiFailed(r) ? r : KXAPI_E_INVALID_MODTYPE;
    KxDemodParsDvbS2Adv& s2 = *result.DvbS2();
    s2.m_CodeRate = pItem->m_CodeRate;
    s2.m_Pilots = pItem->m_Pilots ? 1 : 0;
    s2.m_FecFrame = pItem->m_FrameType;
    s2.m_SymRateBd = -1;
    pars = result;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470StatEngine::BBHeadCoding(bool& ccm) const
{
    ccm = false;
    if (m_Streams.empty())
        return KXAPI_E_NOT_LOCKED;
    ccm = (m_Streams.begin()->second.m_MaType & KXA3470_MATYPE_CCM) != 0;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470StatEngine::CcmPlsValue(int& pls) const
{
    pls = -1;
    if (m_Streams.empty())
        return KXAPI_E_NOT_LOCKED;
    pls = m_Streams.begin()->second.m_Pls;
    return KXAPI_OK;
}

KXAPI_RESULT Kxa3470StatEngine::Mer(int isi, double& merDb) const
{
    merDb = -1.0;
    auto found = m_Levels[HIRES].m_Windows.find(isi);
    if (found == m_Levels[HIRES].m_Windows.end())
        return KXAPI_E_STAT_NOTAVAIL;
    merDb = found->second.m_MerDb;
    return found->second.m_MerResult;
}

KXAPI_RESULT Kxa3470StatEngine::MerPlHeaders(double& merDb) const
{
    merDb = -1.0;
    auto found = m_Levels[HIRES].m_Rows.find(Key(ALL, ALL));
    if (found == m_Levels[HIRES].m_Rows.end())
        return KXAPI_E_NOT_LOCKED;
    const BaseStatistics sum = found->second->Sum(PLH_MER_TICKS);
    if (sum.m_PlhMerCount == 0)
        return KXAPI_E_NOT_LOCKED;
    merDb = sum.m_PlhMerSum / sum.m_PlhMerCount;
    return KXAPI_OK;
}

std::map<int, BaseStatistics> Kxa3470StatEngine::ShortPls(int isi) const
{
    auto found = m_Levels[HIRES].m_Windows.find(isi);
    return found == m_Levels[HIRES].m_Windows.end() ? std::map<int, BaseStatistics>() : found->second.m_Pls;
}

size_t Kxa3470StatEngine::NumRows(int level) const
{
    return level < 0 || level > LONG ? 0 : m_Levels[level].m_Rows.size();
}

bool Kxa3470StatEngine::HasRow(int level, int isi, int pls) const
{
    return level >= 0 && level <= LONG && m_Levels[level].m_Rows.count(Key(isi, pls)) != 0;
}

bool Kxa3470StatEngine::HasWindow(int level, int isi) const
{
    return level >= 0 && level <= LONG && m_Levels[level].m_Windows.count(isi) != 0;
}

size_t Kxa3470StatEngine::MemoryBytes() const
{
    // Ring storage, map nodes (a key, a pointer and about four pointers of tree node each) and
    // the windows with their values.
    constexpr size_t NODE = sizeof(Key) + sizeof(void*) * 5;
    size_t bytes = 0;
    for (const Level& level : m_Levels) {
        for (const auto& entry : level.m_Rows)
            bytes += NODE + sizeof(StatRing) + entry.second->Capacity() * sizeof(BaseStatistics);
        for (const auto& entry : level.m_Windows)
            bytes += sizeof(WindowStatistics) + NODE +
                     entry.second.m_Pls.size() * (sizeof(BaseStatistics) + NODE) +
                     entry.second.m_Values.size() * (sizeof(KxStatistic) + NODE);
    }
    bytes += m_LastFrameNumber.size() * (NODE + sizeof(uint32_t)) + m_Streams.size() * (NODE + sizeof(Stream));
    return bytes;
}
