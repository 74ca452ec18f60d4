// kxctl demod show | tune | params | freq | tunepars | limits: one port of the demod service.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CmdDemod.h"
#include "DemodPars.h"
#include "KxctlCommand.h"
#include "XpUtil.h"

using namespace KxctlDemod;
using Kxapi::DemodPortClient;
using Kxapi::KxDemodPars;
using Kxapi::KxStatistic;

namespace {

constexpr int32_t MAX_SUPPORTED = 256;
// Frequency attributes of a port (MHz).
constexpr int32_t ATTR_FREQ_ABSMAX = 4;
constexpr int32_t ATTR_FREQ_ABSMIN = 5;
constexpr int32_t ATTR_FREQ_MAX = 6;
constexpr int32_t ATTR_FREQ_MIN = 7;

// Waits (100 ms steps) until the cached lock is true; the milliseconds waited, or -1.
int WaitForLock(DemodPortClient& client, int timeoutMs)
{
    unsigned int start = XpUtil::GetTickCount();
    for (;;) {
        KxStatistic lock(Kxapi::KX_STAT_LOCK);
        bool locked = false;
        if (client.Svc().GetStatistics(&lock, 1) == KXAPI_OK && lock.GetValue(locked) == KXAPI_OK && locked)
            return static_cast<int>(XpUtil::GetTickCount() - start);
        if (static_cast<int>(XpUtil::GetTickCount() - start) >= timeoutMs || StopRequested())
            return -1;
        XpUtil::Sleep(100);
    }
}

// Every supported statistic with its current value.
int PrintAllStatistics(DemodPortClient& client)
{
    std::vector<KxStatistic> stats;
    KXAPI_RESULT result = client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
    if (result != KXAPI_OK)
        return KxctlFail("supported statistics", result);
    if (!stats.empty()) {
        result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
        if (result != KXAPI_OK)
            return KxctlFail("statistics", result);
    }
    for (const KxStatistic& stat : stats)
        printf("  %s\n", StatLine(stat).c_str());
    return 0;
}

int RunShow(int argc, char** argv)
{
    if (argc != 2)
        return Usage("show", "show needs SERIAL PORT");
    DemodPortClient client;
    if (!OpenPort(argv[0], argv[1], client))
        return 1;
    uint32_t version[4] = {};
    if (client.Svc().ServiceVersion(version) == KXAPI_OK)
        printf("service           %u.%u.%u Build %u\n", version[0], version[1], version[2], version[3]);
    // The port starts acquiring at the next 100 ms tick after the attach.
    WaitForLock(client, 500);
    int64_t freqHz = 0;
    KXAPI_RESULT result = client.Svc().TunerFreqGetOld(freqHz);
    printf("tuner frequency   %s\n", result == KXAPI_OK ? FreqText(freqHz).c_str() : KxapiResult2Str(result));
    KxDemodPars pars;
    result = client.Svc().ControlGet(pars);
    printf("parameters        %s\n", result == KXAPI_OK ? ParsText(pars).c_str() : KxapiResult2Str(result));
    Kxapi::KxTunePars tunePars;
    result = client.Svc().TuneParsGet(tunePars);
    if (result == KXAPI_OK) {
        printf("tuner parameters ");
        for (int32_t word : tunePars.m_Words)
            printf(" %d", word);
        printf("\n");
    } else {
        printf("tuner parameters  %s\n", KxapiResult2Str(result));
    }
    printf("statistics\n");
    return PrintAllStatistics(client);
}

int RunTune(int argc, char** argv)
{
    if (argc < 3)
        return Usage("tune", "tune needs SERIAL PORT FREQ and parameters");
    const char* pSerial = argv[0];
    const char* pPort = argv[1];
    int64_t freqHz = 0;
    if (!ParseFreqHz(argv[2], freqHz))
        return Usage("tune", "FREQ must be a frequency in Hz (or with k, M, G)");
    argc -= 3;
    argv += 3;
    bool generic = false;
    if (argc > 0 && strcmp(argv[0], "--generic") == 0) {
        generic = true;
        argc--;
        argv++;
    }
    KxDemodPars pars;
    bool fourIntegers = false;
    int32_t four[4] = {};
    std::string error;
    if (!ParseParsArgs(argc, argv, pars, fourIntegers, four, error))
        return Usage("tune", error.c_str());
    int32_t waitMs = 3000;
    if (argc == 2 && strcmp(argv[0], "--wait-lock") == 0) {
        if (!ParseI32(argv[1], waitMs) || waitMs < 0)
            return Usage("tune", "--wait-lock takes milliseconds");
    } else if (argc != 0) {
        return Usage("tune", "unexpected arguments after the parameters");
    }
    DemodPortClient client;
    if (!OpenPort(pSerial, pPort, client))
        return 1;
    KXAPI_RESULT result;
    if (fourIntegers && !generic) {
        Kxapi::OldStyleParsWire wire{four[0], four[1], four[2], four[3]};
        result = client.Svc().TuneOld(freqHz, wire);
    } else {
        result = client.Svc().Tune(freqHz, pars);
    }
    if (result != KXAPI_OK)
        return KxctlFail("tune", result);
    printf("tuned to %s, %s (%s form)\n", FreqText(freqHz).c_str(), ParsText(pars).c_str(),
           fourIntegers && !generic ? "fixed" : "generic");
    if (waitMs == 0)
        return 0;
    InstallStopHandler();
    int lockedAfterMs = WaitForLock(client, waitMs);
    if (lockedAfterMs < 0) {
        printf("not locked within %d ms\n", waitMs);
        return 3;
    }
    printf("locked after %d ms\n", lockedAfterMs);
    return PrintAllStatistics(client);
}

int RunParams(int argc, char** argv)
{
    if (argc < 2)
        return Usage("params", "params needs SERIAL PORT");
    const char* pSerial = argv[0];
    const char* pPort = argv[1];
    argc -= 2;
    argv += 2;
    KxDemodPars pars;
    bool fourIntegers = false;
    int32_t four[4] = {};
    std::string error;
    bool set = argc > 0;
    if (set && (!ParseParsArgs(argc, argv, pars, fourIntegers, four, error) || argc != 0))
        return Usage("params", error.empty() ? "unexpected arguments after the parameters" : error.c_str());
    DemodPortClient client;
    if (!OpenPort(pSerial, pPort, client))
        return 1;
    if (set) {
        KXAPI_RESULT result = fourIntegers
                                  ? client.Svc().ControlSetOld(Kxapi::OldStyleParsWire{four[0], four[1], four[2], four[3]})
                                  : client.Svc().ControlSet(pars);
        if (result != KXAPI_OK)
            return KxctlFail("set parameters", result);
        printf("parameters set: %s\n", ParsText(pars).c_str());
        return 0;
    }
    WaitForLock(client, 300);
    KXAPI_RESULT result = client.Svc().ControlGet(pars);
    if (result != KXAPI_OK)
        return KxctlFail("get parameters", result);
    printf("parameters        %s\n", ParsText(pars).c_str());
    std::wstring xml;
    if (pars.ToXml(xml) == KXAPI_OK)
        printf("xml               %s\n", std::string(xml.begin(), xml.end()).c_str());
    Kxapi::OldStyleParsWire wire;
    result = client.Svc().ControlGetOld(wire);
    if (result == KXAPI_OK)
        printf("four integers     %d %d %d %d\n", wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
    else
        printf("four integers     %s\n", KxapiResult2Str(result));
    return 0;
}

int RunFreq(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return Usage("freq", "freq needs SERIAL PORT [FREQ]");
    int64_t freqHz = 0;
    if (argc == 3 && !ParseFreqHz(argv[2], freqHz))
        return Usage("freq", "FREQ must be a frequency in Hz (or with k, M, G)");
    DemodPortClient client;
    if (!OpenPort(argv[0], argv[1], client))
        return 1;
    if (argc == 3) {
        KXAPI_RESULT result = client.Svc().TunerFreqSetOld(freqHz);
        if (result != KXAPI_OK)
            return KxctlFail("set tuner frequency", result);
        printf("tuner frequency set to %s\n", FreqText(freqHz).c_str());
        return 0;
    }
    WaitForLock(client, 300);
    KXAPI_RESULT result = client.Svc().TunerFreqGetOld(freqHz);
    if (result != KXAPI_OK)
        return KxctlFail("tuner frequency", result);
    printf("tuner frequency   %s\n", FreqText(freqHz).c_str());
    return 0;
}

int RunTunePars(int argc, char** argv)
{
    if (argc != 2 && argc != 2 + Kxapi::KxTunePars::NUM_WORDS)
        return Usage("tunepars", "tunepars needs SERIAL PORT and none or all nine words");
    Kxapi::KxTunePars pars;
    bool set = argc > 2;
    for (int i = 0; set && i < Kxapi::KxTunePars::NUM_WORDS; i++)
        if (!ParseI32(argv[2 + i], pars.m_Words[i]))
            return Usage("tunepars", "the nine words must be numbers");
    DemodPortClient client;
    if (!OpenPort(argv[0], argv[1], client))
        return 1;
    KXAPI_RESULT result = set ? client.Svc().TuneParsSet(pars) : client.Svc().TuneParsGet(pars);
    if (result != KXAPI_OK)
        return KxctlFail(set ? "set tuner parameters" : "tuner parameters", result);
    printf("tuner parameters (9 words, meaning per model):");
    for (int32_t word : pars.m_Words)
        printf(" %d", word);
    printf("\n");
    return 0;
}

int RunLimits(int argc, char** argv)
{
    if (argc != 2)
        return Usage("limits", "limits needs SERIAL PORT");
    DemodPortClient client;
    if (!OpenPort(argv[0], argv[1], client))
        return 1;
    struct {
        int32_t m_Id;
        const char* m_pName;
    } const attributes[] = {{ATTR_FREQ_ABSMIN, "absolute minimum"},
                            {ATTR_FREQ_MIN, "minimum"},
                            {ATTR_FREQ_MAX, "maximum"},
                            {ATTR_FREQ_ABSMAX, "absolute maximum"}};
    for (const auto& attribute : attributes) {
        int64_t valueMhz = 0;
        KXAPI_RESULT result = client.Svc().GetAttribute(client.PortIndex() + 1, attribute.m_Id, valueMhz);
        if (result != KXAPI_OK)
            printf("%-18s %s\n", attribute.m_pName, KxapiResult2Str(result));
        else
            printf("%-18s %" PRId64 " MHz\n", attribute.m_pName, valueMhz);
    }
    return 0;
}

DemodSubRegistrar g_Show({"show", "SERIAL PORT", "attach and show frequency, parameters and statistics", RunShow});
DemodSubRegistrar g_Tune({"tune",
                          "SERIAL PORT FREQ [--generic] (MOD X0 X1 X2 | --xml KXDEMODPARS) [--wait-lock MS]",
                          "tune (four integers: fixed form, --generic/--xml: XML form), wait for lock", RunTune});
DemodSubRegistrar g_Params({"params", "SERIAL PORT [MOD X0 X1 X2 | --xml KXDEMODPARS]",
                            "read or set the demodulation parameters", RunParams});
DemodSubRegistrar g_Freq({"freq", "SERIAL PORT [FREQ]", "read or set the tuner frequency", RunFreq});
DemodSubRegistrar g_TunePars({"tunepars", "SERIAL PORT [W0 .. W8]", "read or set the nine tuner parameter words",
                              RunTunePars});
DemodSubRegistrar g_Limits({"limits", "SERIAL PORT", "frequency limits of the port (MHz)", RunLimits});

} // namespace
