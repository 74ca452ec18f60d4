// The FFT against a direct DFT, its size rules, and the averaged power spectrum's scale and
// bin order (the centre frequency in the middle).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <thread>
#include <vector>

#include "KxFft.h"
#include "SymbolRateDetector.h"

namespace {

std::vector<std::complex<double>> DirectDft(const std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; k++) {
        std::complex<double> sum = 0;
        for (size_t t = 0; t < n; t++)
            sum += x[t] * std::polar(1.0, -2.0 * M_PI * static_cast<double>(k * t % n) / static_cast<double>(n));
        out[k] = sum;
    }
    return out;
}

// A deterministic, non-symmetric input (no structure an index mix-up could hide behind).
std::vector<std::complex<double>> TestSignal(int n)
{
    std::vector<std::complex<double>> x(static_cast<size_t>(n));
    uint32_t state = 12345;
    for (auto& v : x) {
        state = state * 1664525u + 1013904223u;
        const double re = static_cast<int>(state >> 16 & 0x7FFF) - 16384;
        state = state * 1664525u + 1013904223u;
        const double im = static_cast<int>(state >> 16 & 0x7FFF) - 16384;
        v = {re, im};
    }
    return x;
}

TEST(KxFft, MatchesADirectDftUnnormalised)
{
    for (int n : {2, 8, 64, 256}) {
        KxFft fft;
        ASSERT_EQ(KXAPI_OK, fft.Resize(n));
        const auto x = TestSignal(n);
        for (int i = 0; i < n; i++)
            fft.Input()[i] = std::complex<float>(static_cast<float>(x[i].real()), static_cast<float>(x[i].imag()));
        fft.Forward();
        const auto expected = DirectDft(x);
        double largest = 0;
        for (const auto& v : expected)
            largest = std::max(largest, std::abs(v));
        for (int k = 0; k < n; k++) {
            EXPECT_NEAR(expected[k].real(), fft.Output()[k].real(), 1e-5 * largest) << "n " << n << " bin " << k;
            EXPECT_NEAR(expected[k].imag(), fft.Output()[k].imag(), 1e-5 * largest) << "n " << n << " bin " << k;
        }
    }
}

TEST(KxFft, RefusesSizesThatAreNotPowersOfTwoInRange)
{
    KxFft fft;
    ASSERT_EQ(KXAPI_OK, fft.Resize(1024));
    for (int bad : {0, -8, 1, 3, 1000, 1025, KxFft::MAX_POINTS * 2}) {
        EXPECT_EQ(KXAPI_E_INVALID_ARG, fft.Resize(bad)) << bad;
        EXPECT_EQ(1024, fft.Points()) << "the old size stays after " << bad;
    }
    fft.Forward(); // still usable
    KxFft unsized;
    EXPECT_EQ(nullptr, unsized.Input());
    unsized.Forward(); // nothing to do, no crash
}

// Plans are shared per size and made under one lock: transforms of several threads that size
// their own objects at the same time agree with one made alone.
TEST(KxFft, ObjectsOfSeveralThreadsPlanAndTransformTogether)
{
    const int n = 4096;
    const auto x = TestSignal(n);
    KxFft alone;
    ASSERT_EQ(KXAPI_OK, alone.Resize(n));
    for (int i = 0; i < n; i++)
        alone.Input()[i] = std::complex<float>(static_cast<float>(x[i].real()), static_cast<float>(x[i].imag()));
    alone.Forward();
    std::vector<int> mismatches(4, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            KxFft fft;
            for (int size : {8192, 2048, n}) {
                if (fft.Resize(size) != KXAPI_OK)
                    return;
            }
            for (int i = 0; i < n; i++)
                fft.Input()[i] = std::complex<float>(static_cast<float>(x[i].real()), static_cast<float>(x[i].imag()));
            fft.Forward();
            int bad = 0;
            for (int k = 0; k < n; k++)
                bad += fft.Output()[k] != alone.Output()[k];
            mismatches[t] = bad;
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; t++)
        EXPECT_EQ(0, mismatches[t]) << "thread " << t;
}

// A complex tone of amplitude A on bin m of N reads 20 log10(N A) dB at bin N/2 + m.
TEST(PowerSpectrum, ToneLandsOnItsBinCentredAtItsPower)
{
    const int n = 1024;
    PowerSpectrum power;
    ASSERT_EQ(KXAPI_OK, power.Resize(n));
    struct Tone {
        int m_Bin;
        double m_Amplitude;
    };
    for (const Tone& tone : {Tone{37, 1000.0}, Tone{-100, 300.0}, Tone{0, 2000.0}}) {
        power.Clear();
        std::vector<int16_t> block(2 * n);
        for (int blocks = 0; blocks < 3; blocks++) {
            for (int t = 0; t < n; t++) {
                const std::complex<double> v = std::polar(tone.m_Amplitude, 2.0 * M_PI * tone.m_Bin * t / n + blocks);
                block[2 * t] = static_cast<int16_t>(std::lround(v.real()));
                block[2 * t + 1] = static_cast<int16_t>(std::lround(v.imag()));
            }
            power.Accumulate(block.data());
        }
        EXPECT_EQ(3, power.Blocks());
        std::vector<double> db;
        power.Finish(db);
        ASSERT_EQ(static_cast<size_t>(n), db.size());
        const int bin = n / 2 + tone.m_Bin;
        EXPECT_NEAR(20.0 * std::log10(n * tone.m_Amplitude), db[bin], 0.05) << "tone on bin " << tone.m_Bin;
        EXPECT_LT(db[(bin + 5) % n], db[bin] - 40.0) << "nothing beside it";
    }
}

} // namespace
