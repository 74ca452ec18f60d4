// kxctl demod: the receiver ports of the demod service. Each sub-command lives in a
// CmdDemod*.cpp file and registers itself in the sub-command table:
//
//   static DemodSubRegistrar g_Show({"show", "SERIAL PORT", "attach and show a port", RunShow});
//
// Ports are given as 0-based indexes, as applications name them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DemodPortClient.h"
#include "KxctlCommand.h"
#include "KxPlot.h"
#include "KxReading.h"
#include "KxStatistic.h"

namespace KxctlDemod {

// The demod sub-commands: each registers itself from its own source file.
struct DemodLevel {};
using SubCommand = KxctlCommand;
using DemodSubRegistrar = KxctlCommandTable<DemodLevel>;

// Reply time-out of every request kxctl sends (a fixed-layout blind scan gets longer).
constexpr unsigned int REPLY_TIMEOUT_MS = 15000;

// A frequency in Hz, or with a suffix k, M or G ("474M", "1.15G").
bool ParseFreqHz(const char* pText, int64_t& freqHz);

// Prints the usage of a demod sub-command with a message; exit status 2.
int Usage(const char* pSub, const char* pMessage);

// Why a card cannot be attached: not found, not a receiver, or a model (by name) this build does
// not drive or that is still initialising; "" when no card list can be read.
std::string DescribeMissingCard(int64_t serial);

// Opens a port client: attach to SERIAL and the 0-based PORT. Prints the failure and, for a
// card the service does not serve, what the card is. The exit status: KXCTL_EXIT_OK when open.
int OpenPort(const char* pSerial, const char* pPort, Kxapi::DemodPortClient& client);

// Texts for printing.
std::string FreqText(int64_t freqHz);                  // "474000000 Hz (474.000 MHz)"
std::string ModTypeName(int32_t modType);              // "I/Q", "DVB-S2", ...
std::string ParsText(const Kxapi::KxDemodPars& pars);  // type and every field with its unit
// The unit of a statistic's value once scaled ("" for flags and structured values).
const char* StatUnit(int32_t statisticId);
// How statistics are printed: the raw value beside the reading, levels in another unit.
struct StatFormat {
    bool m_Raw = false;
    const char* m_pLevelUnit = nullptr; // "dBm", "dBmV" or "dBuV"; null keeps each level's own
};
// "Lock             true" / "RfLvlUncalib     -1.4 dBmV" / "MER  -- KXAPI_E_NOT_LOCKED" lines.
std::string StatLine(const Kxapi::KxStatistic& stat, const StatFormat& format = StatFormat());
// {"name", "id", "result", "value", "unit", "raw"} (or "xml" for a structured value).
KxctlJson StatJson(const Kxapi::KxStatistic& stat, const StatFormat& format = StatFormat());
// The quality grade from the MER (or C/N) among `stats` against what the port's parameters
// need; false when the statistics or the parameters do not tell.
struct Quality {
    Kxapi::KxQualityGrade m_Grade = Kxapi::KX_QUALITY_UNKNOWN;
    const char* m_pFrom = "";
    double m_MeasuredDb = 0.0;
    double m_RequiredDb = 0.0;
};
bool QualityOf(const std::vector<Kxapi::KxStatistic>& stats, const Kxapi::KxDemodPars& pars, Quality& quality);
std::string QualityLine(const Quality& quality); // "Quality  good (MER 27.1 dB, 23.8 dB needed)"
KxctlJson QualityJson(const Quality& quality);
// Statistics by name ("Lock", "MER") or id; false with the offending word on failure.
bool ParseStatisticIds(int argc, char** argv, std::vector<int32_t>& ids, std::string& bad);
// Every statistic the port supports, ready to be read: the supported list names in a
// statistic's extra ids what kind of id it takes (per stream, per time window); the read asks
// for all streams and the instantaneous value.
KXAPI_RESULT SupportedStatisticsToRead(Kxapi::DemodPortClient& client, std::vector<Kxapi::KxStatistic>& stats);

// Parameters from the command line: either four integers "MOD X0 X1 X2" (the legacy form)
// or "--xml TEXT" (one "KxDemodPars" element). Consumes the words it used.
bool ParseParsArgs(int& argc, char**& argv, Kxapi::KxDemodPars& pars, bool& fourIntegers, int32_t (&four)[4],
                   std::string& error);

// Picture options of the scan and constellation commands, anywhere after the sub-command:
// "--png FILE" writes a PNG, "--plot" draws in the terminal. They are taken out of argv.
struct PictureOptions {
    std::string m_PngPath;
    bool m_Plot = false;
};
bool TakePictureOptions(int& argc, char** argv, PictureOptions& options, std::string& error);
// A carrier found by a blind scan, for a picture: centre, symbol rate and occupied band.
KxPlot::Carrier PlotCarrier(int64_t freqHz, const Kxapi::KxDemodPars& pars);

// True once SIGINT or SIGTERM arrived after InstallStopHandler.
void InstallStopHandler();
bool StopRequested();

} // namespace KxctlDemod
