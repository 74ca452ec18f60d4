// Pictures of scans and constellations: the PNG files are read back and checked where the
// scene puts its carriers and points, and the terminal renderings likewise.
#include <gtest/gtest.h>

#include <cairo.h>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "KxPlot.h"
#include "SimRfScene.h"
#include "TestSupport.h"

namespace {

using KxPlot::Carrier;
using KxPlot::Frame;
using KxPlot::Point;
using KxPlot::SpectrumPoint;

// A PNG read back, with its pixels as 0xRRGGBB.
class Picture {
public:
    explicit Picture(const std::string& path) : m_pSurface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Picture() { cairo_surface_destroy(m_pSurface); }
    bool Ok() const { return cairo_surface_status(m_pSurface) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(m_pSurface); }
    int Height() const { return cairo_image_surface_get_height(m_pSurface); }
    uint32_t Rgb(int x, int y) const
    {
        const unsigned char* row = cairo_image_surface_get_data(m_pSurface) + y * cairo_image_surface_get_stride(m_pSurface);
        return reinterpret_cast<const uint32_t*>(row)[x] & 0xffffff;
    }
    // Topmost row of column x in [top, bottom] with colour rgb; -1 when there is none.
    int TopmostOf(int x, int top, int bottom, uint32_t rgb) const
    {
        for (int y = top; y <= bottom; y++)
            if (Rgb(x, y) == rgb)
                return y;
        return -1;
    }

private:
    cairo_surface_t* m_pSurface;
};

// The scene of a satellite input: two carriers over a noise floor, and what a spectrum scan
// of it reads every 2 MHz (the carrier's level inside its occupied band, else the floor).
struct Scene {
    std::vector<SimCarrier> m_Carriers;
    double m_FloorDbm = -85.0;
    Scene()
    {
        SimCarrier wide;
        wide.m_FreqHz = 1200000000;
        wide.m_SymbolRateBd = 27500000;
        wide.m_RollOffPercent = 35;
        wide.m_LevelDbm = -45.0;
        SimCarrier narrow = wide;
        narrow.m_FreqHz = 1750000000;
        narrow.m_SymbolRateBd = 10000000;
        narrow.m_RollOffPercent = 20;
        narrow.m_LevelDbm = -55.0;
        m_Carriers = {wide, narrow};
    }
    std::vector<SpectrumPoint> Spectrum() const
    {
        std::vector<SpectrumPoint> points;
        for (int64_t f = 950000000; f <= 2150000000; f += 2000000) {
            double level = m_FloorDbm;
            for (const SimCarrier& c : m_Carriers)
                if (std::llabs(f - c.m_FreqHz) <= c.OccupiedBandwidthHz() / 2)
                    level = c.m_LevelDbm;
            points.push_back({f / 1e6, level, true});
        }
        return points;
    }
    std::vector<Carrier> Found() const
    {
        std::vector<Carrier> found;
        for (const SimCarrier& c : m_Carriers)
            found.push_back({c.m_FreqHz / 1e6, c.m_SymbolRateBd / 1e6, c.OccupiedBandwidthHz() / 1e6});
        return found;
    }
};

TEST(Plot, SpectrumPictureShowsEachCarrierOfTheSceneWhereTheSceneHasIt)
{
    kxtest::TempDir dir;
    const Scene scene;
    const std::string path = dir.File("spectrum.png");
    Frame frame;
    std::string error;
    ASSERT_TRUE(KxPlot::WriteSpectrumPng(scene.Spectrum(), scene.Found(), "dBm", "scan", path, frame, error)) << error;
    Picture picture(path);
    ASSERT_TRUE(picture.Ok());
    EXPECT_EQ(KxPlot::PICTURE_WIDTH, picture.Width());
    EXPECT_EQ(KxPlot::PICTURE_HEIGHT, picture.Height());
    // Axes: the frequency axis spans the scan in MHz, the level axis the levels read.
    EXPECT_NEAR(950.0, frame.m_XMin, 1e-9);
    EXPECT_NEAR(2150.0, frame.m_XMax, 1e-9);
    EXPECT_LE(frame.m_YMin, scene.m_FloorDbm);
    EXPECT_GE(frame.m_YMax, -45.0);
    EXPECT_EQ(0x000000u, picture.Rgb(frame.m_Left, (frame.m_Top + frame.m_Bottom) / 2)); // left axis line
    EXPECT_EQ(0x000000u, picture.Rgb((frame.m_Left + frame.m_Right) / 2, frame.m_Bottom)); // bottom axis line

    const int floorY = static_cast<int>(std::lround(frame.YPixel(scene.m_FloorDbm)));
    for (const SimCarrier& c : scene.m_Carriers) {
        SCOPED_TRACE(c.m_FreqHz);
        const int x = static_cast<int>(std::lround(frame.XPixel(c.m_FreqHz / 1e6)));
        // The marker line at the carrier's frequency, and the trace raised to its level there.
        EXPECT_NE(-1, picture.TopmostOf(x, frame.m_Top, frame.m_Bottom, KxPlot::CARRIER_RGB));
        int traceY = -1;
        for (int dx = -3; dx <= 3 && traceY < 0; dx++)
            traceY = picture.TopmostOf(x + dx, frame.m_Top, frame.m_Bottom, KxPlot::TRACE_RGB);
        ASSERT_NE(-1, traceY);
        EXPECT_NEAR(frame.YPixel(c.m_LevelDbm), traceY, 3.0);
        EXPECT_LT(traceY, floorY - 20);
    }
    // Between the carriers: the trace at the floor and no marker.
    const int empty = static_cast<int>(std::lround(frame.XPixel(1500.0)));
    EXPECT_EQ(-1, picture.TopmostOf(empty, frame.m_Top, frame.m_Bottom, KxPlot::CARRIER_RGB));
    EXPECT_NEAR(floorY, picture.TopmostOf(empty, frame.m_Top, frame.m_Bottom, KxPlot::TRACE_RGB), 3.0);
}

TEST(Plot, ABlindScanWithoutLevelsStillMarksItsCarriersOnTheFrequencyAxis)
{
    kxtest::TempDir dir;
    const Scene scene;
    Frame frame;
    std::string error;
    ASSERT_TRUE(KxPlot::WriteSpectrumPng({}, scene.Found(), "dBm", "blind", dir.File("b.png"), frame, error)) << error;
    Picture picture(dir.File("b.png"));
    ASSERT_TRUE(picture.Ok());
    for (const SimCarrier& c : scene.m_Carriers)
        EXPECT_NE(-1, picture.TopmostOf(static_cast<int>(std::lround(frame.XPixel(c.m_FreqHz / 1e6))), frame.m_Top,
                                        frame.m_Bottom, KxPlot::CARRIER_RGB));
    EXPECT_FALSE(KxPlot::WriteSpectrumPng({}, {}, "dBm", "nothing", dir.File("n.png"), frame, error));
    EXPECT_FALSE(KxPlot::WriteSpectrumPng(scene.Spectrum(), {}, "dBm", "t", dir.File("no/such/dir.png"), frame, error));
    EXPECT_NE(std::string::npos, error.find("no/such/dir.png")) << error;
}

TEST(Plot, TerminalSpectrumMarksTheCarriersInTheirColumns)
{
    const Scene scene;
    const int columns = 60;
    const std::string text = KxPlot::SpectrumText(scene.Spectrum(), scene.Found(), "dBm", columns, 8);
    std::istringstream lines(text);
    std::string line, marks;
    while (std::getline(lines, line))
        if (line.find('^') != std::string::npos && marks.empty())
            marks = line.substr(11); // after the level column and the axis
    ASSERT_FALSE(marks.empty()) << text;
    for (const SimCarrier& c : scene.m_Carriers) {
        const size_t column = static_cast<size_t>((c.m_FreqHz / 1e6 - 950.0) / 1200.0 * columns);
        EXPECT_EQ('^', marks.at(column)) << text;
    }
    EXPECT_NE(std::string::npos, text.find("1200.000 MHz, 27.500 Msym/s")) << text;
    EXPECT_NE(std::string::npos, text.find("950.000 MHz")) << text;
}

std::vector<Point> ScenePoints(int constellation, double merDb, int n)
{
    SimCarrier carrier;
    carrier.m_Constellation = constellation;
    SimRandom random(7);
    std::vector<Point> points;
    for (const SimIqSample& s : SimRf::ConstellationPoints(carrier, merDb, n, random))
        points.push_back({static_cast<double>(s.m_I), static_cast<double>(s.m_Q)});
    return points;
}

TEST(Plot, ConstellationPictureOverlaysTheIdealPointsWhereTheDensityIs)
{
    const int32_t QAM64 = 6;
    const std::vector<Point> points = ScenePoints(64, 30.0, 20000);
    const std::vector<Point> ideal = KxPlot::ScaleIdeal(points, KxPlot::IdealConstellation(QAM64));
    ASSERT_EQ(64u, ideal.size());
    // The MER the points show is the scene's, within the spread of 20000 points.
    EXPECT_NEAR(30.0, KxPlot::MerDb(points, ideal), 0.5);

    kxtest::TempDir dir;
    Frame frame;
    std::string error;
    ASSERT_TRUE(KxPlot::WriteConstellationPng(points, ideal, "QAM64, MER 30.0 dB", dir.File("c.png"), frame, error));
    Picture picture(dir.File("c.png"));
    ASSERT_TRUE(picture.Ok());
    EXPECT_EQ(KxPlot::CONSTELLATION_SIZE, picture.Width());
    EXPECT_EQ(KxPlot::CONSTELLATION_SIZE, picture.Height());
    EXPECT_NEAR(-frame.m_XMin, frame.m_XMax, 1e-9); // centred on the origin
    for (const Point& p : ideal) {
        const int x = static_cast<int>(std::lround(frame.XPixel(p.m_X)));
        const int y = static_cast<int>(std::lround(frame.YPixel(p.m_Y)));
        EXPECT_EQ(KxPlot::IDEAL_RGB, picture.Rgb(x, y)) << p.m_X << "," << p.m_Y; // the cross's centre
        // The received points gather around it, off the cross's arms.
        int shaded = 0;
        for (int dy = -6; dy <= 6; dy++)
            for (int dx = -6; dx <= 6; dx++)
                shaded += dx != 0 && dy != 0 && picture.Rgb(x + dx, y + dy) != 0xffffffu;
        EXPECT_GT(shaded, 20) << p.m_X << "," << p.m_Y;
    }
    // Half-way between two neighbouring ideal points nothing was received at this MER.
    const double midX = (ideal[0].m_X + ideal[1].m_X) / 2, midY = (ideal[0].m_Y + ideal[1].m_Y) / 2;
    EXPECT_EQ(0xffffffu, picture.Rgb(static_cast<int>(std::lround(frame.XPixel(midX))),
                                     static_cast<int>(std::lround(frame.YPixel(midY)))));
}

TEST(Plot, IdealConstellationsHaveTheirSizeShapeAndUnitEnergy)
{
    struct Case {
        int32_t m_ModType;
        size_t m_Points;
    };
    for (const Case& c : {Case{32, 4}, Case{33, 8}, Case{34, 16}, Case{35, 32}, Case{4, 16}, Case{5, 32},
                          Case{6, 64}, Case{7, 128}, Case{8, 256}}) {
        SCOPED_TRACE(c.m_ModType);
        const std::vector<Point> points = KxPlot::IdealConstellation(c.m_ModType);
        ASSERT_EQ(c.m_Points, points.size());
        double energy = 0.0;
        for (const Point& p : points)
            energy += p.m_X * p.m_X + p.m_Y * p.m_Y;
        EXPECT_NEAR(1.0, energy / static_cast<double>(points.size()), 1e-9);
    }
    // Cross constellations leave out the corners: no 32-QAM point has both coordinates at the edge.
    const std::vector<Point> cross = KxPlot::IdealConstellation(5);
    double edge = 0.0;
    for (const Point& p : cross)
        edge = std::max(edge, std::fabs(p.m_X));
    for (const Point& p : cross)
        EXPECT_FALSE(std::fabs(std::fabs(p.m_X) - edge) < 1e-9 && std::fabs(std::fabs(p.m_Y) - edge) < 1e-9);
    EXPECT_TRUE(KxPlot::IdealConstellation(9).empty()); // DVB-T: no single constellation
    EXPECT_TRUE(std::isnan(KxPlot::MerDb(ScenePoints(16, 20.0, 10), {})));
}

TEST(Plot, TerminalConstellationShowsTheDensityAtTheIdealPoints)
{
    const std::vector<Point> points = ScenePoints(16, 25.0, 4000);
    const std::vector<Point> ideal = KxPlot::ScaleIdeal(points, KxPlot::IdealConstellation(4));
    const std::string text = KxPlot::ConstellationText(points, ideal, 32, 16);
    std::vector<std::string> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        rows.push_back(line);
    ASSERT_EQ(18u, rows.size()) << text; // a border above and below
    // 16 clusters: 4 rows of the picture hold the densest marks, each 4 times.
    int densest = 0;
    for (const std::string& row : rows)
        for (char ch : row)
            densest += ch == '@' || ch == '%' || ch == '#';
    EXPECT_GE(densest, 16) << text;
}

} // namespace

namespace {

// kxctl against the virtual cards: the picture of a QAM-64 port of the twelve-port card.
TEST(PlotProcess, KxctlDrawsTheConstellationOfAVirtualCardWithItsMer)
{
    kxtest::SimService service;
    ASSERT_TRUE(service.Start());
    kxtest::TempDir dir;
    auto kxctl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "demod"});
        return kxtest::RunProgram(args, 30000);
    };
    ASSERT_EQ(0, kxctl({"wait", "3530000001", "0", "--timeout", "20000"}).m_Status);
    // The scene's QAM-64 carrier at 314 MHz, C/N 30 dB.
    kxtest::ProcessResult tune = kxctl({"tune", "3530000001", "0", "314M", "--xml",
                                        "<KxDemodPars mod=\"6\"><Qam anx=\"1\" il=\"0\" symb=\"6900000\"/></KxDemodPars>",
                                        "--wait-lock", "10000"});
    ASSERT_EQ(0, tune.m_Status) << tune.m_Output;
    const std::string path = dir.File("constellation.png");
    kxtest::ProcessResult drawn = kxctl({"constellation", "3530000001", "0", "3000", "--png", path});
    ASSERT_EQ(0, drawn.m_Status) << drawn.m_Output;
    // The title carries the MER the points show: the carrier's C/N less the card's loss.
    const size_t at = drawn.m_Output.find("QAM64, MER ");
    ASSERT_NE(std::string::npos, at) << drawn.m_Output;
    EXPECT_NEAR(29.5, std::stod(drawn.m_Output.substr(at + 11)), 1.5) << drawn.m_Output;
    Picture picture(path);
    ASSERT_TRUE(picture.Ok());
    EXPECT_EQ(KxPlot::CONSTELLATION_SIZE, picture.Width());
    // 64 ideal points are drawn: count the crosses' centres, 3 x 3 pixels of the pure colour.
    auto centre = [&](int x, int y) {
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++)
                if (picture.Rgb(x + dx, y + dy) != KxPlot::IDEAL_RGB)
                    return false;
        return true;
    };
    int centres = 0;
    for (int y = 1; y + 1 < picture.Height(); y++)
        for (int x = 1; x + 1 < picture.Width(); x++)
            centres += centre(x, y);
    EXPECT_EQ(64, centres);
}

} // namespace
