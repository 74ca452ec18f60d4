// The 3470's symbol-rate detector. It captures I/Q blocks through the card's capture path (a
// receive DMA channel behind a burst FIFO), averages their power spectra, finds the band edges
// of the signal and derives symbol rate, roll-off and carrier offset from them, then offers
// candidate symbol rates around that estimate until the demodulator locks.
//
// The detector never touches the demodulator or the tuner itself: Kxa3470Hal drives the search
// (through ISymbolRateSearch) and acts on them. Every operation runs under the HAL's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "IInterface.h"
#include "KxFft.h"
#include "KxNonCopyable.h"
#include "KxapiResult.h"

class KxAf;
class KxProxyCORE;
class KxPalBURSTFIFO_Rx;
class KxPalCDMAC_Rx;

// Where the detector's I/Q blocks come from. The detector's own source is the card's capture
// path (IqCapture below); tests and benchmarks may put another one in its place.
class IIqBlockSource : public IInterface {
public:
    // Starts delivering samples from now on.
    virtual KXAPI_RESULT StartCapture() = 0;
    // Fills pIq (4-byte aligned) with the next `pairs` I/Q pairs (I and Q interleaved, signed
    // 16 bit).
    virtual KXAPI_RESULT ReceiveBlock(int16_t* pIq, int pairs) = 0;
    // Stops the delivery; safe to call when not started.
    virtual void StopCapture() = 0;
};

// The card's capture path: the I/Q function (type 5) with its receive DMA channel and burst
// FIFO. Receiving polls the channel's load, sleeping 1 ms while it is empty, at most
// MAX_EMPTY_POLLS times per block (then KXAPI_E_TIMEOUT).
class IqCapture : public IIqBlockSource, private KxNonCopyable {
public:
    static constexpr int IQ_FUNCTION_TYPE = 5;
    // The driver describes the capture path's capabilities at this port index.
    static constexpr int CAPABILITY_PORT_INDEX = 3;
    static constexpr int RING_BYTES = 0x200000;
    static constexpr int MAX_EMPTY_POLLS = 100;

    IqCapture();
    ~IqCapture() override;

    // Checks the three capture capabilities, opens and acquires the I/Q function of port index
    // `port`, takes its DMA channel and burst FIFO, allocates the ring (RING_BYTES), and leaves
    // the path stopped and flushed with the FIFO's flags cleared. KXAPI_E_NOT_SUPPORTED when a
    // capability is missing; KXAPI_E_IN_USE when opened already; else the failing step's result.
    KXAPI_RESULT Open(KxProxyCORE* pCore, int port);
    // Releases the ring, stops the FIFO and gives up exclusive access. Safe when not open.
    void Close();
    bool IsOpen() const { return m_pDma != nullptr; }

    KXAPI_RESULT StartCapture() override;
    KXAPI_RESULT ReceiveBlock(int16_t* pIq, int pairs) override;
    void StopCapture() override;

private:
    std::unique_ptr<KxAf> m_pFunction;
    KxPalCDMAC_Rx* m_pDma = nullptr;     // owned by m_pFunction
    KxPalBURSTFIFO_Rx* m_pFifo = nullptr; // owned by m_pFunction
    bool m_Acquired = false;               // exclusive access of the function held
};

// Averages the power spectra of I/Q blocks: |X(k)|^2 of the forward transform of each block,
// accumulated with the centre frequency in the middle (bin (k + N/2) mod N), then turned into
// 10 log10(sum / blocks) per bin. No allocation per block.
class PowerSpectrum : private KxNonCopyable {
public:
    static constexpr int MIN_POINTS = 64;
    // Sizes for `points` (a power of two from MIN_POINTS within KxFft's range, else
    // KXAPI_E_INVALID_ARG) and clears the sums.
    KXAPI_RESULT Resize(int points);
    int Points() const { return m_Points; }
    void Clear();
    // Adds one block of Points() interleaved I/Q pairs.
    void Accumulate(const int16_t* pIq);
    // Writes the average power in dB per bin into spectrumDb (resized to Points()).
    void Finish(std::vector<double>& spectrumDb) const;
    int Blocks() const { return m_Blocks; }

private:
    static constexpr int CHUNK = 32; // floats converted or accumulated per inner loop

    KxFft m_Fft;
    int m_Points = 0;
    int m_Blocks = 0;
    std::vector<double> m_Sums;
};

// Result of one spectrum analysis.
struct SpectrumAnalysis {
    int m_SymbolRateBd = 0;    // from the inner band edges
    int m_RollOffPercent = 0;  // from the flanks between inner and outer edges
    int m_CarrierOffsetHz = 0; // centre of the band relative to the tuned frequency
    int m_StepHz = 0;          // between candidates of the sweep
    int m_StepCount = 0;       // candidates per sweep
};

class SymbolRateDetector : private KxNonCopyable {
public:
    static constexpr int SAMPLE_RATE_HZ = 160000000;
    static constexpr int DEFAULT_FFT_SIZE = 16384;
    static constexpr int MIN_FFT_SIZE = 1024;
    static constexpr int MAX_FFT_SIZE = 131072;
    static constexpr int BLOCKS_PER_SPECTRUM = 1024;
    static constexpr int DEFAULT_SYMBOL_RATE_BD = 27500000;
    static constexpr int DEFAULT_STEP_HZ = 275000;
    static constexpr int WORST_CASE_ROLLOFF = 35; // percent
    static constexpr int MAX_STEPCOUNT = 20;
    static constexpr double SMOOTH_FACTOR = 0.2;
    // Level (dB of the averaged |X|^2 of raw 16-bit samples) both -3 dB edges must reach for a
    // signal to count as present.
    static constexpr double PRESENCE_LEVEL_DB = 112.0;
    // Band widths the edge searches accept, and the range of a symbol-rate estimate.
    static constexpr int MIN_WIDTH_HZ = 90000;
    static constexpr int MAX_WIDTH_HZ = 97200000;
    static constexpr int MIN_ESTIMATE_BD = 70000;
    static constexpr int MAX_ESTIMATE_BD = 75000000;

    SymbolRateDetector();
    ~SymbolRateDetector();

    // Opens the card's capture path (IqCapture::Open) on port index `port`.
    KXAPI_RESULT Open(KxProxyCORE* pCore, int port);
    void Close();
    // Replaces the card's capture path by pSource (not owned); null restores the card's path.
    void SetBlockSource(IIqBlockSource* pSource);

    // Back to the state after a tune: FFT size 16384, no offset limit, smoothing on, a new
    // spectrum needed.
    void Reset();
    // A power of two from 1024 to 131072; else KXAPI_E_INVALID_ARG and nothing changes.
    KXAPI_RESULT SetFftSize(int points);
    int FftSize() const { return m_FftSize; }
    // When positive, an analysis fails whose carrier offset exceeds symbol rate / divisor.
    void SetOffsetLimitDivisor(int divisor) { m_OffsetLimitDivisor = divisor; }
    int OffsetLimitDivisor() const { return m_OffsetLimitDivisor; }
    void SetSmoothing(bool on) { m_Smoothing = on; }
    bool Smoothing() const { return m_Smoothing; }
    void RequestNewSpectrum() { m_NeedNewSpectrum = true; }
    bool NeedsNewSpectrum() const { return m_NeedNewSpectrum; }
    int StepIndex() const { return m_StepIndex; }
    // True when the sweep has tried every candidate and the next Update measures again.
    bool SweepFinished() const { return !m_NeedNewSpectrum && m_StepIndex == 0; }

    // Next candidate: estimate, +1 step, -2 steps, +3 steps, ... up to the step count; a new
    // spectrum is measured and analysed first when needed or when a sweep has ended.
    // KXAPI_E_INVALID_SYMRATE when the analysis finds no usable signal; capture failures as they
    // come (KXAPI_E_TIMEOUT when no samples arrive).
    KXAPI_RESULT Update();
    // Captures BLOCKS_PER_SPECTRUM blocks of FftSize() pairs and averages their power spectra.
    KXAPI_RESULT MeasureSpectrum();
    // Analyses the measured spectrum (smoothing it first when on) and takes its results.
    KXAPI_RESULT AnalyzeSpectrum();
    // Power per bin in dB, the tuned frequency at bin FftSize() / 2.
    const std::vector<double>& Spectrum() const { return m_Spectrum; }
    std::vector<double>& Spectrum() { return m_Spectrum; }

    // The analysis of a spectrum in dB of N points at SAMPLE_RATE_HZ, centre at bin N / 2.
    // Smooths spectrumDb in place when `smooth`. KXAPI_E_INVALID_SYMRATE when no signal is
    // present or its edges, width, symbol rate, roll-off or offset are out of bounds.
    static KXAPI_RESULT Analyze(std::vector<double>& spectrumDb, bool smooth, int offsetLimitDivisor,
                                SpectrumAnalysis& result);

    // The sweep's step and candidate count for an estimate: step = rate / 1000 x roll-off / 10
    // (both truncated), 20 candidates; doubled with 10 candidates from 2,000,001 Bd at a roll-off
    // of 16 to 50 %. A roll-off above 50 % is believed only up to 500,000 Bd
    // (else KXAPI_E_INVALID_SYMRATE).
    static KXAPI_RESULT StepPlan(int rateBd, int rollOffPercent, int& stepHz, int& stepCount);

    int EstimatedSymbolRate() const { return m_EstimatedSymbolRate; }
    int CandidateSymbolRate() const { return m_CandidateSymbolRate; }
    int RollOffPercent() const { return m_RollOffPercent; }
    int CarrierOffsetHz() const { return m_CarrierOffsetHz; }
    int SearchStep() const { return m_SearchStep; }
    int StepCount() const { return m_StepCount; }

    // FFT size for a symbol rate: 131072 below 200,000 Bd, 65536 below 1,000,000, 32768 below
    // 2,000,000, else 16384; smoothing only for the last.
    static int FftSizeFor(int symbolRateBd, bool& smoothing);

    // Refines a blind-scan hit: found = freqHz + carrierOffsetHz; when |offset| <= symbol rate
    // / 2 the next frequency to try lies past the transmitter (found + symbol rate x (1 +
    // roll-off) / 2, rounded to the MHz) and the answer is KXAPI_OK; otherwise next = found and
    // the answer is KXAPI_E_INVALID_FREQ.
    static KXAPI_RESULT GetBlindScanFrequencies(long long freqHz, long long carrierOffsetHz, long long symbolRateBd,
                                                double rollOff, long long& foundHz, long long& nextHz);

private:
    std::unique_ptr<IqCapture> m_pCapture;
    IIqBlockSource* m_pSource = nullptr; // m_pCapture unless replaced
    int m_FftSize = DEFAULT_FFT_SIZE;
    std::vector<int16_t> m_Samples; // one block, 2 x FFT size values
    std::vector<double> m_Spectrum;
    PowerSpectrum m_Power;
    int m_EstimatedSymbolRate = DEFAULT_SYMBOL_RATE_BD;
    int m_CandidateSymbolRate = DEFAULT_SYMBOL_RATE_BD;
    int m_RollOffPercent = WORST_CASE_ROLLOFF;
    int m_CarrierOffsetHz = 0;
    int m_SearchStep = DEFAULT_STEP_HZ;
    int m_StepIndex = 0;
    int m_StepCount = MAX_STEPCOUNT;
    bool m_NeedNewSpectrum = true;
    int m_OffsetLimitDivisor = 0;
    bool m_Smoothing = true;
};
