// kxctl sim ...: drives the virtual cards of KxapiServiceSim through its control FIFO.
//
//   kxctl sim list
//   kxctl sim plug CARD_JSON | @FILE
//   kxctl sim unplug SERIAL
//   kxctl sim power SERIAL on|off
//   kxctl sim carrier SERIAL INPUT add CARRIER_JSON | remove FREQ_HZ | move FREQ_HZ NEW_FREQ_HZ | clear
//   kxctl sim usage [SECONDS]
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KxctlCommand.h"
#include "SimControlProtocol.h"
#include "SimScenario.h"
#include "XpUtil.h"

namespace {

// JSON given inline, or read from a file with "@FILE".
bool JsonArgument(const char* pArg, std::string& text)
{
    if (pArg[0] != '@') {
        text = pArg;
        return true;
    }
    return SimReadTextFile(pArg + 1, text);
}

int RunList(SimControlClient& client)
{
    std::string text;
    KXAPI_RESULT result = client.List(text);
    if (result != KXAPI_OK)
        return KxctlFail("sim list", result);
    if (!KxctlJsonOutput()) {
        printf("model sub-type serial family\n%s", text.c_str());
        return KXCTL_EXIT_OK;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int model = 0, subType = 0;
        long long serial = 0;
        std::string family;
        if (fields >> model >> subType >> serial >> family)
            KxctlEmit({{"model", model}, {"sub_type", subType}, {"serial", serial}, {"family", family}});
    }
    return KXCTL_EXIT_OK;
}

int RunCarrier(SimControlClient& client, int argc, char** argv)
{
    int64_t serial = 0, input = 0, freqHz = 0, newFreqHz = 0;
    if (argc < 3 || !ParseI64(argv[0], serial) || !ParseI64(argv[1], input))
        return KxctlUsage("sim", "carrier needs SERIAL INPUT and an operation");
    const char* pOperation = argv[2];
    std::string json;
    uint32_t operation;
    if (strcmp(pOperation, "add") == 0 && argc == 4) {
        if (!JsonArgument(argv[3], json))
            return KxctlUsage("sim", "cannot read the carrier JSON");
        operation = SIM_CARRIER_ADD;
    } else if (strcmp(pOperation, "remove") == 0 && argc == 4 && ParseI64(argv[3], freqHz)) {
        operation = SIM_CARRIER_REMOVE;
    } else if (strcmp(pOperation, "move") == 0 && argc == 5 && ParseI64(argv[3], freqHz) &&
               ParseI64(argv[4], newFreqHz)) {
        operation = SIM_CARRIER_MOVE;
    } else if (strcmp(pOperation, "clear") == 0 && argc == 3) {
        operation = SIM_CARRIER_CLEAR;
    } else {
        return KxctlUsage("sim", "carrier operations: add JSON | remove FREQ_HZ | move FREQ_HZ NEW_FREQ_HZ | clear");
    }
    KXAPI_RESULT result =
        client.Carrier(serial, static_cast<int>(input), operation, freqHz, newFreqHz, json);
    if (result != KXAPI_OK)
        return KxctlFail("sim carrier", result);
    return 0;
}

constexpr int64_t MAX_USAGE_SECONDS = 3600;

// The processor time the virtual cards' models took in the service's threads over an interval
// (the service's own CPU is the rest of what the process used).
int RunUsage(SimControlClient& client, int argc, char** argv)
{
    int64_t seconds = 5;
    if (argc > 1 || (argc == 1 && (!ParseI64(argv[0], seconds) || seconds < 1 || seconds > MAX_USAGE_SECONDS)))
        return KxctlUsage("sim", "usage takes a number of seconds from 1 to 3600");
    uint64_t cpuBefore = 0, requestsBefore = 0, cpuAfter = 0, requestsAfter = 0;
    KXAPI_RESULT result = client.Usage(cpuBefore, requestsBefore);
    if (result == KXAPI_OK) {
        XpUtil::Sleep(static_cast<int>(seconds * 1000));
        result = client.Usage(cpuAfter, requestsAfter);
    }
    if (result != KXAPI_OK)
        return KxctlFail("sim usage", result);
    const double percent = 100.0 * static_cast<double>(cpuAfter - cpuBefore) / (static_cast<double>(seconds) * 1e9);
    const double perSecond = static_cast<double>(requestsAfter - requestsBefore) / static_cast<double>(seconds);
    if (KxctlJsonOutput())
        KxctlEmit({{"seconds", seconds}, {"cpu_percent", percent}, {"requests_per_s", perSecond}});
    else
        printf("virtual cards in the service's threads: %.3f %% of one core, %.1f driver requests a second (%lld s)\n",
               percent, perSecond, static_cast<long long>(seconds));
    return KXCTL_EXIT_OK;
}

int RunSim(int argc, char** argv)
{
    if (argc < 1)
        return KxctlUsage("sim", "sim needs a sub-command");
    const char* pSub = argv[0];
    SimControlClient client;
    int64_t serial = 0;
    if (strcmp(pSub, "list") == 0 && argc == 1)
        return RunList(client);
    if (strcmp(pSub, "plug") == 0 && argc == 2) {
        std::string json;
        if (!JsonArgument(argv[1], json))
            return KxctlUsage("sim", "cannot read the card JSON");
        KXAPI_RESULT result = client.Plug(json);
        return result == KXAPI_OK ? 0 : KxctlFail("sim plug", result);
    }
    if (strcmp(pSub, "unplug") == 0 && argc == 2 && ParseI64(argv[1], serial)) {
        KXAPI_RESULT result = client.Unplug(serial);
        return result == KXAPI_OK ? 0 : KxctlFail("sim unplug", result);
    }
    if (strcmp(pSub, "power") == 0 && argc == 3 && ParseI64(argv[1], serial) &&
        (strcmp(argv[2], "on") == 0 || strcmp(argv[2], "off") == 0)) {
        KXAPI_RESULT result = client.Power(serial, strcmp(argv[2], "on") == 0);
        return result == KXAPI_OK ? 0 : KxctlFail("sim power", result);
    }
    if (strcmp(pSub, "carrier") == 0)
        return RunCarrier(client, argc - 1, argv + 1);
    if (strcmp(pSub, "usage") == 0)
        return RunUsage(client, argc - 1, argv + 1);
    return KxctlUsage("sim", "unknown sim sub-command or arguments");
}

KxctlRegistrar g_Sim({"sim",
                      "list | plug JSON|@FILE | unplug SERIAL | power SERIAL on|off | carrier SERIAL INPUT "
                      "add JSON|remove HZ|move HZ NEW_HZ|clear | usage [SECONDS]",
                      "drive the virtual cards of KxapiServiceSim (its control FIFO)", RunSim});

} // namespace
