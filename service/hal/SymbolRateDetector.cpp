#include "SymbolRateDetector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "KxAf.h"
#include "KxPal.h"
#include "KxProxyCore.h"
#include "XpUtil.h"

namespace {

// The capture path's capabilities, each a non-zero property at IqCapture::CAPABILITY_PORT_INDEX.
const char* const CAPTURE_CAPABILITIES[] = {"CAP_RX_IQ", "CAP_DMA_RX", "CAP_BURSTFIFO"};
constexpr int EXCL_ACQUIRE = 1;
constexpr int EXCL_RELEASE = 2;
constexpr int FIFO_RUNNING = 2;
constexpr int FIFO_STOPPED = 0;
constexpr int ALL_FIFO_FLAGS = ~0;

// Edge searches of the analysis (dB and percent of the distance from the centre).
constexpr double EDGE3_DROP_DB = -3.0;
constexpr int EDGE3_PERCENT = 35;
constexpr double EDGE6_DROP_DB = -6.0;
constexpr int EDGE6_PERCENT = 30;
constexpr double INNER_RISE_DB = 3.0;
constexpr double OUTER_DROP_DB = 6.0;
constexpr double FLANK_FRACTION = 0.375;
constexpr double FLANK_SCALE = 1.4;
constexpr int STEEP_ROLLOFF_PERCENT = 50;
constexpr int STEEP_ROLLOFF_MAX_BD = 500000;
constexpr int DOUBLE_STEP_MIN_BD = 2000001;
constexpr int DOUBLE_STEP_MIN_ROLLOFF = 16;

bool WidthOk(int bins, long long binHz)
{
    const long long hz = static_cast<long long>(bins) * binHz;
    return bins >= 1 && hz >= SymbolRateDetector::MIN_WIDTH_HZ && hz <= SymbolRateDetector::MAX_WIDTH_HZ;
}

// Band edges around the centre: the first bin, walking outwards, that lies |drop| dB below the
// bin at (100 - pct) % of its distance from the centre.
struct Edges {
    int m_Upper;
    int m_Lower;
};

Edges FindIdx(const std::vector<double>& s, double drop, int pct)
{
    const int n = static_cast<int>(s.size());
    const int c = n / 2;
    const double margin = std::fabs(drop);
    Edges edges{n - 1, 0};
    for (int i = c; i < n; i++) {
        if (s[i] + margin < s[c + (i - c) * (100 - pct) / 100]) {
            edges.m_Upper = i;
            break;
        }
    }
    for (int j = c; j >= 0; j--) {
        if (s[j] + margin < s[c - (c - j) * (100 - pct) / 100]) {
            edges.m_Lower = j;
            break;
        }
    }
    return edges;
}

// The first bin above `from` (below it when step is -1) whose level is under `level`; the last
// (first) bin when there is none.
int WalkBelow(const std::vector<double>& s, int from, int step, double level)
{
    const int last = step > 0 ? static_cast<int>(s.size()) - 1 : 0;
    for (int i = from; i != last; i += step) {
        if (s[i + step] < level)
            return i + step;
    }
    return last;
}

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

// --- IqCapture -------------------------------------------------------------------------------

IqCapture::IqCapture() = default;

IqCapture::~IqCapture()
{
    Close();
}

KXAPI_RESULT IqCapture::Open(KxProxyCORE* pCore, int port)
{
    if (m_pFunction != nullptr)
        return KXAPI_E_IN_USE;
    if (pCore == nullptr)
        return KXAPI_E_INVALID_ARG;
    for (const char* name : CAPTURE_CAPABILITIES) {
        int64_t value = 0;
        if (KxapiFailed(pCore->Props().GetProperty(name, CAPABILITY_PORT_INDEX, value, nullptr)) || value == 0)
            return KXAPI_E_NOT_SUPPORTED;
    }
    m_pFunction = std::make_unique<KxAf>();
    KXAPI_RESULT result = m_pFunction->Init(static_cast<KxAfType>(IQ_FUNCTION_TYPE), pCore, port);
    if (KxapiFailed(result)) {
        m_pFunction.reset();
        return result;
    }
    result = m_pFunction->ExclAccess(EXCL_ACQUIRE);
    if (KxapiFailed(result)) {
        m_pFunction.reset();
        return result;
    }
    m_Acquired = true;
    result = m_pFunction->GetPal(m_pDma);
    if (KxapiSucceeded(result))
        result = m_pFunction->GetPal(m_pFifo);
    if (KxapiSucceeded(result))
        result = m_pDma->Init(RING_BYTES);
    if (KxapiSucceeded(result))
        result = m_pDma->SetRxControl(0);
    if (KxapiSucceeded(result))
        result = m_pFifo->FifoProxy().SetOperationalMode(FIFO_STOPPED);
    if (KxapiSucceeded(result))
        result = m_pDma->IssueChannelFlush();
    if (KxapiSucceeded(result))
        result = m_pFifo->ClearFlags(ALL_FIFO_FLAGS);
    if (KxapiFailed(result))
        Close();
    return result;
}

void IqCapture::Close()
{
    if (m_pFunction == nullptr)
        return;
    if (m_pDma != nullptr)
        m_pDma->CleanUp();
    if (m_pFifo != nullptr)
        m_pFifo->FifoProxy().SetOperationalMode(FIFO_STOPPED);
    if (m_Acquired)
        m_pFunction->ExclAccess(EXCL_RELEASE);
    m_Acquired = false;
    m_pDma = nullptr;
    m_pFifo = nullptr;
    m_pFunction.reset();
}

KXAPI_RESULT IqCapture::StartCapture()
{
    if (m_pDma == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    KXAPI_RESULT result = m_pDma->SetRxControl(1);
    if (KxapiSucceeded(result))
        result = m_pFifo->FifoProxy().SetOperationalMode(FIFO_RUNNING);
    if (KxapiSucceeded(result))
        result = m_pFifo->ClearFlags(ALL_FIFO_FLAGS);
    return result;
}

KXAPI_RESULT IqCapture::ReceiveBlock(int16_t* pIq, int pairs)
{
    if (m_pDma == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (pIq == nullptr || pairs <= 0 || pairs > RING_BYTES / 4)
        return KXAPI_E_INVALID_ARG;
    unsigned char* pBytes = reinterpret_cast<unsigned char*>(pIq);
    const int wanted = pairs * 4;
    int received = 0;
    int emptyPolls = 0;
    while (received < wanted) {
        int load = 0;
        KXAPI_RESULT result = m_pDma->GetLoad(load);
        if (KxapiFailed(result))
            return result;
        const int take = std::min(load, wanted - received) & ~3;
        if (take <= 0) {
            if (emptyPolls == MAX_EMPTY_POLLS)
                return KXAPI_E_TIMEOUT;
            emptyPolls++;
            XpUtil::Sleep(1);
            continue;
        }
        result = m_pDma->Read(pBytes + received, take);
        if (KxapiFailed(result))
            return result;
        received += take;
    }
    return KXAPI_OK;
}

void IqCapture::StopCapture()
{
    if (m_pDma == nullptr)
        return;
    m_pFifo->FifoProxy().SetOperationalMode(FIFO_STOPPED);
    m_pDma->SetRxControl(0);
    m_pDma->IssueChannelFlush();
}

// --- PowerSpectrum ---------------------------------------------------------------------------

KXAPI_RESULT PowerSpectrum::Resize(int points)
{
    if (points < MIN_POINTS)
        return KXAPI_E_INVALID_ARG;
    KXAPI_RESULT result = m_Fft.Resize(points);
    if (KxapiFailed(result))
        return result;
    m_Points = points;
    m_Sums.assign(static_cast<size_t>(points), 0.0);
    m_Blocks = 0;
    return KXAPI_OK;
}

void PowerSpectrum::Clear()
{
    std::fill(m_Sums.begin(), m_Sums.end(), 0.0);
    m_Blocks = 0;
}

void PowerSpectrum::Accumulate(const int16_t* pIq)
{
    const int n = m_Points;
    if (n == 0)
        return;
    // Plain float arrays (I, Q interleaved) walked in chunks of a fixed length: loops the
    // compiler turns into vector code at the service's optimisation level.
    float* __restrict pIn = reinterpret_cast<float*>(m_Fft.Input());
    for (int base = 0; base < 2 * n; base += CHUNK)
        for (int k = 0; k < CHUNK; k++)
            pIn[base + k] = static_cast<float>(pIq[base + k]);
    m_Fft.Forward();
    // Bin k goes to (k + N/2) mod N: negative frequencies first, the centre in the middle.
    const float* __restrict pOut = reinterpret_cast<const float*>(m_Fft.Output());
    const int half = n / 2;
    double* __restrict pSums = m_Sums.data();
    for (int base = 0; base < n; base += CHUNK / 2) {
        const int bin = (base + half) & (n - 1);
        for (int k = 0; k < CHUNK / 2; k++) {
            const float re = pOut[2 * (base + k)], im = pOut[2 * (base + k) + 1];
            pSums[bin + k] += re * re + im * im;
        }
    }
    m_Blocks++;
}

void PowerSpectrum::Finish(std::vector<double>& spectrumDb) const
{
    spectrumDb.resize(static_cast<size_t>(m_Points));
    const double blocks = m_Blocks > 0 ? m_Blocks : 1;
    for (size_t k = 0; k < spectrumDb.size(); k++)
        spectrumDb[k] = 10.0 * std::log10(std::max(m_Sums[k] / blocks, 1e-30));
}

// --- SymbolRateDetector ----------------------------------------------------------------------

SymbolRateDetector::SymbolRateDetector() : m_pCapture(std::make_unique<IqCapture>()), m_pSource(m_pCapture.get()) {}

SymbolRateDetector::~SymbolRateDetector()
{
    Close();
}

KXAPI_RESULT SymbolRateDetector::Open(KxProxyCORE* pCore, int port)
{
    return m_pCapture->Open(pCore, port);
}

void SymbolRateDetector::Close()
{
    m_pCapture->Close();
}

void SymbolRateDetector::SetBlockSource(IIqBlockSource* pSource)
{
    m_pSource = pSource != nullptr ? pSource : m_pCapture.get();
}

void SymbolRateDetector::Reset()
{
    m_FftSize = DEFAULT_FFT_SIZE;
    m_OffsetLimitDivisor = 0;
    m_Smoothing = true;
    m_NeedNewSpectrum = true;
    m_StepIndex = 0;
}

KXAPI_RESULT SymbolRateDetector::SetFftSize(int points)
{
    if (!IsPowerOfTwo(points) || points < MIN_FFT_SIZE || points > MAX_FFT_SIZE)
        return KXAPI_E_INVALID_ARG;
    m_FftSize = points;
    return KXAPI_OK;
}

int SymbolRateDetector::FftSizeFor(int symbolRateBd, bool& smoothing)
{
    smoothing = false;
    if (symbolRateBd < 200000)
        return 131072;
    if (symbolRateBd < 1000000)
        return 65536;
    if (symbolRateBd < 2000000)
        return 32768;
    smoothing = true;
    return 16384;
}

KXAPI_RESULT SymbolRateDetector::MeasureSpectrum()
{
    KXAPI_RESULT result = m_Power.Resize(m_FftSize);
    if (KxapiFailed(result))
        return result;
    m_Samples.resize(2 * static_cast<size_t>(m_FftSize));
    result = m_pSource->StartCapture();
    for (int block = 0; block < BLOCKS_PER_SPECTRUM && KxapiSucceeded(result); block++) {
        result = m_pSource->ReceiveBlock(m_Samples.data(), m_FftSize);
        if (KxapiSucceeded(result))
            m_Power.Accumulate(m_Samples.data());
    }
    m_pSource->StopCapture();
    if (KxapiFailed(result))
        return result;
    m_Power.Finish(m_Spectrum);
    return KXAPI_OK;
}

KXAPI_RESULT SymbolRateDetector::AnalyzeSpectrum()
{
    SpectrumAnalysis analysis;
    KXAPI_RESULT result = Analyze(m_Spectrum, m_Smoothing, m_OffsetLimitDivisor, analysis);
    if (KxapiFailed(result))
        return result;
    m_EstimatedSymbolRate = analysis.m_SymbolRateBd;
    m_RollOffPercent = analysis.m_RollOffPercent;
    m_CarrierOffsetHz = analysis.m_CarrierOffsetHz;
    m_SearchStep = analysis.m_StepHz;
    m_StepCount = analysis.m_StepCount;
    return KXAPI_OK;
}

KXAPI_RESULT SymbolRateDetector::Analyze(std::vector<double>& s, bool smooth, int offsetLimitDivisor,
                                         SpectrumAnalysis& out)
{
    const int n = static_cast<int>(s.size());
    if (!IsPowerOfTwo(n) || n < MIN_FFT_SIZE || n > MAX_FFT_SIZE)
        return KXAPI_E_INVALID_ARG;
    const long long w = SAMPLE_RATE_HZ / n; // bin width, Hz
    const int c = n / 2;

    if (smooth) {
        double level = s[0];
        for (double& bin : s) {
            level = (1.0 - SMOOTH_FACTOR) * level + SMOOTH_FACTOR * bin;
            bin = level;
        }
    }

    // -3 dB edges: the band must be there and strong enough.
    const Edges e3 = FindIdx(s, EDGE3_DROP_DB, EDGE3_PERCENT);
    if (!WidthOk(e3.m_Upper - e3.m_Lower, w))
        return KXAPI_E_INVALID_SYMRATE;
    if (s[e3.m_Upper] < PRESENCE_LEVEL_DB || s[e3.m_Lower] < PRESENCE_LEVEL_DB)
        return KXAPI_E_INVALID_SYMRATE;
    const Edges e6 = FindIdx(s, EDGE6_DROP_DB, EDGE6_PERCENT);
    if (!WidthOk(e6.m_Upper - e6.m_Lower, w))
        return KXAPI_E_INVALID_SYMRATE;
    const long long b3 = (e3.m_Upper - e3.m_Lower) * w;
    const long long b6 = (e6.m_Upper - e6.m_Lower) * w;

    // Inner edges a (upper) and b (lower).
    int a, b;
    if ((b6 >= 1.2 * b3 && b3 > 2000000) || b3 > 10000000) {
        // Wide or soft-edged bands: from the -6 dB edges inwards to the first bin clearly
        // (3 dB) above the edge.
        a = c;
        for (int i = e6.m_Upper; i >= c; i--) {
            if (s[i] > s[e6.m_Upper] + INNER_RISE_DB) {
                a = i;
                break;
            }
        }
        b = c;
        for (int j = e6.m_Lower; j <= c; j++) {
            if (s[j] > s[e6.m_Lower] + INNER_RISE_DB) {
                b = j;
                break;
            }
        }
        if (!WidthOk(a - b, w))
            return KXAPI_E_INVALID_SYMRATE;
    } else {
        a = e3.m_Upper;
        b = e3.m_Lower;
        const int above = WalkBelow(s, a, 1, s[a] - 3.0);
        const int below = WalkBelow(s, b, -1, s[b] - 3.0);
        if (!WidthOk(above - below, w))
            return KXAPI_E_INVALID_SYMRATE;
    }

    // Outer edges: 6 dB below the inner ones.
    const int outerUpper = WalkBelow(s, a, 1, s[a] - OUTER_DROP_DB);
    const int outerLower = WalkBelow(s, b, -1, s[b] - OUTER_DROP_DB);
    if (!WidthOk(outerUpper - outerLower, w))
        return KXAPI_E_INVALID_SYMRATE;

    const long long rate = (a - b) * w;
    if (rate < MIN_ESTIMATE_BD || rate > MAX_ESTIMATE_BD)
        return KXAPI_E_INVALID_SYMRATE;
    const double flankHz = ((outerUpper - a) + (b - outerLower)) / 2.0 * static_cast<double>(w);
    const int rollOff = static_cast<int>(flankHz / (FLANK_FRACTION * static_cast<double>(rate)) * FLANK_SCALE * 100.0);

    int step = 0, stepCount = 0;
    KXAPI_RESULT result = StepPlan(static_cast<int>(rate), rollOff, step, stepCount);
    if (KxapiFailed(result))
        return result;

    // Centre of the band relative to the tuned frequency.
    const long long offset = ((a - c) + (b - c)) * w / 2;
    if (offsetLimitDivisor > 0 && std::llabs(offset) > std::llabs(rate / offsetLimitDivisor))
        return KXAPI_E_INVALID_SYMRATE;

    out.m_SymbolRateBd = static_cast<int>(rate);
    out.m_RollOffPercent = rollOff;
    out.m_CarrierOffsetHz = static_cast<int>(offset);
    out.m_StepHz = step;
    out.m_StepCount = stepCount;
    return KXAPI_OK;
}

KXAPI_RESULT SymbolRateDetector::StepPlan(int rateBd, int rollOffPercent, int& stepHz, int& stepCount)
{
    stepCount = MAX_STEPCOUNT;
    long long step = static_cast<long long>(static_cast<double>(static_cast<long long>(rateBd * 0.001)) *
                                            rollOffPercent / 10.0);
    if (rollOffPercent > STEEP_ROLLOFF_PERCENT) {
        if (rateBd > STEEP_ROLLOFF_MAX_BD)
            return KXAPI_E_INVALID_SYMRATE;
    } else if (rateBd >= DOUBLE_STEP_MIN_BD && rollOffPercent >= DOUBLE_STEP_MIN_ROLLOFF) {
        step *= 2;
        stepCount = MAX_STEPCOUNT / 2;
    }
    stepHz = static_cast<int>(step);
    return KXAPI_OK;
}

KXAPI_RESULT SymbolRateDetector::Update()
{
    if (!m_NeedNewSpectrum && m_StepIndex != 0) {
        const long long distance = static_cast<long long>(m_SearchStep) * m_StepIndex;
        const long long candidate = (m_StepIndex % 2) != 0 ? m_EstimatedSymbolRate + distance
                                                           : m_EstimatedSymbolRate - distance;
        m_CandidateSymbolRate = static_cast<int>(candidate);
        m_StepIndex = m_StepIndex >= m_StepCount ? 0 : m_StepIndex + 1;
        return KXAPI_OK;
    }
    KXAPI_RESULT result = MeasureSpectrum();
    if (KxapiSucceeded(result))
        result = AnalyzeSpectrum();
    if (KxapiFailed(result))
        return result;
    m_CandidateSymbolRate = m_EstimatedSymbolRate;
    m_StepIndex = 1;
    m_NeedNewSpectrum = false;
    return KXAPI_OK;
}

KXAPI_RESULT SymbolRateDetector::GetBlindScanFrequencies(long long freqHz, long long carrierOffsetHz,
                                                         long long symbolRateBd, double rollOff, long long& foundHz,
                                                         long long& nextHz)
{
    foundHz = freqHz + carrierOffsetHz;
    if (std::llabs(carrierOffsetHz) > symbolRateBd / 2) {
        nextHz = foundHz;
        return KXAPI_E_INVALID_FREQ;
    }
    const double past = static_cast<double>(foundHz) + static_cast<double>(symbolRateBd) * (1.0 + rollOff) / 2.0;
    nextHz = static_cast<long long>(past / 1e6 + 0.5) * 1000000;
    return KXAPI_OK;
}
