// kxctl demod stats | live | supported: the statistics a port caches.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "CmdDemod.h"
#include "KxctlCommand.h"
#include "XpUtil.h"

using namespace KxctlDemod;
using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;

namespace {

constexpr int32_t MAX_SUPPORTED = 256;
constexpr int LIVE_PERIOD_MS = 100;
// A port starts acquiring at the tick after the attach; a one-shot read waits this long first.
constexpr int SETTLE_MS = 300;

// The named statistics, or every supported one when none is named.
bool CollectStatistics(DemodPortClient& client, int argc, char** argv, std::vector<KxStatistic>& stats, int& status)
{
    std::vector<int32_t> ids;
    std::string bad;
    if (!ParseStatisticIds(argc, argv, ids, bad)) {
        status = Usage("stats", ("unknown statistic '" + bad + "'").c_str());
        return false;
    }
    if (ids.empty()) {
        KXAPI_RESULT result = client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
        if (result != KXAPI_OK) {
            status = KxctlFail("supported statistics", result);
            return false;
        }
        return true;
    }
    for (int32_t id : ids)
        stats.emplace_back(id);
    return true;
}

// Options before SERIAL PORT: none. After them: statistic names, "--count N", "--settle MS".
struct StatsArgs {
    std::vector<char*> m_Names;
    int32_t m_Count = -1; // live: number of refreshes, -1 until Ctrl-C
    int32_t m_SettleMs = SETTLE_MS;
};

bool ParseStatsArgs(const char* pSub, int argc, char** argv, StatsArgs& args, int& status)
{
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--count") == 0 && i + 1 < argc && ParseI32(argv[i + 1], args.m_Count) &&
            args.m_Count > 0) {
            i++;
        } else if (strcmp(argv[i], "--settle") == 0 && i + 1 < argc && ParseI32(argv[i + 1], args.m_SettleMs) &&
                   args.m_SettleMs >= 0) {
            i++;
        } else if (strncmp(argv[i], "--", 2) == 0) {
            status = Usage(pSub, "options are --count N and --settle MS");
            return false;
        } else {
            args.m_Names.push_back(argv[i]);
        }
    }
    return true;
}

// The arguments SERIAL PORT [NAME|ID ...] [options] of stats and live: opens the port and
// collects the statistics to read; false with the exit status when that fails.
bool OpenStatistics(const char* pSub, int argc, char** argv, StatsArgs& args, DemodPortClient& client,
                    std::vector<KxStatistic>& stats, int& status)
{
    if (argc < 2) {
        status = Usage(pSub, (std::string(pSub) + " needs SERIAL PORT").c_str());
        return false;
    }
    if (!ParseStatsArgs(pSub, argc - 2, argv + 2, args, status))
        return false;
    if (!OpenPort(argv[0], argv[1], client)) {
        status = 1;
        return false;
    }
    return CollectStatistics(client, static_cast<int>(args.m_Names.size()), args.m_Names.data(), stats, status);
}

int RunStats(int argc, char** argv)
{
    StatsArgs args;
    DemodPortClient client;
    std::vector<KxStatistic> stats;
    int status = 0;
    if (!OpenStatistics("stats", argc, argv, args, client, stats, status))
        return status;
    XpUtil::Sleep(args.m_SettleMs);
    if (!stats.empty()) {
        KXAPI_RESULT result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
        if (result != KXAPI_OK)
            return KxctlFail("statistics", result);
    }
    for (const KxStatistic& stat : stats)
        printf("%s\n", StatLine(stat).c_str());
    return 0;
}

int RunLive(int argc, char** argv)
{
    StatsArgs args;
    DemodPortClient client;
    std::vector<KxStatistic> stats;
    int status = 0;
    if (!OpenStatistics("live", argc, argv, args, client, stats, status))
        return status;
    InstallStopHandler();
    // On a terminal the view is redrawn in place; otherwise each refresh is a block of lines.
    bool terminal = isatty(fileno(stdout)) != 0;
    unsigned int start = XpUtil::GetTickCount();
    for (int refresh = 0; !StopRequested() && (args.m_Count < 0 || refresh < args.m_Count); refresh++) {
        unsigned int tick = XpUtil::GetTickCount();
        if (!stats.empty()) {
            KXAPI_RESULT result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
            if (result != KXAPI_OK)
                return KxctlFail("statistics", result);
        }
        if (terminal)
            printf("\033[H\033[J");
        printf("port %d of %lld, t = %.1f s (every %d ms, Ctrl-C ends)\n", client.PortIndex(),
               static_cast<long long>(client.Serial()), static_cast<double>(tick - start) / 1000.0, LIVE_PERIOD_MS);
        for (const KxStatistic& stat : stats)
            printf("  %s\n", StatLine(stat).c_str());
        fflush(stdout);
        int spentMs = static_cast<int>(XpUtil::GetTickCount() - tick);
        if (spentMs < LIVE_PERIOD_MS && (args.m_Count < 0 || refresh + 1 < args.m_Count))
            XpUtil::Sleep(LIVE_PERIOD_MS - spentMs);
    }
    return 0;
}

int RunSupported(int argc, char** argv)
{
    if (argc != 2)
        return Usage("supported", "supported needs SERIAL PORT");
    DemodPortClient client;
    if (!OpenPort(argv[0], argv[1], client))
        return 1;
    std::vector<KxStatistic> stats;
    KXAPI_RESULT result = client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
    if (result != KXAPI_OK)
        return KxctlFail("supported statistics", result);
    printf("%-6s %-16s %-8s %-10s %s\n", "id", "name", "type", "unit", "description");
    for (const KxStatistic& stat : stats) {
        std::string name, description;
        stat.GetName(name, description);
        const char* pType = stat.m_ValueType == Kxapi::KX_STAT_VT_BOOL     ? "bool"
                            : stat.m_ValueType == Kxapi::KX_STAT_VT_INT    ? "int"
                            : stat.m_ValueType == Kxapi::KX_STAT_VT_DOUBLE ? "double"
                                                                           : "struct";
        const char* pUnit = StatUnit(stat.m_StatisticId);
        printf("%-6d %-16s %-8s %-10s %s\n", stat.m_StatisticId, name.c_str(), pType, pUnit[0] ? pUnit : "-",
               description.c_str());
    }
    return 0;
}

DemodSubRegistrar g_Stats({"stats", "SERIAL PORT [NAME|ID ...] [--settle MS]",
                           "read statistics once (all supported when none is named)", RunStats});
DemodSubRegistrar g_Live({"live", "SERIAL PORT [NAME|ID ...] [--count N]",
                          "live statistics, refreshed every 100 ms until Ctrl-C", RunLive});
DemodSubRegistrar g_Supported({"supported", "SERIAL PORT", "the statistics the port supports", RunSupported});

} // namespace
