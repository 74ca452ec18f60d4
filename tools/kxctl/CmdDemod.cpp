// kxctl demod: sub-command table, argument parsing and the texts every demod sub-command prints.
#include "CmdDemod.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DemodPars.h"
#include "KxReading.h"
#include "KxctlCommand.h"

namespace KxctlDemod {

namespace {

std::atomic<bool> g_Stop{false};

void OnStopSignal(int)
{
    g_Stop = true;
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string Format(const char* pFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pFormat, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, pFormat);
    vsnprintf(buffer, sizeof(buffer), pFormat, args);
    va_end(args);
    return buffer;
}

void PrintDemodUsage(FILE* pOut)
{
    fprintf(pOut, "usage: kxctl demod SUBCOMMAND [ARGS]   (PORT is the 0-based port index)\n");
    for (const SubCommand& sub : DemodSubRegistrar::Commands())
        fprintf(pOut, "  %-10s %s\n  %-10s   %s\n", sub.m_pName, sub.m_pArgs, "", sub.m_pHelp);
}

int RunDemod(int argc, char** argv)
{
    if (argc < 1 || strcmp(argv[0], "help") == 0 || strcmp(argv[0], "--help") == 0) {
        PrintDemodUsage(argc < 1 ? stderr : stdout);
        return argc < 1 ? 2 : 0;
    }
    for (const SubCommand& sub : DemodSubRegistrar::Commands())
        if (strcmp(sub.m_pName, argv[0]) == 0)
            return sub.m_pRun(argc - 1, argv + 1);
    fprintf(stderr, "kxctl: unknown demod sub-command '%s'\n", argv[0]);
    PrintDemodUsage(stderr);
    return 2;
}

KxctlRegistrar g_Demod({"demod", "SUBCOMMAND [ARGS]",
                        "receiver ports: list, show, tune, params, freq, stats, live, supported, tunepars, lnb, "
                        "blindscan, spectrum, attr (kxctl demod help)",
                        RunDemod});

} // namespace

bool ParseFreqHz(const char* pText, int64_t& freqHz)
{
    if (ParseI64(pText, freqHz))
        return true;
    char* pEnd = nullptr;
    errno = 0;
    double number = strtod(pText, &pEnd);
    if (errno != 0 || pEnd == pText)
        return false;
    double scale = 0;
    if (strcmp(pEnd, "k") == 0 || strcmp(pEnd, "kHz") == 0)
        scale = 1e3;
    else if (strcmp(pEnd, "M") == 0 || strcmp(pEnd, "MHz") == 0)
        scale = 1e6;
    else if (strcmp(pEnd, "G") == 0 || strcmp(pEnd, "GHz") == 0)
        scale = 1e9;
    else if (strcmp(pEnd, "Hz") == 0)
        scale = 1;
    double hz = number * scale;
    if (scale == 0 || !std::isfinite(hz) || std::fabs(hz) > 9e18)
        return false;
    freqHz = static_cast<int64_t>(std::llround(hz));
    return true;
}

int Usage(const char* pSub, const char* pMessage)
{
    fprintf(stderr, "kxctl: %s\n", pMessage);
    for (const SubCommand& sub : DemodSubRegistrar::Commands())
        if (strcmp(sub.m_pName, pSub) == 0)
            fprintf(stderr, "usage: kxctl demod %s %s\n", sub.m_pName, sub.m_pArgs);
    return 2;
}

int OpenPort(const char* pSerial, const char* pPort, Kxapi::DemodPortClient& client)
{
    int64_t serial = 0;
    int32_t port = 0;
    if (!ParseI64(pSerial, serial) || !ParseI32(pPort, port) || port < 0) {
        fprintf(stderr, "kxctl: SERIAL and PORT must be numbers (PORT is the 0-based index)\n");
        return KXCTL_EXIT_USAGE;
    }
    client.SetReplyTimeout(REPLY_TIMEOUT_MS);
    KXAPI_RESULT result = client.Init(serial, port);
    if (result != KXAPI_OK) {
        std::string what = Format("attach to %" PRId64 " port %d", serial, port);
        if (result == KXAPI_E_NO_SUCH_DEVICE) {
            const std::string why = DescribeMissingCard(serial);
            if (!why.empty())
                what += " (" + why + ")";
        }
        return KxctlFail(what.c_str(), result);
    }
    return KXCTL_EXIT_OK;
}

std::string FreqText(int64_t freqHz)
{
    return Format("%" PRId64 " Hz (%.3f MHz)", freqHz, static_cast<double>(freqHz) / 1e6);
}

std::string ModTypeName(int32_t modType)
{
    switch (modType) {
    case -1: return "none";
    case 0: return "DVB-S";
    case 3: case 4: case 5: case 6: case 7: case 8: case 54: return "QAM";
    case 9: return "DVB-T";
    case 10: return "ATSC";
    case 11: return "DVB-T2";
    case 12: return "ISDB-T";
    case 15: case 78126315: return "I/Q";
    case 16: return "I/Q (3460)";
    case 52: return "DVB-C2";
    case 53: return "DAB";
    case 69: return "ATSC 3.0";
    default: break;
    }
    if ((modType >= 32 && modType <= 35) || modType == 37 || (modType >= 60 && modType <= 67))
        return "DVB-S2";
    return "unknown";
}

std::string ParsText(const Kxapi::KxDemodPars& pars)
{
    std::string text = Format("%s (type %d)", ModTypeName(pars.ModType()).c_str(), pars.ModType());
    if (const auto* p = pars.DvbS())
        text += Format(", code rate %d, inversion %d, symbol rate %d Bd", p->m_CodeRate, p->m_SpecInv, p->m_SymRateBd);
    else if (const auto* q = pars.Qam())
        text += Format(", annex %d, interleaving %d, symbol rate %d Bd", q->m_Annex, q->m_Interleaving, q->m_SymRateBd);
    else if (const auto* iq = pars.Iq())
        text += Format(", bandwidth %d Hz, I/Q data type %d, sample rate %d Hz", iq->m_BandwidthHz, iq->m_IqDataType,
                       iq->m_SampleRateHz);
    else if (const auto* s2 = pars.DvbS2())
        text += Format(", code rate %d, pilots %d, FEC frame %d, symbol rate %d Bd", s2->m_CodeRate, s2->m_Pilots,
                       s2->m_FecFrame, s2->m_SymRateBd);
    else if (pars.ModType() != -1) {
        std::wstring xml;
        if (pars.ToXml(xml) == KXAPI_OK)
            text += ", " + Narrow(xml);
    }
    return text;
}

const char* StatUnit(int32_t statisticId)
{
    const Kxapi::KxStatisticInfo* info = Kxapi::KxFindStatistic(statisticId);
    return info != nullptr ? info->m_pUnit : "";
}

namespace {

std::string StatName(const Kxapi::KxStatistic& stat)
{
    std::string name, description;
    if (stat.GetName(name, description) != KXAPI_OK)
        name = Format("id %d", stat.m_StatisticId);
    return name;
}

// The reading of `stat`, its level converted to `pLevelUnit` when that is given and the
// statistic is a level.
Kxapi::KxReading ReadingIn(const Kxapi::KxStatistic& stat, const char* pLevelUnit)
{
    Kxapi::KxReading reading = Kxapi::KxReadStatistic(stat);
    double converted = 0.0;
    if (pLevelUnit != nullptr && reading.m_Kind == Kxapi::KxReading::KX_READING_NUMBER &&
        Kxapi::KxConvertLevel(reading.m_Value, reading.m_pUnit, pLevelUnit, converted)) {
        reading.m_Value = converted;
        reading.m_pUnit = pLevelUnit;
    }
    return reading;
}

std::string StructuredText(const Kxapi::KxStatistic& stat)
{
    std::wstring xml;
    return stat.ToXml(xml) == KXAPI_OK ? Narrow(xml) : "(structured value)";
}

} // namespace

std::string StatLine(const Kxapi::KxStatistic& stat, const StatFormat& format)
{
    std::string line = Format("%-16s ", StatName(stat).c_str());
    const Kxapi::KxReading reading = ReadingIn(stat, format.m_pLevelUnit);
    if (reading.m_Kind == Kxapi::KxReading::KX_READING_NONE)
        return line + "-- " + Kxapi::KxFormatReading(reading);
    if (reading.m_Kind == Kxapi::KxReading::KX_READING_STRUCTURED)
        return line + StructuredText(stat);
    line += Kxapi::KxFormatReading(reading);
    if (format.m_Raw && reading.m_Kind == Kxapi::KxReading::KX_READING_NUMBER)
        line += Format("   (raw %.10g)", reading.m_Raw);
    return line;
}

KxctlJson StatJson(const Kxapi::KxStatistic& stat, const StatFormat& format)
{
    const Kxapi::KxReading reading = ReadingIn(stat, format.m_pLevelUnit);
    KxctlJson object = {{"name", StatName(stat)},
                        {"id", stat.m_StatisticId},
                        {"result", KxapiResult2Str(static_cast<KXAPI_RESULT>(stat.m_Result))}};
    switch (reading.m_Kind) {
    case Kxapi::KxReading::KX_READING_FLAG: object["value"] = reading.m_Flag; break;
    case Kxapi::KxReading::KX_READING_NUMBER:
        object["value"] = reading.m_Value;
        object["unit"] = reading.m_pUnit;
        object["raw"] = reading.m_Raw;
        break;
    case Kxapi::KxReading::KX_READING_STRUCTURED: object["xml"] = StructuredText(stat); break;
    case Kxapi::KxReading::KX_READING_NONE: object["value"] = nullptr; break;
    }
    return object;
}

bool QualityOf(const std::vector<Kxapi::KxStatistic>& stats, const Kxapi::KxDemodPars& pars, Quality& quality)
{
    quality.m_RequiredDb = Kxapi::KxRequiredCnDb(pars);
    // MER where the port reports it, else C/N.
    for (int32_t id : {static_cast<int32_t>(Kxapi::KX_STAT_MER), static_cast<int32_t>(Kxapi::KX_STAT_CNR)}) {
        for (const Kxapi::KxStatistic& stat : stats) {
            const Kxapi::KxReading reading = Kxapi::KxReadStatistic(stat);
            if (stat.m_StatisticId != id || reading.m_Kind != Kxapi::KxReading::KX_READING_NUMBER)
                continue;
            quality.m_pFrom = id == Kxapi::KX_STAT_MER ? "MER" : "CNR";
            quality.m_MeasuredDb = reading.m_Value;
            quality.m_Grade = Kxapi::KxGradeQuality(quality.m_MeasuredDb, quality.m_RequiredDb);
            return quality.m_Grade != Kxapi::KX_QUALITY_UNKNOWN;
        }
    }
    return false;
}

std::string QualityLine(const Quality& quality)
{
    return Format("%-16s %s (%s %.1f dB, %.1f dB needed)", "Quality", Kxapi::KxQualityGradeName(quality.m_Grade),
                  quality.m_pFrom, quality.m_MeasuredDb, quality.m_RequiredDb);
}

KxctlJson QualityJson(const Quality& quality)
{
    return {{"name", "Quality"},
            {"grade", Kxapi::KxQualityGradeName(quality.m_Grade)},
            {"from", quality.m_pFrom},
            {"measured", quality.m_MeasuredDb},
            {"required", quality.m_RequiredDb},
            {"unit", "dB"}};
}

KXAPI_RESULT SupportedStatisticsToRead(Kxapi::DemodPortClient& client, std::vector<Kxapi::KxStatistic>& stats)
{
    constexpr int32_t MAX_SUPPORTED = 256;
    KXAPI_RESULT result = client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
    for (Kxapi::KxStatistic& stat : stats)
        stat.UnqualifyForRead();
    return result;
}

bool ParseStatisticIds(int argc, char** argv, std::vector<int32_t>& ids, std::string& bad)
{
    for (int i = 0; i < argc; i++) {
        int32_t id = 0;
        if (ParseI32(argv[i], id) && Kxapi::KxFindStatistic(id) != nullptr) {
            ids.push_back(id);
            continue;
        }
        bool found = false;
        for (size_t row = 0; row < Kxapi::KxStatisticCount() && !found; row++) {
            if (strcasecmp(Kxapi::KxStatisticRow(row).m_pName, argv[i]) == 0) {
                ids.push_back(Kxapi::KxStatisticRow(row).m_Id);
                found = true;
            }
        }
        if (!found) {
            bad = argv[i];
            return false;
        }
    }
    return true;
}

bool ParseParsArgs(int& argc, char**& argv, Kxapi::KxDemodPars& pars, bool& fourIntegers, int32_t (&four)[4],
                   std::string& error)
{
    if (argc >= 2 && strcmp(argv[0], "--xml") == 0) {
        fourIntegers = false;
        KXAPI_RESULT result = pars.FromXml(Wide(argv[1]));
        if (result != KXAPI_OK) {
            error = Format("cannot read the KxDemodPars element: %s", KxapiResult2Str(result));
            return false;
        }
        argc -= 2;
        argv += 2;
        return true;
    }
    if (argc < 4) {
        error = "parameters are MOD X0 X1 X2 or --xml '<KxDemodPars mod=\"...\">...</KxDemodPars>'";
        return false;
    }
    for (int i = 0; i < 4; i++) {
        if (!ParseI32(argv[i], four[i])) {
            error = Format("'%s' is not a number", argv[i]);
            return false;
        }
    }
    fourIntegers = true;
    KXAPI_RESULT result = pars.FromOldStyle(four[0], four[1], four[2], four[3]);
    if (result != KXAPI_OK) {
        error = Format("the four integers do not form a parameter set: %s", KxapiResult2Str(result));
        return false;
    }
    argc -= 4;
    argv += 4;
    return true;
}

bool TakePictureOptions(int& argc, char** argv, PictureOptions& options, std::string& error)
{
    int kept = 0;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--plot") == 0) {
            options.m_Plot = true;
        } else if (strcmp(argv[i], "--png") == 0) {
            if (i + 1 >= argc) {
                error = "--png needs a file name";
                return false;
            }
            options.m_PngPath = argv[++i];
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

KxPlot::Carrier PlotCarrier(int64_t freqHz, const Kxapi::KxDemodPars& pars)
{
    // Symbol rate and the roll-off the standard uses (DVB-S2's own is not in the parameters:
    // its smallest common one, 0.20, is drawn).
    double symbolRate = 0.0, rollOff = 0.0;
    if (const Kxapi::KxDemodParsDvbS2Adv* s2 = pars.DvbS2()) {
        symbolRate = s2->m_SymRateBd;
        rollOff = 0.20;
    } else if (const Kxapi::KxDemodParsDvbS* s = pars.DvbS()) {
        symbolRate = s->m_SymRateBd;
        rollOff = 0.35;
    } else if (const Kxapi::KxDemodParsQam* qam = pars.Qam()) {
        symbolRate = qam->m_SymRateBd;
        rollOff = pars.IsQamB() ? 0.18 : 0.15;
    }
    symbolRate = std::max(0.0, symbolRate);
    return {static_cast<double>(freqHz) / 1e6, symbolRate / 1e6, symbolRate * (1.0 + rollOff) / 1e6};
}

void InstallStopHandler()
{
    g_Stop = false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested()
{
    return g_Stop.load();
}

} // namespace KxctlDemod
