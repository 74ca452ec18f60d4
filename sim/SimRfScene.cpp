#include "SimRfScene.h"

#include <algorithm>
#include <cmath>

int64_t SimCarrier::OccupiedBandwidthHz() const
{
    if (m_BandwidthHz > 0)
        return m_BandwidthHz;
    return m_SymbolRateBd * (100 + m_RollOffPercent) / 100;
}

std::vector<SimCarrier>& SimRfScene::Carriers(int input)
{
    if (input < 0)
        input = 0;
    if (static_cast<size_t>(input) >= m_Inputs.size())
        m_Inputs.resize(static_cast<size_t>(input) + 1);
    return m_Inputs[static_cast<size_t>(input)];
}

const std::vector<SimCarrier>* SimRfScene::FindInput(int input) const
{
    if (input < 0 || static_cast<size_t>(input) >= m_Inputs.size())
        return nullptr;
    return &m_Inputs[static_cast<size_t>(input)];
}

const SimCarrier* SimRfScene::CarrierAt(int input, int64_t tunedHz) const
{
    const std::vector<SimCarrier>* pCarriers = FindInput(input);
    if (pCarriers == nullptr)
        return nullptr;
    const SimCarrier* pBest = nullptr;
    for (const SimCarrier& carrier : *pCarriers) {
        const int64_t half = carrier.OccupiedBandwidthHz() / 2;
        const int64_t distance = tunedHz > carrier.m_FreqHz ? tunedHz - carrier.m_FreqHz : carrier.m_FreqHz - tunedHz;
        if (distance > half)
            continue;
        if (pBest == nullptr || carrier.m_LevelDbm > pBest->m_LevelDbm)
            pBest = &carrier;
    }
    return pBest;
}

namespace SimRf {

namespace {

bool IsOfdm(const SimCarrier& carrier)
{
    return carrier.m_BandwidthHz > 0;
}


double Q(double x)
{
    return 0.5 * std::erfc(x / std::sqrt(2.0));
}

} // namespace

int64_t CaptureRangeHz(const SimCarrier& carrier)
{
    if (IsOfdm(carrier))
        return carrier.m_BandwidthHz / 16;
    return std::max<int64_t>(carrier.m_SymbolRateBd / 10, 100000);
}

unsigned int LockTimeMs(const SimCarrier& carrier)
{
    if (IsOfdm(carrier))
        return 250;
    if (carrier.m_SymbolRateBd <= 0)
        return 100;
    // Slow carriers take longer: 40 ms at 30 MBd and above, up to 400 ms at 1 MBd and below.
    const double msd = carrier.m_SymbolRateBd / 1e6;
    const double ms = 40.0 + 360.0 * std::clamp((30.0 - msd) / 29.0, 0.0, 1.0);
    return static_cast<unsigned int>(ms);
}

double RequiredCnDb(const SimCarrier& carrier)
{
    // Roughly the QEF threshold of an M-point constellation with a strong code.
    const int bits = std::max(1, static_cast<int>(std::lround(std::log2(std::max(2, carrier.m_Constellation)))));
    return -2.0 + 3.2 * bits;
}

bool IsLocked(const SimCarrier* pCarrier, int64_t tunedHz, unsigned int msSinceTune)
{
    if (pCarrier == nullptr)
        return false;
    const int64_t offset = std::llabs(pCarrier->m_FreqHz - tunedHz);
    if (offset > CaptureRangeHz(*pCarrier))
        return false;
    if (pCarrier->m_CnDb < RequiredCnDb(*pCarrier))
        return false;
    return msSinceTune >= LockTimeMs(*pCarrier);
}

int64_t CarrierOffsetHz(const SimCarrier& carrier, int64_t tunedHz)
{
    return carrier.m_FreqHz - tunedHz;
}

double MerDb(const SimCarrier& carrier, SimRandom& random)
{
    return carrier.m_CnDb - 0.5 + 0.1 * random.Gaussian();
}

double BerFromMer(double merDb, int constellation)
{
    const int m = std::max(2, constellation);
    const double snr = std::pow(10.0, merDb / 10.0);
    const double bits = std::log2(static_cast<double>(m));
    double ber;
    if (m <= 4) {
        ber = Q(std::sqrt(snr));
    } else {
        const double root = std::sqrt(static_cast<double>(m));
        ber = (4.0 / bits) * (1.0 - 1.0 / root) * Q(std::sqrt(3.0 * snr / (m - 1)));
    }
    return std::clamp(ber, 0.0, 0.5);
}

double PerFromBer(double ber)
{
    // A strong outer code: residual errors fall off steeply below 2e-4 raw BER.
    const double residual = ber < 2e-4 ? 0.0 : std::min(1.0, std::pow(ber / 2e-4, 4.0) * 1e-7);
    const double per = 1.0 - std::pow(1.0 - residual, 188.0 * 8.0);
    return std::clamp(per, 0.0, 1.0);
}

int AgcWord(double levelDbm)
{
    // -90 dBm gives the full gain 65535, -10 dBm none.
    const double word = (-10.0 - levelDbm) / 80.0 * 65535.0;
    return static_cast<int>(std::clamp(word, 0.0, 65535.0));
}

int LevelTenthsDbm(double levelDbm, SimRandom& random)
{
    return static_cast<int>(std::lround((levelDbm + 0.2 * random.Gaussian()) * 10.0));
}

namespace {

// One ideal symbol of a square QAM (or QPSK) with unit average power.
void IdealSymbol(int constellation, SimRandom& random, double& i, double& q)
{
    const int side = std::max(2, static_cast<int>(std::lround(std::sqrt(static_cast<double>(constellation)))));
    const double norm = std::sqrt(2.0 * (side * side - 1) / 3.0);
    i = (2.0 * random.Below(static_cast<uint32_t>(side)) - (side - 1)) / norm;
    q = (2.0 * random.Below(static_cast<uint32_t>(side)) - (side - 1)) / norm;
}

int16_t Saturate(double v)
{
    return static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
}

} // namespace

std::vector<SimIqSample> ConstellationPoints(const SimCarrier& carrier, double merDb, int n, SimRandom& random)
{
    std::vector<SimIqSample> points;
    if (n <= 0)
        return points;
    points.reserve(static_cast<size_t>(n));
    const double sigma = std::sqrt(0.5 * std::pow(10.0, -merDb / 10.0));
    const double scale = 8192.0 / 1.5;
    for (int k = 0; k < n; k++) {
        double i = 0, q = 0;
        IdealSymbol(carrier.m_Constellation, random, i, q);
        i += sigma * random.Gaussian();
        q += sigma * random.Gaussian();
        points.push_back({Saturate(i * scale), Saturate(q * scale)});
    }
    return points;
}

namespace {

// Root-raised-cosine impulse response (t in symbols), the transmitter's pulse: the power
// spectrum of the shaped symbols is the raised cosine, flat to (1 - beta) x Rs / 2, -3 dB at
// Rs / 2 and gone at (1 + beta) x Rs / 2. Unit energy over the symbol period.
double RootRaisedCosine(double t, double beta)
{
    if (std::fabs(t) < 1e-9)
        return 1.0 - beta + 4.0 * beta / M_PI;
    const double singular = 1.0 / (4.0 * beta);
    if (std::fabs(std::fabs(t) - singular) < 1e-9)
        return beta / std::sqrt(2.0) * ((1.0 + 2.0 / M_PI) * std::sin(M_PI / (4.0 * beta)) +
                                        (1.0 - 2.0 / M_PI) * std::cos(M_PI / (4.0 * beta)));
    const double x = 4.0 * beta * t;
    return (std::sin(M_PI * t * (1.0 - beta)) + x * std::cos(M_PI * t * (1.0 + beta))) / (M_PI * t * (1.0 - x * x));
}

} // namespace

std::vector<SimIqSample> IqBlock(const SimCarrier& carrier, int64_t tunedHz, int64_t sampleRateHz, int n,
                                 SimRandom& random)
{
    std::vector<SimIqSample> samples;
    if (n <= 0 || sampleRateHz <= 0)
        return samples;
    samples.resize(static_cast<size_t>(n));
    SimIqStream stream(carrier, tunedHz, sampleRateHz, random.Next());
    stream.Produce(samples.data(), n);
    return samples;
}

} // namespace SimRf

SimIqStream::SimIqStream(const SimCarrier& carrier, int64_t tunedHz, int64_t sampleRateHz, uint64_t seed)
    : m_Random(seed), m_Constellation(carrier.m_Constellation)
{
    const double rate = sampleRateHz > 0 ? static_cast<double>(sampleRateHz) : 1.0;
    const double symbolRate =
        carrier.m_SymbolRateBd > 0 ? static_cast<double>(carrier.m_SymbolRateBd) : carrier.m_BandwidthHz * 0.95;
    m_SymbolsPerSample = 1.0 / std::max(1.0, rate / std::max(1.0, symbolRate));
    const double beta = std::clamp(carrier.m_RollOffPercent / 100.0, 0.05, 1.0);
    m_Taps.resize(static_cast<size_t>(PHASES) * TAPS);
    // Row `phase`, tap j: the pulse at the sample's distance from symbol centre - SPAN + j.
    for (int phase = 0; phase < PHASES; phase++)
        for (int j = 0; j < TAPS; j++)
            m_Taps[static_cast<size_t>(phase) * TAPS + j] =
                SimRf::RootRaisedCosine(static_cast<double>(phase) / PHASES + SPAN - j, beta);
    InitOffsetAndNoise(carrier, tunedHz, rate);
}

SimIqStream::SimIqStream(std::shared_ptr<const SimIqWaveform> pWaveform, const SimCarrier& carrier, int64_t tunedHz,
                         int64_t sampleRateHz, uint64_t seed)
    : m_Random(seed), m_Constellation(carrier.m_Constellation), m_pWaveform(std::move(pWaveform))
{
    InitOffsetAndNoise(carrier, tunedHz, sampleRateHz > 0 ? static_cast<double>(sampleRateHz) : 1.0);
}

SimIqStream::SimIqStream(double noiseLsb, uint64_t seed) : m_Random(seed), m_Constellation(4)
{
    m_SignalLsb = 0.0;
    m_NoiseLsb = noiseLsb;
    m_Noise.resize(NOISE_TABLE);
    for (double& v : m_Noise)
        v = m_Random.Gaussian();
}

void SimIqStream::InitOffsetAndNoise(const SimCarrier& carrier, int64_t tunedHz, double rate)
{
    m_Omega = 2.0 * M_PI * static_cast<double>(SimRf::CarrierOffsetHz(carrier, tunedHz)) / rate;
    m_StepI = std::cos(m_Omega);
    m_StepQ = std::sin(m_Omega);
    m_NoiseLsb = m_SignalLsb * std::sqrt(0.5 * std::pow(10.0, -carrier.m_CnDb / 10.0));
    m_Noise.resize(NOISE_TABLE);
    for (double& v : m_Noise)
        v = m_Random.Gaussian();
}

namespace {

// Rounded half away from zero and saturated, without branches: the sign of noise is a coin
// toss, which a branch predictor loses half the time.
int16_t SaturateSample(double v)
{
    const double clamped = std::min(32767.0, std::max(-32768.0, v));
    return static_cast<int16_t>(static_cast<int>(clamped + std::copysign(0.5, clamped)));
}

} // namespace

// The rotation of the current sample by the carrier offset, then one sample on; recomputed
// exactly every 1024 samples so the recurrence does not drift.
void SimIqStream::NextRotation(double& rotI, double& rotQ)
{
    if ((m_Sample & 1023) == 0) {
        const double angle = std::fmod(m_Omega * static_cast<double>(m_Sample), 2.0 * M_PI);
        m_RotI = std::cos(angle);
        m_RotQ = std::sin(angle);
    }
    rotI = m_RotI;
    rotQ = m_RotQ;
    const double nextI = m_RotI * m_StepI - m_RotQ * m_StepQ;
    m_RotQ = m_RotI * m_StepQ + m_RotQ * m_StepI;
    m_RotI = nextI;
}

void SimIqStream::ProduceNoise(SimIqSample* pOut, int n)
{
    if (m_NoiseSamples.empty()) {
        m_NoiseSamples.resize(NOISE_TABLE);
        for (size_t k = 0; k < NOISE_TABLE; k++)
            m_NoiseSamples[k] = SaturateSample(m_NoiseLsb * m_Noise[k]);
    }
    const int16_t* pNoise = m_NoiseSamples.data();
    for (int i = 0; i < n; i++, m_Sample++) {
        const uint64_t r = m_Random.Next();
        pOut[i] = {pNoise[r & (NOISE_TABLE - 1)], pNoise[(r >> 32) & (NOISE_TABLE - 1)]};
    }
}

void SimIqStream::ProduceFromWaveform(SimIqSample* pOut, int n)
{
    const SimIqSample* pWave = m_pWaveform->Samples();
    for (int i = 0; i < n; i++, m_Sample++) {
        const SimIqSample& w = pWave[m_Sample & (SimIqWaveform::SAMPLES - 1)];
        double rotI, rotQ;
        NextRotation(rotI, rotQ);
        const double ri = w.m_I * rotI - w.m_Q * rotQ;
        const double rq = w.m_I * rotQ + w.m_Q * rotI;
        const uint64_t r = m_Random.Next();
        const double ni = m_Noise[r & (NOISE_TABLE - 1)];
        const double nq = m_Noise[(r >> 32) & (NOISE_TABLE - 1)];
        pOut[i] = {SaturateSample(ri + m_NoiseLsb * ni), SaturateSample(rq + m_NoiseLsb * nq)};
    }
}

void SimIqStream::Produce(SimIqSample* pOut, int n)
{
    if (m_pWaveform) {
        ProduceFromWaveform(pOut, n);
        return;
    }
    if (m_SignalLsb == 0.0) {
        ProduceNoise(pOut, n);
        return;
    }
    // The symbol alphabet of IdealSymbol: side x side points with unit average power.
    const int side = std::max(2, static_cast<int>(std::lround(std::sqrt(static_cast<double>(m_Constellation)))));
    const double norm = std::sqrt(2.0 * (side * side - 1) / 3.0);
    for (int i = 0; i < n; i++, m_Sample++) {
        const double t = static_cast<double>(m_Sample) * m_SymbolsPerSample + SPAN;
        int64_t centre = static_cast<int64_t>(t);
        int phase = static_cast<int>((t - static_cast<double>(centre)) * PHASES + 0.5);
        if (phase == PHASES) {
            phase = 0;
            centre++;
        }
        while (m_NextSymbol <= centre + SPAN) {
            // Kept twice, HISTORY apart, so the TAPS symbols of a sample are contiguous.
            const size_t slot = static_cast<size_t>(m_NextSymbol % HISTORY);
            const double si = (2.0 * m_Random.Below(static_cast<uint32_t>(side)) - (side - 1)) / norm;
            const double sq = (2.0 * m_Random.Below(static_cast<uint32_t>(side)) - (side - 1)) / norm;
            m_SymbolI[slot] = m_SymbolI[slot + HISTORY] = si;
            m_SymbolQ[slot] = m_SymbolQ[slot + HISTORY] = sq;
            m_NextSymbol++;
        }
        // Tap j weighs the symbol centre - SPAN + j; four partial sums keep the adds apart.
        const double* pTaps = &m_Taps[static_cast<size_t>(phase) * TAPS];
        const size_t first = static_cast<size_t>((centre - SPAN) % HISTORY);
        const double* pI = &m_SymbolI[first];
        const double* pQ = &m_SymbolQ[first];
        double accI[4] = {}, accQ[4] = {};
        for (int j = 0; j < TAPS; j++) {
            accI[j & 3] += pTaps[j] * pI[j];
            accQ[j & 3] += pTaps[j] * pQ[j];
        }
        const double si = (accI[0] + accI[1]) + (accI[2] + accI[3]);
        const double sq = (accQ[0] + accQ[1]) + (accQ[2] + accQ[3]);
        double rotI, rotQ;
        NextRotation(rotI, rotQ);
        const double ri = si * rotI - sq * rotQ;
        const double rq = si * rotQ + sq * rotI;
        const uint64_t r = m_Random.Next();
        const double ni = m_Noise[r & (NOISE_TABLE - 1)];
        const double nq = m_Noise[(r >> 32) & (NOISE_TABLE - 1)];
        pOut[i] = {SaturateSample(ri * m_SignalLsb + m_NoiseLsb * ni), SaturateSample(rq * m_SignalLsb + m_NoiseLsb * nq)};
    }
}

SimIqWaveform::SimIqWaveform(const SimCarrier& carrier, int64_t sampleRateHz, uint64_t seed)
{
    // The carrier itself, tuned to its centre, without noise.
    SimCarrier clean = carrier;
    clean.m_CnDb = 1000.0;
    m_Samples.resize(SAMPLES);
    SimIqStream(clean, carrier.m_FreqHz, sampleRateHz, seed).Produce(m_Samples.data(), static_cast<int>(SAMPLES));
}
