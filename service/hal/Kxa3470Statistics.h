// Kxa3470Statistics: the 3470's reception statistics over time windows. A sampling thread reads
// the demodulator's signal values and the frame-statistics block's per-frame reports every
// 100 ms of the card's time of day and keeps, per input stream (ISI) and physical-layer
// signalling code (PLS), rings of 100 ms, 1 s and 1 min entries; the SHORT (1 s), MEDIUM (60 s)
// and LONG (60 min) windows are computed from them. The HAL reads windows and instantaneous
// values under the object's lock.
//
// What the sampling thread reads from the demodulator (KxProxyS2CRDEMOD_3470):
//   GetStatus: flag 0 carrier lock, flag 1 PL-header lock, flag 2 frame (FEC) lock;
//   GetSnr: MER measured on the PL headers (dB); GetCounters: the block's frame counters.
// The frame-statistics block's reports (S2FrameStatus, one per received frame) are laid out as:
//   m_PlsCode    bits 0-7 PLS code, bits 8-15 ISI, bits 16-23 the frame's MATYPE-1 byte
//                (bit 16+5 multiple input streams, bit 16+4 CCM; see KXA3470_MATYPE_*);
//   m_Flags      bit 0 LDPC failed, bit 1 BCH failed, bit 2 not decoded,
//                bits 16-31 decoding figure: MER of the frame, (figure - 1) x 0.125 - 1 dB, 0 none;
//   m_ErrorCount bits the LDPC decoder corrected in the frame;
//   m_FrameCount the block's running frame number of the frame's (ISI, PLS).
// A single-stream carrier (MATYPE bit "multiple input streams" clear) is stream ISI 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "DemodPars.h"
#include "IInterface.h"
#include "IKxa3470Statistics.h"
#include "KxNonCopyable.h"
#include "KxRfCal.h"
#include "KxStatistic.h"
#include "KxapiResult.h"
#include "XpHandles.h"

class KxProxyS2CRDEMOD_3470;
class KxProxyS2STATS_3470;
class KxProxyAD5320_3470;
class KxProxyIQPWR_3470;
class KxProxyCORE;
struct S2FrameStatus;
class Kxa3470StatEngine;

// Window types of GetWindowStatistic; 3 and above are instantaneous (answered by the HAL).
enum Kxa3470Window : int {
    KXA3470_WINDOW_SHORT = 0,  // 10 entries of 100 ms
    KXA3470_WINDOW_MEDIUM = 1, // 60 entries of 1 s
    KXA3470_WINDOW_LONG = 2,   // 60 entries of 1 min
};

// ISI (and PLS) value meaning all streams (all PLS codes).
constexpr int KXA3470_ALL = 256;

// Fields of S2FrameStatus (see the file comment).
constexpr uint32_t KXA3470_FRAME_LDPC_FAILED = 0x1;
constexpr uint32_t KXA3470_FRAME_BCH_FAILED = 0x2;
constexpr uint32_t KXA3470_FRAME_NOT_DECODED = 0x4;
constexpr uint32_t KXA3470_MATYPE_MIS = 0x20; // multiple input streams
constexpr uint32_t KXA3470_MATYPE_CCM = 0x10; // constant coding and modulation

// The demodulator's signal values of one sampling tick.
struct Kxa3470SignalReading {
    bool m_CarrierLock = false;
    bool m_PlHeaderLock = false;
    bool m_FrameLock = false;
    double m_PlHeaderMerDb = 0.0;
    uint32_t m_Counters[5] = {};
};

// What the statistics object reads from the card; the proxies of a real or virtual card by
// default (Init with proxies), a scripted source in tests. Called with the object's lock held.
class IKxa3470StatSource : public IInterface {
public:
    // The card's time of day in ns.
    virtual KXAPI_RESULT GetTimeOfDayNs(uint64_t& timeNs) = 0;
    virtual KXAPI_RESULT ReadSignal(Kxa3470SignalReading& signal) = 0;
    virtual KXAPI_RESULT ClearFrameStatistics() = 0;
    // Pending reports and whether the block overflowed since it was last cleared.
    virtual KXAPI_RESULT GetFrameStatus(int& numFrames, bool& overflow) = 0;
    // Every pending report, oldest first (at most KxProxyS2STATS_3470::MAX_FRAMES per call).
    virtual KXAPI_RESULT ReadFrames(std::vector<S2FrameStatus>& frames) = 0;
    // The demodulator's roll-off code (768 .. 2048, 65280) and spectrum inversion (0 none,
    // 1 inverted, 2 automatic).
    virtual KXAPI_RESULT GetRollOffCode(int& code) = 0;
    virtual KXAPI_RESULT GetSpectrumInversion(int& inversion) = 0;
    // The gain DAC's value and the power estimator's reading.
    virtual KXAPI_RESULT GetAgc(int& agc) = 0;
    virtual KXAPI_RESULT GetPower(uint32_t& power) = 0;
};

// The windowed statistics object the 3470 HAL owns (IKxa3470Statistics).
class Kxa3470Statistics : public IKxa3470Statistics, private KxNonCopyable {
public:
    Kxa3470Statistics();
    ~Kxa3470Statistics() override;

    // Stores the proxies (not owned), clears the frame-statistics block and starts the
    // sampling thread (a running one is stopped first). False when the block could not be
    // cleared or the thread not started.
    bool Init(KxProxyS2CRDEMOD_3470* pDemod, KxProxyS2STATS_3470* pStats, KxProxyAD5320_3470* pDac,
              KxProxyIQPWR_3470* pPower, KxProxyCORE* pCore) override;
    // The same with any source (owned from here on, also on failure).
    bool Init(std::unique_ptr<IKxa3470StatSource> pSource);
    // Stops and joins the thread and clears every buffer. Also done by the destructor.
    void Close() override;

    // Sampling on or off; off also forgets the streams seen.
    void EnableBuffering(bool enable) override;
    bool BufferingEnabled() const { return m_Buffering.load(); }
    // Empties every ring and window and clears the frame-statistics block.
    void ClearBuffers() override;

    // The RF-level calibrations: the compensation tables' set and the stored record's set.
    void SetTableCalibration(const Kxapi::KxRfCalV1& cal) override;
    void SetStoredCalibration(const Kxapi::KxRfCalV1& cal) override;
    void ClearStoredCalibration() override;

    // A statistic over a window (0 SHORT, 1 MEDIUM, 2 LONG) of one ISI (256: all streams).
    // stat carries the id in and value and result out. Negative window: KXAPI_E_STAT_NOTAVAIL;
    // DVBS2-Isi: the ISIs seen in the window; an ISI without a window: the empty window's value
    // and KXAPI_E_STAT_NOTAVAIL; an id the window does not compute: KXAPI_E_NOT_SUPPORTED.
    KXAPI_RESULT GetWindowStatistic(int isi, int window, Kxapi::KxStatistic& stat) override;

    // Instantaneous values (the HAL's GetStatistics). The lock indications are false while
    // buffering is off.
    // Lock: every current ISI locked (false for none).
    bool GetLockAll() override;
    // At least 4 of the last 5 ticks with the PL-header lock.
    bool GetPlHeaderLock() override;
    // Stream lock of isi over the last 5 ticks (needs the PL-header lock); grabIndex is the
    // stream's index for the constellation grabber (-1 when the ISI is unknown).
    bool GetLock(int isi, int& grabIndex) override;
    // At least one current ISI locked.
    bool StreamLockFound() override;
    KXAPI_RESULT GetSpectrumInv(bool& inverted) override;
    // The ISIs of the short window, ascending.
    KXAPI_RESULT GetIsiIds(std::vector<int>& isis) override;
    // Signalling of one stream from its latest frame; KXAPI_E_PLP_NOT_FOUND for an unknown ISI.
    KXAPI_RESULT GetIsiSigData(int isi, Kxapi::KxDvbS2IsiSigData& data) override;
    // DVB-S2 parameters of one stream (modulation, code rate, pilots, frame size).
    KXAPI_RESULT GetDemodPars(int isi, Kxapi::KxDemodPars& pars) override;
    // Whether the first stream's baseband header signals CCM; KXAPI_E_NOT_LOCKED without frames.
    KXAPI_RESULT GetBBHeadCoding(bool& ccm) override;
    // The PLS code of the CCM stream; KXAPI_E_NOT_LOCKED without frames.
    KXAPI_RESULT GetCcmPlsValue(int& pls) override;
    // MER of one stream's frames over the short window, dB.
    KXAPI_RESULT GetMer(int isi, double& merDb) override;
    // Mean MER on the PL headers of the valid entries of the last second, dB; KXAPI_E_NOT_LOCKED
    // with buffering off, without the PL-header lock or without a valid entry.
    KXAPI_RESULT GetMerPlHeaders(double& merDb) override;
    // Derived from a MER (dB) and the PLS codes of isi's short window (256: every stream).
    KXAPI_RESULT GetStatEbN0(int isi, double merDb, double& ebN0Db) override;
    KXAPI_RESULT GetLinkMargin(int isi, double merDb, double& marginDb) override;
    KXAPI_RESULT GetBerPreLdpc(int isi, double merDb, double& ber) override;
    KXAPI_RESULT GetBerPostLdpc(int isi, double merDb, double& ber) override;
    KXAPI_RESULT GetBerPostBch(int isi, double merDb, double& ber) override;
    // Frame error rates of one stream (256: every stream) over the short window.
    KXAPI_RESULT GetFerPostLdpc(int isi, double& fer) override;
    KXAPI_RESULT GetFerPostBch(int isi, double& fer) override;
    // Roll-off factor from the demodulator's code (0.0 .. 0.35); KXAPI_E_INTERNAL for an
    // unknown code.
    KXAPI_RESULT GetRollOff(double& rollOff) override;
    // symbolRateBd x (1 + roll-off) in MHz.
    KXAPI_RESULT GetOccupiedBw(long long symbolRateBd, double& bandwidthMHz) override;
    KXAPI_RESULT GetAgc1(int& agc) override;
    // Uncalibrated RF level in dBmV for the tuner's baseband gain.
    KXAPI_RESULT GetRfLvlUncalib(int basebandGain, double& levelDbmV) override;
    // Calibrated channel level in tenths of a dBmV (the RfLvlChan statistic).
    KXAPI_RESULT GetRfLvlChan(int basebandGain, long long freqHz, int temperature, long long symbolRateBd,
                              int& levelTenthsDbmV) override;

    // Bytes held by the rings and windows (for the benchmark and the tests).
    size_t MemoryBytes();
    // Runs one sampling tick at once (tests: no thread needed); the flags mark second and
    // minute boundaries.
    KXAPI_RESULT UpdateStatisticsBuffers(bool second, bool minute, double rateFactor);

private:
    static void StaticStatUpdateThread(void* pArg);
    void StatUpdateThread();

    XpCritSecPtr m_pLock;
    XpEventPtr m_pWake; // wakes the idle thread: buffering on, or stop
    XpThreadPtr m_pThread;
    std::unique_ptr<IKxa3470StatSource> m_pSource;
    std::unique_ptr<Kxa3470StatEngine> m_pEngine; // guarded by m_pLock
    Kxapi::KxRfCalV1 m_TableCal;                  // guarded by m_pLock
    Kxapi::KxRfCalV1 m_StoredCal;                 // guarded by m_pLock
    std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_Buffering{false};
};
