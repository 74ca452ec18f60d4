// The demod service under load and at rest, through KxapiServiceSim on the default scenario:
//
//  1. idle: every port of the scenario created, no client; the service's CPU over
//     KX_BENCH_IDLE_S seconds (default 30), per thread;
//  2. polling: a client on every port reading ten statistics every 100 ms, same interval;
//  3. scale: statistics-read latency (command 38, ten statistics, closed loop) with 1, 8 and
//     64 concurrent clients on one port and spread over different ports (more virtual 3460s
//     are plugged for them), beside raw FIFO ping-pongs of the same sizes with 1 and 64 pairs;
//     the cases take turns of one second (KX_BENCH_SCALE_S turns each). Then the service's CPU
//     with 1, 16 and all ports polling.
//
// The simulator's own work is not the service's: its control-FIFO server threads (named
// after KxSimCtrlPipe) are left out, and so is the time the virtual cards' models take inside
// the driver-node requests of the service's threads (the simulator measures it with each
// thread's CPU clock around every request; what the two clock reads cost stays on the
// service's side). Everything else the process runs is counted, the hot-plug watcher
// ("DeviceHotplug", which sleeps on the virtual cards' hot-plug source as on a driver node)
// included. Beside the CPU, the idle figure counts the service's wake-ups: the times the
// scheduler switched one of its threads out, per second.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchService.h"
#include "BenchSupport.h"
#include "CrossPlatform.h"
#include "DemodPortClient.h"
#include "DemodSvcGeneric.h"
#include "KxStatistic.h"
#include "SimControlProtocol.h"
#include "SimScenario.h"
#include "XpUtil.h"

namespace {

using Kxapi::DemodMsg;
using Kxapi::DemodPortClient;

constexpr int64_t SERIAL_3460 = 3460000001;
constexpr int NUM_STATISTICS = 10;
const int32_t STATISTIC_IDS[NUM_STATISTICS] = {512, 7, 9, 512, 7, 9, 512, 7, 9, 512};
constexpr int MAX_EXTRA_3460 = 63;
constexpr unsigned int POLL_MS = 100;

pid_t g_Service = -1;
std::string g_Dir;

unsigned int Seconds(const char* pVariable, unsigned int fallback)
{
    const char* pText = getenv(pVariable);
    return pText != nullptr && atoi(pText) > 0 ? static_cast<unsigned int>(atoi(pText)) : fallback;
}

bool SimulatorThread(const std::string& name)
{
    return name.rfind("A:KxSimCtrl", 0) == 0 || name.rfind("R:KxSimCtrl", 0) == 0 ||
           name.rfind("C:KxSimCtrl", 0) == 0;
}

struct CpuShare {
    double m_ServicePercent = 0;
    double m_SimulatorPercent = 0;    // the simulator's threads
    double m_VirtualCardsPercent = 0; // the virtual cards' models inside the service's threads
    double m_ServiceWakeupsPerS = 0;
    std::map<std::string, double> m_ByThread;        // percent of one core
    std::map<std::string, double> m_WakeupsByThread; // per second
};

// The service's CPU over the interval, split as described at the top.
CpuShare MeasureCpu(unsigned int seconds)
{
    SimControlClient simulator;
    uint64_t cardsNsBefore = 0, cardsNsAfter = 0, requests = 0;
    const bool cardsCounted = simulator.Usage(cardsNsBefore, requests) == KXAPI_OK;
    const auto before = CpuNsByThreadName(g_Service);
    const auto switchesBefore = SwitchesByThreadName(g_Service);
    const double start = NowUs();
    XpUtil::Sleep(static_cast<int>(seconds * 1000));
    const auto after = CpuNsByThreadName(g_Service);
    const auto switchesAfter = SwitchesByThreadName(g_Service);
    const double wallNs = (NowUs() - start) * 1e3;
    if (!cardsCounted || simulator.Usage(cardsNsAfter, requests) != KXAPI_OK)
        fprintf(stderr, "the simulator does not report its virtual cards' time: counted as the service's\n");
    CpuShare share;
    share.m_VirtualCardsPercent =
        cardsNsAfter > cardsNsBefore ? 100.0 * static_cast<double>(cardsNsAfter - cardsNsBefore) / wallNs : 0;
    for (const auto& entry : after) {
        auto old = before.find(entry.first);
        const long long used = entry.second - (old != before.end() ? old->second : 0);
        const double percent = 100.0 * static_cast<double>(used) / wallNs;
        share.m_ByThread[entry.first] = percent;
        if (SimulatorThread(entry.first))
            share.m_SimulatorPercent += percent;
        else
            share.m_ServicePercent += percent;
    }
    share.m_ServicePercent -= share.m_VirtualCardsPercent;
    for (const auto& entry : switchesAfter) {
        auto old = switchesBefore.find(entry.first);
        const double perS = static_cast<double>(entry.second - (old != switchesBefore.end() ? old->second : 0)) /
                            (wallNs / 1e9);
        share.m_WakeupsByThread[entry.first] = perS;
        if (!SimulatorThread(entry.first))
            share.m_ServiceWakeupsPerS += perS;
    }
    return share;
}

void PrintShare(const char* pWhat, const CpuShare& share)
{
    printf("%s: service %.3f %% of one core, %.1f wake-ups a second (left out: simulator threads %.3f %%,"
           " virtual cards in the service's threads %.3f %%)\n",
           pWhat, share.m_ServicePercent, share.m_ServiceWakeupsPerS, share.m_SimulatorPercent,
           share.m_VirtualCardsPercent);
    printf("  by thread (the virtual cards' time in it included):\n");
    for (const auto& entry : share.m_ByThread) {
        auto wakeups = share.m_WakeupsByThread.find(entry.first);
        const double perS = wakeups != share.m_WakeupsByThread.end() ? wakeups->second : 0;
        if (entry.second >= 0.005 || perS >= 0.5)
            printf("    %-16s %.3f %%, %.1f wake-ups/s\n", entry.first.c_str(), entry.second, perS);
    }
}

struct PortId {
    int64_t m_Serial;
    int32_t m_Port;
};

// Every port of every card the simulator holds that accepts a client (models whose receiver
// this build lacks refuse).
std::vector<PortId> UsablePorts(int only3460 = false)
{
    std::vector<PortId> ports;
    SimControlClient simulator;
    std::string text;
    if (simulator.List(text) != KXAPI_OK)
        return ports;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        int model = 0, subType = 0;
        long long serial = 0;
        if (sscanf(line.c_str(), "%d %d %lld", &model, &subType, &serial) != 3)
            continue;
        KxDriverFamily family;
        int count = 0;
        if ((only3460 && model != 3460) || !SimModelInfo(model, subType, family, count))
            continue;
        for (int port = 0; port < count; port++) {
            DemodPortClient probe;
            if (probe.Init(serial, port) == KXAPI_OK)
                ports.push_back({serial, port});
        }
    }
    return ports;
}

int PlugExtra3460Cards(int count)
{
    SimControlClient simulator;
    int plugged = 0;
    for (int i = 0; i < count; i++) {
        char json[768];
        snprintf(json, sizeof(json),
                 "{\"model\": 3460, \"serial\": %lld, \"properties\": ["
                 "{\"name\": \"MOD_FREQ_MIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_MAX\", \"value\": 870},"
                 "{\"name\": \"MOD_FREQ_ABSMIN\", \"value\": 42}, {\"name\": \"MOD_FREQ_ABSMAX\", \"value\": 870}],"
                 "\"inputs\": [[{\"freqHz\": 474000000, \"standard\": \"DVB-T\", \"constellation\": 64,"
                 "\"bandwidthHz\": 7610000, \"levelDbm\": -50.0, \"cnDb\": 26.0}]]}",
                 static_cast<long long>(SERIAL_3460 + 100 + i));
        if (simulator.Plug(json) != KXAPI_OK)
            break; // the rack is full
        plugged++;
    }
    return plugged;
}

// Clients that each read ten statistics every 100 ms until stopped.
class Pollers {
public:
    explicit Pollers(const std::vector<PortId>& ports)
    {
        for (const PortId& port : ports) {
            auto client = std::make_unique<DemodPortClient>();
            if (OpenPortWhenReady(*client, port.m_Serial, port.m_Port, 100))
                m_Clients.push_back(std::move(client));
        }
        for (auto& client : m_Clients)
            m_Threads.emplace_back([this, pClient = client.get()] {
                std::vector<Kxapi::KxStatistic> stats;
                while (!m_Stop.load()) {
                    stats.clear();
                    for (int32_t id : STATISTIC_IDS)
                        stats.emplace_back(id);
                    pClient->Svc().GetStatistics(stats.data(), NUM_STATISTICS);
                    XpUtil::Sleep(POLL_MS);
                }
            });
    }
    ~Pollers()
    {
        m_Stop = true;
        for (std::thread& thread : m_Threads)
            thread.join();
    }
    size_t Count() const { return m_Clients.size(); }

private:
    std::atomic<bool> m_Stop{false};
    std::vector<std::unique_ptr<DemodPortClient>> m_Clients;
    std::vector<std::thread> m_Threads;
};

DemodMsg StatisticsRequest()
{
    std::vector<Kxapi::KxStatistic> stats;
    for (int32_t id : STATISTIC_IDS)
        stats.emplace_back(id);
    std::wstring xml;
    Kxapi::KxStatistic::ToXml(stats.data(), NUM_STATISTICS, xml);
    return Kxapi::DemodBuildGenericReq(38, xml);
}

// One closed-loop client: the round trip it repeats (false ends it).
using RoundTrip = std::function<bool()>;

// What the clients of one case and their peer (the service, or the raw echo) spent.
struct CaseCpu {
    long long m_ClientsNs = 0;
    long long m_PeerNs = 0;
};

// Every client repeats its round trip as soon as the previous one ended, all at once, for
// `ms`; every latency is added to `samples`, the CPU of this process and of `peer` to `cpu`.
void ClosedLoop(const std::vector<RoundTrip>& clients, unsigned int ms, pid_t peer, Samples& samples, CaseCpu& cpu)
{
    const long long clientsBefore = ProcessCpuNs(getpid());
    const long long peerBefore = ProcessCpuNs(peer);
    std::atomic<bool> go{false}, stop{false};
    std::vector<std::vector<double>> latencies(clients.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < clients.size(); i++)
        threads.emplace_back([&, i] {
            latencies[i].reserve(1 << 16);
            while (!go.load())
                std::this_thread::yield();
            while (!stop.load()) {
                const double start = NowUs();
                if (!clients[i]())
                    break;
                latencies[i].push_back(NowUs() - start);
            }
        });
    go = true;
    XpUtil::Sleep(static_cast<int>(ms));
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    cpu.m_ClientsNs += ProcessCpuNs(getpid()) - clientsBefore;
    cpu.m_PeerNs += ProcessCpuNs(peer) - peerBefore;
    for (const auto& list : latencies)
        samples.m_Us.insert(samples.m_Us.end(), list.begin(), list.end());
}

// `count` statistics readers (command 38, ten statistics), spread over `ports` in turn.
class StatisticsReaders {
public:
    StatisticsReaders(const std::vector<PortId>& ports, int count, const DemodMsg& request)
    {
        for (int i = 0; i < count; i++) {
            auto client = std::make_unique<DemodPortClient>();
            const PortId& port = ports[static_cast<size_t>(i) % ports.size()];
            if (!OpenPortWhenReady(*client, port.m_Serial, port.m_Port, 100))
                continue;
            DemodPortClient* pClient = client.get();
            m_Clients.push_back(std::move(client));
            m_Replies.push_back(std::make_unique<DemodMsg>());
            DemodMsg* pReply = m_Replies.back().get();
            m_Trips.push_back([pClient, pReply, &request] { return pClient->Transfer(request, *pReply) == KXAPI_OK; });
        }
    }
    const std::vector<RoundTrip>& Trips() const { return m_Trips; }

private:
    std::vector<std::unique_ptr<DemodPortClient>> m_Clients;
    std::vector<std::unique_ptr<DemodMsg>> m_Replies;
    std::vector<RoundTrip> m_Trips;
};

// `count` raw FIFO ping-pongs of the statistics read's framed sizes at once, answered by one
// echo process with a thread for each pair (RawWait::TRANSPORT, as the service serves its
// connections) or with one thread for all (RawWait::ONE_THREAD), waiting as the transport waits.
class RawPairs {
public:
    RawPairs(int count, size_t requestSize, size_t replySize, RawWait wait)
        : m_Echo(g_Dir, ("scale" + std::to_string(count) + (wait == RawWait::ONE_THREAD ? "e" : "")).c_str(),
                 requestSize, replySize, wait, static_cast<size_t>(count))
    {
        for (size_t i = 0; i < static_cast<size_t>(count); i++)
            m_Trips.push_back([this, i] { return m_Echo.RoundTrip(i); });
    }
    const std::vector<RoundTrip>& Trips() const { return m_Trips; }
    pid_t Pid() const { return m_Echo.Pid(); }

private:
    RawEcho m_Echo;
    std::vector<RoundTrip> m_Trips;
};

int Processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 1;
}

} // namespace

int main()
{
    g_Service = StartBenchService(g_Dir, "DemodRecvPipe");
    if (g_Service < 0)
        return 1;
    const unsigned int measureS = Seconds("KX_BENCH_IDLE_S", 30);
    const unsigned int scaleS = Seconds("KX_BENCH_SCALE_S", 3);
    {
        DemodPortClient first;
        if (!OpenPortWhenReady(first, SERIAL_3460, 0, 100)) {
            fprintf(stderr, "the 3460's port does not answer\n");
            StopBenchService(g_Service, g_Dir);
            return 1;
        }
    }
    const std::vector<PortId> scenarioPorts = UsablePorts();
    XpUtil::Sleep(1000); // the probes' detaches have reached every port

    // KX_BENCH_SCALE_ONLY=1 skips the idle and polling figures (for profiling the scale runs).
    const bool scaleOnly = getenv("KX_BENCH_SCALE_ONLY") != nullptr;
    const CpuShare idle = scaleOnly ? CpuShare() : MeasureCpu(measureS);
    printf("\n%zu usable ports in the default scenario\n", scenarioPorts.size());
    PrintShare("every port idle, no client", idle);
    printf("RESULT idle_cpu_percent value=%.3f target=0.3\n", idle.m_ServicePercent);
    printf("RESULT idle_wakeups_per_s value=%.1f target=0\n", idle.m_ServiceWakeupsPerS);

    CpuShare polling;
    {
        Pollers pollers(scaleOnly ? std::vector<PortId>() : scenarioPorts);
        XpUtil::Sleep(500);
        polling = scaleOnly ? CpuShare() : MeasureCpu(measureS);
        PrintShare("every port attached, polled every 100 ms", polling);
    }
    printf("RESULT polling_cpu_percent value=%.3f target=3.0\n", polling.m_ServicePercent);

    const int extra = PlugExtra3460Cards(MAX_EXTRA_3460);
    XpUtil::Sleep(2000);
    const std::vector<PortId> ports3460 = UsablePorts(true);
    printf("\nscale: %d more virtual 3460s plugged, %zu 3460 ports, %d processor(s) for the service and the"
           " clients\n",
           extra, ports3460.size(), Processors());
    // Every case runs in turns of one second, the turns of all cases interleaved, so that a
    // change in the machine's speed during the run weighs on every case alike. The raw
    // ping-pongs (one pair, 64 pairs) show what the kernel's FIFOs and scheduler alone give
    // with the same sizes, waits and pinning.
    const std::vector<PortId> onePort{{SERIAL_3460, 0}};
    const DemodMsg request = StatisticsRequest();
    size_t replySize = 0;
    {
        DemodPortClient probe;
        DemodMsg reply;
        if (OpenPortWhenReady(probe, SERIAL_3460, 0, 100) && probe.Transfer(request, reply) == KXAPI_OK)
            replySize = reply.size();
    }
    struct Case {
        const char* m_pName;
        int m_Clients;
        bool m_Spread;
        bool m_Raw;
        std::vector<RoundTrip> m_Trips;
        pid_t m_Peer;
        Samples m_Samples;
        CaseCpu m_Cpu;
    };
    // KX_BENCH_SCALE_CLIENTS=64 runs only the single client and the 64 (for profiling them).
    const bool only64 = getenv("KX_BENCH_SCALE_CLIENTS") != nullptr && atoi(getenv("KX_BENCH_SCALE_CLIENTS")) == 64;
    std::vector<std::unique_ptr<StatisticsReaders>> readers;
    std::vector<std::unique_ptr<RawPairs>> raws;
    std::vector<Case> cases;
    // The echo processes are forked before the readers' connections exist.
    for (int pairs : {1, 64}) {
        raws.push_back(
            std::make_unique<RawPairs>(pairs, FramedSize(request.size()), FramedSize(replySize), RawWait::TRANSPORT));
        cases.push_back({"", pairs, false, true, raws.back()->Trips(), raws.back()->Pid(), {}, {}});
    }
    // The same with one echo thread for all pairs: what the kernel gives a server that does not
    // run a thread for each client.
    raws.push_back(std::make_unique<RawPairs>(64, FramedSize(request.size()), FramedSize(replySize), RawWait::ONE_THREAD));
    cases.push_back({", one echo thread", 64, false, true, raws.back()->Trips(), raws.back()->Pid(), {}, {}});
    for (int clients : {1, 8, 64}) {
        for (bool spread : {false, true}) {
            if ((clients == 1 && spread) || (only64 && clients == 8))
                continue;
            readers.push_back(std::make_unique<StatisticsReaders>(spread ? ports3460 : onePort, clients, request));
            cases.push_back({spread ? "different ports" : "one port", clients, spread, false, readers.back()->Trips(),
                             g_Service, {}, {}});
        }
    }
    for (unsigned int turn = 0; turn < scaleS; turn++)
        for (Case& c : cases)
            ClosedLoop(c.m_Trips, 1000, c.m_Peer, c.m_Samples, c.m_Cpu);

    double singleP99 = 0, rawSingleP99 = 0, raw64P99 = 0;
    for (const Case& c : cases) {
        if (c.m_Clients == 1)
            (c.m_Raw ? rawSingleP99 : singleP99) = c.m_Samples.P99();
        if (c.m_Raw && c.m_Clients == 64 && *c.m_pName == '\0')
            raw64P99 = c.m_Samples.P99();
    }
    for (const Case& c : cases) {
        const Samples& s = c.m_Samples;
        const double perCore = (c.m_Raw ? rawSingleP99 : singleP99) * c.m_Clients / Processors();
        const double ratio = perCore > 0 ? s.P99() / perCore : 0;
        const std::string label =
            std::to_string(c.m_Clients) + (c.m_Raw ? " raw FIFO pair(s)" : " client(s), ") + c.m_pName;
        const double trips = s.m_Us.empty() ? 1.0 : static_cast<double>(s.m_Us.size());
        printf("%-38s %7zu round trips, median %8.1f us, p99 %8.1f us (p99 / (single p99 x clients per core) %.2f);"
               " CPU a trip: clients %.2f us, %s %.2f us\n",
               label.c_str(), s.m_Us.size(), s.Median(), s.P99(), ratio, c.m_Cpu.m_ClientsNs / 1e3 / trips,
               c.m_Raw ? "echo" : "service", c.m_Cpu.m_PeerNs / 1e3 / trips);
        if (c.m_Clients == 64 && !c.m_Raw)
            printf("RESULT scale64_%s median_us=%.2f p99_us=%.2f ref_us=%.2f ratio=%.2f target=2.0 raw64_p99_us=%.2f\n",
                   c.m_Spread ? "ports" : "oneport", s.Median(), s.P99(), perCore, ratio, raw64P99);
        if (c.m_Clients == 64 && c.m_Raw)
            printf("RESULT scale64_raw%s median_us=%.2f p99_us=%.2f ref_us=%.2f ratio=%.2f\n",
                   *c.m_pName == '\0' ? "" : "_onethread", s.Median(), s.P99(), perCore, ratio);
    }
    readers.clear();
    raws.clear();

    for (size_t count : {size_t(1), size_t(16), ports3460.size()}) {
        std::vector<PortId> some(ports3460.begin(), ports3460.begin() + std::min(count, ports3460.size()));
        Pollers pollers(some);
        XpUtil::Sleep(500);
        const CpuShare share = MeasureCpu(scaleS * 2);
        printf("%3zu ports polled every 100 ms: service %.3f %% of one core (%.4f %% per port)\n", pollers.Count(),
               share.m_ServicePercent, pollers.Count() > 0 ? share.m_ServicePercent / pollers.Count() : 0);
    }

    StopBenchService(g_Service, g_Dir);
    return 0;
}
