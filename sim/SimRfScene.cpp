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

std::vector<SimIqSample> IqBlock(const SimCarrier& carrier, int64_t tunedHz, int64_t sampleRateHz, int n,
                                 SimRandom& random)
{
    std::vector<SimIqSample> samples;
    if (n <= 0 || sampleRateHz <= 0)
        return samples;
    samples.reserve(static_cast<size_t>(n));
    const double symbolRate =
        carrier.m_SymbolRateBd > 0 ? static_cast<double>(carrier.m_SymbolRateBd) : carrier.m_BandwidthHz * 0.95;
    const double sps = std::max(1.0, sampleRateHz / std::max(1.0, symbolRate)); // samples per symbol
    const double beta = std::clamp(carrier.m_RollOffPercent / 100.0, 0.05, 1.0);
    const int span = 4; // symbols each side of the pulse
    const int numSymbols = static_cast<int>(n / sps) + 2 * span + 2;
    std::vector<double> si(static_cast<size_t>(numSymbols)), sq(static_cast<size_t>(numSymbols));
    for (int k = 0; k < numSymbols; k++)
        IdealSymbol(carrier.m_Constellation, random, si[static_cast<size_t>(k)], sq[static_cast<size_t>(k)]);
    const double omega = 2.0 * M_PI * static_cast<double>(CarrierOffsetHz(carrier, tunedHz)) / sampleRateHz;
    const double noiseSigma = std::sqrt(0.5 * std::pow(10.0, -carrier.m_CnDb / 10.0));
    const double scale = 4096.0;
    auto pulse = [beta](double t) {
        // Raised cosine, t in symbols.
        const double sinc = std::fabs(t) < 1e-9 ? 1.0 : std::sin(M_PI * t) / (M_PI * t);
        const double denom = 1.0 - 4.0 * beta * beta * t * t;
        if (std::fabs(denom) < 1e-9)
            return sinc * M_PI / 4.0;
        return sinc * std::cos(M_PI * beta * t) / denom;
    };
    for (int s = 0; s < n; s++) {
        const double t = s / sps + span;
        const int centre = static_cast<int>(t);
        double i = 0, q = 0;
        for (int k = centre - span; k <= centre + span; k++) {
            if (k < 0 || k >= numSymbols)
                continue;
            const double h = pulse(t - k);
            i += h * si[static_cast<size_t>(k)];
            q += h * sq[static_cast<size_t>(k)];
        }
        const double c = std::cos(omega * s), sn = std::sin(omega * s);
        const double ri = i * c - q * sn + noiseSigma * random.Gaussian();
        const double rq = i * sn + q * c + noiseSigma * random.Gaussian();
        samples.push_back({Saturate(ri * scale), Saturate(rq * scale)});
    }
    return samples;
}

} // namespace SimRf
