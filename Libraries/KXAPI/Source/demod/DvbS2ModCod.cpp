#include "DvbS2ModCod.h"

namespace Kxapi {

namespace {

constexpr uint64_t Bit(int32_t code) { return uint64_t(1) << code; }

struct ModCodRow {
    int32_t m_ModType;
    uint64_t m_CodeRates; // one bit per code-rate code
};

// EN 302 307-1 (S2) and EN 302 307-2 (S2X normal and short frames).
constexpr ModCodRow MOD_COD_ROWS[] = {
    {KX_S2_QPSK, Bit(KX_CR_1_4) | Bit(KX_CR_1_3) | Bit(KX_CR_2_5) | Bit(KX_CR_1_2) | Bit(KX_CR_3_5) | Bit(KX_CR_2_3) |
                     Bit(KX_CR_3_4) | Bit(KX_CR_4_5) | Bit(KX_CR_5_6) | Bit(KX_CR_8_9) | Bit(KX_CR_9_10) |
                     Bit(KX_CR_13_45) | Bit(KX_CR_9_20) | Bit(KX_CR_11_20) | Bit(KX_CR_11_45) | Bit(KX_CR_4_15) |
                     Bit(KX_CR_14_45) | Bit(KX_CR_7_15) | Bit(KX_CR_8_15) | Bit(KX_CR_32_45)},
    {KX_S2_8PSK, Bit(KX_CR_3_5) | Bit(KX_CR_2_3) | Bit(KX_CR_3_4) | Bit(KX_CR_5_6) | Bit(KX_CR_8_9) | Bit(KX_CR_9_10) |
                     Bit(KX_CR_23_36) | Bit(KX_CR_25_36) | Bit(KX_CR_13_18) | Bit(KX_CR_7_15) | Bit(KX_CR_8_15) |
                     Bit(KX_CR_26_45) | Bit(KX_CR_32_45)},
    {KX_S2_16APSK, Bit(KX_CR_2_3) | Bit(KX_CR_3_4) | Bit(KX_CR_4_5) | Bit(KX_CR_5_6) | Bit(KX_CR_8_9) |
                       Bit(KX_CR_9_10) | Bit(KX_CR_26_45) | Bit(KX_CR_3_5) | Bit(KX_CR_28_45) | Bit(KX_CR_23_36) |
                       Bit(KX_CR_25_36) | Bit(KX_CR_13_18) | Bit(KX_CR_7_9) | Bit(KX_CR_77_90) | Bit(KX_CR_7_15) |
                       Bit(KX_CR_8_15) | Bit(KX_CR_32_45)},
    {KX_S2_32APSK, Bit(KX_CR_3_4) | Bit(KX_CR_4_5) | Bit(KX_CR_5_6) | Bit(KX_CR_8_9) | Bit(KX_CR_9_10) |
                       Bit(KX_CR_32_45) | Bit(KX_CR_11_15) | Bit(KX_CR_7_9) | Bit(KX_CR_2_3)},
    {KX_S2_AUTO, 0},
    {KX_S2X_8APSK_L, Bit(KX_CR_5_9) | Bit(KX_CR_26_45)},
    {KX_S2X_16APSK_L, Bit(KX_CR_1_2) | Bit(KX_CR_8_15) | Bit(KX_CR_5_9) | Bit(KX_CR_3_5) | Bit(KX_CR_2_3)},
    {KX_S2X_32APSK_L, Bit(KX_CR_2_3)},
    {KX_S2X_64APSK_L, Bit(KX_CR_32_45)},
    {KX_S2X_64APSK, Bit(KX_CR_11_15) | Bit(KX_CR_7_9) | Bit(KX_CR_4_5) | Bit(KX_CR_5_6)},
    {KX_S2X_128APSK, Bit(KX_CR_3_4) | Bit(KX_CR_7_9)},
    {KX_S2X_256APSK_L, Bit(KX_CR_29_45) | Bit(KX_CR_2_3) | Bit(KX_CR_31_45) | Bit(KX_CR_11_15)},
    {KX_S2X_256APSK, Bit(KX_CR_32_45) | Bit(KX_CR_3_4)},
};

struct CodeRateName {
    int32_t m_Code;
    const char* m_pName;
};

constexpr CodeRateName CODE_RATE_NAMES[] = {
    {KX_CR_1_2, "1/2"}, {KX_CR_2_3, "2/3"}, {KX_CR_3_4, "3/4"}, {KX_CR_4_5, "4/5"}, {KX_CR_5_6, "5/6"},
    {KX_CR_6_7, "6/7"}, {KX_CR_7_8, "7/8"}, {KX_CR_1_4, "1/4"}, {KX_CR_1_3, "1/3"}, {KX_CR_2_5, "2/5"},
    {KX_CR_3_5, "3/5"}, {KX_CR_8_9, "8/9"}, {KX_CR_9_10, "9/10"}, {KX_CR_AUTO, "auto"},
    {KX_CR_13_45, "13/45"}, {KX_CR_9_20, "9/20"}, {KX_CR_11_20, "11/20"}, {KX_CR_5_9, "5/9"},
    {KX_CR_26_45, "26/45"}, {KX_CR_23_36, "23/36"}, {KX_CR_25_36, "25/36"}, {KX_CR_13_18, "13/18"},
    {KX_CR_8_15, "8/15"}, {KX_CR_28_45, "28/45"}, {KX_CR_7_9, "7/9"}, {KX_CR_77_90, "77/90"},
    {KX_CR_32_45, "32/45"}, {KX_CR_11_15, "11/15"}, {KX_CR_29_45, "29/45"}, {KX_CR_31_45, "31/45"},
    {KX_CR_11_45, "11/45"}, {KX_CR_4_15, "4/15"}, {KX_CR_14_45, "14/45"}, {KX_CR_7_15, "7/15"},
};

const ModCodRow* FindRow(int32_t modType)
{
    for (const ModCodRow& row : MOD_COD_ROWS)
        if (row.m_ModType == modType)
            return &row;
    return nullptr;
}

} // namespace

bool KxIsDvbS2ModType(int32_t modType)
{
    return FindRow(modType) != nullptr;
}

bool KxIsDvbS2ModCod(int32_t modType, int32_t codeRate)
{
    const ModCodRow* row = FindRow(modType);
    return row != nullptr && codeRate >= 0 && codeRate < 64 && (row->m_CodeRates & Bit(codeRate)) != 0;
}

const char* KxCodeRateName(int32_t codeRate)
{
    for (const CodeRateName& entry : CODE_RATE_NAMES)
        if (entry.m_Code == codeRate)
            return entry.m_pName;
    return "?";
}

} // namespace Kxapi
