// The bookkeeping behind Kxa3470Statistics, free of threads, locks and hardware: the rings per
// (ISI, PLS), the windows per ISI and every window value. Kxa3470Statistics feeds it one tick
// at a time under its lock; the tests feed it directly.
//
// Rows of the rings, by key (ISI, PLS):
//   (isi, pls)  pls 0..255: the frame reports of one PLS code of one stream;
//   (isi, 256)  the stream's lock per tick (a tick is locked when at least 80 % of the
//               stream's frames of the tick decoded);
//   (256, 256)  the signal values: PL-header lock and MER, frame lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "Kxa3470Statistics.h"
#include "KxProxyBlocks.h"
#include "KxStatistic.h"

// One ring entry (one tick, second or minute of a row), or the sum of several.
struct BaseStatistics {
    uint32_t m_Frames = 0;     // frame reports
    uint32_t m_SeqFrames = 0;  // frames the block's running numbers account for
    uint32_t m_BadFrames = 0;  // frames with any failure flag
    uint32_t m_LdpcFailed = 0;
    uint32_t m_BchFailed = 0;
    uint32_t m_NotDecoded = 0;
    uint32_t m_MerCount = 0;   // frames with a decoding figure
    double m_MerSum = 0.0;     // sum of their MER, dB
    uint64_t m_CorrectedBits = 0;
    uint32_t m_Ticks = 0;      // (isi, 256) and (256, 256): ticks summed
    uint32_t m_LockTicks = 0;  // ... of them locked (stream lock, frame lock)
    uint32_t m_PlhLockTicks = 0;
    uint32_t m_PlhMerCount = 0;
    double m_PlhMerSum = 0.0;

    // Every report accounted for: the report count and the running numbers agree.
    bool Consistent() const { return m_Frames != 0 && m_Frames == m_SeqFrames; }
    double Mer() const { return m_MerSum / m_MerCount; }
    void Add(const BaseStatistics& other);
};

// A ring of entries, the oldest overwritten.
class StatRing {
public:
    explicit StatRing(size_t capacity) : m_Entries(capacity) {}
    void Push(const BaseStatistics& entry);
    size_t Count() const { return m_Count; }
    size_t Capacity() const { return m_Entries.size(); }
    // age 0 is the newest entry; age < Count().
    const BaseStatistics& Recent(size_t age) const;
    // The sum of the newest n entries (fewer when the ring holds fewer).
    BaseStatistics Sum(size_t n) const;
    // Whether any of the newest n entries holds a frame report.
    bool HasFrames(size_t n) const;

private:
    std::vector<BaseStatistics> m_Entries;
    size_t m_Next = 0;
    size_t m_Count = 0;
};

// The values of one window of one ISI.
struct WindowStatistics {
    int m_Type = 0;
    int m_NumEntries = 0;
    int m_PeriodMs = 0;
    std::map<int, BaseStatistics> m_Pls;              // PLS -> sum over the window
    std::map<int32_t, Kxapi::KxStatistic> m_Values;   // statistic id -> value
    double m_MerDb = -1.0;                            // the window's MER and its result
    KXAPI_RESULT m_MerResult = KXAPI_E_STAT_NOTAVAIL;
};

// The window-level formulas over a set of PLS codes (PLS -> window sum).
namespace Kxa3470Calc {
// Pre-LDPC BER at merDb averaged over the PLS with consistent counters, normal frames
// weighing four times. KXAPI_E_STAT_NOTAVAIL without such PLS, KXAPI_E_INVALID_MODTYPE (-1.0)
// for a PLS code without MODCOD.
KXAPI_RESULT BerPreLdpc(const std::map<int, BaseStatistics>& pls, double merDb, double& ber);
// Mean over those PLS of merDb - 10 log10(bits per symbol); KXAPI_E_NOT_LOCKED for a code
// without modulation.
KXAPI_RESULT EbN0(const std::map<int, BaseStatistics>& pls, double merDb, double& ebN0Db);
// merDb less the ideal Es/N0 of the most demanding PLS present.
KXAPI_RESULT LinkMargin(const std::map<int, BaseStatistics>& pls, double merDb, double& marginDb);
// Failed frames over all frames (0.0 without frames); KXAPI_E_STAT_NOTAVAIL for no PLS.
KXAPI_RESULT FerPostLdpc(const std::map<int, BaseStatistics>& pls, double& fer);
KXAPI_RESULT FerPostBch(const std::map<int, BaseStatistics>& pls, double& fer);
// trunc(locked / total x 100 + 0.5); KXAPI_E_STAT_NOTAVAIL for no ticks.
KXAPI_RESULT LockPercentage(uint32_t locked, uint32_t total, int& percent);
} // namespace Kxa3470Calc

class Kxa3470StatEngine {
public:
    static constexpr size_t HIRES_ENTRIES = 300;  // 100 ms each: 30 s
    static constexpr size_t MEDIUM_ENTRIES = 60;  // 1 s each: 60 s
    static constexpr size_t LONG_ENTRIES = 60;    // 1 min each: 60 min

    Kxa3470StatEngine();

    // One tick: the demodulator's signal values and the frame reports since the last tick;
    // second and minute mark the boundaries.
    void Tick(const Kxa3470SignalReading& signal, const std::vector<S2FrameStatus>& frames, bool second,
              bool minute);
    // Empties every ring and window; forgets the streams.
    void Clear();
    void ForgetStreams() { m_Streams.clear(); }

    KXAPI_RESULT GetWindowStatistic(int isi, int window, Kxapi::KxStatistic& stat) const;

    bool PlHeaderLock() const;
    bool StreamLock(int isi, int& grabberIndex) const;
    bool LockAll() const;
    bool StreamLockFound() const;
    std::vector<int> IsiIds() const;
    KXAPI_RESULT IsiSigData(int isi, Kxapi::KxDvbS2IsiSigData& data) const;
    KXAPI_RESULT DemodPars(int isi, Kxapi::KxDemodPars& pars) const;
    KXAPI_RESULT BBHeadCoding(bool& ccm) const;
    KXAPI_RESULT CcmPlsValue(int& pls) const;
    KXAPI_RESULT Mer(int isi, double& merDb) const;
    KXAPI_RESULT MerPlHeaders(double& merDb) const;
    // The PLS sums of isi's short window (256: every stream); empty for an unknown ISI.
    std::map<int, BaseStatistics> ShortPls(int isi) const;

    // What the rings exist for (tests, benchmark).
    size_t NumRows(int level) const;
    bool HasRow(int level, int isi, int pls) const;
    bool HasWindow(int level, int isi) const;
    size_t MemoryBytes() const;

    double LastRateFactor() const { return m_LastRateFactor; }
    void SetRateFactor(double rate) { m_LastRateFactor = rate; }

private:
    using Key = std::pair<int, int>; // ISI, PLS
    struct Level {
        size_t m_RingEntries;
        size_t m_WindowEntries;
        int m_PeriodMs;
        std::map<Key, std::unique_ptr<StatRing>> m_Rows;
        std::map<int, WindowStatistics> m_Windows; // ISI (256: all streams) -> window
    };
    struct Stream {
        int m_Pls = 0;
        uint32_t m_MaType = 0;
    };
    enum { HIRES = 0, MEDIUM = 1, LONG = 2 };

    void CreateNewBuffers(const Key& key);
    // Drops the rows of a level without a frame in the level's window, then the ISI rows and
    // windows of streams without any PLS row left.
    void CleanupBuffers(Level& level);
    // Pushes into every row of `to` the sum of the newest `from.m_WindowEntries` ... entries of
    // the same row of `from`.
    void FoldInto(const Level& from, size_t entries, Level& to);
    void CalcWindowStats(Level& level, int window);
    void CalcWindow(const Level& level, int isi, WindowStatistics& win) const;
    void FillValues(const Level& level, int isi, WindowStatistics& win, double merDb, KXAPI_RESULT merResult) const;
    static WindowStatistics EmptyWindow(int window);

    Level m_Levels[3];
    std::map<Key, BaseStatistics> m_Current;   // this tick's reports per (ISI, PLS)
    std::map<Key, uint32_t> m_LastFrameNumber; // per (ISI, PLS) with a HIRES row
    std::map<int, Stream> m_Streams;           // ISI -> latest frame's signalling
    double m_LastRateFactor = 1.0;
};
