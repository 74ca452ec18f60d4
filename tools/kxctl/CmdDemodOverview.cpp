// kxctl demod overview: every port of a card on one line each (lock, level, MER), refreshed
// live; redrawn in place on a terminal, blocks of lines when piped, objects with --json.
#include <cstdio>
#include <cstring>
#include <memory>
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

constexpr int PERIOD_MS = 200;
constexpr int MAX_PORTS = 64;
constexpr int32_t MAX_SUPPORTED = 256;

// One attached port and the statistics of its line: Lock, a level (the calibrated channel
// level where the port has one, else the uncalibrated one) and MER, each only if supported.
struct PortView {
    std::unique_ptr<DemodPortClient> m_pClient;
    std::vector<KxStatistic> m_Stats;
};

bool Supports(const std::vector<KxStatistic>& supported, int32_t id)
{
    for (const KxStatistic& stat : supported)
        if (stat.m_StatisticId == id)
            return true;
    return false;
}

// Attaches every port of the card: port 0 must open, the ports after it until the card has no
// more. False with the exit status when port 0 cannot be opened.
bool OpenPorts(const char* pSerial, std::vector<PortView>& views, int& status)
{
    int64_t serial = 0;
    if (!ParseI64(pSerial, serial)) {
        status = Usage("overview", "SERIAL must be a number");
        return false;
    }
    for (int port = 0; port < MAX_PORTS; port++) {
        PortView view;
        view.m_pClient = std::make_unique<DemodPortClient>();
        if (port == 0) {
            status = OpenPort(pSerial, "0", *view.m_pClient);
            if (status != KXCTL_EXIT_OK)
                return false;
        } else {
            view.m_pClient->SetReplyTimeout(REPLY_TIMEOUT_MS);
            if (view.m_pClient->Init(serial, port) != KXAPI_OK)
                break; // past the card's last port
        }
        std::vector<KxStatistic> supported;
        view.m_pClient->Svc().GetSupportedStatistics(MAX_SUPPORTED, supported);
        const int32_t level = Supports(supported, Kxapi::KX_STAT_RF_LVL_CHAN) ? Kxapi::KX_STAT_RF_LVL_CHAN
                                                                             : Kxapi::KX_STAT_RF_LVL_UNCALIB;
        for (int32_t id : {int32_t(Kxapi::KX_STAT_LOCK), level, int32_t(Kxapi::KX_STAT_MER)})
            view.m_Stats.emplace_back(id);
        views.push_back(std::move(view));
    }
    return true;
}

// "  3  locked    -1.4 dBmV    27.1 dB"; a statistic the port lacks or has not measured
// prints its result's name.
std::string Line(int port, const std::vector<KxStatistic>& stats)
{
    const Kxapi::KxReading lock = Kxapi::KxReadStatistic(stats[0]);
    const char* pLock = lock.m_Kind != Kxapi::KxReading::KX_READING_FLAG ? "?" : (lock.m_Flag ? "locked" : "-");
    char line[160];
    snprintf(line, sizeof(line), "%3d  %-7s %14s %14s", port, pLock,
             Kxapi::KxFormatReading(Kxapi::KxReadStatistic(stats[1])).c_str(),
             Kxapi::KxFormatReading(Kxapi::KxReadStatistic(stats[2])).c_str());
    return line;
}

int RunOverview(int argc, char** argv)
{
    if (argc < 1)
        return Usage("overview", "overview needs SERIAL");
    int32_t count = -1;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--count") == 0 && i + 1 < argc && ParseI32(argv[i + 1], count) && count > 0)
            i++;
        else
            return Usage("overview", "the only option is --count N");
    }
    std::vector<PortView> views;
    int status = 0;
    if (!OpenPorts(argv[0], views, status))
        return status;
    InstallStopHandler();
    const bool terminal = isatty(fileno(stdout)) != 0 && !KxctlJsonOutput();
    const unsigned int start = XpUtil::GetTickCount();
    for (int refresh = 0; !StopRequested() && (count < 0 || refresh < count); refresh++) {
        const unsigned int tick = XpUtil::GetTickCount();
        const double t = static_cast<double>(tick - start) / 1000.0;
        std::string block;
        if (!KxctlJsonOutput()) {
            char head[160];
            snprintf(head, sizeof(head), "%s: %zu ports, t = %.1f s (every %d ms%s)\n%4s  %-7s %14s %14s\n", argv[0],
                     views.size(), t, PERIOD_MS, terminal ? ", Ctrl-C ends" : "", "port", "lock", "level", "MER");
            block = head;
        }
        for (size_t port = 0; port < views.size(); port++) {
            std::vector<KxStatistic>& stats = views[port].m_Stats;
            KXAPI_RESULT result = views[port].m_pClient->Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
            if (result != KXAPI_OK)
                return KxctlFail("statistics", result);
            if (KxctlJsonOutput()) {
                KxctlJson reading = {{"serial", views[port].m_pClient->Serial()}, {"port", port}, {"t", t}};
                for (const KxStatistic& stat : stats) {
                    const KxctlJson item = StatJson(stat);
                    reading[item.value("name", std::string("?"))] = item;
                }
                KxctlEmit(reading);
            } else {
                block += Line(static_cast<int>(port), stats) + "\n";
            }
        }
        if (!KxctlJsonOutput()) {
            // On a terminal the block is redrawn in place (cursor home, clear to the end).
            printf("%s%s", terminal ? "\033[H\033[J" : "", block.c_str());
            fflush(stdout);
        }
        const int spentMs = static_cast<int>(XpUtil::GetTickCount() - tick);
        if (spentMs < PERIOD_MS && (count < 0 || refresh + 1 < count))
            XpUtil::Sleep(PERIOD_MS - spentMs);
    }
    return 0;
}

DemodSubRegistrar g_Overview({"overview", "SERIAL [--count N]",
                              "every port of a card on a line (lock, level, MER), refreshed live", RunOverview});

} // namespace
