// kxctl demod show | tune | params | freq | tunepars | limits: one port of the demod service.
#include <cinttypes>
#include <cstdarg>
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

std::string Text(const char* pFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* pFormat, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, pFormat);
    vsnprintf(buffer, sizeof(buffer), pFormat, args);
    va_end(args);
    return buffer;
}

void PrintFrequency(KXAPI_RESULT result, int64_t freqHz)
{
    if (result == KXAPI_OK)
        KxctlPrint({{"tuner_frequency", freqHz}, {"unit", "Hz"}}, "tuner frequency   " + FreqText(freqHz));
    else
        KxctlPrint({{"tuner_frequency", nullptr}, {"result", KxapiResult2Str(result)}},
                   std::string("tuner frequency   ") + KxapiResult2Str(result));
}

void PrintPars(KXAPI_RESULT result, const KxDemodPars& pars)
{
    if (result == KXAPI_OK)
        KxctlPrint({{"parameters", ParsText(pars)}, {"mod_type", pars.ModType()}}, "parameters        " + ParsText(pars));
    else
        KxctlPrint({{"parameters", nullptr}, {"result", KxapiResult2Str(result)}},
                   std::string("parameters        ") + KxapiResult2Str(result));
}

void PrintTunePars(KXAPI_RESULT result, const Kxapi::KxTunePars& pars)
{
    if (result != KXAPI_OK) {
        KxctlPrint({{"tuner_parameters", nullptr}, {"result", KxapiResult2Str(result)}},
                   std::string("tuner parameters  ") + KxapiResult2Str(result));
        return;
    }
    std::string words;
    for (int32_t word : pars.m_Words)
        words += " " + std::to_string(word);
    KxctlPrint({{"tuner_parameters", pars.m_Words}}, "tuner parameters " + words);
}

// Every supported statistic with its current value.
int PrintAllStatistics(DemodPortClient& client)
{
    std::vector<KxStatistic> stats;
    KXAPI_RESULT result = SupportedStatisticsToRead(client, stats);
    if (result != KXAPI_OK)
        return KxctlFail("supported statistics", result);
    if (!stats.empty()) {
        result = client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
        if (result != KXAPI_OK)
            return KxctlFail("statistics", result);
    }
    for (const KxStatistic& stat : stats)
        KxctlPrint(StatJson(stat), "  " + StatLine(stat));
    KxDemodPars pars;
    Quality quality;
    if (client.Svc().ControlGet(pars) == KXAPI_OK && QualityOf(stats, pars, quality))
        KxctlPrint(QualityJson(quality), "  " + QualityLine(quality));
    return KXCTL_EXIT_OK;
}

int RunShow(int argc, char** argv)
{
    if (argc != 2)
        return Usage("show", "show needs SERIAL PORT");
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    uint32_t version[4] = {};
    if (client.Svc().ServiceVersion(version) == KXAPI_OK)
        KxctlPrint({{"service", Text("%u.%u.%u Build %u", version[0], version[1], version[2], version[3])}},
                   Text("service           %u.%u.%u Build %u", version[0], version[1], version[2], version[3]));
    // The port starts acquiring at the next 100 ms tick after the attach.
    WaitForLock(client, 500);
    int64_t freqHz = 0;
    KXAPI_RESULT result = client.Svc().TunerFreqGetOld(freqHz);
    PrintFrequency(result, freqHz);
    KxDemodPars pars;
    result = client.Svc().ControlGet(pars);
    PrintPars(result, pars);
    Kxapi::KxTunePars tunePars;
    result = client.Svc().TuneParsGet(tunePars);
    PrintTunePars(result, tunePars);
    if (!KxctlJsonOutput())
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
    if (int status = OpenPort(pSerial, pPort, client))
        return status;
    KXAPI_RESULT result;
    if (fourIntegers && !generic) {
        Kxapi::OldStyleParsWire wire{four[0], four[1], four[2], four[3]};
        result = client.Svc().TuneOld(freqHz, wire);
    } else {
        result = client.Svc().Tune(freqHz, pars);
    }
    if (result != KXAPI_OK)
        return KxctlFail("tune", result);
    const char* pForm = fourIntegers && !generic ? "fixed" : "generic";
    KxctlPrint({{"tuned", freqHz}, {"unit", "Hz"}, {"parameters", ParsText(pars)}, {"form", pForm}},
               Text("tuned to %s, %s (%s form)", FreqText(freqHz).c_str(), ParsText(pars).c_str(), pForm));
    if (waitMs == 0)
        return KXCTL_EXIT_OK;
    InstallStopHandler();
    int lockedAfterMs = WaitForLock(client, waitMs);
    if (lockedAfterMs < 0) {
        KxctlPrint({{"locked", false}, {"waited", waitMs}, {"unit", "ms"}}, Text("not locked within %d ms", waitMs));
        return KXCTL_EXIT_NOT_LOCKED;
    }
    KxctlPrint({{"locked", true}, {"after", lockedAfterMs}, {"unit", "ms"}}, Text("locked after %d ms", lockedAfterMs));
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
    if (int status = OpenPort(pSerial, pPort, client))
        return status;
    if (set) {
        KXAPI_RESULT result = fourIntegers
                                  ? client.Svc().ControlSetOld(Kxapi::OldStyleParsWire{four[0], four[1], four[2], four[3]})
                                  : client.Svc().ControlSet(pars);
        if (result != KXAPI_OK)
            return KxctlFail("set parameters", result);
        KxctlPrint({{"parameters_set", ParsText(pars)}}, "parameters set: " + ParsText(pars));
        return KXCTL_EXIT_OK;
    }
    WaitForLock(client, 300);
    KXAPI_RESULT result = client.Svc().ControlGet(pars);
    if (result != KXAPI_OK)
        return KxctlFail("get parameters", result);
    PrintPars(result, pars);
    std::wstring xml;
    if (pars.ToXml(xml) == KXAPI_OK)
        KxctlPrint({{"xml", std::string(xml.begin(), xml.end())}},
                   "xml               " + std::string(xml.begin(), xml.end()));
    Kxapi::OldStyleParsWire wire;
    result = client.Svc().ControlGetOld(wire);
    if (result == KXAPI_OK)
        KxctlPrint({{"four_integers", {wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2}}},
                   Text("four integers     %d %d %d %d", wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1,
                        wire.m_ParXtra2));
    else
        KxctlPrint({{"four_integers", nullptr}, {"result", KxapiResult2Str(result)}},
                   Text("four integers     %s", KxapiResult2Str(result)));
    return KXCTL_EXIT_OK;
}

int RunFreq(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return Usage("freq", "freq needs SERIAL PORT [FREQ]");
    int64_t freqHz = 0;
    if (argc == 3 && !ParseFreqHz(argv[2], freqHz))
        return Usage("freq", "FREQ must be a frequency in Hz (or with k, M, G)");
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    if (argc == 3) {
        KXAPI_RESULT result = client.Svc().TunerFreqSetOld(freqHz);
        if (result != KXAPI_OK)
            return KxctlFail("set tuner frequency", result);
        KxctlPrint({{"tuner_frequency_set", freqHz}, {"unit", "Hz"}}, "tuner frequency set to " + FreqText(freqHz));
        return KXCTL_EXIT_OK;
    }
    WaitForLock(client, 300);
    KXAPI_RESULT result = client.Svc().TunerFreqGetOld(freqHz);
    if (result != KXAPI_OK)
        return KxctlFail("tuner frequency", result);
    PrintFrequency(result, freqHz);
    return KXCTL_EXIT_OK;
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
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    KXAPI_RESULT result = set ? client.Svc().TuneParsSet(pars) : client.Svc().TuneParsGet(pars);
    if (result != KXAPI_OK)
        return KxctlFail(set ? "set tuner parameters" : "tuner parameters", result);
    std::string words;
    for (int32_t word : pars.m_Words)
        words += " " + std::to_string(word);
    KxctlPrint({{"tuner_parameters", pars.m_Words}}, "tuner parameters (9 words, meaning per model):" + words);
    return KXCTL_EXIT_OK;
}

int RunLimits(int argc, char** argv)
{
    if (argc != 2)
        return Usage("limits", "limits needs SERIAL PORT");
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
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
            KxctlPrint({{"limit", attribute.m_pName}, {"value", nullptr}, {"result", KxapiResult2Str(result)}},
                       Text("%-18s %s", attribute.m_pName, KxapiResult2Str(result)));
        else
            KxctlPrint({{"limit", attribute.m_pName}, {"value", valueMhz}, {"unit", "MHz"}},
                       Text("%-18s %" PRId64 " MHz", attribute.m_pName, valueMhz));
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
