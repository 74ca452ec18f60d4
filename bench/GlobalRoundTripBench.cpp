// Round trip of a version request through the service's global FIFO, against a raw FIFO
// ping-pong of the same message sizes between two processes, measured in one run.
//
// Both sides move a 6-byte request (2-byte length header + 4-byte command) and a 26-byte
// reply (header + 24-byte version body). The service path adds everything the service
// really does: framing, the handler thread, command decoding and the reply. The raw ping-pong
// runs twice: with blocking FIFOs, and waiting exactly as the service's transport waits.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchService.h"
#include "BenchSupport.h"
#include "CrossPlatform.h"
#include "PipeMessenger.h"

namespace {

constexpr int REQUEST_SIZE = 6;
constexpr int REPLY_SIZE = 26;
constexpr size_t TRIPS = 20000;

std::string g_Dir;
pid_t g_Service = -1;
Samples g_Service_, g_RawBlocking, g_RawTransport;

void Report(benchmark::State& state, const Samples& samples)
{
    state.counters["median_us"] = samples.Median();
    state.counters["p99_us"] = samples.P99();
    state.counters["cpu_us"] = samples.m_CpuUsPerTrip;
}

void BM_ServiceVersionRoundTrip(benchmark::State& state)
{
    PipeMessenger messenger;
    if (!messenger.Init() || !messenger.Connect("KxGlobalRecvPipe")) {
        state.SkipWithError("cannot connect to the service");
        return;
    }
    char request[4] = {0, 0, 0, 0};
    g_Service_.m_Us.clear();
    CpuMeter cpu({getpid(), g_Service});
    for (auto _ : state) {
        double start = NowUs();
        char* reply = nullptr;
        int size = 0;
        if (!messenger.WriteMsg(request, 4) || !messenger.ReadMsg(reply, size, 5000) || size != REPLY_SIZE - 2) {
            state.SkipWithError("round trip failed");
            break;
        }
        free(reply);
        g_Service_.m_Us.push_back(NowUs() - start);
    }
    g_Service_.m_CpuUsPerTrip = cpu.UsPer(g_Service_.m_Us.size());
    Report(state, g_Service_);
}

void RawLoop(benchmark::State& state, RawWait wait, const char* pTag, Samples& samples)
{
    for (auto _ : state)
        if (!RunRawPingPong(g_Dir, pTag, REQUEST_SIZE, REPLY_SIZE, wait, TRIPS, samples))
            state.SkipWithError("ping-pong failed");
    Report(state, samples);
}

void BM_RawFifoPingPong_Blocking(benchmark::State& state)
{
    RawLoop(state, RawWait::BLOCKING, "blocking", g_RawBlocking);
}

void BM_RawFifoPingPong_TransportWait(benchmark::State& state)
{
    RawLoop(state, RawWait::TRANSPORT, "transport", g_RawTransport);
}

BENCHMARK(BM_RawFifoPingPong_Blocking)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RawFifoPingPong_TransportWait)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ServiceVersionRoundTrip)->Iterations(TRIPS)->UseRealTime();

void Line(const char* pWhat, const Samples& s)
{
    printf("%-44s median %6.1f us, p99 %6.1f us, CPU %6.1f us per round trip\n", pWhat, s.Median(), s.P99(),
           s.m_CpuUsPerTrip);
}

} // namespace

int main(int argc, char** argv)
{
    g_Service = StartBenchService(g_Dir, "KxGlobalRecvPipe");
    if (g_Service < 0)
        return 1;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    StopBenchService(g_Service, g_Dir);

    printf("\n");
    Line("version round trip through the service:", g_Service_);
    Line("raw FIFO ping-pong, blocking:", g_RawBlocking);
    Line("raw FIFO ping-pong, transport's wait:", g_RawTransport);
    if (g_RawBlocking.Median() > 0 && g_RawTransport.Median() > 0)
        printf("ratio of medians (service / raw): %.2f to the blocking ping-pong, %.2f to the transport's wait"
               " (target: at most 1.5)\n",
               g_Service_.Median() / g_RawBlocking.Median(), g_Service_.Median() / g_RawTransport.Median());
    printf("RESULT global_version median_us=%.2f p99_us=%.2f ref_us=%.2f ratio=%.2f target=1.5\n", g_Service_.Median(),
           g_Service_.P99(), g_RawTransport.Median(),
           g_RawTransport.Median() > 0 ? g_Service_.Median() / g_RawTransport.Median() : 0);
    return 0;
}
