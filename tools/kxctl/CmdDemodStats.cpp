// kxctl demod stats | live | supported: the statistics a port caches.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "CmdDemod.h"
#include "KxReading.h"
#include "KxctlCommand.h"
#include "XpUtil.h"

using namespace KxctlDemod;
using Kxapi::DemodPortClient;
using Kxapi::KxStatistic;

namespace {

constexpr int32_t MAX_SUPPORTED = 256;
constexpr int LIVE_PERIOD_MS = 100;
// A port starts acquiring at the tick after the attach; a one-shot read waits this long first
// (the 3470's lock indications need four 100 ms ticks of its sampling thread after the attach).
constexpr int SETTLE_MS = 600;

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
        KXAPI_RESULT result = SupportedStatisticsToRead(client, stats);
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

// Options before SERIAL PORT: none. After them: statistic names, "--count N", "--settle MS",
// "--raw", "--level-unit dBm|dBmV|dBuV", "--isi N|all", "--window now|short|medium|long".
struct StatsArgs {
    std::vector<char*> m_Names;
    int32_t m_Count = -1; // live: number of refreshes, -1 until Ctrl-C
    int32_t m_SettleMs = SETTLE_MS;
    StatFormat m_Format;
    bool m_Qualified = false; // --isi or --window given
    int32_t m_Isi = -1;       // the statistics' first extra id: input stream, -1 all
    int32_t m_Window = -1;    // the second: time window, -1 instantaneous
};

// The time windows a receiver may keep statistics over (the second extra id of a statistic).
struct WindowName {
    const char* m_pName;
    int32_t m_Window;
    const char* m_pSpan;
};
const WindowName WINDOWS[] = {
    {"now", -1, "instantaneous"}, {"short", 0, "1 s"}, {"medium", 1, "60 s"}, {"long", 2, "60 min"}};

bool ParseWindow(const char* pText, int32_t& window)
{
    for (const WindowName& w : WINDOWS) {
        if (strcmp(pText, w.m_pName) == 0) {
            window = w.m_Window;
            return true;
        }
    }
    return false;
}

const WindowName& WindowOf(int32_t window)
{
    for (const WindowName& w : WINDOWS)
        if (w.m_Window == window)
            return w;
    return WINDOWS[0];
}

bool ParseIsi(const char* pText, int32_t& isi)
{
    if (strcmp(pText, "all") == 0) {
        isi = -1;
        return true;
    }
    return ParseI32(pText, isi) && isi >= 0 && isi <= 255;
}

bool IsLevelUnit(const char* pUnit)
{
    double ignored = 0.0;
    return Kxapi::KxConvertLevel(0.0, "dBm", pUnit, ignored);
}

bool ParseStatsArgs(const char* pSub, int argc, char** argv, StatsArgs& args, int& status)
{
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--count") == 0 && i + 1 < argc && ParseI32(argv[i + 1], args.m_Count) &&
            args.m_Count > 0) {
            i++;
        } else if (strcmp(argv[i], "--settle") == 0 && i + 1 < argc && ParseI32(argv[i + 1], args.m_SettleMs) &&
                   args.m_SettleMs >= 0) {
            i++;
        } else if (strcmp(argv[i], "--raw") == 0) {
            args.m_Format.m_Raw = true;
        } else if (strcmp(argv[i], "--level-unit") == 0 && i + 1 < argc && IsLevelUnit(argv[i + 1])) {
            args.m_Format.m_pLevelUnit = argv[++i];
        } else if (strcmp(argv[i], "--isi") == 0 && i + 1 < argc && ParseIsi(argv[i + 1], args.m_Isi)) {
            args.m_Qualified = true;
            i++;
        } else if (strcmp(argv[i], "--window") == 0 && i + 1 < argc && ParseWindow(argv[i + 1], args.m_Window)) {
            args.m_Qualified = true;
            i++;
        } else if (strncmp(argv[i], "--", 2) == 0) {
            status = Usage(pSub, "options are --count N, --settle MS, --raw, --level-unit dBm|dBmV|dBuV, "
                                 "--isi N|all and --window now|short|medium|long");
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
    status = OpenPort(argv[0], argv[1], client);
    if (status != KXCTL_EXIT_OK)
        return false;
    if (!CollectStatistics(client, static_cast<int>(args.m_Names.size()), args.m_Names.data(), stats, status))
        return false;
    // One stream and one time window for every statistic read.
    if (args.m_Qualified) {
        for (KxStatistic& stat : stats) {
            stat.m_XtraId[0] = args.m_Isi;
            stat.m_XtraId[1] = args.m_Window;
        }
    }
    return true;
}

// What a supported statistic's extra ids stand for: "stream", "sub-channel", "window" (the
// 3470's time windows are its layers), joined with "+"; empty for a plain statistic.
std::string PerText(const KxStatistic& stat)
{
    std::string per;
    if (stat.m_XtraId[0] == Kxapi::STAT_XTRA_SUBCHANNELS)
        per = "sub-channel";
    else if (stat.m_XtraId[0] == Kxapi::STAT_XTRA_PER_PLP || stat.m_XtraId[0] == Kxapi::STAT_XTRA_PER_PLP_ALT)
        per = "stream";
    if (stat.m_XtraId[1] == Kxapi::STAT_XTRA_LAYERS)
        per += per.empty() ? "window" : "+window";
    return per;
}

// The line naming the stream and window of the readings (nothing without --isi or --window).
void PrintSelection(const StatsArgs& args)
{
    if (!args.m_Qualified || KxctlJsonOutput())
        return;
    const WindowName& window = WindowOf(args.m_Window);
    if (args.m_Isi < 0)
        printf("all streams, %s window (%s)\n", window.m_pName, window.m_pSpan);
    else
        printf("ISI %d, %s window (%s)\n", args.m_Isi, window.m_pName, window.m_pSpan);
}

// After a read of all streams in which some statistics are kept per input stream only
// (KXAPI_E_PLP_NOT_FOUND): how to read them, with the streams the port lists.
void PrintStreamHint(const StatsArgs& args, const std::vector<KxStatistic>& stats)
{
    if (args.m_Isi >= 0 || KxctlJsonOutput())
        return;
    bool perStream = false;
    std::string streams;
    for (const KxStatistic& stat : stats) {
        perStream |= stat.m_Result == static_cast<int32_t>(KXAPI_E_PLP_NOT_FOUND);
        Kxapi::KxDvbS2IsiList isis;
        if (stat.m_StatisticId == Kxapi::KX_STAT_DVBS2_ISI && stat.GetValue(isis) == KXAPI_OK)
            for (const Kxapi::KxS2IsiId& isi : isis.m_Isis)
                streams += (streams.empty() ? "" : ", ") + std::to_string(isi.m_Isi);
    }
    if (perStream)
        printf("(statistics kept per input stream need --isi N%s)\n",
               streams.empty() ? "" : ("; the port's streams: " + streams).c_str());
}

// Prints the statistics and, where the port's parameters and its MER or C/N tell, the quality
// grade; `t` is the time since the start of a live view (negative for a one-shot read).
void PrintStatistics(DemodPortClient& client, const std::vector<KxStatistic>& stats, const StatFormat& format,
                     double t)
{
    Kxapi::KxDemodPars pars;
    Quality quality;
    const bool graded = client.Svc().ControlGet(pars) == KXAPI_OK && QualityOf(stats, pars, quality);
    if (KxctlJsonOutput()) {
        auto emit = [&](KxctlJson object) {
            KxctlJson reading = {{"serial", client.Serial()}, {"port", client.PortIndex()}};
            if (t >= 0.0)
                reading["t"] = t;
            reading.update(object);
            KxctlEmit(reading);
        };
        for (const KxStatistic& stat : stats)
            emit(StatJson(stat, format));
        if (graded)
            emit(QualityJson(quality));
        return;
    }
    const char* pIndent = t >= 0.0 ? "  " : "";
    for (const KxStatistic& stat : stats)
        printf("%s%s\n", pIndent, StatLine(stat, format).c_str());
    if (graded)
        printf("%s%s\n", pIndent, QualityLine(quality).c_str());
    fflush(stdout);
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
    PrintSelection(args);
    PrintStatistics(client, stats, args.m_Format, -1.0);
    PrintStreamHint(args, stats);
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
    // On a terminal the view is redrawn in place; otherwise each refresh is a block of lines
    // (with --json, one object per statistic and refresh).
    bool terminal = isatty(fileno(stdout)) != 0 && !KxctlJsonOutput();
    unsigned int start = XpUtil::GetTickCount();
    for (int refresh = 0; !StopRequested() && (args.m_Count < 0 || refresh < args.m_Count); refresh++) {
        unsigned int tick = XpUtil::GetTickCount();
        if (!stats.empty()) {
            KXAPI_RESULT result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
            if (result != KXAPI_OK)
                return KxctlFail("statistics", result);
        }
        const double t = static_cast<double>(tick - start) / 1000.0;
        if (terminal)
            printf("\033[H\033[J");
        if (!KxctlJsonOutput())
            printf("port %d of %lld, t = %.1f s (every %d ms, Ctrl-C ends)\n", client.PortIndex(),
                   static_cast<long long>(client.Serial()), t, LIVE_PERIOD_MS);
        PrintSelection(args);
        PrintStatistics(client, stats, args.m_Format, t);
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
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    std::vector<KxStatistic> stats;
    KXAPI_RESULT result = client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
    if (result != KXAPI_OK)
        return KxctlFail("supported statistics", result);
    if (!KxctlJsonOutput())
        printf("%-6s %-16s %-8s %-10s %-18s %s\n", "id", "name", "type", "unit", "per", "description");
    for (const KxStatistic& stat : stats) {
        std::string name, description;
        stat.GetName(name, description);
        const char* pType = stat.m_ValueType == Kxapi::KX_STAT_VT_BOOL     ? "bool"
                            : stat.m_ValueType == Kxapi::KX_STAT_VT_INT    ? "int"
                            : stat.m_ValueType == Kxapi::KX_STAT_VT_DOUBLE ? "double"
                                                                           : "struct";
        const char* pUnit = StatUnit(stat.m_StatisticId);
        const std::string per = PerText(stat);
        if (KxctlJsonOutput())
            KxctlEmit({{"id", stat.m_StatisticId},
                       {"name", name},
                       {"type", pType},
                       {"unit", pUnit},
                       {"per", per},
                       {"description", description}});
        else
            printf("%-6d %-16s %-8s %-10s %-18s %s\n", stat.m_StatisticId, name.c_str(), pType, pUnit[0] ? pUnit : "-",
                   per.empty() ? "-" : per.c_str(), description.c_str());
    }
    return 0;
}

DemodSubRegistrar g_Stats({"stats",
                           "SERIAL PORT [NAME|ID ...] [--settle MS] [--raw] [--level-unit U] [--isi N|all] "
                           "[--window now|short|medium|long]",
                           "read statistics once (all supported when none is named), of one input stream and "
                           "time window where the receiver keeps them",
                           RunStats});
DemodSubRegistrar g_Live({"live",
                          "SERIAL PORT [NAME|ID ...] [--count N] [--raw] [--level-unit U] [--isi N|all] "
                          "[--window now|short|medium|long]",
                          "live statistics, refreshed every 100 ms until Ctrl-C", RunLive});
DemodSubRegistrar g_Supported({"supported", "SERIAL PORT", "the statistics the port supports", RunSupported});

} // namespace
