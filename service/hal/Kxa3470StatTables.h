// The tables and formulas of the 3470's statistics that need no card: roll-off codes, the
// RF-level chain and its offset tables. The PLS codes and the pre-LDPC model are the library's
// (DvbS2Pls.h).
#pragma once

#include <cstdint>

#include "DvbS2Pls.h"
#include "KxapiResult.h"

// Roll-off factor of the demodulator's roll-off code (768 0.05, 1024 0.10, 1280 0.15,
// 1536 0.20, 1792 0.25, 2048 0.35, 65280 0.0); false for any other code.
bool RollOffFromCode(int code, double& rollOff);
// symbolRateBd x (1 + rollOff) in MHz.
double OccupiedBandwidthMHz(long long symbolRateBd, double rollOff);

// The RF-level chain: the gain DAC's value agc, the power estimator's reading and the tuner's
// baseband gain give the level at the input in dBmV.
constexpr double RF_LVL_LOWPASS_FILTER_GAIN_DB = -1.0;
constexpr double RF_LVL_SCALING_GAIN_DB = -2.2;
constexpr double RF_LVL_IQ_FIR_FILTER_GAIN_DB = -6.0;
double RfLvlUncalibDbmV(int basebandGain, int agc, uint32_t power);

// A point of an offset table: x and the offset (tenths of a dB) there.
struct PwrOffsetPoint {
    int m_X;
    int m_Offset;
};
// Temperature (degrees C) and symbol-rate (Bd) offsets of the calibrated channel level.
constexpr int TEMP_OFFSET_POINTS = 3;
constexpr int SYMRATE_OFFSET_POINTS = 7;
extern const PwrOffsetPoint g_TempOffset[TEMP_OFFSET_POINTS];
extern const PwrOffsetPoint g_SymrateOffset[SYMRATE_OFFSET_POINTS];
// Linear interpolation between neighbouring points, the end values outside the range.
double GetRfLvlOffset(const PwrOffsetPoint* table, int count, long long x);
// The symbol-rate offset used when the PL header is not locked.
constexpr double SYMRATE_OFFSET_UNLOCKED = 63.0;
