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

// Opens a port client: attach to SERIAL and the 0-based PORT. Prints the failure.
bool OpenPort(const char* pSerial, const char* pPort, Kxapi::DemodPortClient& client);

// Texts for printing.
std::string FreqText(int64_t freqHz);                  // "474000000 Hz (474.000 MHz)"
std::string ModTypeName(int32_t modType);              // "I/Q", "DVB-S2", ...
std::string ParsText(const Kxapi::KxDemodPars& pars);  // type and every field with its unit
// The unit of a statistic's value as the service reports it ("" for booleans).
const char* StatUnit(int32_t statisticId);
// "Lock            true" / "TempTuner   43 degC" / "... E_NOT_LOCKED" lines.
std::string StatLine(const Kxapi::KxStatistic& stat);
// Statistics by name ("Lock", "MER") or id; false with the offending word on failure.
bool ParseStatisticIds(int argc, char** argv, std::vector<int32_t>& ids, std::string& bad);

// Parameters from the command line: either four integers "MOD X0 X1 X2" (the legacy form)
// or "--xml TEXT" (one "KxDemodPars" element). Consumes the words it used.
bool ParseParsArgs(int& argc, char**& argv, Kxapi::KxDemodPars& pars, bool& fourIntegers, int32_t (&four)[4],
                   std::string& error);

// True once SIGINT or SIGTERM arrived after InstallStopHandler.
void InstallStopHandler();
bool StopRequested();

} // namespace KxctlDemod
