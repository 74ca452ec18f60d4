// Cached statistics reads through the demod service, against a raw FIFO ping-pong of the same
// request and reply sizes, measured in one run: the raw ping-pong once with blocking FIFOs and
// once waiting exactly as the service's transport waits. Wall time and CPU time (client and
// service together, the service's own background polling taken out) per round trip.
//
// The service path is a demod port client attached to the virtual 3460 (serial 3460000001,
// port index 0) of KxapiServiceSim: command 38 (generic, ten "kxstat" elements) sent again and
// again (a poll), the same with two lists sent in turn (so that no request repeats the one
// before and each is parsed), command 30 (fixed layout, ten ids) and the whole GetStatistics
// call. All are answered from the port's statistics cache.
//
// The twelve-port QAM card (3530000001): every port attached and tuned to a carrier of its own,
// locked and polling; the service's CPU use with only these twelve ports busy, and the round trip
// of a command 38 with the port's twelve statistics while they poll.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "BenchService.h"
#include "BenchSupport.h"
#include "CrossPlatform.h"
#include "DemodPars.h"
#include "DemodPortClient.h"
#include "DemodSvcGeneric.h"
#include "KxStatistic.h"
#include "XpUtil.h"

namespace {

using Kxapi::DemodMsg;
using Kxapi::DemodPortClient;

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int NUM_STATISTICS = 10;
constexpr size_t TRIPS = 5000;
// Lock, RfLvlUncalib and TempTuner (the 3460's statistics), repeated to ten; the second list
// holds the same statistics in another order (same sizes, other bytes).
const int32_t STATISTIC_IDS[NUM_STATISTICS] = {512, 7, 9, 512, 7, 9, 512, 7, 9, 512};
const int32_t OTHER_ORDER_IDS[NUM_STATISTICS] = {7, 9, 512, 7, 9, 512, 7, 9, 512, 512};

std::string g_Dir;
pid_t g_Service = -1;
DemodMsg g_Request38, g_Request38Other, g_Request30;
size_t g_Reply38Size = 0, g_Reply30Size = 0;
Samples g_Service38, g_Service38Parsed, g_Service30, g_Client38;
Samples g_Raw38Blocking, g_Raw38Transport, g_Raw30Blocking, g_Raw30Transport;

void Report(benchmark::State& state, const Samples& samples)
{
    state.counters["median_us"] = samples.Median();
    state.counters["p99_us"] = samples.P99();
    state.counters["cpu_us"] = samples.m_CpuUsPerTrip;
}

DemodMsg Request38(const int32_t* ids)
{
    std::vector<Kxapi::KxStatistic> stats;
    for (int i = 0; i < NUM_STATISTICS; i++)
        stats.emplace_back(ids[i]);
    std::wstring xml;
    Kxapi::KxStatistic::ToXml(stats.data(), NUM_STATISTICS, xml);
    return Kxapi::DemodBuildGenericReq(38, xml);
}

// The service's CPU use while nobody sends it requests (its ports poll all the same), in
// microseconds per second.
double ServiceBackgroundUsPerS()
{
    const long long before = ProcessCpuNs(g_Service);
    const double start = NowUs();
    XpUtil::Sleep(500);
    return static_cast<double>(ProcessCpuNs(g_Service) - before) / 1e3 / ((NowUs() - start) / 1e6);
}

// Round trips of the given requests in turn; CPU of both processes per round trip, less the
// service's background.
template <class Exchange> void MeasureTrips(benchmark::State& state, Samples& samples, Exchange exchange)
{
    samples.m_Us.clear();
    for (int i = 0; i < 100; i++) // warm-up
        if (!exchange(i)) {
            state.SkipWithError("exchange failed");
            return;
        }
    const double background = ServiceBackgroundUsPerS();
    const double start = NowUs();
    CpuMeter cpu({getpid(), g_Service});
    for (size_t i = 0; i < TRIPS; i++) {
        const double t0 = NowUs();
        if (!exchange(static_cast<int>(i))) {
            state.SkipWithError("exchange failed");
            return;
        }
        samples.m_Us.push_back(NowUs() - t0);
    }
    const double total = cpu.UsPer(TRIPS);
    const double wallS = (NowUs() - start) / 1e6;
    samples.m_CpuUsPerTrip = total - background * wallS / static_cast<double>(TRIPS);
}

void ServiceLoop(benchmark::State& state, const DemodMsg& first, const DemodMsg& second, size_t& replySize,
                 Samples& samples)
{
    DemodPortClient client;
    if (!OpenPortWhenReady(client, SERIAL_3460, 0)) {
        state.SkipWithError("cannot attach to the 3460's port");
        return;
    }
    DemodMsg reply;
    for (auto _ : state)
        MeasureTrips(state, samples, [&](int i) {
            const DemodMsg& request = i % 2 == 0 ? first : second;
            return client.Transfer(request, reply) == KXAPI_OK && reply.size() >= 8;
        });
    replySize = reply.size();
    Report(state, samples);
}

void BM_Service_Stats38_Repeated(benchmark::State& state)
{
    ServiceLoop(state, g_Request38, g_Request38, g_Reply38Size, g_Service38);
}

void BM_Service_Stats38_EachParsed(benchmark::State& state)
{
    size_t size = 0;
    ServiceLoop(state, g_Request38, g_Request38Other, size, g_Service38Parsed);
}

void BM_Service_Stats30_Fixed(benchmark::State& state)
{
    ServiceLoop(state, g_Request30, g_Request30, g_Reply30Size, g_Service30);
}

// The whole client call: the request (serialised once for an unchanged list), the exchange,
// the reply's parsing.
void BM_Client_GetStatistics10(benchmark::State& state)
{
    DemodPortClient client;
    if (!OpenPortWhenReady(client, SERIAL_3460, 0)) {
        state.SkipWithError("cannot attach to the 3460's port");
        return;
    }
    std::vector<Kxapi::KxStatistic> stats;
    for (auto _ : state)
        MeasureTrips(state, g_Client38, [&](int) {
            stats.clear();
            for (int32_t id : STATISTIC_IDS)
                stats.emplace_back(id);
            return client.Svc().GetStatistics(stats.data(), NUM_STATISTICS) == KXAPI_OK;
        });
    Report(state, g_Client38);
}

void RawLoop(benchmark::State& state, size_t requestBody, size_t replyBody, RawWait wait, const char* pTag,
             Samples& samples)
{
    if (replyBody == 0) {
        state.SkipWithError("the service benchmark did not run first");
        return;
    }
    for (auto _ : state)
        if (!RunRawPingPong(g_Dir, pTag, FramedSize(requestBody), FramedSize(replyBody), wait, TRIPS, samples))
            state.SkipWithError("ping-pong failed");
    Report(state, samples);
}

void BM_RawFifo_As38_Blocking(benchmark::State& state)
{
    RawLoop(state, g_Request38.size(), g_Reply38Size, RawWait::BLOCKING, "38b", g_Raw38Blocking);
}

void BM_RawFifo_As38_TransportWait(benchmark::State& state)
{
    RawLoop(state, g_Request38.size(), g_Reply38Size, RawWait::TRANSPORT, "38t", g_Raw38Transport);
}

void BM_RawFifo_As30_Blocking(benchmark::State& state)
{
    RawLoop(state, g_Request30.size(), g_Reply30Size, RawWait::BLOCKING, "30b", g_Raw30Blocking);
}

void BM_RawFifo_As30_TransportWait(benchmark::State& state)
{
    RawLoop(state, g_Request30.size(), g_Reply30Size, RawWait::TRANSPORT, "30t", g_Raw30Transport);
}

// Each figure runs next to the reference it is compared with, so that a change in the
// machine's speed during the run weighs on both alike.
BENCHMARK(BM_Service_Stats38_Repeated)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RawFifo_As38_Blocking)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RawFifo_As38_TransportWait)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Client_GetStatistics10)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Service_Stats38_EachParsed)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Service_Stats30_Fixed)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RawFifo_As30_Blocking)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RawFifo_As30_TransportWait)->Iterations(1)->UseRealTime();

void Line(const char* pWhat, const Samples& s)
{
    printf("%-50s median %6.1f us, p99 %6.1f us, CPU %6.1f us per round trip\n", pWhat, s.Median(), s.P99(),
           s.m_CpuUsPerTrip);
}

// One line for scripts/bench.sh: the figure, its reference and the target ratio.
void Result(const char* pName, const Samples& s, const Samples& reference, double target)
{
    const double ratio = reference.Median() > 0 ? s.Median() / reference.Median() : 0;
    printf("RESULT %s median_us=%.2f p99_us=%.2f cpu_us=%.2f ref_us=%.2f ratio=%.2f target=%.1f\n", pName,
           s.Median(), s.P99(), s.m_CpuUsPerTrip, reference.Median(), ratio, target);
}

constexpr int64_t SERIAL_3530 = 3530000001;
constexpr int NUM_PORTS_3530 = 12;
constexpr int ROUND_TRIPS_3530 = 5000;
constexpr unsigned int CPU_INTERVAL_MS = 5000;

struct QamFigures {
    int m_Locked = 0;
    double m_CpuPercent = 0.0;
    Samples m_RoundTrip;
};

// Tunes every port of the 3530 to a carrier of the default scenario (frequency, type, annex,
// symbol rate), waits for the locks, then measures.
QamFigures Measure3530()
{
    struct Tuning {
        int64_t m_FreqHz;
        int32_t m_ModType, m_Annex, m_SymbolRateBd;
    };
    const Tuning TUNINGS[NUM_PORTS_3530] = {
        {114000000, 4, 1, 6900000}, {122000000, 5, 1, 6900000}, {306000000, 8, 1, -1},
        {314000000, 6, 1, 6900000}, {322000000, 8, 3, 5360537}, {330000000, 7, 1, 6900000},
        {338000000, 3, 1, 6900000}, {346000000, 6, 3, -1},      {354000000, 6, 2, 5274000},
        {362000000, 6, 1, 6900000}, {370000000, 8, 1, 6900000}, {378000000, 8, 2, 5274000},
    };
    QamFigures figures;
    std::vector<std::unique_ptr<DemodPortClient>> clients;
    for (int port = 0; port < NUM_PORTS_3530; port++) {
        auto client = std::make_unique<DemodPortClient>();
        if (!OpenPortWhenReady(*client, SERIAL_3530, port))
            return figures;
        Kxapi::KxDemodPars pars(TUNINGS[port].m_ModType);
        pars.Qam()->m_Annex = TUNINGS[port].m_Annex;
        pars.Qam()->m_SymRateBd = TUNINGS[port].m_SymbolRateBd;
        client->Svc().Tune(TUNINGS[port].m_FreqHz, pars);
        clients.push_back(std::move(client));
    }
    XpUtil::Sleep(3000);
    for (auto& client : clients) {
        Kxapi::KxStatistic lock(Kxapi::KX_STAT_LOCK);
        bool locked = false;
        if (client->Svc().GetStatistics(&lock, 1) == KXAPI_OK && lock.GetValue(locked) == KXAPI_OK && locked)
            figures.m_Locked++;
    }
    const long long before = ProcessCpuNs(g_Service);
    const double start = NowUs();
    XpUtil::Sleep(static_cast<int>(CPU_INTERVAL_MS));
    figures.m_CpuPercent = 100.0 * static_cast<double>(ProcessCpuNs(g_Service) - before) / ((NowUs() - start) * 1e3);

    // Every statistic the port supports, through command 38, while the twelve ports poll.
    std::vector<Kxapi::KxStatistic> supported;
    clients[0]->Svc().GetSupportedStatistics(64, supported);
    std::wstring xml;
    Kxapi::KxStatistic::ToXml(supported.data(), static_cast<int>(supported.size()), xml);
    const DemodMsg request = Kxapi::DemodBuildGenericReq(38, xml);
    DemodMsg reply;
    for (int i = 0; i < ROUND_TRIPS_3530; i++) {
        const double t0 = NowUs();
        if (clients[0]->Transfer(request, reply) != KXAPI_OK)
            break;
        figures.m_RoundTrip.m_Us.push_back(NowUs() - t0);
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    g_Service = StartBenchService(g_Dir, "DemodRecvPipe");
    if (g_Service < 0)
        return 1;
    g_Request38 = Request38(STATISTIC_IDS);
    g_Request38Other = Request38(OTHER_ORDER_IDS);
    g_Request30 = Kxapi::DemodBuildStatsOldReq(std::vector<int32_t>(STATISTIC_IDS, STATISTIC_IDS + NUM_STATISTICS));
    {
        // Tune the 3460 to its carrier so that the cache holds live readings.
        DemodPortClient client;
        if (OpenPortWhenReady(client, SERIAL_3460, 0)) {
            Kxapi::KxDemodPars pars(15);
            pars.Iq()->m_BandwidthHz = 8000000;
            pars.Iq()->m_SampleRateHz = 9142857;
            client.Svc().Tune(474000000, pars);
            XpUtil::Sleep(1000);
        } else {
            fprintf(stderr, "the 3460's port does not answer; the service benchmarks will be skipped\n");
        }
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The twelve QAM ports busy, the others idle.
    const QamFigures qam = Measure3530();

    StopBenchService(g_Service, g_Dir);

    printf("\nrequest/reply bytes: command 38 %zu/%zu, command 30 %zu/%zu (bodies)\n", g_Request38.size(),
           g_Reply38Size, g_Request30.size(), g_Reply30Size);
    Line("command 38, 10 statistics, repeated request", g_Service38);
    Line("command 38, 10 statistics, every request parsed", g_Service38Parsed);
    Line("raw FIFO ping-pong as 38, blocking", g_Raw38Blocking);
    Line("raw FIFO ping-pong as 38, transport's wait", g_Raw38Transport);
    Line("command 30, 10 statistics", g_Service30);
    Line("raw FIFO ping-pong as 30, blocking", g_Raw30Blocking);
    Line("raw FIFO ping-pong as 30, transport's wait", g_Raw30Transport);
    Line("GetStatistics call, 10 statistics", g_Client38);
    auto ratio = [](const Samples& s, const Samples& raw) { return raw.Median() > 0 ? s.Median() / raw.Median() : 0; };
    printf("ratios of medians (blocking / transport's wait): 38 repeated %.2f / %.2f, 38 parsed %.2f / %.2f,"
           " 30 %.2f / %.2f, GetStatistics %.2f / %.2f\n",
           ratio(g_Service38, g_Raw38Blocking), ratio(g_Service38, g_Raw38Transport),
           ratio(g_Service38Parsed, g_Raw38Blocking), ratio(g_Service38Parsed, g_Raw38Transport),
           ratio(g_Service30, g_Raw30Blocking), ratio(g_Service30, g_Raw30Transport),
           ratio(g_Client38, g_Raw38Blocking), ratio(g_Client38, g_Raw38Transport));
    printf("3530, twelve ports attached and polling (%d locked): service CPU over %.1f s %.2f %%\n", qam.m_Locked,
           CPU_INTERVAL_MS / 1000.0, qam.m_CpuPercent);
    Line("3530 port, command 38 of its 12 statistics", qam.m_RoundTrip);
    Result("cmd30_fixed10", g_Service30, g_Raw30Transport, 1.3);
    Result("cmd38_repeated10", g_Service38, g_Raw38Transport, 1.5);
    Result("cmd38_parsed10", g_Service38Parsed, g_Raw38Transport, 0);
    Result("getstatistics10", g_Client38, g_Raw38Transport, 3.0);
    return 0;
}
