#include "KxPlot.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace KxPlot {

namespace {

constexpr int MARGIN_LEFT = 90;
constexpr int MARGIN_RIGHT = 30;
constexpr int MARGIN_TOP = 60;
constexpr int MARGIN_BOTTOM = 70;
constexpr int TARGET_TICKS = 8;
constexpr double FONT_SIZE = 14.0;
constexpr double TITLE_SIZE = 17.0;
constexpr double LABEL_WIDTH = 110.0; // room a carrier's label needs right of its line
// Modulation type codes of the device API with a fixed constellation.
constexpr int32_t MOD_DVBS = 0, MOD_QAM4 = 3, MOD_QAM16 = 4, MOD_QAM32 = 5, MOD_QAM64 = 6, MOD_QAM128 = 7,
                  MOD_QAM256 = 8, MOD_S2_QPSK = 32, MOD_S2_8PSK = 33, MOD_S2_16APSK = 34, MOD_S2_32APSK = 35;
// Ring ratios of the APSK constellations (middle of the code rates' values).
constexpr double APSK16_GAMMA = 2.7;
constexpr double APSK32_GAMMA1 = 2.64;
constexpr double APSK32_GAMMA2 = 4.64;
constexpr double PI = 3.14159265358979323846;

void SetRgb(cairo_t* cr, uint32_t rgb, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0, alpha);
}

// A step of 1, 2 or 5 times a power of ten giving about TARGET_TICKS ticks over `range`.
double TickStep(double range)
{
    if (!(range > 0.0))
        return 1.0;
    const double raw = range / TARGET_TICKS;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (raw <= factor * power)
            return factor * power;
    return 10.0 * power;
}

std::string Number(double value, double step)
{
    char text[32];
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step)));
    snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double alignX, double alignY, double size)
{
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_move_to(cr, x - extents.width * alignX - extents.x_bearing, y - extents.height * alignY - extents.y_bearing);
    cairo_show_text(cr, text.c_str());
}

// Frame, ticks, grid and axis labels.
void DrawAxes(cairo_t* cr, const Frame& frame, const std::string& xLabel, const std::string& yLabel, bool yTicks)
{
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    const double xStep = TickStep(frame.m_XMax - frame.m_XMin);
    const double yStep = TickStep(frame.m_YMax - frame.m_YMin);
    cairo_set_line_width(cr, 1.0);
    for (double x = std::ceil(frame.m_XMin / xStep) * xStep; x <= frame.m_XMax + xStep * 1e-9; x += xStep) {
        const double px = std::round(frame.XPixel(x)) + 0.5;
        SetRgb(cr, 0xdddddd);
        cairo_move_to(cr, px, frame.m_Top);
        cairo_line_to(cr, px, frame.m_Bottom);
        cairo_stroke(cr);
        SetRgb(cr, 0x000000);
        Text(cr, px, frame.m_Bottom + 8, Number(x, xStep), 0.5, 0.0, FONT_SIZE);
    }
    for (double y = std::ceil(frame.m_YMin / yStep) * yStep; yTicks && y <= frame.m_YMax + yStep * 1e-9; y += yStep) {
        const double py = std::round(frame.YPixel(y)) + 0.5;
        SetRgb(cr, 0xdddddd);
        cairo_move_to(cr, frame.m_Left, py);
        cairo_line_to(cr, frame.m_Right, py);
        cairo_stroke(cr);
        SetRgb(cr, 0x000000);
        Text(cr, frame.m_Left - 8, py, Number(y, yStep), 1.0, 0.5, FONT_SIZE);
    }
    // A 2-pixel frame on whole pixels: the columns and rows m_Left - 1, m_Left ... are black.
    SetRgb(cr, 0x000000);
    cairo_set_line_width(cr, 2.0);
    cairo_rectangle(cr, frame.m_Left, frame.m_Top, frame.m_Right - frame.m_Left, frame.m_Bottom - frame.m_Top);
    cairo_stroke(cr);
    Text(cr, (frame.m_Left + frame.m_Right) / 2.0, frame.m_Bottom + 40, xLabel, 0.5, 0.0, FONT_SIZE);
    cairo_save(cr);
    cairo_translate(cr, 22, (frame.m_Top + frame.m_Bottom) / 2.0);
    cairo_rotate(cr, -PI / 2);
    Text(cr, 0, 0, yLabel, 0.5, 0.5, FONT_SIZE);
    cairo_restore(cr);
}

bool Finish(cairo_surface_t* surface, cairo_t* cr, const std::string& path, std::string& error)
{
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}

void Ring(std::vector<Point>& points, int count, double radius, double phase)
{
    for (int k = 0; k < count; k++)
        points.push_back({radius * std::cos(phase + 2.0 * PI * k / count), radius * std::sin(phase + 2.0 * PI * k / count)});
}

// Square grid of side x side points, without `corner` x `corner` points at each corner.
void Grid(std::vector<Point>& points, int side, int corner)
{
    for (int i = 0; i < side; i++)
        for (int q = 0; q < side; q++) {
            const bool nearX = i < corner || i >= side - corner;
            const bool nearY = q < corner || q >= side - corner;
            if (!(nearX && nearY))
                points.push_back({2.0 * i - (side - 1), 2.0 * q - (side - 1)});
        }
}

double MeanEnergy(const std::vector<Point>& points)
{
    double sum = 0.0;
    for (const Point& p : points)
        sum += p.m_X * p.m_X + p.m_Y * p.m_Y;
    return points.empty() ? 0.0 : sum / static_cast<double>(points.size());
}

double Extent(const std::vector<Point>& points, double current)
{
    for (const Point& p : points)
        current = std::max({current, std::fabs(p.m_X), std::fabs(p.m_Y)});
    return current;
}

} // namespace

double Frame::XPixel(double x) const
{
    return m_Left + (x - m_XMin) / (m_XMax - m_XMin) * (m_Right - m_Left);
}

double Frame::YPixel(double y) const
{
    return m_Bottom - (y - m_YMin) / (m_YMax - m_YMin) * (m_Bottom - m_Top);
}

double Frame::XValue(double pixel) const
{
    return m_XMin + (pixel - m_Left) / (m_Right - m_Left) * (m_XMax - m_XMin);
}

bool WriteSpectrumPng(const std::vector<SpectrumPoint>& points, const std::vector<Carrier>& carriers,
                      const std::string& levelUnit, const std::string& title, const std::string& path, Frame& frame,
                      std::string& error)
{
    if (points.empty() && carriers.empty()) {
        error = "nothing to draw";
        return false;
    }
    frame = Frame{MARGIN_LEFT, MARGIN_TOP, PICTURE_WIDTH - MARGIN_RIGHT, PICTURE_HEIGHT - MARGIN_BOTTOM};
    double xMin = std::numeric_limits<double>::max(), xMax = std::numeric_limits<double>::lowest();
    double yMin = xMin, yMax = xMax;
    for (const SpectrumPoint& p : points) {
        xMin = std::min(xMin, p.m_FreqMHz);
        xMax = std::max(xMax, p.m_FreqMHz);
        if (p.m_Valid) {
            yMin = std::min(yMin, p.m_Level);
            yMax = std::max(yMax, p.m_Level);
        }
    }
    for (const Carrier& c : carriers) {
        xMin = std::min(xMin, c.m_FreqMHz - c.m_BandwidthMHz / 2);
        xMax = std::max(xMax, c.m_FreqMHz + c.m_BandwidthMHz / 2);
    }
    if (xMax <= xMin) {
        xMin -= 1.0;
        xMax += 1.0;
    }
    const bool levels = yMax >= yMin;
    if (!levels) {
        yMin = 0.0;
        yMax = 1.0;
    } else {
        // Room above the highest level for the carriers' labels.
        const double span = std::max(yMax - yMin, 1.0);
        yMin -= 0.05 * span;
        yMax += 0.25 * span;
    }
    frame.m_XMin = xMin;
    frame.m_XMax = xMax;
    frame.m_YMin = yMin;
    frame.m_YMax = yMax;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, PICTURE_WIDTH, PICTURE_HEIGHT);
    cairo_t* cr = cairo_create(surface);
    SetRgb(cr, 0xffffff);
    cairo_paint(cr);
    DrawAxes(cr, frame, "frequency (MHz)", levels ? "level (" + levelUnit + ")" : "", levels);

    cairo_save(cr);
    cairo_rectangle(cr, frame.m_Left, frame.m_Top, frame.m_Right - frame.m_Left, frame.m_Bottom - frame.m_Top);
    cairo_clip(cr);
    for (const Carrier& c : carriers) {
        const double left = frame.XPixel(c.m_FreqMHz - c.m_BandwidthMHz / 2);
        const double right = frame.XPixel(c.m_FreqMHz + c.m_BandwidthMHz / 2);
        SetRgb(cr, CARRIER_RGB, 0.12);
        cairo_rectangle(cr, left, frame.m_Top, std::max(1.0, right - left), frame.m_Bottom - frame.m_Top);
        cairo_fill(cr);
        SetRgb(cr, CARRIER_RGB);
        cairo_set_line_width(cr, 1.5);
        const double centre = std::round(frame.XPixel(c.m_FreqMHz)) + 0.5;
        cairo_move_to(cr, centre, frame.m_Top);
        cairo_line_to(cr, centre, frame.m_Bottom);
        cairo_stroke(cr);
        char line1[48], line2[48];
        snprintf(line1, sizeof(line1), "%.3f MHz", c.m_FreqMHz);
        snprintf(line2, sizeof(line2), "%.3f Msym/s", c.m_SymbolRateMsps);
        // Labels right of the line, or left of it near the right edge.
        const bool onTheLeft = centre + LABEL_WIDTH > frame.m_Right;
        const double labelX = onTheLeft ? centre - 4 : centre + 4;
        Text(cr, labelX, frame.m_Top + 6, line1, onTheLeft ? 1.0 : 0.0, 0.0, FONT_SIZE - 2);
        Text(cr, labelX, frame.m_Top + 24, line2, onTheLeft ? 1.0 : 0.0, 0.0, FONT_SIZE - 2);
    }
    SetRgb(cr, TRACE_RGB);
    cairo_set_line_width(cr, 1.8);
    bool drawing = false;
    for (const SpectrumPoint& p : points) {
        if (!p.m_Valid) {
            drawing = false;
            continue;
        }
        const double x = frame.XPixel(p.m_FreqMHz), y = frame.YPixel(p.m_Level);
        if (drawing)
            cairo_line_to(cr, x, y);
        else
            cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
    cairo_restore(cr);
    SetRgb(cr, 0x000000);
    Text(cr, PICTURE_WIDTH / 2.0, 20, title, 0.5, 0.0, TITLE_SIZE);
    return Finish(surface, cr, path, error);
}

bool WriteConstellationPng(const std::vector<Point>& points, const std::vector<Point>& ideal, const std::string& title,
                           const std::string& path, Frame& frame, std::string& error)
{
    if (points.empty()) {
        error = "no constellation points";
        return false;
    }
    frame = Frame{MARGIN_LEFT, MARGIN_TOP, CONSTELLATION_SIZE - MARGIN_RIGHT, CONSTELLATION_SIZE - MARGIN_BOTTOM};
    const double extent = std::max(1.0, Extent(ideal, Extent(points, 0.0))) * 1.08;
    frame.m_XMin = frame.m_YMin = -extent;
    frame.m_XMax = frame.m_YMax = extent;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, CONSTELLATION_SIZE, CONSTELLATION_SIZE);
    cairo_t* cr = cairo_create(surface);
    SetRgb(cr, 0xffffff);
    cairo_paint(cr);
    DrawAxes(cr, frame, "I", "Q", true);

    // Density: points per 2 x 2 pixel cell, shaded on a logarithmic scale.
    const int cell = 2;
    const int columns = (frame.m_Right - frame.m_Left) / cell, rows = (frame.m_Bottom - frame.m_Top) / cell;
    std::vector<unsigned int> counts(static_cast<size_t>(columns) * static_cast<size_t>(rows), 0);
    unsigned int most = 0;
    for (const Point& p : points) {
        const int cx = static_cast<int>((frame.XPixel(p.m_X) - frame.m_Left) / cell);
        const int cy = static_cast<int>((frame.YPixel(p.m_Y) - frame.m_Top) / cell);
        if (cx < 0 || cy < 0 || cx >= columns || cy >= rows)
            continue;
        most = std::max(most, ++counts[static_cast<size_t>(cy) * static_cast<size_t>(columns) + static_cast<size_t>(cx)]);
    }
    for (int cy = 0; cy < rows; cy++)
        for (int cx = 0; cx < columns; cx++) {
            const unsigned int n = counts[static_cast<size_t>(cy) * static_cast<size_t>(columns) + static_cast<size_t>(cx)];
            if (n == 0)
                continue;
            const double t = std::log1p(n) / std::log1p(std::max(most, 1u)); // 0..1
            // From light blue to dark blue.
            cairo_set_source_rgb(cr, 0.75 * (1.0 - t), 0.85 * (1.0 - t) + 0.1 * t, 1.0 - 0.55 * t);
            cairo_rectangle(cr, frame.m_Left + cx * cell, frame.m_Top + cy * cell, cell, cell);
            cairo_fill(cr);
        }
    SetRgb(cr, 0x888888);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, frame.XPixel(0.0), frame.m_Top);
    cairo_line_to(cr, frame.XPixel(0.0), frame.m_Bottom);
    cairo_move_to(cr, frame.m_Left, frame.YPixel(0.0));
    cairo_line_to(cr, frame.m_Right, frame.YPixel(0.0));
    cairo_stroke(cr);
    // Each ideal point: a cross on whole pixels, its centre pixel in the pure colour.
    SetRgb(cr, IDEAL_RGB);
    cairo_set_line_width(cr, 1.0);
    for (const Point& p : ideal) {
        const double x = std::round(frame.XPixel(p.m_X)), y = std::round(frame.YPixel(p.m_Y));
        cairo_rectangle(cr, x - 1, y - 1, 3, 3);
        cairo_fill(cr);
        cairo_move_to(cr, x - 6, y + 0.5);
        cairo_line_to(cr, x + 7, y + 0.5);
        cairo_move_to(cr, x + 0.5, y - 6);
        cairo_line_to(cr, x + 0.5, y + 7);
        cairo_stroke(cr);
    }
    SetRgb(cr, 0x000000);
    Text(cr, CONSTELLATION_SIZE / 2.0, 22, title, 0.5, 0.0, TITLE_SIZE);
    return Finish(surface, cr, path, error);
}

std::string SpectrumText(const std::vector<SpectrumPoint>& points, const std::vector<Carrier>& carriers,
                         const std::string& levelUnit, int columns, int rows)
{
    static const char* const BLOCKS[] = {" ", "\u2581", "\u2582", "\u2583", "\u2584", "\u2585", "\u2586", "\u2587", "\u2588"};
    if (points.empty() || columns < 10 || rows < 2)
        return "";
    double xMin = points.front().m_FreqMHz, xMax = points.front().m_FreqMHz;
    double yMin = std::numeric_limits<double>::max(), yMax = std::numeric_limits<double>::lowest();
    for (const SpectrumPoint& p : points) {
        xMin = std::min(xMin, p.m_FreqMHz);
        xMax = std::max(xMax, p.m_FreqMHz);
        if (p.m_Valid) {
            yMin = std::min(yMin, p.m_Level);
            yMax = std::max(yMax, p.m_Level);
        }
    }
    if (xMax <= xMin)
        xMax = xMin + 1.0;
    if (yMax <= yMin)
        yMax = yMin + 1.0;
    yMin -= (yMax - yMin) / (rows * 2); // the lowest level read still shows as a low bar
    // Highest level per column, in eighths of a row.
    std::vector<double> column(static_cast<size_t>(columns), std::numeric_limits<double>::lowest());
    for (const SpectrumPoint& p : points) {
        if (!p.m_Valid)
            continue;
        const int c = std::min(columns - 1, static_cast<int>((p.m_FreqMHz - xMin) / (xMax - xMin) * columns));
        column[static_cast<size_t>(c)] = std::max(column[static_cast<size_t>(c)], p.m_Level);
    }
    std::string text;
    char label[64];
    for (int row = rows - 1; row >= 0; row--) {
        snprintf(label, sizeof(label), "%9.1f |", yMin + (yMax - yMin) * (row + 1) / rows);
        text += row == rows - 1 || row == 0 ? label : "          |";
        for (int c = 0; c < columns; c++) {
            const double level = column[static_cast<size_t>(c)];
            const int eighths = level < yMin ? 0 : static_cast<int>(std::lround((level - yMin) / (yMax - yMin) * rows * 8));
            text += BLOCKS[std::clamp(eighths - row * 8, 0, 8)];
        }
        text += "\n";
    }
    std::string marks(static_cast<size_t>(columns), ' ');
    for (const Carrier& carrier : carriers) {
        const int c = static_cast<int>((carrier.m_FreqMHz - xMin) / (xMax - xMin) * columns);
        if (c >= 0 && c < columns)
            marks[static_cast<size_t>(c)] = '^';
    }
    text += "          +" + marks + "\n";
    snprintf(label, sizeof(label), "%.3f MHz", xMin);
    std::string axis = std::string(11, ' ') + label;
    snprintf(label, sizeof(label), "%.3f MHz", xMax);
    axis.resize(std::max(axis.size() + 1, static_cast<size_t>(11 + columns) - strlen(label)), ' ');
    text += axis + label + "   (level in " + levelUnit + ")\n";
    for (const Carrier& carrier : carriers) {
        snprintf(label, sizeof(label), "  ^ %.3f MHz, %.3f Msym/s\n", carrier.m_FreqMHz, carrier.m_SymbolRateMsps);
        text += label;
    }
    return text;
}

std::string ConstellationText(const std::vector<Point>& points, const std::vector<Point>& ideal, int columns, int rows)
{
    static const char RAMP[] = " .:-=+*#%@";
    if (points.empty() || columns < 4 || rows < 4)
        return "";
    const double extent = std::max(1e-9, Extent(ideal, Extent(points, 0.0))) * 1.05;
    std::vector<unsigned int> counts(static_cast<size_t>(columns) * static_cast<size_t>(rows), 0);
    unsigned int most = 1;
    auto cellOf = [&](const Point& p, int& cx, int& cy) {
        cx = static_cast<int>((p.m_X + extent) / (2 * extent) * columns);
        cy = static_cast<int>((extent - p.m_Y) / (2 * extent) * rows);
        return cx >= 0 && cy >= 0 && cx < columns && cy < rows;
    };
    for (const Point& p : points) {
        int cx = 0, cy = 0;
        if (cellOf(p, cx, cy))
            most = std::max(most, ++counts[static_cast<size_t>(cy) * static_cast<size_t>(columns) + static_cast<size_t>(cx)]);
    }
    std::vector<std::string> lines(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), ' '));
    for (int cy = 0; cy < rows; cy++)
        for (int cx = 0; cx < columns; cx++) {
            const unsigned int n = counts[static_cast<size_t>(cy) * static_cast<size_t>(columns) + static_cast<size_t>(cx)];
            const size_t shade = n == 0 ? 0 : 1 + static_cast<size_t>(std::log1p(n) / std::log1p(most) * (sizeof(RAMP) - 3));
            lines[static_cast<size_t>(cy)][static_cast<size_t>(cx)] = RAMP[shade];
        }
    for (const Point& p : ideal) {
        int cx = 0, cy = 0;
        if (cellOf(p, cx, cy) && lines[static_cast<size_t>(cy)][static_cast<size_t>(cx)] == ' ')
            lines[static_cast<size_t>(cy)][static_cast<size_t>(cx)] = 'o';
    }
    std::string text = "+" + std::string(static_cast<size_t>(columns), '-') + "+\n";
    for (const std::string& line : lines)
        text += "|" + line + "|\n";
    return text + "+" + std::string(static_cast<size_t>(columns), '-') + "+\n";
}

std::vector<Point> IdealConstellation(int32_t modType)
{
    std::vector<Point> points;
    switch (modType) {
    case MOD_DVBS:
    case MOD_QAM4:
    case MOD_S2_QPSK: Ring(points, 4, 1.0, PI / 4); break;
    case MOD_S2_8PSK: Ring(points, 8, 1.0, PI / 4); break;
    case MOD_S2_16APSK:
        Ring(points, 4, 1.0, PI / 4);
        Ring(points, 12, APSK16_GAMMA, PI / 12);
        break;
    case MOD_S2_32APSK:
        Ring(points, 4, 1.0, PI / 4);
        Ring(points, 12, APSK32_GAMMA1, PI / 12);
        Ring(points, 16, APSK32_GAMMA2, 0.0);
        break;
    case MOD_QAM16: Grid(points, 4, 0); break;
    case MOD_QAM32: Grid(points, 6, 1); break;
    case MOD_QAM64: Grid(points, 8, 0); break;
    case MOD_QAM128: Grid(points, 12, 2); break;
    case MOD_QAM256: Grid(points, 16, 0); break;
    default: return points;
    }
    const double norm = std::sqrt(MeanEnergy(points));
    for (Point& p : points) {
        p.m_X /= norm;
        p.m_Y /= norm;
    }
    return points;
}

std::vector<Point> ScaleIdeal(const std::vector<Point>& points, const std::vector<Point>& ideal)
{
    const double idealEnergy = MeanEnergy(ideal);
    if (points.empty() || idealEnergy <= 0.0)
        return {};
    const double factor = std::sqrt(MeanEnergy(points) / idealEnergy);
    std::vector<Point> scaled = ideal;
    for (Point& p : scaled) {
        p.m_X *= factor;
        p.m_Y *= factor;
    }
    return scaled;
}

double MerDb(const std::vector<Point>& points, const std::vector<Point>& ideal)
{
    const std::vector<Point> reference = ScaleIdeal(points, ideal);
    if (reference.empty())
        return std::numeric_limits<double>::quiet_NaN();
    double signal = 0.0, error = 0.0;
    for (const Point& p : points) {
        const Point* nearest = &reference.front();
        double best = std::numeric_limits<double>::max();
        for (const Point& r : reference) {
            const double d = (p.m_X - r.m_X) * (p.m_X - r.m_X) + (p.m_Y - r.m_Y) * (p.m_Y - r.m_Y);
            if (d < best) {
                best = d;
                nearest = &r;
            }
        }
        signal += nearest->m_X * nearest->m_X + nearest->m_Y * nearest->m_Y;
        error += best;
    }
    return error > 0.0 ? 10.0 * std::log10(signal / error) : std::numeric_limits<double>::infinity();
}

} // namespace KxPlot
