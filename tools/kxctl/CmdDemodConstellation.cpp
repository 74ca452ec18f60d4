// kxctl demod constellation: a port's constellation points as a density picture with the ideal
// points of its modulation and the MER they show.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CmdDemod.h"
#include "KxPlot.h"
#include "KxctlCommand.h"
#include "XpUtil.h"

using namespace KxctlDemod;
using Kxapi::DemodPortClient;

namespace {

constexpr int32_t DEFAULT_POINTS = 2000;
constexpr int32_t MAX_POINTS = 100000;
constexpr int32_t POINTS_PER_REQUEST = 256; // what one reply of the XML form carries with room
constexpr int TERMINAL_COLUMNS = 64;
constexpr int TERMINAL_ROWS = 32;
// A port starts acquiring at the tick after the attach.
constexpr unsigned int SETTLE_MS = 300;

int RunConstellation(int argc, char** argv)
{
    PictureOptions picture;
    std::string error;
    if (!TakePictureOptions(argc, argv, picture, error))
        return Usage("constellation", error.c_str());
    if (argc < 2)
        return Usage("constellation", "constellation needs SERIAL PORT");
    int32_t count = DEFAULT_POINTS;
    int64_t streamId = -1;
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--stream") == 0 && i + 1 < argc && ParseI64(argv[i + 1], streamId))
            i++;
        else if (!ParseI32(argv[i], count) || count < 1 || count > MAX_POINTS)
            return Usage("constellation", "N is a number of points from 1 to 100000; --stream ID selects a stream");
    }
    DemodPortClient client;
    if (int status = OpenPort(argv[0], argv[1], client))
        return status;
    XpUtil::Sleep(SETTLE_MS);
    // One reply carries a few hundred points in its XML form: larger counts are read in parts.
    std::vector<KxPlot::Point> points;
    while (static_cast<int32_t>(points.size()) < count) {
        const int32_t part = std::min<int32_t>(POINTS_PER_REQUEST, count - static_cast<int32_t>(points.size()));
        std::vector<Kxapi::KxConstelPoint> read;
        KXAPI_RESULT result = client.Svc().ConstellationPointsGet(part, streamId, read);
        if (result != KXAPI_OK)
            return KxctlFail("constellation", result);
        if (read.empty())
            break;
        for (const Kxapi::KxConstelPoint& p : read)
            points.push_back({static_cast<double>(p.m_X), static_cast<double>(p.m_Y)});
    }

    Kxapi::KxDemodPars pars;
    const bool knowsPars = client.Svc().ControlGet(pars) == KXAPI_OK;
    const std::vector<KxPlot::Point> ideal =
        KxPlot::ScaleIdeal(points, KxPlot::IdealConstellation(knowsPars ? pars.ModType() : -1));
    const double merDb = KxPlot::MerDb(points, ideal);
    std::string title = std::to_string(client.Serial()) + " port " + std::to_string(client.PortIndex());
    if (knowsPars)
        title += ", " + std::string(Kxapi::KxModTypeName(pars.ModType()));
    char merText[64];
    if (std::isnan(merDb))
        snprintf(merText, sizeof(merText), ", %zu points", points.size());
    else
        snprintf(merText, sizeof(merText), ", MER %.1f dB, %zu points", merDb, points.size());
    title += merText;

    if (KxctlJsonOutput()) {
        KxctlJson object = {{"serial", client.Serial()}, {"port", client.PortIndex()}, {"points", points.size()}};
        object["mer"] = std::isnan(merDb) ? KxctlJson() : KxctlJson(merDb);
        object["unit"] = "dB";
        if (!picture.m_PngPath.empty())
            object["picture"] = picture.m_PngPath;
        KxctlEmit(object);
    } else if (picture.m_PngPath.empty() || picture.m_Plot) {
        printf("%s\n%s", title.c_str(), KxPlot::ConstellationText(points, ideal, TERMINAL_COLUMNS, TERMINAL_ROWS).c_str());
    } else {
        printf("%s\n", title.c_str());
    }
    if (!picture.m_PngPath.empty()) {
        KxPlot::Frame frame;
        if (!KxPlot::WriteConstellationPng(points, ideal, title, picture.m_PngPath, frame, error)) {
            fprintf(stderr, "kxctl: %s\n", error.c_str());
            return KXCTL_EXIT_FAILED;
        }
        if (!KxctlJsonOutput())
            printf("picture written to %s\n", picture.m_PngPath.c_str());
    }
    return KXCTL_EXIT_OK;
}

DemodSubRegistrar g_Constellation({"constellation", "SERIAL PORT [N] [--stream ID] [--png FILE] [--plot]",
                                   "N constellation points (default 2000) with the MER they show, in the terminal "
                                   "or as a PNG density picture with the ideal points",
                                   RunConstellation});

} // namespace
