// One row of a receiver model's table of supported statistics, with its poll rules.
#pragma once

#include <cstdint>

#include "KxStatistic.h"

// The markers of the extra ids (STAT_XTRA_*) are the library's (KxStatistic.h).
using Kxapi::STAT_XTRA_UNUSED;
using Kxapi::STAT_XTRA_SUBCHANNELS;
using Kxapi::STAT_XTRA_PER_PLP;
using Kxapi::STAT_XTRA_PER_PLP_ALT;
using Kxapi::STAT_XTRA_LAYERS;

struct SupportedStatisticsType {
    int32_t StatisticId;   // id of the statistic table
    bool LockedOnly;       // poll only while the demodulator is locked
    int32_t AverageWindow; // samples of the moving average; 0 = none
    int32_t PollDivider;   // poll in every N-th statistics poll (at least 1)
    int32_t XtraId[4];     // -1 = not used; otherwise a marker or a literal value
};
static_assert(sizeof(SupportedStatisticsType) == 32, "eight 32-bit words");
