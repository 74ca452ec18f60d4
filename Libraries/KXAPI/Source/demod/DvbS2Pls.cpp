#include "DvbS2Pls.h"

#include <cmath>

#include "DvbS2ModCod.h"

namespace Kxapi {

namespace {

// Constellation indices (PreLDPC_Tab_d).
enum : int32_t {
    C_QPSK = 0, C_8PSK = 1, C_8APSK_L_5_9 = 2, C_8APSK_L_26_45 = 3,
    C_16APSK_315 = 4, C_16APSK_285 = 5, C_16APSK_275 = 6, C_16APSK_270 = 7, C_16APSK_260 = 8, C_16APSK_257 = 9,
    C_16APSK_L_219 = 10, C_16APSK_370 = 11, C_16APSK_L_3_5 = 12, C_16APSK_350 = 13, C_16APSK_310 = 14,
    C_16APSK_L_2_3 = 15, C_16APSK_360 = 16, C_16APSK_320 = 17, C_16APSK_332 = 18,
    C_32APSK_3_4 = 19, C_32APSK_4_5 = 20, C_32APSK_5_6 = 21, C_32APSK_8_9 = 22, C_32APSK_9_10 = 23,
    C_32APSK_L_2_3 = 24, C_32APSK_32_45 = 25, C_32APSK_11_15 = 26, C_32APSK_7_9 = 27, C_32APSK_S_2_3 = 28,
    C_32APSK_S_32_45 = 29,
    C_64APSK_L_32_45 = 30, C_64APSK_11_15 = 31, C_64APSK_7_9 = 32, C_64APSK_5_6 = 33,
    C_128APSK_3_4 = 34, C_128APSK_7_9 = 35,
    C_256APSK_L_29_45 = 36, C_256APSK_L_2_3 = 37, C_256APSK_32_45 = 38, C_256APSK_L_11_15 = 39, C_256APSK_3_4 = 40,
};

// A MODCOD of the performance tables: modulation, code rate, ideal Es/N0 (dB), constellation.
struct ModCod {
    int32_t m_ModType;
    int32_t m_CodeRate;
    double m_EsN0Db;
    int32_t m_Constellation;
};

// DVB-S2 MODCOD 1 to 28 (normal frames, AWGN, quasi error free). The performance table gives
// normal frames only; a short frame of the same MODCOD takes the same figure.
const ModCod S2_MODCODS[28] = {
    {KX_S2_QPSK, KX_CR_1_4, -2.35, C_QPSK},          {KX_S2_QPSK, KX_CR_1_3, -1.24, C_QPSK},
    {KX_S2_QPSK, KX_CR_2_5, -0.30, C_QPSK},          {KX_S2_QPSK, KX_CR_1_2, 1.00, C_QPSK},
    {KX_S2_QPSK, KX_CR_3_5, 2.23, C_QPSK},           {KX_S2_QPSK, KX_CR_2_3, 3.10, C_QPSK},
    {KX_S2_QPSK, KX_CR_3_4, 4.03, C_QPSK},           {KX_S2_QPSK, KX_CR_4_5, 4.68, C_QPSK},
    {KX_S2_QPSK, KX_CR_5_6, 5.18, C_QPSK},           {KX_S2_QPSK, KX_CR_8_9, 6.20, C_QPSK},
    {KX_S2_QPSK, KX_CR_9_10, 6.42, C_QPSK},          {KX_S2_8PSK, KX_CR_3_5, 5.50, C_8PSK},
    {KX_S2_8PSK, KX_CR_2_3, 6.62, C_8PSK},           {KX_S2_8PSK, KX_CR_3_4, 7.91, C_8PSK},
    {KX_S2_8PSK, KX_CR_5_6, 9.35, C_8PSK},           {KX_S2_8PSK, KX_CR_8_9, 10.69, C_8PSK},
    {KX_S2_8PSK, KX_CR_9_10, 10.98, C_8PSK},         {KX_S2_16APSK, KX_CR_2_3, 8.97, C_16APSK_315},
    {KX_S2_16APSK, KX_CR_3_4, 10.21, C_16APSK_285},  {KX_S2_16APSK, KX_CR_4_5, 11.03, C_16APSK_275},
    {KX_S2_16APSK, KX_CR_5_6, 11.61, C_16APSK_270},  {KX_S2_16APSK, KX_CR_8_9, 12.89, C_16APSK_260},
    {KX_S2_16APSK, KX_CR_9_10, 13.13, C_16APSK_257}, {KX_S2_32APSK, KX_CR_3_4, 12.73, C_32APSK_3_4},
    {KX_S2_32APSK, KX_CR_4_5, 13.64, C_32APSK_4_5},  {KX_S2_32APSK, KX_CR_5_6, 14.28, C_32APSK_5_6},
    {KX_S2_32APSK, KX_CR_8_9, 15.69, C_32APSK_8_9},  {KX_S2_32APSK, KX_CR_9_10, 16.05, C_32APSK_9_10},
};

// DVB-S2X PLS codes (even: pilots off; the odd code above each is the same with pilots).
struct S2xCode {
    uint16_t m_Pls;
    int32_t m_FrameType;
    ModCod m_ModCod;
};
const S2xCode S2X_CODES[] = {
    // Normal frames (EN 302 307-2 performance table).
    {132, MODCOD_FRAME_NORMAL, {KX_S2_QPSK, KX_CR_13_45, -2.03, C_QPSK}},
    {134, MODCOD_FRAME_NORMAL, {KX_S2_QPSK, KX_CR_9_20, 0.22, C_QPSK}},
    {136, MODCOD_FRAME_NORMAL, {KX_S2_QPSK, KX_CR_11_20, 1.45, C_QPSK}},
    {138, MODCOD_FRAME_NORMAL, {KX_S2X_8APSK_L, KX_CR_5_9, 4.73, C_8APSK_L_5_9}},
    {140, MODCOD_FRAME_NORMAL, {KX_S2X_8APSK_L, KX_CR_26_45, 5.13, C_8APSK_L_26_45}},
    {142, MODCOD_FRAME_NORMAL, {KX_S2_8PSK, KX_CR_23_36, 6.12, C_8PSK}},
    {144, MODCOD_FRAME_NORMAL, {KX_S2_8PSK, KX_CR_25_36, 7.02, C_8PSK}},
    {146, MODCOD_FRAME_NORMAL, {KX_S2_8PSK, KX_CR_13_18, 7.49, C_8PSK}},
    {148, MODCOD_FRAME_NORMAL, {KX_S2X_16APSK_L, KX_CR_1_2, 5.97, C_16APSK_L_219}},
    {150, MODCOD_FRAME_NORMAL, {KX_S2X_16APSK_L, KX_CR_8_15, 6.55, C_16APSK_L_219}},
    {152, MODCOD_FRAME_NORMAL, {KX_S2X_16APSK_L, KX_CR_5_9, 6.84, C_16APSK_L_219}},
    {154, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_26_45, 7.51, C_16APSK_370}},
    {156, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_3_5, 7.80, C_16APSK_370}},
    {158, MODCOD_FRAME_NORMAL, {KX_S2X_16APSK_L, KX_CR_3_5, 7.41, C_16APSK_L_3_5}},
    {160, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_28_45, 8.10, C_16APSK_350}},
    {162, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_23_36, 8.38, C_16APSK_310}},
    {164, MODCOD_FRAME_NORMAL, {KX_S2X_16APSK_L, KX_CR_2_3, 8.43, C_16APSK_L_2_3}},
    {166, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_25_36, 9.27, C_16APSK_310}},
    {168, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_13_18, 9.71, C_16APSK_285}},
    {170, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_7_9, 10.65, C_16APSK_360}},
    {172, MODCOD_FRAME_NORMAL, {KX_S2_16APSK, KX_CR_77_90, 11.99, C_16APSK_320}},
    {174, MODCOD_FRAME_NORMAL, {KX_S2X_32APSK_L, KX_CR_2_3, 11.10, C_32APSK_L_2_3}},
    {178, MODCOD_FRAME_NORMAL, {KX_S2_32APSK, KX_CR_32_45, 11.75, C_32APSK_32_45}},
    {180, MODCOD_FRAME_NORMAL, {KX_S2_32APSK, KX_CR_11_15, 12.17, C_32APSK_11_15}},
    {182, MODCOD_FRAME_NORMAL, {KX_S2_32APSK, KX_CR_7_9, 13.05, C_32APSK_7_9}},
    {184, MODCOD_FRAME_NORMAL, {KX_S2X_64APSK_L, KX_CR_32_45, 13.98, C_64APSK_L_32_45}},
    {186, MODCOD_FRAME_NORMAL, {KX_S2X_64APSK, KX_CR_11_15, 14.81, C_64APSK_11_15}},
    {190, MODCOD_FRAME_NORMAL, {KX_S2X_64APSK, KX_CR_7_9, 15.47, C_64APSK_7_9}},
    {194, MODCOD_FRAME_NORMAL, {KX_S2X_64APSK, KX_CR_4_5, 15.87, C_64APSK_7_9}},
    {198, MODCOD_FRAME_NORMAL, {KX_S2X_64APSK, KX_CR_5_6, 16.55, C_64APSK_5_6}},
    {200, MODCOD_FRAME_NORMAL, {KX_S2X_128APSK, KX_CR_3_4, 17.73, C_128APSK_3_4}},
    {202, MODCOD_FRAME_NORMAL, {KX_S2X_128APSK, KX_CR_7_9, 18.53, C_128APSK_7_9}},
    {204, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK_L, KX_CR_29_45, 16.98, C_256APSK_L_29_45}},
    {206, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK_L, KX_CR_2_3, 17.24, C_256APSK_L_2_3}},
    {208, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK_L, KX_CR_31_45, 18.10, C_256APSK_L_29_45}},
    {210, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK, KX_CR_32_45, 18.59, C_256APSK_32_45}},
    {212, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK_L, KX_CR_11_15, 18.84, C_256APSK_L_11_15}},
    {214, MODCOD_FRAME_NORMAL, {KX_S2X_256APSK, KX_CR_3_4, 19.57, C_256APSK_3_4}},
    // Short frames. Our performance figures cover normal frames only: these are interpolated
    // linearly in code rate between the normal-frame MODCODs of the same constellation family.
    {216, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_11_45, -2.40, C_QPSK}},
    {218, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_4_15, -2.21, C_QPSK}},
    {220, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_14_45, -1.63, C_QPSK}},
    {222, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_7_15, 0.48, C_QPSK}},
    {224, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_8_15, 1.30, C_QPSK}},
    {226, MODCOD_FRAME_SHORT, {KX_S2_QPSK, KX_CR_32_45, 3.60, C_QPSK}},
    {228, MODCOD_FRAME_SHORT, {KX_S2_8PSK, KX_CR_7_15, 3.37, C_8PSK}},
    {230, MODCOD_FRAME_SHORT, {KX_S2_8PSK, KX_CR_8_15, 4.44, C_8PSK}},
    {232, MODCOD_FRAME_SHORT, {KX_S2_8PSK, KX_CR_26_45, 5.15, C_8PSK}},
    {234, MODCOD_FRAME_SHORT, {KX_S2_8PSK, KX_CR_32_45, 7.30, C_8PSK}},
    {236, MODCOD_FRAME_SHORT, {KX_S2_16APSK, KX_CR_7_15, 6.06, C_16APSK_332}},
    {238, MODCOD_FRAME_SHORT, {KX_S2_16APSK, KX_CR_8_15, 6.93, C_16APSK_350}},
    {240, MODCOD_FRAME_SHORT, {KX_S2_16APSK, KX_CR_26_45, 7.51, C_16APSK_370}},
    {242, MODCOD_FRAME_SHORT, {KX_S2_16APSK, KX_CR_3_5, 7.80, C_16APSK_370}},
    {244, MODCOD_FRAME_SHORT, {KX_S2_16APSK, KX_CR_32_45, 9.53, C_16APSK_285}},
    {246, MODCOD_FRAME_SHORT, {KX_S2_32APSK, KX_CR_2_3, 11.10, C_32APSK_S_2_3}},
    {248, MODCOD_FRAME_SHORT, {KX_S2_32APSK, KX_CR_32_45, 11.75, C_32APSK_S_32_45}},
};

std::map<uint16_t, ModCodListItem> BuildList()
{
    std::map<uint16_t, ModCodListItem> list;
    // DVB-S2: PLS = MODCOD << 2 | short frame << 1 | pilots; 9/10 has no short frame.
    for (int modcod = 1; modcod <= 28; modcod++) {
        const ModCod& mc = S2_MODCODS[modcod - 1];
        for (int type = 0; type < 4; type++) {
            const bool shortFrame = (type & 2) != 0;
            if (shortFrame && mc.m_CodeRate == KX_CR_9_10)
                continue;
            list[static_cast<uint16_t>(modcod << 2 | type)] = {
                mc.m_ModType, mc.m_CodeRate, shortFrame ? MODCOD_FRAME_SHORT : MODCOD_FRAME_NORMAL, mc.m_EsN0Db,
                mc.m_Constellation, (type & 1) != 0};
        }
    }
    for (const S2xCode& code : S2X_CODES) {
        for (int pilots = 0; pilots < 2; pilots++)
            list[static_cast<uint16_t>(code.m_Pls + pilots)] = {code.m_ModCod.m_ModType, code.m_ModCod.m_CodeRate,
                                                                 code.m_FrameType, code.m_ModCod.m_EsN0Db,
                                                                 code.m_ModCod.m_Constellation, pilots != 0};
    }
    return list;
}

} // namespace

const std::map<uint16_t, ModCodListItem>& InitPlsToModCodList()
{
    static const std::map<uint16_t, ModCodListItem> list = BuildList();
    return list;
}

const std::map<uint16_t, ModCodListItem>& g_PlsToModCodList = InitPlsToModCodList();

const ModCodListItem* FindModCod(int pls)
{
    if (pls < 0 || pls > 0xFFFF)
        return nullptr;
    const std::map<uint16_t, ModCodListItem>& list = InitPlsToModCodList();
    auto found = list.find(static_cast<uint16_t>(pls));
    return found == list.end() ? nullptr : &found->second;
}

// Unit average energy. PSK and the DVB-S2 APSK rings (phases of the standard) exactly; the
// DVB-S2X rings with the standard's ring ratios, each ring offset by half a point step
// (alternating rings of equal size aligned and offset).
const double PreLDPC_Tab_d[PRELDPC_TAB_SIZE] = {
    2.0,      0.585786, 0.154076, 0.109093,                                         // QPSK, 8PSK, 8APSK-L
    0.260015, 0.315364, 0.337731, 0.341644, 0.340477, 0.340101,                     // 16APSK DVB-S2
    0.202131, 0.190159, 0.202131, 0.211921, 0.268186, 0.202131, 0.200602, 0.252207, // 16APSK DVB-S2X
    0.234830,
    0.117398, 0.134328, 0.138298, 0.145040, 0.145715,                               // 32APSK DVB-S2
    0.107688, 0.071759, 0.064786, 0.077595, 0.108135, 0.117762,                     // 32APSK DVB-S2X
    0.022116, 0.054425, 0.042341, 0.045145,                                         // 64APSK
    0.018197, 0.018742,                                                             // 128APSK
    0.002604, 0.002604, 0.003123, 0.003123, 0.003223,                               // 256APSK
};

int BitsPerConstellation(int index)
{
    if (index <= 0)
        return 2;
    if (index <= 3)
        return 3;
    if (index <= 18)
        return 4;
    if (index <= 29)
        return 5;
    if (index <= 33)
        return 6;
    if (index <= 35)
        return 7;
    return 8;
}

int BitsPerModType(int32_t modType)
{
    switch (modType) {
    case KX_S2_QPSK:
        return 2;
    case KX_S2_8PSK:
    case KX_S2X_8APSK_L:
        return 3;
    case KX_S2_16APSK:
    case KX_S2X_16APSK_L:
        return 4;
    case KX_S2_32APSK:
    case KX_S2X_32APSK_L:
        return 5;
    case KX_S2X_64APSK_L:
    case KX_S2X_64APSK:
        return 6;
    case KX_S2X_128APSK:
        return 7;
    case KX_S2X_256APSK_L:
    case KX_S2X_256APSK:
        return 8;
    default:
        return 0;
    }
}

double ErfcApprox(double x)
{
    if (x < 0.0)
        return 2.0 - ErfcApprox(-x);
    const double t = 1.0 / (1.0 + 0.3275911 * x);
    const double poly =
        t * (0.254829592 + t * (-0.284496736 + t * (1.421413741 + t * (-1.453152027 + t * 1.061405429))));
    return poly * std::exp(-x * x);
}

KXAPI_RESULT CalcBerPreLdpc(int pls, double esN0Db, double& ber)
{
    const ModCodListItem* pItem = FindModCod(pls);
    if (pItem == nullptr) {
        ber = -1.0;
        return KXAPI_E_INVALID_MODTYPE;
    }
    const int index = pItem->m_Constellation;
    const double n = std::pow(10.0, -esN0Db / 10.0);
    const double x = std::sqrt(PreLDPC_Tab_d[index] / (2.0 * n)) / std::sqrt(2.0);
    ber = ErfcApprox(x) / BitsPerConstellation(index);
    return KXAPI_OK;
}

} // namespace Kxapi
