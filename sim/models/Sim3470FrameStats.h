// The 3470's frame-statistics block on the virtual card: one report per received DVB-S2 frame of
// the port's carrier while the demodulator is locked on it, each stream's frames with their own
// PLS code, with decoding errors consistent with the carrier's C/N.
#pragma once

#include <cstdint>
#include <vector>

#include "SimCard.h"

// Commands of the block (KxProxyS2STATS_3470): SetOperationalMode 0 {mode}; ClearStatistics 1;
// GetStatisticsStatus 2 -> {pending reports, reports lost, overflow}; ReadStatistics 3 {max} ->
// {count, count reports of 4 words}. Reports are laid out as Kxa3470Statistics reads them:
//   word 0  PLS code (bits 0-7), ISI (8-15), MATYPE-1 (16-23);
//   word 1  bit 0 LDPC failed, bit 1 BCH failed, bits 16-31 the frame's MER figure,
//           (figure - 1) x 0.125 - 1 dB;
//   word 2  bits the LDPC decoder corrected;
//   word 3  running frame number of the frame's (ISI, PLS).
ISimBlockModel* SimNew3470FrameStatsModel(SimCard& card);

namespace Sim3470Frames {

// Reports the block holds before it overflows.
constexpr size_t CAPACITY = 4096;

// The PLS code of a modCod: the DVB-S2 MODCOD (1 to 28, normal frames without pilots) or a
// DVB-S2X PLS code (128 and up); 0 picks 3/4 of the constellation (2/3 for 8PSK).
int PlsOfModCod(int modCod, int constellation);
// The PLS code of a carrier's own modCod.
int PlsOf(const SimCarrier& carrier);
// The PLS code of frame number frameOfStream (from 0) of the carrier's stream at index stream
// of its stream ids: CCM carriers send the carrier's modCod in every frame, VCM carriers each
// stream's own (streamModCods), ACM carriers alternate each stream's own with the carrier's.
int StreamPls(const SimCarrier& carrier, size_t stream, uint32_t frameOfStream);
// Length of a PL frame of the PLS code, in symbols.
int FrameSymbols(int pls);
// Frames per second of a CCM carrier: the symbol rate over the PL frame's length in symbols.
double FramesPerSecond(const SimCarrier& carrier);
// Probability that LDPC decoding of a frame received at merDb fails: a waterfall 0.6 dB below
// the PLS code's quasi-error-free Es/N0, 0.12 dB wide.
double LdpcFailureProbability(int pls, double merDb);

} // namespace Sim3470Frames
