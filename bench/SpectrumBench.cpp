// The symbol-rate detector's spectrum measurement without the capture: 1024 blocks of 16384
// I/Q pairs (int16) turned into one averaged power spectrum in dB (PowerSpectrum: KxFft with
// its shared plan, centre-shifted accumulation of |X|^2, 10 log10 of the mean), against the
// plain FFTW loop anyone would write for the same work over the same blocks. Run pinned, for
// example: taskset -c 1 build/bench/SpectrumBench --benchmark_repetitions=5
// --benchmark_enable_random_interleaving=true; compare the medians of one run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include <fftw3.h>

#include "SymbolRateDetector.h"

namespace {

constexpr int POINTS = SymbolRateDetector::DEFAULT_FFT_SIZE;
constexpr int BLOCKS = SymbolRateDetector::BLOCKS_PER_SPECTRUM;

// 1024 distinct blocks of noise-like samples (64 MiB), made once for both benchmarks.
const std::vector<int16_t>& Blocks()
{
    static const std::vector<int16_t> blocks = [] {
        std::vector<int16_t> v(static_cast<size_t>(2) * POINTS * BLOCKS);
        uint32_t state = 1;
        for (int16_t& s : v) {
            state = state * 1664525u + 1013904223u;
            s = static_cast<int16_t>((static_cast<int>(state >> 16) - 32768) / 8);
        }
        return v;
    }();
    return blocks;
}

void DetectorSpectrum(benchmark::State& state)
{
    const std::vector<int16_t>& blocks = Blocks();
    PowerSpectrum power;
    if (power.Resize(POINTS) != KXAPI_OK) {
        state.SkipWithError("no plan");
        return;
    }
    std::vector<double> db;
    for (auto _ : state) {
        power.Clear();
        for (int b = 0; b < BLOCKS; b++)
            power.Accumulate(blocks.data() + static_cast<size_t>(b) * 2 * POINTS);
        power.Finish(db);
        benchmark::DoNotOptimize(db.data());
    }
    state.SetItemsProcessed(state.iterations() * BLOCKS);
}

void PlainFftwLoop(benchmark::State& state)
{
    const std::vector<int16_t>& blocks = Blocks();
    fftwf_complex* in = fftwf_alloc_complex(POINTS);
    fftwf_complex* out = fftwf_alloc_complex(POINTS);
    fftwf_plan plan = fftwf_plan_dft_1d(POINTS, in, out, FFTW_FORWARD, FFTW_MEASURE);
    std::vector<double> sums(POINTS);
    std::vector<double> db(POINTS);
    for (auto _ : state) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (int b = 0; b < BLOCKS; b++) {
            const int16_t* pIq = blocks.data() + static_cast<size_t>(b) * 2 * POINTS;
            for (int k = 0; k < POINTS; k++) {
                in[k][0] = pIq[2 * k];
                in[k][1] = pIq[2 * k + 1];
            }
            fftwf_execute(plan);
            for (int k = 0; k < POINTS; k++)
                sums[(k + POINTS / 2) % POINTS] += out[k][0] * out[k][0] + out[k][1] * out[k][1];
        }
        for (int k = 0; k < POINTS; k++)
            db[k] = 10.0 * std::log10(sums[k] / BLOCKS);
        benchmark::DoNotOptimize(db.data());
    }
    state.SetItemsProcessed(state.iterations() * BLOCKS);
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

} // namespace

BENCHMARK(DetectorSpectrum)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainFftwLoop)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
