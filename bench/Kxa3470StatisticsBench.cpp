// The 3470's windowed statistics: the sampling thread's cost with 4 input streams of 8 PLS codes
// each (32 rings of every length), and the memory of their rings and windows.
//   BM_StatisticsTick: one 100 ms tick (frame reports read and folded, windows recomputed, a
//     second boundary every 10th tick and a minute boundary every 600th); "core_percent" is
//     the tick's CPU time x 10 ticks a second.
//   BM_SamplingThread/1: the real thread for 5 s of its 100 ms cadence; "core_percent" is the
//     process CPU time over the wall time while the main thread sleeps. /0: the same with
//     buffering off (no client), the thread polling its flag every millisecond.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "Kxa3470Statistics.h"
#include "KxProxyBlocks.h"

namespace {

constexpr int NUM_ISIS = 4;
constexpr int NUM_PLS = 8;
// 27.5 MBd 8PSK normal frames: about 1268 frames a second, 127 per tick.
constexpr int FRAMES_PER_TICK = 127;
// PLS codes of eight DVB-S2 MODCODs (normal frames).
constexpr int PLS_CODES[NUM_PLS] = {4 << 2, 7 << 2, 11 << 2, 13 << 2, 14 << 2, 17 << 2, 19 << 2, 24 << 2};

// A card whose block holds one tick's frames of every (ISI, PLS) pair whenever it is asked.
class GeneratedSource : public IKxa3470StatSource {
public:
    KXAPI_RESULT GetTimeOfDayNs(uint64_t& timeNs) override
    {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        timeNs = static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
        return KXAPI_OK;
    }
    KXAPI_RESULT ReadSignal(Kxa3470SignalReading& signal) override
    {
        signal.m_CarrierLock = signal.m_PlHeaderLock = signal.m_FrameLock = true;
        signal.m_PlHeaderMerDb = 12.0;
        return KXAPI_OK;
    }
    KXAPI_RESULT ClearFrameStatistics() override { return KXAPI_OK; }
    KXAPI_RESULT GetFrameStatus(int& numFrames, bool& overflow) override
    {
        numFrames = FRAMES_PER_TICK;
        overflow = false;
        m_Left = FRAMES_PER_TICK;
        return KXAPI_OK;
    }
    KXAPI_RESULT ReadFrames(std::vector<S2FrameStatus>& frames) override
    {
        frames.clear();
        for (; m_Left > 0 && frames.size() < KxProxyS2STATS_3470::MAX_FRAMES; m_Left--) {
            const int pair = m_Next++ % (NUM_ISIS * NUM_PLS);
            const int isi = pair / NUM_PLS;
            const int pls = PLS_CODES[pair % NUM_PLS];
            const uint32_t failed = m_Next % 97 == 0 ? KXA3470_FRAME_LDPC_FAILED : 0;
            frames.push_back({static_cast<uint32_t>(pls | isi << 8 | 0xF0 << 16), failed | 97u << 16, 12,
                              ++m_Numbers[pair]});
        }
        return KXAPI_OK;
    }
    KXAPI_RESULT GetRollOffCode(int& code) override
    {
        code = 1536;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetSpectrumInversion(int& inversion) override
    {
        inversion = 0;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetAgc(int& agc) override
    {
        agc = 1000;
        return KXAPI_OK;
    }
    KXAPI_RESULT GetPower(uint32_t& power) override
    {
        power = 1u << 20;
        return KXAPI_OK;
    }

private:
    int m_Left = 0;
    uint32_t m_Next = 0;
    uint32_t m_Numbers[NUM_ISIS * NUM_PLS] = {};
};

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void BM_StatisticsTick(benchmark::State& state)
{
    Kxa3470Statistics stats;
    stats.Init(std::make_unique<GeneratedSource>()); // its thread idles: buffering stays off
    // One hour of ticks first, so that every ring is full.
    int tick = 0;
    for (; tick < 36000; tick++)
        stats.UpdateStatisticsBuffers((tick + 1) % 10 == 0, (tick + 1) % 600 == 0, 1.0);
    const double cpu0 = ProcessCpuSeconds();
    for (auto _ : state) {
        tick++;
        stats.UpdateStatisticsBuffers(tick % 10 == 0, tick % 600 == 0, 1.0);
    }
    const double cpuPerTick = (ProcessCpuSeconds() - cpu0) / static_cast<double>(state.iterations());
    std::vector<int> isis;
    stats.GetIsiIds(isis);
    state.counters["isis"] = static_cast<double>(isis.size());
    state.counters["memory_kib"] = static_cast<double>(stats.MemoryBytes()) / 1024.0;
    state.counters["core_percent"] = cpuPerTick * 10.0 * 100.0;
    stats.Close();
}
BENCHMARK(BM_StatisticsTick)->Unit(benchmark::kMicrosecond);

// state.range(0): buffering on (a client uses the port) or off (the thread polls its flag).
void BM_SamplingThread(benchmark::State& state)
{
    for (auto _ : state) {
        Kxa3470Statistics stats;
        stats.Init(std::make_unique<GeneratedSource>());
        stats.EnableBuffering(state.range(0) != 0);
        const double cpu0 = ProcessCpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        state.counters["core_percent"] = cpu / wall * 100.0;
        state.counters["memory_kib"] = static_cast<double>(stats.MemoryBytes()) / 1024.0;
        stats.Close();
    }
}
BENCHMARK(BM_SamplingThread)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
