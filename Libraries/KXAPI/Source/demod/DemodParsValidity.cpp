// KxDemodPars::CheckValidity: the code sets each standard's record accepts.
#include <initializer_list>

#include "DemodPars.h"
#include "DvbS2ModCod.h"

namespace Kxapi {

namespace {

bool In(int32_t value, std::initializer_list<int32_t> set)
{
    for (int32_t allowed : set)
        if (value == allowed)
            return true;
    return false;
}

bool InRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// Symbol rates: any value from -1 (automatic) upwards.
constexpr int32_t SYMRATE_AUTO = -1;

KXAPI_RESULT CheckDvbSCodeRate(int32_t codeRate)
{
    return In(codeRate, {KX_CR_1_2, KX_CR_2_3, KX_CR_3_4, KX_CR_5_6, KX_CR_7_8, KX_CR_AUTO}) ? KXAPI_OK
                                                                                           : KXAPI_E_INVALID_RATE;
}

KXAPI_RESULT CheckSpecInv(int32_t specInv)
{
    return In(specInv, {0, 16, 48}) ? KXAPI_OK : KXAPI_E_INVALID_MODPARS;
}

// Bandwidths of the 3460 tuner per standard (1 to 5), in Hz.
struct Tuner3460Standard {
    int32_t m_Standard;
    std::initializer_list<int32_t> m_BandwidthsHz;
};

const Tuner3460Standard TUNER_3460_STANDARDS[] = {
    {1, {6000000, 8000000}},
    {2, {6000000}},
    {3, {6000000}},
    {4, {1700000, 6000000, 7000000, 8000000, 10000000}},
    {5, {8000000}},
};

KXAPI_RESULT CheckTuner3460(const KxIq3460Tuner& t)
{
    // Selector fields: -1 (leave as is) up to a per-field maximum.
    const struct {
        int32_t m_Value;
        int32_t m_Max;
    } selectors[] = {{t.m_LpfCutoff, 3}, {t.m_LpfOffset, 4}, {t.m_HighPass, 3},
                     {t.m_DcNotch, 1},   {t.m_IfNotch, 1},   {t.m_IfNotchToRf, 1}};
    for (const auto& s : selectors)
        if (!InRange(s.m_Value, -1, s.m_Max))
            return KXAPI_E_INVALID_ARG;
    for (const Tuner3460Standard& standard : TUNER_3460_STANDARDS)
        if (standard.m_Standard == t.m_Standard)
            return In(t.m_BandwidthHz, standard.m_BandwidthsHz) ? KXAPI_OK : KXAPI_E_INVALID_BANDWIDTH;
    return KXAPI_E_INVALID_MODE;
}

struct ValidityVisitor {
    int32_t m_ModType;

    KXAPI_RESULT operator()(const std::monostate&) const { return KXAPI_E_INVALID_MODTYPE; }
    KXAPI_RESULT operator()(const KxDemodParsDab&) const { return KXAPI_OK; }
    KXAPI_RESULT operator()(const KxDemodParsDvbS& v) const
    {
        if (KXAPI_RESULT r = CheckDvbSCodeRate(v.m_CodeRate); KxapiFailed(r))
            return r;
        if (KXAPI_RESULT r = CheckSpecInv(v.m_SpecInv); KxapiFailed(r))
            return r;
        return v.m_SymRateBd < SYMRATE_AUTO ? KXAPI_E_INVALID_SYMRATE : KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsQam& v) const
    {
        if (!In(v.m_Annex, {1, 2, 3}))
            return KXAPI_E_INVALID_J83ANNEX;
        if (v.m_Annex == 3) {
            if (!In(m_ModType, {KX_MOD_QAM64, KX_MOD_QAM256}))
                return KXAPI_E_INVALID_J83ANNEX;
            if (!InRange(v.m_Interleaving, 0, 10) && !In(v.m_Interleaving, {12, 14, 15}))
                return KXAPI_E_INVALID_INTERLVNG;
        }
        return v.m_SymRateBd < SYMRATE_AUTO ? KXAPI_E_INVALID_SYMRATE : KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbT& v) const
    {
        if (KXAPI_RESULT r = CheckDvbSCodeRate(v.m_CodeRate); KxapiFailed(r))
            return r;
        if (!InRange(v.m_Bandwidth, 1, 4))
            return KXAPI_E_INVALID_BANDWIDTH;
        if (!In(v.m_Constellation, {16, 32, 48, 240}))
            return KXAPI_E_INVALID_CONSTEL;
        if (!In(v.m_Guard, {256, 512, 768, 1024, 3840}))
            return KXAPI_E_INVALID_GUARD;
        if (!In(v.m_Interleaving, {4096, 8192, 61440}))
            return KXAPI_E_INVALID_INTERLVNG;
        if (!In(v.m_Mode, {0x10000, 0x20000, 0x30000, 0xF0000}))
            return KXAPI_E_INVALID_TRANSMODE;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsAtsc& v) const
    {
        return In(v.m_Constellation, {0, 1, 3}) ? KXAPI_OK : KXAPI_E_INVALID_CONSTEL;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbT2& v) const
    {
        if (v.m_Bandwidth > 5)
            return KXAPI_E_INVALID_BANDWIDTH;
        return In(v.m_Profile, {0, 1}) ? KXAPI_OK : KXAPI_E_INVALID_T2PROFILE;
    }
    KXAPI_RESULT operator()(const KxDemodParsIsdbt& v) const
    {
        if (!In(v.m_Bandwidth, {16, 32, 48, 64}))
            return KXAPI_E_INVALID_BANDWIDTH;
        if (v.m_SubChannel > 41)
            return KXAPI_E_INVALID_SUBCH;
        return In(v.m_NumSegments, {1, 3, 13}) ? KXAPI_OK : KXAPI_E_INVALID_NUMSEGM;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbC2& v) const
    {
        return In(v.m_BandwidthMhz, {6, 8}) ? KXAPI_OK : KXAPI_E_INVALID_BANDWIDTH;
    }
    KXAPI_RESULT operator()(const KxDemodParsAtsc3& v) const
    {
        return In(v.m_Bandwidth, {0, 1, 2}) ? KXAPI_OK : KXAPI_E_INVALID_BANDWIDTH;
    }
    KXAPI_RESULT operator()(const KxDemodParsIq& v) const
    {
        if (!In(v.m_IqDataType, {0, 1}))
            return KXAPI_E_INVALID_ARG;
        if (In(v.m_BandwidthHz, {1700000, 5000000, 6000000, 7000000, 8000000, 10000000}) ||
            InRange(v.m_BandwidthHz, 80000000, 248000000))
            return KXAPI_OK;
        return KXAPI_E_INVALID_BANDWIDTH;
    }
    KXAPI_RESULT operator()(const KxDemodParsIq3460& v) const
    {
        if (KXAPI_RESULT r = CheckTuner3460(v.m_Tuner); KxapiFailed(r))
            return r;
        for (const KxIq3460FilterCoef& coef : v.m_Filter)
            if (!(coef.m_Coef >= -1.0 && coef.m_Coef <= 1.0))
                return KXAPI_E_INVALID_ARG;
        return v.m_ScaleFactor >= 0.0 && v.m_ScaleFactor <= 1.0 ? KXAPI_OK : KXAPI_E_INVALID_ARG;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbS2Adv& v) const
    {
        if (m_ModType == KX_MOD_DVBS2) {
            if (v.m_CodeRate != KX_CR_AUTO)
                return KXAPI_E_INVALID_RATE;
            if (v.m_Pilots != 3)
                return KXAPI_E_INVALID_PILOTS;
            if (v.m_FecFrame != 12)
                return KXAPI_E_INVALID_MODPARS;
        } else {
            if (!InRange(v.m_CodeRate, 0, 12) && v.m_CodeRate != KX_CR_AUTO && !InRange(v.m_CodeRate, 18, 37))
                return KXAPI_E_INVALID_RATE;
            if (!In(v.m_Pilots, {0, 1, 3}))
                return KXAPI_E_INVALID_PILOTS;
            if (!In(v.m_FecFrame, {0, 8, 12}))
                return KXAPI_E_INVALID_MODPARS;
        }
        if (KXAPI_RESULT r = CheckSpecInv(v.m_SpecInv); KxapiFailed(r))
            return r;
        if (v.m_SymRateBd < SYMRATE_AUTO)
            return KXAPI_E_INVALID_SYMRATE;
        for (const KxDvbS2ModCodPars& mcp : v.m_ModCods) {
            if (!KxIsDvbS2ModType(mcp.m_ModType))
                return KXAPI_E_INVALID_MODTYPE;
            if (!KxIsDvbS2ModCod(mcp.m_ModType, mcp.m_CodeRate))
                return KXAPI_E_INVALID_RATE;
        }
        return KXAPI_OK;
    }
};

} // namespace

KXAPI_RESULT KxDemodPars::CheckValidity() const
{
    return std::visit(ValidityVisitor{m_ModType}, m_Variant);
}

} // namespace Kxapi
