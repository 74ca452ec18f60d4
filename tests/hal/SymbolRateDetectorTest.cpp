// The 3470's symbol-rate detector: the analysis of synthetic spectra (presence, edges, roll-off,
// step plans, offset limit), the sweep of candidates, the automatic and blind-scan steps against
// a recording target, and the whole path on the virtual card's I/Q capture (carriers of the
// scene in, symbol rates out).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "HalTestSupport.h"
#include "ISymbolRateSearch.h"
#include "KxAf.h"
#include "KxDeviceBackend.h"
#include "SymbolRateDetector.h"

namespace {

constexpr int FS = SymbolRateDetector::SAMPLE_RATE_HZ;
constexpr double THRESHOLD = SymbolRateDetector::PRESENCE_LEVEL_DB;

// Power spectrum in dB of a raised-cosine band (what a root-raised-cosine transmitter puts on
// the air) over a white floor, N bins at 160 MHz with the tuned frequency at bin N/2.
std::vector<double> BandSpectrum(int n, double rateBd, double rollOff, double offsetHz, double topDb, double floorDb)
{
    std::vector<double> db(static_cast<size_t>(n));
    const double top = std::pow(10.0, topDb / 10.0);
    const double floor = std::pow(10.0, floorDb / 10.0);
    for (int k = 0; k < n; k++) {
        const double f = std::fabs((k - n / 2) * static_cast<double>(FS) / n - offsetHz);
        const double flat = (1.0 - rollOff) * rateBd / 2.0;
        double shape = 0.0;
        if (f <= flat)
            shape = 1.0;
        else if (f <= (1.0 + rollOff) * rateBd / 2.0)
            shape = 0.5 * (1.0 + std::cos(M_PI / (rollOff * rateBd) * (f - flat)));
        db[static_cast<size_t>(k)] = 10.0 * std::log10(top * shape + floor);
    }
    return db;
}

TEST(SymbolRateAnalysis, NoSignalIsRefused)
{
    struct Case {
        const char* m_pWhat;
        std::vector<double> m_Spectrum;
    };
    const Case cases[] = {
        {"flat below the presence level", std::vector<double>(16384, 95.0)},
        {"flat above the presence level", std::vector<double>(16384, 125.0)},
        {"a band whose top stays under the presence level", BandSpectrum(16384, 27.5e6, 0.35, 0, THRESHOLD - 1.0, 80)},
        {"a band of 50 kHz, narrower than any symbol rate", BandSpectrum(16384, 50e3, 0.2, 0, 130, 90)},
        {"a band wider than the tuner opens", BandSpectrum(16384, 90e6, 0.2, 0, 130, 90)},
    };
    for (const Case& c : cases) {
        std::vector<double> spectrum = c.m_Spectrum;
        SpectrumAnalysis result;
        EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, SymbolRateDetector::Analyze(spectrum, true, 0, result)) << c.m_pWhat;
    }
    // The same band as the third case, once strong enough, is found.
    std::vector<double> strong = BandSpectrum(16384, 27.5e6, 0.35, 0, THRESHOLD + 8.0, 80);
    SpectrumAnalysis result;
    EXPECT_EQ(KXAPI_OK, SymbolRateDetector::Analyze(strong, true, 0, result));
}

// Symbol rate, roll-off and offset of raised-cosine bands, each in both branches of the inner
// edge search (wide bands from the -6 dB edges, narrow ones from the -3 dB edges).
TEST(SymbolRateAnalysis, EstimatesRateRollOffAndOffsetOfABand)
{
    struct Case {
        int m_Points;
        bool m_Smooth;
        double m_RateBd;
        int m_RollOffPercent;
        double m_OffsetHz;
        double m_RateTolerance; // fraction of the rate
    };
    const Case cases[] = {
        {16384, true, 27.5e6, 20, 1.5e6, 0.003}, {16384, true, 45e6, 20, -3e6, 0.003},
        {16384, true, 5e6, 25, 200e3, 0.003},    {32768, false, 1.5e6, 20, 0, 0.003},
        {32768, false, 1e6, 35, -100e3, 0.008},  {131072, false, 150e3, 35, 20e3, 0.012},
        // A wide band whose flat top ends (at 65 % of its half width) before the -6 dB search's
        // reference bin (70 %): that edge lands outside the -6 dB point and the rate reads about
        // 2 % high, well inside the sweep around it (+-10 steps of 0.7 %).
        {16384, true, 27.5e6, 35, 0, 0.025},
    };
    for (const Case& c : cases) {
        std::vector<double> spectrum =
            BandSpectrum(c.m_Points, c.m_RateBd, c.m_RollOffPercent / 100.0, c.m_OffsetHz, 125, 95);
        SpectrumAnalysis result;
        ASSERT_EQ(KXAPI_OK, SymbolRateDetector::Analyze(spectrum, c.m_Smooth, 0, result)) << c.m_RateBd;
        const double binHz = static_cast<double>(FS / c.m_Points);
        EXPECT_NEAR(c.m_RateBd, result.m_SymbolRateBd, c.m_RateTolerance * c.m_RateBd) << c.m_RateBd;
        EXPECT_NEAR(c.m_RollOffPercent, result.m_RollOffPercent, 4) << c.m_RateBd;
        // The smoothing runs up the bins and drags both edges about four bins up.
        EXPECT_NEAR(c.m_OffsetHz, result.m_CarrierOffsetHz, (c.m_Smooth ? 6 : 2) * binHz) << c.m_RateBd;
    }
}

// Bin-to-bin ripple of +-3 dB (a short average) breaks the edge searches unless the bins are
// smoothed first; smoothed, the band reads right.
TEST(SymbolRateAnalysis, SmoothingRidesOverBinToBinRipple)
{
    std::vector<double> rippled = BandSpectrum(16384, 27.5e6, 0.2, 0, 125, 95);
    uint32_t state = 99;
    for (double& bin : rippled) {
        state = state * 1664525u + 1013904223u;
        bin += 3.0 * ((state >> 8) / 16777216.0 * 2.0 - 1.0);
    }
    std::vector<double> smoothed = rippled;
    SpectrumAnalysis result;
    ASSERT_EQ(KXAPI_OK, SymbolRateDetector::Analyze(smoothed, true, 0, result));
    EXPECT_NEAR(27.5e6, result.m_SymbolRateBd, 0.015 * 27.5e6);
    EXPECT_NEAR(20, result.m_RollOffPercent, 6);
    std::vector<double> raw = rippled;
    const KXAPI_RESULT unsmoothed = SymbolRateDetector::Analyze(raw, false, 0, result);
    EXPECT_TRUE(unsmoothed != KXAPI_OK || std::abs(result.m_SymbolRateBd - 27.5e6) > 0.1 * 27.5e6)
        << "without smoothing a ripple is taken for an edge";
}

TEST(SymbolRateAnalysis, StepPlanFollowsRateAndRollOff)
{
    struct Case {
        int m_RateBd;
        int m_RollOff;
        KXAPI_RESULT m_Result;
        int m_StepHz;
        int m_StepCount;
    };
    const Case cases[] = {
        {27500000, 35, KXAPI_OK, 192500, 10}, // 27500 x 3.5 = 96,250, doubled
        {1500000, 20, KXAPI_OK, 3000, 20},    // below the doubling rate
        {2000000, 20, KXAPI_OK, 4000, 20},    {2000001, 20, KXAPI_OK, 8000, 10},
        {3000000, 15, KXAPI_OK, 4500, 20},    // too little roll-off to double
        {3000000, 50, KXAPI_OK, 30000, 10},   {400000, 60, KXAPI_OK, 2400, 20},
        {500000, 51, KXAPI_OK, 2550, 20},     {500001, 51, KXAPI_E_INVALID_SYMRATE, 0, 0},
        {27500000, 60, KXAPI_E_INVALID_SYMRATE, 0, 0},
    };
    for (const Case& c : cases) {
        int step = -1, count = -1;
        ASSERT_EQ(c.m_Result, SymbolRateDetector::StepPlan(c.m_RateBd, c.m_RollOff, step, count))
            << c.m_RateBd << " Bd, " << c.m_RollOff << " %";
        if (c.m_Result != KXAPI_OK)
            continue;
        EXPECT_EQ(c.m_StepHz, step) << c.m_RateBd << " Bd, " << c.m_RollOff << " %";
        EXPECT_EQ(c.m_StepCount, count) << c.m_RateBd << " Bd, " << c.m_RollOff << " %";
    }
}

TEST(SymbolRateAnalysis, CarrierOffsetBeyondItsLimitIsRefused)
{
    struct Case {
        double m_OffsetHz;
        int m_Divisor;
        KXAPI_RESULT m_Result;
    };
    // 27.5 Msym/s: a divisor of 10 allows 2.75 MHz, 5 allows 5.5 MHz, 0 anything.
    const Case cases[] = {
        {3e6, 10, KXAPI_E_INVALID_SYMRATE}, {-3e6, 10, KXAPI_E_INVALID_SYMRATE}, {2e6, 10, KXAPI_OK},
        {3e6, 5, KXAPI_OK},                 {-3e6, 5, KXAPI_OK},                 {12e6, 0, KXAPI_OK},
    };
    for (const Case& c : cases) {
        std::vector<double> spectrum = BandSpectrum(16384, 27.5e6, 0.2, c.m_OffsetHz, 125, 95);
        SpectrumAnalysis result;
        EXPECT_EQ(c.m_Result, SymbolRateDetector::Analyze(spectrum, false, c.m_Divisor, result))
            << c.m_OffsetHz << " Hz, divisor " << c.m_Divisor;
    }
}

// I/Q blocks from memory: a band made in the frequency domain (random phases under the
// raised-cosine magnitude), the same for every block. Counts the captures.
class SyntheticSource : public IIqBlockSource {
public:
    SyntheticSource(int points, double rateBd, double rollOff)
    {
        KxFft fft;
        fft.Resize(points);
        const std::vector<double> db = BandSpectrum(points, rateBd, rollOff, 0, 0, -40);
        uint32_t state = 7;
        for (int k = 0; k < points; k++) {
            state = state * 1664525u + 1013904223u;
            const double amplitude = 8000.0 / std::sqrt(points) * std::pow(10.0, db[(k + points / 2) % points] / 20.0);
            // Built as a spectrum and transformed forward: the conjugate-reversed input gives
            // the same power per bin.
            fft.Input()[k] = std::polar(static_cast<float>(amplitude), static_cast<float>(state * 1.4629e-9));
        }
        fft.Forward();
        m_Block.resize(2 * static_cast<size_t>(points));
        for (int t = 0; t < points; t++) {
            m_Block[2 * t] = static_cast<int16_t>(std::lround(fft.Output()[t].real()));
            m_Block[2 * t + 1] = static_cast<int16_t>(std::lround(-fft.Output()[t].imag()));
        }
    }
    KXAPI_RESULT StartCapture() override
    {
        m_Captures++;
        return KXAPI_OK;
    }
    KXAPI_RESULT ReceiveBlock(int16_t* pIq, int pairs) override
    {
        if (static_cast<size_t>(2 * pairs) != m_Block.size())
            return KXAPI_E_INVALID_SIZE;
        std::copy(m_Block.begin(), m_Block.end(), pIq);
        return KXAPI_OK;
    }
    void StopCapture() override {}

    int m_Captures = 0;

private:
    std::vector<int16_t> m_Block;
};

TEST(SymbolRateDetector, SweepTriesTheEstimateThenAlternatesAroundItAndMeasuresAgain)
{
    SymbolRateDetector detector;
    SyntheticSource source(SymbolRateDetector::DEFAULT_FFT_SIZE, 27.5e6, 0.20);
    detector.SetBlockSource(&source);
    ASSERT_EQ(KXAPI_OK, detector.Update());
    EXPECT_EQ(1, source.m_Captures);
    const int estimate = detector.EstimatedSymbolRate();
    const int step = detector.SearchStep();
    const int count = detector.StepCount();
    ASSERT_EQ(10, count) << "a doubled step for a wide band with a soft roll-off";
    EXPECT_NEAR(27.5e6, estimate, 0.01 * 27.5e6);
    EXPECT_EQ(estimate, detector.CandidateSymbolRate());
    std::vector<int> expected;
    for (int index = 1; index <= count; index++)
        expected.push_back((index % 2) != 0 ? estimate + step * index : estimate - step * index);
    for (int index = 1; index <= count; index++) {
        EXPECT_FALSE(detector.SweepFinished());
        ASSERT_EQ(KXAPI_OK, detector.Update());
        EXPECT_EQ(expected[static_cast<size_t>(index - 1)], detector.CandidateSymbolRate()) << "step " << index;
    }
    EXPECT_EQ(1, source.m_Captures) << "no measurement within the sweep";
    EXPECT_TRUE(detector.SweepFinished());
    ASSERT_EQ(KXAPI_OK, detector.Update());
    EXPECT_EQ(2, source.m_Captures) << "a finished sweep measures again";
    EXPECT_EQ(estimate, detector.CandidateSymbolRate());
}

TEST(SymbolRateDetector, FftSizeFollowsTheSymbolRate)
{
    struct Case {
        int m_RateBd;
        int m_Points;
        bool m_Smoothing;
    };
    const Case cases[] = {{70000, 131072, false},   {199999, 131072, false}, {200000, 65536, false},
                          {999999, 65536, false},   {1000000, 32768, false}, {1999999, 32768, false},
                          {2000000, 16384, true},   {45000000, 16384, true}};
    for (const Case& c : cases) {
        bool smoothing = !c.m_Smoothing;
        EXPECT_EQ(c.m_Points, SymbolRateDetector::FftSizeFor(c.m_RateBd, smoothing)) << c.m_RateBd;
        EXPECT_EQ(c.m_Smoothing, smoothing) << c.m_RateBd;
    }
    SymbolRateDetector detector;
    for (int bad : {0, 512, 3000, 262144})
        EXPECT_EQ(KXAPI_E_INVALID_ARG, detector.SetFftSize(bad)) << bad;
    EXPECT_EQ(SymbolRateDetector::DEFAULT_FFT_SIZE, detector.FftSize());
}

TEST(SymbolRateDetector, BlindScanFrequencies)
{
    struct Case {
        long long m_OffsetHz;
        KXAPI_RESULT m_Result;
        long long m_NextHz;
    };
    // 1150 MHz, 27.5 Msym/s, roll-off 0.35: next = found + 18,562,500 rounded to the MHz.
    const Case cases[] = {
        {1000000, KXAPI_OK, 1170000000},   {-1000000, KXAPI_OK, 1168000000},
        {13750000, KXAPI_OK, 1182000000},  {-13750000, KXAPI_OK, 1155000000},
        {13750001, KXAPI_E_INVALID_FREQ, 1163750001}, {-13750001, KXAPI_E_INVALID_FREQ, 1136249999},
    };
    for (const Case& c : cases) {
        long long found = 0, next = 0;
        EXPECT_EQ(c.m_Result, SymbolRateDetector::GetBlindScanFrequencies(1150000000, c.m_OffsetHz, 27500000, 0.35,
                                                                          found, next))
            << c.m_OffsetHz;
        EXPECT_EQ(1150000000 + c.m_OffsetHz, found) << c.m_OffsetHz;
        EXPECT_EQ(c.m_NextHz, next) << c.m_OffsetHz;
    }
}

// The detector on the virtual 3470's capture path (port index 0, whose RF input carries the
// scenario's carriers at 1150, 1400, 1750 and 2050 MHz).
class DetectorOnVirtualCard : public haltest::VirtualCardFixture {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Attach(haltest::SERIAL_3470));
        ASSERT_EQ(KXAPI_OK, m_Detector.Open(m_Device.Backend()->Core(), 0));
    }
    void TuneTo(long long hz) { m_pCard->SetTunedHz(0, hz); }

    SymbolRateDetector m_Detector;
};

// Carriers of the scene in, symbol rates out: within 1 % of the rate, 6 points of roll-off and
// 100 kHz of carrier offset (the smoothing's lag of about 40 kHz and a few bins of 9.8 kHz).
// The 1 Msym/s carrier at 2050 MHz is the next test's.
TEST_F(DetectorOnVirtualCard, FindsTheSymbolRateOfEachWideCarrierOfTheScene)
{
    struct Case {
        long long m_CarrierHz;
        int m_RateBd;
        long long m_TunedOffHz; // tuned this far below the carrier
    };
    const Case cases[] = {
        {1150000000, 27500000, 2000000},
        {1400000000, 30000000, -1500000},
        {1750000000, 45000000, 0},
    };
    for (const Case& c : cases) {
        TuneTo(c.m_CarrierHz - c.m_TunedOffHz);
        m_Detector.Reset();
        ASSERT_EQ(KXAPI_OK, m_Detector.Update()) << c.m_CarrierHz;
        EXPECT_EQ(SymbolRateDetector::DEFAULT_FFT_SIZE, m_Detector.FftSize()) << c.m_CarrierHz;
        EXPECT_TRUE(m_Detector.Smoothing()) << c.m_CarrierHz;
        EXPECT_NEAR(c.m_RateBd, m_Detector.EstimatedSymbolRate(), 0.01 * c.m_RateBd) << c.m_CarrierHz;
        EXPECT_NEAR(20, m_Detector.RollOffPercent(), 6) << c.m_CarrierHz;
        EXPECT_NEAR(static_cast<double>(c.m_TunedOffHz), m_Detector.CarrierOffsetHz(), 100000) << c.m_CarrierHz;
        EXPECT_EQ(m_Detector.EstimatedSymbolRate(), m_Detector.CandidateSymbolRate()) << "the estimate is tried first";
    }
}

// The presence level lies well between what our transform makes of the card's samples with and
// without a carrier: a carrier's band tops 112 dB by more than 6 dB, receiver noise stays more
// than 10 dB below it, and noise alone is no signal.
TEST_F(DetectorOnVirtualCard, PresenceLevelSitsBetweenNoiseAndACarrier)
{
    TuneTo(1150000000);
    ASSERT_EQ(KXAPI_OK, m_Detector.MeasureSpectrum());
    const std::vector<double>& carrier = m_Detector.Spectrum();
    const int centre = m_Detector.FftSize() / 2;
    EXPECT_GT(carrier[centre], THRESHOLD + 6.0) << "top of the 27.5 Msym/s band at C/N 12 dB";
    EXPECT_LT(carrier[100], THRESHOLD - 6.0) << "noise beside the band";

    TuneTo(1000000000); // nothing there
    ASSERT_EQ(KXAPI_OK, m_Detector.MeasureSpectrum());
    double loudest = -1e9;
    for (double bin : m_Detector.Spectrum())
        loudest = std::max(loudest, bin);
    EXPECT_LT(loudest, THRESHOLD - 10.0);
    m_Detector.Reset();
    EXPECT_EQ(KXAPI_E_INVALID_SYMRATE, m_Detector.Update());
    EXPECT_TRUE(m_Detector.NeedsNewSpectrum()) << "a failed analysis measures again next time";
}

// The search Kxa3470Hal drives: the detector on the card's capture path, or none when the card
// has no capture path.
TEST_F(DetectorOnVirtualCard, HalSearchMeasuresOnTheCapturePath)
{
    m_Detector.Close();
    std::unique_ptr<ISymbolRateSearch> search(NewKxa3470SymbolRateSearch(m_Device.Backend()->Core()));
    ASSERT_NE(nullptr, search);
    TuneTo(1151000000);
    search->Reset(SymbolRateDetector::DEFAULT_FFT_SIZE, true);
    EXPECT_TRUE(search->NeedsNewSpectrum());
    ASSERT_EQ(KXAPI_OK, search->Update());
    EXPECT_FALSE(search->NeedsNewSpectrum());
    EXPECT_EQ(1, search->StepIndex());
    EXPECT_NEAR(27.5e6, search->CandidateSymbolRate(), 0.01 * 27.5e6);
    EXPECT_NEAR(-1e6, search->CarrierOffsetHz(), 100000);
    ASSERT_EQ(KXAPI_OK, search->SetFftSize(32768, false));
    EXPECT_TRUE(search->NeedsNewSpectrum()) << "a new size needs a new spectrum";
    EXPECT_EQ(32768, search->FftSize());
    search.reset();

    m_pCard->SetProperty(IqCapture::CAPABILITY_PORT_INDEX, "CAP_DMA_RX", 0);
    EXPECT_EQ(nullptr, NewKxa3470SymbolRateSearch(m_Device.Backend()->Core()));
}

TEST_F(DetectorOnVirtualCard, CaptureNeedsEveryCapabilityAndTimesOutWithoutSamples)
{
    m_Detector.Close();
    for (const char* capability : {"CAP_RX_IQ", "CAP_DMA_RX", "CAP_BURSTFIFO"}) {
        m_pCard->SetProperty(IqCapture::CAPABILITY_PORT_INDEX, capability, 0);
        IqCapture capture;
        EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, capture.Open(m_Device.Backend()->Core(), 0)) << capability;
        m_pCard->SetProperty(IqCapture::CAPABILITY_PORT_INDEX, capability, 1);
    }
    IqCapture capture;
    ASSERT_EQ(KXAPI_OK, capture.Open(m_Device.Backend()->Core(), 0));
    EXPECT_EQ(KXAPI_E_IN_USE, capture.Open(m_Device.Backend()->Core(), 0));
    std::vector<int16_t> block(2 * 16384);
    EXPECT_EQ(KXAPI_E_NOT_INITIALIZED, IqCapture().ReceiveBlock(block.data(), 16384));

    TuneTo(1150000000);
    ASSERT_EQ(KXAPI_OK, capture.StartCapture());
    ASSERT_EQ(KXAPI_OK, capture.ReceiveBlock(block.data(), 16384));
    // The burst FIFO stops behind the capture's back: no samples come, and the receive gives up.
    KxAf function;
    ASSERT_EQ(KXAPI_OK, function.Init(AF_IQCAPTURE, m_Device.Backend()->Core(), 0));
    KxPalBURSTFIFO_Rx* pFifo = nullptr;
    ASSERT_EQ(KXAPI_OK, function.GetPal(pFifo));
    ASSERT_EQ(KXAPI_OK, pFifo->FifoProxy().SetOperationalMode(0));
    KXAPI_RESULT result = KXAPI_OK;
    for (int i = 0; i < 64 && result == KXAPI_OK; i++) // drain what the ring holds
        result = capture.ReceiveBlock(block.data(), 16384);
    EXPECT_EQ(KXAPI_E_TIMEOUT, result);
    capture.StopCapture();
}

} // namespace
