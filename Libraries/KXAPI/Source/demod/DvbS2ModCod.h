// Code-rate codes of the device API and the DVB-S2 / S2X modulation and code-rate pairs that
// EN 302 307-1 and -2 define (normal and short FEC frames).
#pragma once

#include <cstdint>

namespace Kxapi {

// Code-rate codes ("cr" of the DVB-S, DVB-T and DVB-S2 variants and of the mod-cod table).
enum KxCodeRate : int32_t {
    KX_CR_1_2 = 0, KX_CR_2_3 = 1, KX_CR_3_4 = 2, KX_CR_4_5 = 3, KX_CR_5_6 = 4, KX_CR_6_7 = 5,
    KX_CR_7_8 = 6, KX_CR_1_4 = 7, KX_CR_1_3 = 8, KX_CR_2_5 = 9, KX_CR_3_5 = 10, KX_CR_8_9 = 11,
    KX_CR_9_10 = 12, KX_CR_AUTO = 15,
    // DVB-S2X rates.
    KX_CR_13_45 = 18, KX_CR_9_20 = 19, KX_CR_11_20 = 20, KX_CR_5_9 = 21, KX_CR_26_45 = 22,
    KX_CR_23_36 = 23, KX_CR_25_36 = 24, KX_CR_13_18 = 25, KX_CR_8_15 = 26, KX_CR_28_45 = 27,
    KX_CR_7_9 = 28, KX_CR_77_90 = 29, KX_CR_32_45 = 30, KX_CR_11_15 = 31, KX_CR_29_45 = 32,
    KX_CR_31_45 = 33, KX_CR_11_45 = 34, KX_CR_4_15 = 35, KX_CR_14_45 = 36, KX_CR_7_15 = 37,
};

// DVB-S2 modulation types (KxDemodPars type codes).
enum KxDvbS2ModType : int32_t {
    KX_S2_QPSK = 32, KX_S2_8PSK = 33, KX_S2_16APSK = 34, KX_S2_32APSK = 35, KX_S2_AUTO = 37,
    KX_S2X_8APSK_L = 60, KX_S2X_16APSK_L = 61, KX_S2X_32APSK_L = 62, KX_S2X_64APSK_L = 63,
    KX_S2X_64APSK = 64, KX_S2X_128APSK = 65, KX_S2X_256APSK_L = 66, KX_S2X_256APSK = 67,
};

// True for the DVB-S2 modulation types of a mod-cod table entry (32..35, 37, 60..67).
bool KxIsDvbS2ModType(int32_t modType);
// True when the standard defines this code rate for this DVB-S2 / S2X modulation.
bool KxIsDvbS2ModCod(int32_t modType, int32_t codeRate);
// "3/4", "13/45", "auto"; "?" for a code that is not a code rate.
const char* KxCodeRateName(int32_t codeRate);

} // namespace Kxapi
