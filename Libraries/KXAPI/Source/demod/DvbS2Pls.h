// The DVB-S2 and DVB-S2X physical-layer signalling (PLS) codes: per code the modulation, code
// rate, frame size and the ideal Es/N0 of quasi-error-free reception, the constellations'
// minimum distances, and the pre-LDPC bit-error model built on them. Shared by the receivers'
// statistics and the virtual cards' frame reports.
#pragma once

#include <cstdint>
#include <map>

#include "KxapiResult.h"

namespace Kxapi {

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

} // namespace Kxapi
