// Round trip of a version request through the service's global FIFO, against a raw FIFO
// ping-pong of the same message sizes between two processes, measured in one run.
//
// Both sides move a 6-byte request (2-byte length header + 4-byte command) and a 26-byte
// reply (header + 24-byte version body). The service path adds everything the service
// really does: framing, the handler thread, command decoding and the reply.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchService.h"
#include "CrossPlatform.h"
#include "PipeMessenger.h"

namespace {

constexpr int REQUEST_SIZE = 6;
constexpr int REPLY_SIZE = 26;

std::string g_Dir;
std::vector<double> g_ServiceUs;
std::vector<double> g_RawUs;

double NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

bool ReadAll(int fd, char* buffer, int length)
{
    for (int done = 0; done < length;) {
        ssize_t n = read(fd, buffer + done, static_cast<size_t>(length - done));
        if (n <= 0)
            return false;
        done += static_cast<int>(n);
    }
    return true;
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1));
    return samples[index];
}

void Report(benchmark::State& state, const std::vector<double>& samples)
{
    state.counters["median_us"] = Percentile(samples, 0.5);
    state.counters["p99_us"] = Percentile(samples, 0.99);
}

void BM_ServiceVersionRoundTrip(benchmark::State& state)
{
    PipeMessenger messenger;
    if (!messenger.Init() || !messenger.Connect("KxGlobalRecvPipe")) {
        state.SkipWithError("cannot connect to the service");
        return;
    }
    char request[4] = {0, 0, 0, 0};
    g_ServiceUs.clear();
    for (auto _ : state) {
        double start = NowUs();
        char* reply = nullptr;
        int size = 0;
        if (!messenger.WriteMsg(request, 4) || !messenger.ReadMsg(reply, size, 5000) || size != REPLY_SIZE - 2) {
            state.SkipWithError("round trip failed");
            break;
        }
        free(reply);
        g_ServiceUs.push_back(NowUs() - start);
    }
    Report(state, g_ServiceUs);
}

void BM_RawFifoPingPong(benchmark::State& state)
{
    std::string toEcho = g_Dir + "/raw_request";
    std::string fromEcho = g_Dir + "/raw_reply";
    mkfifo(toEcho.c_str(), 0600);
    mkfifo(fromEcho.c_str(), 0600);
    pid_t echo = fork();
    if (echo == 0) {
        int in = open(toEcho.c_str(), O_RDONLY);
        int out = open(fromEcho.c_str(), O_WRONLY);
        char request[REQUEST_SIZE];
        char reply[REPLY_SIZE] = {24, 0};
        while (ReadAll(in, request, REQUEST_SIZE))
            if (write(out, reply, REPLY_SIZE) != REPLY_SIZE)
                break;
        _exit(0);
    }
    int out = open(toEcho.c_str(), O_WRONLY);
    int in = open(fromEcho.c_str(), O_RDONLY);
    char request[REQUEST_SIZE] = {4, 0, 0, 0, 0, 0};
    char reply[REPLY_SIZE];
    g_RawUs.clear();
    for (auto _ : state) {
        double start = NowUs();
        if (write(out, request, REQUEST_SIZE) != REQUEST_SIZE || !ReadAll(in, reply, REPLY_SIZE)) {
            state.SkipWithError("ping-pong failed");
            break;
        }
        g_RawUs.push_back(NowUs() - start);
    }
    close(out);
    close(in);
    waitpid(echo, nullptr, 0);
    Report(state, g_RawUs);
}

BENCHMARK(BM_RawFifoPingPong)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_ServiceVersionRoundTrip)->Iterations(20000)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    pid_t service = StartBenchService(g_Dir, "KxGlobalRecvPipe");
    if (service < 0)
        return 1;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    StopBenchService(service, g_Dir);

    double serviceMedian = Percentile(g_ServiceUs, 0.5);
    double rawMedian = Percentile(g_RawUs, 0.5);
    printf("\nversion round trip through the service: median %.1f us, p99 %.1f us\n", serviceMedian,
           Percentile(g_ServiceUs, 0.99));
    printf("raw FIFO ping-pong, same sizes:         median %.1f us, p99 %.1f us\n", rawMedian,
           Percentile(g_RawUs, 0.99));
    if (rawMedian > 0)
        printf("ratio of medians (service / raw): %.2f (target: at most 1.5)\n", serviceMedian / rawMedian);
    return 0;
}
