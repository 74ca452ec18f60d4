// Pictures of receiver measurements: spectra with the carriers found, and constellations with
// the ideal points of their modulation, as PNG files (cairo) and as compact terminal text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace KxPlot {

struct SpectrumPoint {
    double m_FreqMHz = 0.0;
    double m_Level = 0.0;  // in the picture's level unit
    bool m_Valid = true;   // false: no measurement at this frequency
};

// A carrier found: centre and symbol rate, with the band it occupies.
struct Carrier {
    double m_FreqMHz = 0.0;
    double m_SymbolRateMsps = 0.0;
    double m_BandwidthMHz = 0.0; // occupied bandwidth; 0 draws only the centre line
};

struct Point {
    double m_X = 0.0;
    double m_Y = 0.0;
};

// Where the data area of a picture lies and which values its edges stand for.
struct Frame {
    int m_Left = 0, m_Top = 0, m_Right = 0, m_Bottom = 0; // pixels
    double m_XMin = 0.0, m_XMax = 1.0, m_YMin = 0.0, m_YMax = 1.0;
    double XPixel(double x) const;
    double YPixel(double y) const;
    double XValue(double pixel) const;
};

constexpr int PICTURE_WIDTH = 1200;
constexpr int PICTURE_HEIGHT = 700;
constexpr int CONSTELLATION_SIZE = 800;

// Colours the tests look for: the level trace, the carrier markers, the ideal points (RGB).
constexpr uint32_t TRACE_RGB = 0x1f77b4;
constexpr uint32_t CARRIER_RGB = 0xd62728;
constexpr uint32_t IDEAL_RGB = 0xd62728;

// Writes a spectrum: frequency axis in MHz, level axis in `levelUnit`, each carrier marked with
// its band and labelled with frequency and symbol rate. Without valid points (a blind scan only)
// the carriers are drawn on a bare frequency axis. False with the reason in `error`.
bool WriteSpectrumPng(const std::vector<SpectrumPoint>& points, const std::vector<Carrier>& carriers,
                      const std::string& levelUnit, const std::string& title, const std::string& path, Frame& frame,
                      std::string& error);

// Writes a constellation: a density plot of the points, the ideal points overlaid (already
// scaled to the points, see ScaleIdeal), `title` above (with the MER).
bool WriteConstellationPng(const std::vector<Point>& points, const std::vector<Point>& ideal, const std::string& title,
                           const std::string& path, Frame& frame, std::string& error);

// Terminal renderings of `columns` x `rows` characters (UTF-8 block characters for the
// spectrum, a density ramp for the constellation), with their axes' end values.
std::string SpectrumText(const std::vector<SpectrumPoint>& points, const std::vector<Carrier>& carriers,
                         const std::string& levelUnit, int columns, int rows);
std::string ConstellationText(const std::vector<Point>& points, const std::vector<Point>& ideal, int columns, int rows);

// The ideal points of a modulation type of the device API (QPSK, 8PSK, 16APSK, 32APSK and the
// QAM orders), with unit mean energy; empty for a type without a fixed constellation.
std::vector<Point> IdealConstellation(int32_t modType);
// `ideal` scaled so that its mean energy equals that of `points`.
std::vector<Point> ScaleIdeal(const std::vector<Point>& points, const std::vector<Point>& ideal);
// MER (dB) of `points` against the nearest of `ideal` (scaled as by ScaleIdeal); NaN when either
// is empty.
double MerDb(const std::vector<Point>& points, const std::vector<Point>& ideal);

} // namespace KxPlot
