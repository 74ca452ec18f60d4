// The tables and formulas of the 3470's statistics that need no card: the DVB-S2 / S2X PLS codes
// with their modulation, code rate, frame size, ideal Es/N0 and constellation, the minimum
// distances of the constellations, the pre-LDPC bit-error model, roll-off codes, the RF-level
// chain and its offset tables.
#pragma once

#include <cstdint>
#include <map>

#include "KxapiResult.h"

// One PLS code of the demodulator.
struct ModCodListItem {
    int32_t m_ModType;       // 32 QPSK, 33/60 8PSK family, 34/61 16APSK, 35/62 32APSK, 63/64 64APSK,
                             // 65 128APSK, 66/67 256APSK (KxDvbS2ModType)
    int32_t m_CodeRate;      // KxCodeRate
    int32_t m_FrameType;     // MODCOD_FRAME_NORMAL or MODCOD_FRAME_SHORT
    double m_IdealEsN0Db;    // Es/N0 of quasi-error-free reception (AWGN)
    int32_t m_Constellation; // index into PreLDPC_Tab_d
    bool m_Pilots;           // the PLS code signals pilots
};

// Frame-type codes of the list (the DVB-S2 parameters' "fec" values): a normal frame (64800
// bits) carries four times the bits of a short one (16200) and weighs four times.
constexpr int32_t MODCOD_FRAME_NORMAL = 8;
constexpr int32_t MODCOD_FRAME_SHORT = 0;

// PLS code -> item, every DVB-S2 and DVB-S2X code with a defined MODCOD (built once).
extern const std::map<uint16_t, ModCodListItem>& g_PlsToModCodList;
// Builds the list; called by the first user, harmless to call again.
const std::map<uint16_t, ModCodListItem>& InitPlsToModCodList();
// The item of a PLS code; null when the code has no MODCOD.
const ModCodListItem* FindModCod(int pls);

// Squared minimum Euclidean distance of each unit-energy constellation.
constexpr int PRELDPC_TAB_SIZE = 41;
extern const double PreLDPC_Tab_d[PRELDPC_TAB_SIZE];

// Bits per symbol of a constellation index (2 for 0, 3 for 1..3, 4 for 4..18, 5 for 19..29,
// 6 for 30..33, 7 for 34 and 35, 8 from 36).
int BitsPerConstellation(int index);
// Bits per symbol of a DVB-S2 modulation code; 0 for any other code.
int BitsPerModType(int32_t modType);

// erfc(x) by Abramowitz-Stegun 7.1.26 (absolute error of erf below 1.5e-7); erfc(-x) = 2 - erfc(x).
double ErfcApprox(double x);
// Pre-LDPC bit error rate of PLS pls received at esN0Db; KXAPI_E_INVALID_MODTYPE (ber -1.0) for
// a PLS code without MODCOD.
KXAPI_RESULT CalcBerPreLdpc(int pls, double esN0Db, double& ber);

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
