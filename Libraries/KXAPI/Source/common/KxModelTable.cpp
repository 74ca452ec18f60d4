#include "KxModelTable.h"

#include <iterator>

namespace {

const KxModelDriverCode CODES_3470[] = {
    {KX_BC_I2CM, false, "BC_I2CM"},
    {KX_BC_CDMAC, false, "BC_CDMAC"},
    {KX_BC_BURSTFIFO, false, "BC_BURSTFIFO"},
    {KX_BC_IQPWR_3470, false, "BC_IQPWR"},
    {KX_DF_S2CRDEMOD_3470, true, "DF_S2CRDEMOD"},
    {KX_DF_S2STATS_3470, true, "DF_S2STATS"},
    {KX_DF_LNBH25_3470, true, "DF_LNBH25"},
    {KX_DF_AD5320_3470, true, "DF_AD5320"},
    {KX_DF_ADS4246_3470, true, "DF_ADS4246"},
    {KX_DF_IQFIR_3470, true, "DF_IQFIR"},
    {KX_DF_IQCGRAB_3470, true, "DF_IQCGRAB"},
    {KX_DF_IQSRC3470_3470, true, "DF_IQSRC3470"},
    {KX_DF_DATASTMUX_3470, true, "DF_DATASTMUX"},
};

const KxModelDriverCode CODES_3530_MULTI[] = {
    {KX_BC_I2CM, false, "BC_I2CM"},
};

constexpr int ANY = KX_MODEL_ANY_SUBTYPE;

const KxModelInfo MODELS[] = {
    {810, ANY, "KX-810", "Kxu810Hal", 1, KX_FAMILY_KXU, {}},
    {820, ANY, "KX-820", "Kxu820Hal", 1, KX_FAMILY_KXU, {}},
    {830, ANY, "KX-830", "Kxu830Hal", 1, KX_FAMILY_KXU, {}},
    {850, ANY, "KX-850", "Kxu850Hal", 1, KX_FAMILY_KXU, {}},
    {3460, ANY, "KX-3460", "Kxa3460Hal", 1, KX_FAMILY_KXA, {}},
    {3470, ANY, "KX-3470", "Kxa3470Hal", 2, KX_FAMILY_PCIE, CODES_3470},
    {3480, ANY, "KX-3480", "Kxa3480Hal", 2, KX_FAMILY_KXA, {}},
    {3490, ANY, "KX-3490", "Kxa3490Hal", 2, KX_FAMILY_KXA, {}},
    {3510, ANY, "KX-3510", "Kxa3510Hal", 2, KX_FAMILY_KXA, {}},
    {3520, ANY, "KX-3520", "Kxa3520Hal", 1, KX_FAMILY_KXA, {}},
    {3530, 2, "KX-3530B", "Kxa3530BHal", 12, KX_FAMILY_PCIE, CODES_3530_MULTI},
    {3530, 3, "KX-3530C", "Kxa3530CHal", 12, KX_FAMILY_PCIE, CODES_3530_MULTI},
    {3530, ANY, "KX-3530", "Kx3530Hal", 12, KX_FAMILY_KXA, {}},
};

} // namespace

std::span<const KxModelInfo> KxModelTable()
{
    return MODELS;
}

const KxModelInfo* KxFindModel(int typeNumber, int subType)
{
    for (const KxModelInfo& row : MODELS) {
        if (row.m_TypeNumber == typeNumber && (row.m_SubType == KX_MODEL_ANY_SUBTYPE || row.m_SubType == subType))
            return &row;
    }
    return nullptr;
}
