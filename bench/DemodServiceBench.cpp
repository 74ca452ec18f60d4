// Cached statistics reads through the demod service, against a raw FIFO ping-pong of the same
// request and reply sizes, measured in one run; and the service's CPU use with every virtual
// port idle and with every port attached and polling.
//
// The service path is a demod port client attached to the virtual 3460 (serial 3460000001,
// port index 0) of KxapiServiceSim: command 38 (generic, ten "kxstat" elements) and command
// 30 (fixed layout, ten ids). Both are answered from the port's statistics cache; the ping-pong
// moves the same byte counts between two processes with nothing in between.
//
// The twelve-port QAM card (3530000001): every port attached and tuned to a carrier of its own,
// locked and polling; the service's CPU use with only these twelve ports busy, and the round trip
// of a command 38 with the port's twelve statistics while they poll.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "BenchService.h"
#include "CrossPlatform.h"
#include "DemodPars.h"
#include "DemodPortClient.h"
#include "DemodSvcGeneric.h"
#include "KxStatistic.h"
#include "PipeMessenger.h"
#include "SimControlProtocol.h"
#include "SimScenario.h"
#include "XpUtil.h"

namespace {

using Kxapi::DemodMsg;
using Kxapi::DemodPortClient;

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int NUM_STATISTICS = 10;
constexpr unsigned int CPU_INTERVAL_MS = 5000;
// Lock, RfLvlUncalib and TempTuner (the 3460's statistics), repeated to ten.
const int32_t STATISTIC_IDS[NUM_STATISTICS] = {512, 7, 9, 512, 7, 9, 512, 7, 9, 512};

std::string g_Dir;
pid_t g_Service = -1;
DemodMsg g_Request38, g_Request30;
size_t g_Reply38Size = 0, g_Reply30Size = 0;

struct Samples {
    std::vector<double> m_Us;
};
Samples g_Service38, g_Service30, g_Raw38, g_Raw30, g_Client38;

double NowUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

void Report(benchmark::State& state, const Samples& samples)
{
    state.counters["median_us"] = Percentile(samples.m_Us, 0.5);
    state.counters["p99_us"] = Percentile(samples.m_Us, 0.99);
}

bool ReadAll(int fd, char* buffer, size_t length)
{
    for (size_t done = 0; done < length;) {
        ssize_t n = read(fd, buffer + done, length - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The framed size of a body (2-byte length below 65535 bytes).
size_t Framed(size_t body)
{
    return body + (body <= 65534 ? 2 : 8);
}

// Opens the 3460's port once the service holds it.
bool OpenPort(DemodPortClient& client, int64_t serial, int32_t port)
{
    for (int attempt = 0; attempt < 200; attempt++) {
        KXAPI_RESULT result = client.Init(serial, port);
        if (result == KXAPI_OK)
            return true;
        if (result != KXAPI_E_NO_SUCH_DEVICE && result != KXAPI_E_CONNECT_TO_SERVICE)
            return false;
        XpUtil::Sleep(100);
    }
    return false;
}

void BuildRequests()
{
    std::vector<Kxapi::KxStatistic> stats;
    for (int32_t id : STATISTIC_IDS)
        stats.emplace_back(id);
    std::wstring xml;
    Kxapi::KxStatistic::ToXml(stats.data(), NUM_STATISTICS, xml);
    g_Request38 = Kxapi::DemodBuildGenericReq(38, xml);
    g_Request30 = Kxapi::DemodBuildStatsOldReq(std::vector<int32_t>(STATISTIC_IDS, STATISTIC_IDS + NUM_STATISTICS));
}

void ServiceLoop(benchmark::State& state, const DemodMsg& request, size_t& replySize, Samples& samples)
{
    DemodPortClient client;
    if (!OpenPort(client, SERIAL_3460, 0)) {
        state.SkipWithError("cannot attach to the 3460's port");
        return;
    }
    samples.m_Us.clear();
    DemodMsg reply;
    for (auto _ : state) {
        double start = NowUs();
        if (client.Transfer(request, reply) != KXAPI_OK || reply.size() < 8) {
            state.SkipWithError("exchange failed");
            break;
        }
        samples.m_Us.push_back(NowUs() - start);
    }
    replySize = reply.size();
    Report(state, samples);
}

void BM_Service_Stats38_Generic10(benchmark::State& state)
{
    ServiceLoop(state, g_Request38, g_Reply38Size, g_Service38);
}

void BM_Service_Stats30_Fixed10(benchmark::State& state)
{
    ServiceLoop(state, g_Request30, g_Reply30Size, g_Service30);
}

// The whole client call: XML encoding, the exchange, the reply's parsing.
void BM_Client_GetStatistics10(benchmark::State& state)
{
    DemodPortClient client;
    if (!OpenPort(client, SERIAL_3460, 0)) {
        state.SkipWithError("cannot attach to the 3460's port");
        return;
    }
    std::vector<Kxapi::KxStatistic> stats;
    g_Client38.m_Us.clear();
    for (auto _ : state) {
        stats.clear();
        for (int32_t id : STATISTIC_IDS)
            stats.emplace_back(id);
        double start = NowUs();
        if (client.Svc().GetStatistics(stats.data(), NUM_STATISTICS) != KXAPI_OK) {
            state.SkipWithError("GetStatistics failed");
            break;
        }
        g_Client38.m_Us.push_back(NowUs() - start);
    }
    Report(state, g_Client38);
}

// A second process echoes fixed-size replies to fixed-size requests over two FIFOs.
void RawPingPong(benchmark::State& state, size_t requestSize, size_t replySize, const char* pTag, Samples& samples)
{
    if (replySize == 0) {
        state.SkipWithError("the service benchmark did not run first");
        return;
    }
    std::string toEcho = g_Dir + "/raw_request_" + pTag;
    std::string fromEcho = g_Dir + "/raw_reply_" + pTag;
    mkfifo(toEcho.c_str(), 0600);
    mkfifo(fromEcho.c_str(), 0600);
    pid_t echo = fork();
    if (echo == 0) {
        int in = open(toEcho.c_str(), O_RDONLY);
        int out = open(fromEcho.c_str(), O_WRONLY);
        std::vector<char> request(requestSize), reply(replySize, 0);
        while (ReadAll(in, request.data(), requestSize))
            if (write(out, reply.data(), replySize) != static_cast<ssize_t>(replySize))
                break;
        _exit(0);
    }
    int out = open(toEcho.c_str(), O_WRONLY);
    int in = open(fromEcho.c_str(), O_RDONLY);
    std::vector<char> request(requestSize, 1), reply(replySize);
    samples.m_Us.clear();
    for (auto _ : state) {
        double start = NowUs();
        if (write(out, request.data(), requestSize) != static_cast<ssize_t>(requestSize) ||
            !ReadAll(in, reply.data(), replySize)) {
            state.SkipWithError("ping-pong failed");
            break;
        }
        samples.m_Us.push_back(NowUs() - start);
    }
    close(out);
    close(in);
    waitpid(echo, nullptr, 0);
    Report(state, samples);
}

void BM_RawFifo_SameSizesAs38(benchmark::State& state)
{
    RawPingPong(state, Framed(g_Request38.size()), Framed(g_Reply38Size), "38", g_Raw38);
}

void BM_RawFifo_SameSizesAs30(benchmark::State& state)
{
    RawPingPong(state, Framed(g_Request30.size()), Framed(g_Reply30Size), "30", g_Raw30);
}

BENCHMARK(BM_Service_Stats38_Generic10)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_RawFifo_SameSizesAs38)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_Service_Stats30_Fixed10)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_RawFifo_SameSizesAs30)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_Client_GetStatistics10)->Iterations(5000)->UseRealTime();

// User plus system CPU time of a process, in clock ticks.
long long CpuTicks(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* pFile = fopen(path.c_str(), "r");
    if (pFile == nullptr)
        return -1;
    char buffer[1024] = {};
    size_t n = fread(buffer, 1, sizeof(buffer) - 1, pFile);
    fclose(pFile);
    buffer[n] = '\0';
    // Fields after the parenthesised command name: state is field 3, utime 14, stime 15.
    const char* pAfter = strrchr(buffer, ')');
    if (pAfter == nullptr)
        return -1;
    std::istringstream fields(pAfter + 2);
    std::string field;
    long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; index++) {
        if (index == 14)
            utime = atoll(field.c_str());
        if (index == 15) {
            stime = atoll(field.c_str());
            break;
        }
    }
    return utime + stime;
}

// Percent of one CPU the service used over the interval.
double CpuPercent(pid_t pid, unsigned int intervalMs)
{
    long long before = CpuTicks(pid);
    double start = NowUs();
    XpUtil::Sleep(static_cast<int>(intervalMs));
    long long after = CpuTicks(pid);
    double seconds = (NowUs() - start) / 1e6;
    if (before < 0 || after < 0 || seconds <= 0)
        return -1;
    return 100.0 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
}

// The default scenario's cards plus this many more 3460s, so that the CPU figure covers many
// polling ports (the 3460 is the receiver whose hardware layer this build has).
constexpr int EXTRA_3460_CARDS = 15;

void PlugExtra3460Cards()
{
    SimControlClient simulator;
    for (int i = 0; i < EXTRA_3460_CARDS; i++) {
        char json[768];
        snprintf(json, sizeof(json),
                 "{\"model\": 3460, \"serial\": %lld, \"properties\": ["
                 "{\"name\": \"MOD_FREQ_MIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_MAX\", \"value\": 870},"
                 "{\"name\": \"MOD_FREQ_ABSMIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_ABSMAX\", \"value\": 870}],"
                 "\"inputs\": [[{\"freqHz\": 474000000, \"standard\": \"DVB-T\", \"constellation\": 64,"
                 "\"bandwidthHz\": 7610000, \"levelDbm\": -50.0, \"cnDb\": 26.0}]]}",
                 static_cast<long long>(SERIAL_3460 + 100 + i));
        if (simulator.Plug(json) != KXAPI_OK)
            fprintf(stderr, "could not plug an extra 3460\n");
    }
}

// Attaches one client to every port of every card the simulator holds; the clients stay open.
int AttachEveryPort(std::vector<std::unique_ptr<DemodPortClient>>& clients, int& refused)
{
    SimControlClient simulator;
    std::string text;
    refused = 0;
    if (simulator.List(text) != KXAPI_OK)
        return 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        int model = 0, subType = 0;
        long long serial = 0;
        if (sscanf(line.c_str(), "%d %d %lld", &model, &subType, &serial) != 3)
            continue;
        KxDriverFamily family;
        int ports = 0;
        if (!SimModelInfo(model, subType, family, ports))
            continue;
        for (int port = 0; port < ports; port++) {
            auto client = std::make_unique<DemodPortClient>();
            if (client->Init(serial, port) == KXAPI_OK)
                clients.push_back(std::move(client));
            else
                refused++; // a model whose receiver is not available in this build
        }
    }
    return static_cast<int>(clients.size());
}

constexpr int64_t SERIAL_3530 = 3530000001;
constexpr int NUM_PORTS_3530 = 12;
constexpr int ROUND_TRIPS_3530 = 5000;

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
        if (!OpenPort(*client, SERIAL_3530, port))
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
    figures.m_CpuPercent = CpuPercent(g_Service, CPU_INTERVAL_MS);

    // Every statistic the port supports, through command 38, while the twelve ports poll.
    std::vector<Kxapi::KxStatistic> supported;
    clients[0]->Svc().GetSupportedStatistics(64, supported);
    std::wstring xml;
    Kxapi::KxStatistic::ToXml(supported.data(), static_cast<int>(supported.size()), xml);
    const DemodMsg request = Kxapi::DemodBuildGenericReq(38, xml);
    DemodMsg reply;
    for (int i = 0; i < ROUND_TRIPS_3530; i++) {
        const double start = NowUs();
        if (clients[0]->Transfer(request, reply) != KXAPI_OK)
            break;
        figures.m_RoundTrip.m_Us.push_back(NowUs() - start);
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    g_Service = StartBenchService(g_Dir, "DemodRecvPipe");
    if (g_Service < 0)
        return 1;
    BuildRequests();
    {
        // Tune the 3460 to its carrier so that the cache holds live readings.
        DemodPortClient client;
        if (OpenPort(client, SERIAL_3460, 0)) {
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
    XpUtil::Sleep(500);

    // CPU use of the service: every port idle (no client), then every port attached.
    PlugExtra3460Cards();
    XpUtil::Sleep(2000);
    double idlePercent = CpuPercent(g_Service, CPU_INTERVAL_MS);
    std::vector<std::unique_ptr<DemodPortClient>> clients;
    int refused = 0;
    int attached = AttachEveryPort(clients, refused);
    XpUtil::Sleep(500);
    double busyPercent = CpuPercent(g_Service, CPU_INTERVAL_MS);
    clients.clear();

    StopBenchService(g_Service, g_Dir);

    auto line = [](const char* pWhat, const Samples& s) {
        printf("%-46s median %7.1f us, p99 %7.1f us\n", pWhat, Percentile(s.m_Us, 0.5), Percentile(s.m_Us, 0.99));
    };
    auto ratio = [](const char* pWhat, const Samples& service, const Samples& raw) {
        double rawMedian = Percentile(raw.m_Us, 0.5);
        if (rawMedian > 0)
            printf("ratio of medians %-29s %.2f\n", pWhat, Percentile(service.m_Us, 0.5) / rawMedian);
    };
    printf("\nrequest/reply bytes: command 38 %zu/%zu, command 30 %zu/%zu (bodies)\n", g_Request38.size(),
           g_Reply38Size, g_Request30.size(), g_Reply30Size);
    line("command 38, 10 statistics, through the service", g_Service38);
    line("raw FIFO ping-pong, same sizes", g_Raw38);
    line("command 30, 10 statistics, through the service", g_Service30);
    line("raw FIFO ping-pong, same sizes", g_Raw30);
    line("GetStatistics call (XML both ways + exchange)", g_Client38);
    ratio("(38: service / raw):", g_Service38, g_Raw38);
    ratio("(30: service / raw):", g_Service30, g_Raw30);
    printf("service CPU over %.1f s: %.2f %% with every port idle, %.2f %% with %d ports attached and polling"
           " (%d ports refused)\n",
           CPU_INTERVAL_MS / 1000.0, idlePercent, busyPercent, attached, refused);
    printf("3530, twelve ports attached and polling (%d locked): service CPU over %.1f s %.2f %%\n", qam.m_Locked,
           CPU_INTERVAL_MS / 1000.0, qam.m_CpuPercent);
    line("3530 port, command 38 of its 12 statistics", qam.m_RoundTrip);
    return 0;
}
