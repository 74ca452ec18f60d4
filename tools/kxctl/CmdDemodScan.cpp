// kxctl demod blindscan | spectrum: scans with a progress bar and a result table.
//
// Event mode (the default): the scan runs on the port's worker thread and reports each step
// on this client's event FIFO; Ctrl-C cancels the scan and waits for its final report.
// Fixed layout (blindscan --fixed MAX): one request that answers with the found transmitters.
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "CmdDemod.h"
#include "DemodPars.h"
#include "KxPlot.h"
#include "KxScanProgress.h"
#include "KxctlCommand.h"

using namespace KxctlDemod;
using Kxapi::DemodEvent;
using Kxapi::DemodPortClient;
using Kxapi::KxDemodPars;

namespace {

constexpr int BAR_WIDTH = 40;
constexpr unsigned int EVENT_WAIT_SLICE_MS = 100;
// Without any report for this long the scan is given up (a step waits at most 1 s for lock).
constexpr unsigned int SILENCE_LIMIT_MS = 30000;

// Progress events of one scan kind, handed over from the client's event thread.
class ProgressQueue {
public:
    explicit ProgressQueue(uint32_t kind) : m_Kind(kind) {}
    void Push(const DemodEvent& event)
    {
        if (event.m_Kind != m_Kind)
            return;
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Texts.push_back(event.m_Xml);
        m_Ready.notify_one();
    }
    // The next text, or false after timeoutMs.
    bool Pop(std::wstring& text, unsigned int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        if (!m_Ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_Texts.empty(); }))
            return false;
        text = std::move(m_Texts.front());
        m_Texts.pop_front();
        return true;
    }

private:
    uint32_t m_Kind;
    std::mutex m_Mutex;
    std::condition_variable m_Ready;
    std::deque<std::wstring> m_Texts;
};

void DrawBar(int64_t freqHz, int64_t startHz, int64_t endHz, const char* pNote)
{
    double fraction = 0;
    if (startHz >= 0 && endHz > startHz)
        fraction = static_cast<double>(freqHz - startHz) / static_cast<double>(endHz - startHz);
    fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
    int filled = static_cast<int>(fraction * BAR_WIDTH + 0.5);
    fprintf(stderr, "\r[%.*s%*s] %5.1f %%  %10.3f MHz %-12s", filled, "########################################",
            BAR_WIDTH - filled, "", fraction * 100.0, static_cast<double>(freqHz) / 1e6, pNote);
    fflush(stderr);
}

// Size of the terminal rendering of a scan.
constexpr int TERMINAL_COLUMNS = 100;
constexpr int TERMINAL_ROWS = 16;

// Common arguments: SERIAL PORT START END STEP (START and END may be -1: the port's limits).
struct ScanArgs {
    int64_t m_StartHz = -1;
    int64_t m_EndHz = -1;
    int64_t m_StepHz = 0;
};

bool ParseScanRange(int argc, char** argv, ScanArgs& args)
{
    return argc >= 5 && ParseFreqHz(argv[2], args.m_StartHz) && ParseFreqHz(argv[3], args.m_EndHz) &&
           ParseFreqHz(argv[4], args.m_StepHz);
}

// Port attributes of the frequency limits (MHz) that a START or END of -1 stands for.
constexpr int32_t ATTR_FREQ_MAX = 6;
constexpr int32_t ATTR_FREQ_MIN = 7;
constexpr int64_t HZ_PER_MHZ = 1000000;

// The range the service scans: a START or END of -1 is the port's limit (left at -1 when the
// port does not say), so that progress and pictures span what is really scanned.
ScanArgs PortRange(DemodPortClient& client, const ScanArgs& range)
{
    ScanArgs resolved = range;
    int64_t mhz = 0;
    if (resolved.m_StartHz == -1 &&
        client.Svc().GetAttribute(client.PortIndex() + 1, ATTR_FREQ_MIN, mhz) == KXAPI_OK)
        resolved.m_StartHz = mhz * HZ_PER_MHZ;
    if (resolved.m_EndHz == -1 && client.Svc().GetAttribute(client.PortIndex() + 1, ATTR_FREQ_MAX, mhz) == KXAPI_OK)
        resolved.m_EndHz = mhz * HZ_PER_MHZ;
    return resolved;
}

// Waits for progress until the final report (or Ctrl-C, which cancels and keeps waiting).
template <class Progress, class OnStep>
KXAPI_RESULT FollowScan(ProgressQueue& queue, bool blind, DemodPortClient& client, OnStep onStep)
{
    bool cancelSent = false;
    unsigned int silentMs = 0;
    for (;;) {
        if (StopRequested() && !cancelSent) {
            cancelSent = true;
            KXAPI_RESULT result = blind ? client.Svc().BlindScanCancel() : client.Svc().SpectrumScanCancel();
            fprintf(stderr, "\ncancel: %s\n", KxapiResult2Str(result));
        }
        std::wstring text;
        if (!queue.Pop(text, EVENT_WAIT_SLICE_MS)) {
            silentMs += EVENT_WAIT_SLICE_MS;
            if (silentMs >= SILENCE_LIMIT_MS) {
                fprintf(stderr, "\nno progress report for %u s\n", SILENCE_LIMIT_MS / 1000);
                return KXAPI_E_TIMEOUT;
            }
            continue;
        }
        silentMs = 0;
        Progress progress;
        if (progress.FromXml(text) != KXAPI_OK)
            continue;
        if (progress.IsFinal())
            return static_cast<KXAPI_RESULT>(progress.m_Result);
        onStep(progress);
    }
}

// Runs a spectrum scan of `range` on the port and collects its points (levels in the unit of
// the scan type's level statistic).
KXAPI_RESULT SpectrumScan(DemodPortClient& client, const ScanArgs& range, int32_t scanType,
                          std::vector<Kxapi::KxSpsProgress>& points, const Kxapi::KxStatisticInfo*& pLevel)
{
    const int32_t levelId = (scanType & ~16) == 5 ? Kxapi::KX_STAT_RF_LVL_CHAN_QS : Kxapi::KX_STAT_RF_LVL_NARROW_QS;
    pLevel = Kxapi::KxFindStatistic(levelId);
    ProgressQueue queue(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN);
    client.CallbackRegisterEvents([&queue](const DemodEvent& event) { queue.Push(event); }, 0);
    const ScanArgs shown = PortRange(client, range);
    KXAPI_RESULT result = client.Svc().SpectrumScan(scanType, range.m_StepHz, range.m_StartHz, range.m_EndHz);
    if (result == KXAPI_OK)
        result = FollowScan<Kxapi::KxSpsProgress>(queue, false, client, [&](const Kxapi::KxSpsProgress& step) {
            DrawBar(step.m_FreqHz, shown.m_StartHz, shown.m_EndHz, "");
            points.push_back(step);
        });
    if (result == KXAPI_OK)
        DrawBar(shown.m_EndHz, shown.m_StartHz, shown.m_EndHz, "done");
    client.CallbackRegisterEvents(nullptr, 0); // the queue ends with this function
    fprintf(stderr, "\n");
    return result;
}

bool Measured(const Kxapi::KxSpsProgress& point)
{
    return point.m_Result >= 0 && static_cast<uint32_t>(point.m_Result) < 4096;
}

std::vector<KxPlot::SpectrumPoint> PlotPoints(const std::vector<Kxapi::KxSpsProgress>& points,
                                              const Kxapi::KxStatisticInfo* pLevel)
{
    std::vector<KxPlot::SpectrumPoint> plot;
    for (const Kxapi::KxSpsProgress& point : points)
        plot.push_back({point.m_FreqHz / 1e6, point.m_Level * pLevel->m_Scale, Measured(point)});
    return plot;
}

// The picture of a scan: a PNG file and/or the terminal rendering, as the options ask.
int ShowScanPicture(const PictureOptions& options, const std::vector<KxPlot::SpectrumPoint>& points,
                    const std::vector<KxPlot::Carrier>& carriers, const std::string& levelUnit, const std::string& title)
{
    if (options.m_Plot && !KxctlJsonOutput())
        printf("%s", KxPlot::SpectrumText(points, carriers, levelUnit, TERMINAL_COLUMNS, TERMINAL_ROWS).c_str());
    if (options.m_PngPath.empty())
        return KXCTL_EXIT_OK;
    KxPlot::Frame frame;
    std::string error;
    if (!KxPlot::WriteSpectrumPng(points, carriers, levelUnit, title, options.m_PngPath, frame, error)) {
        fprintf(stderr, "kxctl: %s\n", error.c_str());
        return KXCTL_EXIT_FAILED;
    }
    KxctlPrint({{"picture", options.m_PngPath}}, "picture written to " + options.m_PngPath);
    return KXCTL_EXIT_OK;
}

int RunBlindScan(int argc, char** argv)
{
    PictureOptions picture;
    std::string pictureError;
    if (!TakePictureOptions(argc, argv, picture, pictureError))
        return Usage("blindscan", pictureError.c_str());
    ScanArgs range;
    if (!ParseScanRange(argc, argv, range))
        return Usage("blindscan", "blindscan needs SERIAL PORT START END STEP (START/END -1: the port's limits)");
    const char* pSerial = argv[0];
    const char* pPort = argv[1];
    argc -= 5;
    argv += 5;
    int32_t maxFixed = -1;
    if (argc >= 2 && strcmp(argv[0], "--fixed") == 0) {
        if (!ParseI32(argv[1], maxFixed) || maxFixed < 1 || maxFixed > Kxapi::DEMOD_MAX_TRANSMITTERS)
            return Usage("blindscan", "--fixed takes the maximum number of transmitters");
        argc -= 2;
        argv += 2;
    }
    KxDemodPars pars; // no type: the receiver's own blind-scan parameters
    if (argc > 0) {
        bool fourIntegers = false;
        int32_t four[4] = {};
        std::string error;
        if (!ParseParsArgs(argc, argv, pars, fourIntegers, four, error) || argc != 0)
            return Usage("blindscan", error.empty() ? "unexpected arguments" : error.c_str());
    }
    DemodPortClient client;
    if (int status = OpenPort(pSerial, pPort, client))
        return status;
    InstallStopHandler();
    if (maxFixed > 0) {
        if (pars.ModType() != -1)
            return Usage("blindscan", "the fixed layout scans with the receiver's own parameters");
        client.SetReplyTimeout(XP_INFINITE);
        Kxapi::BlindScanOldReq request;
        request.m_MaxTransmitters = maxFixed;
        request.m_StepHz = range.m_StepHz;
        request.m_StartFreqHz = range.m_StartHz;
        request.m_EndFreqHz = range.m_EndHz;
        std::vector<Kxapi::KxTransmitter> found;
        int32_t numFound = 0;
        KXAPI_RESULT result = client.Svc().BlindScanOld(request, found, numFound);
        if (KxctlJsonOutput()) {
            for (const Kxapi::KxTransmitter& transmitter : found)
                KxctlEmit({{"frequency", transmitter.m_FreqHz},
                           {"unit", "Hz"},
                           {"mod_type", transmitter.m_ModType},
                           {"symbol_rate", transmitter.m_SymRateBd},
                           {"symbol_rate_unit", "sym/s"}});
            KxctlEmit({{"transmitters", found.size()}, {"found", numFound}, {"result", KxapiResult2Str(result)}});
            return result == KXAPI_OK ? KXCTL_EXIT_OK : KXCTL_EXIT_FAILED;
        }
        printf("%-4s %-28s %s\n", "#", "frequency", "parameters");
        for (size_t i = 0; i < found.size(); i++)
            printf("%-4zu %-28s type %d (%s), symbol rate %d Bd\n", i + 1, FreqText(found[i].m_FreqHz).c_str(),
                   found[i].m_ModType, ModTypeName(found[i].m_ModType).c_str(), found[i].m_SymRateBd);
        if (static_cast<size_t>(numFound) > found.size())
            printf("%d transmitter(s) found, the first %zu shown (--fixed %d); result %s\n", numFound, found.size(),
                   maxFixed, KxapiResult2Str(result));
        else
            printf("%zu transmitter(s); result %s\n", found.size(), KxapiResult2Str(result));
        return result == KXAPI_OK ? 0 : 1;
    }
    ProgressQueue queue(Kxapi::DEMOD_EVENT_BLIND_SCAN);
    client.CallbackRegisterEvents([&queue](const DemodEvent& event) { queue.Push(event); }, 0);
    const ScanArgs shown = PortRange(client, range);
    KXAPI_RESULT result = client.Svc().BlindScan(pars, range.m_StepHz, range.m_StartHz, range.m_EndHz);
    if (result != KXAPI_OK)
        return KxctlFail("blind scan", result);
    std::vector<Kxapi::KxBsProgress> found;
    result = FollowScan<Kxapi::KxBsProgress>(queue, true, client, [&](const Kxapi::KxBsProgress& step) {
        DrawBar(step.m_FreqHz, shown.m_StartHz, shown.m_EndHz, step.m_ChannelFound ? "found" : "");
        if (step.m_ChannelFound)
            found.push_back(step);
    });
    // Steps a transmitter covers are not tuned and the end never is: the bar ends full.
    if (result == KXAPI_OK)
        DrawBar(shown.m_EndHz, shown.m_StartHz, shown.m_EndHz, "done");
    client.CallbackRegisterEvents(nullptr, 0); // the queue ends with this function
    fprintf(stderr, "\n");
    if (KxctlJsonOutput()) {
        for (const Kxapi::KxBsProgress& step : found) {
            std::wstring xml;
            step.m_DemodPars.ToXml(xml);
            KxctlEmit({{"frequency", step.m_FreqHz},
                       {"unit", "Hz"},
                       {"mod_type", step.m_DemodPars.ModType()},
                       {"parameters", std::string(xml.begin(), xml.end())}});
        }
        KxctlEmit({{"transmitters", found.size()}, {"result", KxapiResult2Str(result)}});
        return result == KXAPI_OK ? KXCTL_EXIT_OK : KXCTL_EXIT_FAILED;
    }
    printf("%-4s %-28s %s\n", "#", "frequency", "parameters");
    for (size_t i = 0; i < found.size(); i++)
        printf("%-4zu %-28s %s\n", i + 1, FreqText(found[i].m_FreqHz).c_str(), ParsText(found[i].m_DemodPars).c_str());
    printf("%zu transmitter(s); result %s\n", found.size(), KxapiResult2Str(result));
    if (picture.m_PngPath.empty() && !picture.m_Plot)
        return result == KXAPI_OK ? KXCTL_EXIT_OK : KXCTL_EXIT_FAILED;
    // The picture: the carriers found over the levels of a spectrum scan of the same range,
    // where the port has one.
    std::vector<KxPlot::Carrier> carriers;
    for (const Kxapi::KxBsProgress& step : found)
        carriers.push_back(PlotCarrier(step.m_FreqHz, step.m_DemodPars));
    std::vector<Kxapi::KxSpsProgress> levels;
    const Kxapi::KxStatisticInfo* pLevel = nullptr;
    ScanArgs spectrumRange = shown;
    if (spectrumRange.m_StartHz >= 0 && spectrumRange.m_EndHz > spectrumRange.m_StartHz)
        spectrumRange.m_StepHz = std::max<int64_t>(100000, (spectrumRange.m_EndHz - spectrumRange.m_StartHz) / 600);
    const KXAPI_RESULT spectrum = SpectrumScan(client, spectrumRange, 5, levels, pLevel);
    if (spectrum != KXAPI_OK)
        fprintf(stderr, "kxctl: no levels for the picture: spectrum scan %s\n", KxapiResult2Str(spectrum));
    std::vector<KxPlot::SpectrumPoint> plotPoints = PlotPoints(levels, pLevel);
    if (plotPoints.empty() && shown.m_StartHz >= 0 && shown.m_EndHz > shown.m_StartHz) {
        // No levels: the frequency axis still spans the scanned range.
        plotPoints.push_back({shown.m_StartHz / 1e6, 0.0, false});
        plotPoints.push_back({shown.m_EndHz / 1e6, 0.0, false});
    }
    const std::string title = "blind scan of " + std::to_string(client.Serial()) + " port " +
                              std::to_string(client.PortIndex()) + ": " + std::to_string(found.size()) +
                              " carrier(s)";
    const int status = ShowScanPicture(picture, plotPoints, carriers, pLevel->m_pUnit, title);
    return result != KXAPI_OK ? KXCTL_EXIT_FAILED : status;
}

int RunSpectrum(int argc, char** argv)
{
    PictureOptions picture;
    std::string error;
    if (!TakePictureOptions(argc, argv, picture, error))
        return Usage("spectrum", error.c_str());
    ScanArgs range;
    if (!ParseScanRange(argc, argv, range))
        return Usage("spectrum", "spectrum needs SERIAL PORT START END STEP [TYPE]");
    int32_t scanType = 5;
    if (argc == 6 && !ParseI32(argv[5], scanType))
        return Usage("spectrum", "TYPE is 5 (channel level), 6 (narrow-band level), plus 16 for the variant");
    if (argc > 6)
        return Usage("spectrum", "unexpected arguments");
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    InstallStopHandler();
    std::vector<Kxapi::KxSpsProgress> points;
    const Kxapi::KxStatisticInfo* pLevel = nullptr;
    KXAPI_RESULT result = SpectrumScan(client, range, scanType, points, pLevel);
    if (points.empty() && result != KXAPI_OK)
        return KxctlFail("spectrum scan", result);
    const bool json = KxctlJsonOutput();
    if (!json && !picture.m_Plot)
        printf("%-28s %s\n", "frequency", "level");
    for (const Kxapi::KxSpsProgress& point : points) {
        const double level = point.m_Level * pLevel->m_Scale;
        if (json) {
            KxctlJson object = {{"frequency", point.m_FreqHz}, {"frequency_unit", "Hz"}};
            object["level"] = Measured(point) ? KxctlJson(level) : KxctlJson();
            object["unit"] = pLevel->m_pUnit;
            object["raw"] = point.m_Level;
            object["result"] = KxapiResult2Str(static_cast<KXAPI_RESULT>(point.m_Result));
            KxctlEmit(object);
        } else if (picture.m_Plot) {
            continue; // the rendering replaces the table
        } else if (Measured(point)) {
            printf("%-28s %.1f %s\n", FreqText(point.m_FreqHz).c_str(), level, pLevel->m_pUnit);
        } else {
            printf("%-28s -- %s\n", FreqText(point.m_FreqHz).c_str(),
                   KxapiResult2Str(static_cast<KXAPI_RESULT>(point.m_Result)));
        }
    }
    if (json)
        KxctlEmit({{"points", points.size()}, {"result", KxapiResult2Str(result)}});
    else
        printf("%zu point(s); result %s\n", points.size(), KxapiResult2Str(result));
    const std::string title = "spectrum of " + std::to_string(client.Serial()) + " port " +
                              std::to_string(client.PortIndex());
    const int status = points.empty() ? KXCTL_EXIT_OK
                                      : ShowScanPicture(picture, PlotPoints(points, pLevel), {}, pLevel->m_pUnit, title);
    return result != KXAPI_OK ? KXCTL_EXIT_FAILED : status;
}

DemodSubRegistrar g_BlindScan({"blindscan",
                               "SERIAL PORT START END STEP [--fixed MAX] [MOD X0 X1 X2 | --xml KXDEMODPARS] "
                               "[--png FILE] [--plot]",
                               "blind scan with progress bar and table of transmitters; --png FILE draws them over "
                               "the spectrum, --plot in the terminal", RunBlindScan});
DemodSubRegistrar g_Spectrum({"spectrum", "SERIAL PORT START END STEP [TYPE] [--png FILE] [--plot]",
                              "spectrum scan (TYPE 5 channel level, 6 narrow band) with progress and levels",
                              RunSpectrum});

} // namespace
