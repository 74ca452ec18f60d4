// Start-up: the time from exec of KxapiServiceSim to all three service FIFOs (demod, network
// devices, global) answering a version request, median and worst of KX_BENCH_STARTS runs
// (default 10).
//
// The virtual cards' own initialisation is left out by starting the simulator on a scenario
// without cards: what is measured is the service's start (managers, listeners, shared list,
// first discovery started) and the simulator's process set-up. For context the same is timed
// with the default scenario, whose cards initialise on the demod enumerator thread while the
// FIFOs already serve.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchService.h"
#include "BenchSupport.h"
#include "CrossPlatform.h"
#include "PipeMessenger.h"
#include "XpUtil.h"

namespace {

// One version request on a fresh connection to the FIFO; true when answered.
bool Serves(const char* pName)
{
    PipeMessenger messenger;
    if (!messenger.Init() || !messenger.Connect(pName))
        return false;
    char request[4] = {0, 0, 0, 0};
    char* reply = nullptr;
    int size = 0;
    const bool answered = messenger.WriteMsg(request, 4) && messenger.ReadMsg(reply, size, 1000) && size >= 8;
    free(reply);
    char close[4] = {'\xFF', '\xFF', '\xFF', '\xFF'};
    messenger.WriteMsg(close, 4);
    return answered;
}

// Milliseconds from the start of the process to all three FIFOs serving; -1 after 10 s.
double TimeToServe(const char* scenario)
{
    std::string dir;
    char pattern[] = "/tmp/kxstart.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return -1;
    dir = pattern;
    std::string scenarioPath;
    if (scenario != nullptr) {
        scenarioPath = dir + "/scenario.json";
        FILE* pFile = fopen(scenarioPath.c_str(), "w");
        if (pFile == nullptr)
            return -1;
        fputs(scenario, pFile);
        fclose(pFile);
    }
    Xp::SetIpcDirectory(dir.c_str());
    const double start = NowUs();
    pid_t service = SpawnBenchService(dir, scenario != nullptr ? scenarioPath.c_str() : nullptr);
    const char* names[] = {"DemodRecvPipe", "KxeRecvPipe", "KxGlobalRecvPipe"};
    double took = -1;
    size_t next = 0;
    while (NowUs() - start < 10e6) {
        const std::string path = dir + "/" + names[next];
        if (access(path.c_str(), F_OK) == 0 && Serves(names[next]) && ++next == 3) {
            took = (NowUs() - start) / 1e3;
            break;
        }
        usleep(200);
    }
    StopBenchService(service, dir);
    return took;
}

} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    const char* pRuns = getenv("KX_BENCH_STARTS");
    const int runs = pRuns != nullptr && atoi(pRuns) > 0 ? atoi(pRuns) : 10;
    std::vector<double> empty, full;
    for (int i = 0; i < runs; i++) {
        empty.push_back(TimeToServe("{\"seed\": 1, \"cards\": []}"));
        full.push_back(TimeToServe(nullptr));
    }
    printf("exec to all three FIFOs serving, %d runs: no virtual cards median %.1f ms (worst %.1f ms);"
           " default scenario median %.1f ms (worst %.1f ms)\n",
           runs, Percentile(empty, 0.5), Percentile(empty, 1.0), Percentile(full, 0.5), Percentile(full, 1.0));
    printf("RESULT startup_ms median_us=%.0f p99_us=%.0f value=%.1f target=200\n", Percentile(empty, 0.5) * 1e3,
           Percentile(empty, 1.0) * 1e3, Percentile(empty, 0.5));
    return 0;
}
