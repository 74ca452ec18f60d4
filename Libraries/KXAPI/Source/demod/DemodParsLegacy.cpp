// The legacy four-integer form (modType, parXtra0..2) of the fixed-layout demod commands.
#include "DemodPars.h"

namespace Kxapi {

namespace {

struct OldStyle {
    int32_t m_X0 = 0;
    int32_t m_X1 = 0;
    int32_t m_X2 = 0;
};

constexpr int32_t IQ_LEGACY_BANDWIDTH_HZ = 8000000;

struct FromOldVisitor {
    OldStyle m_Old;
    KXAPI_RESULT operator()(KxDemodParsDvbS& v) const
    {
        v.m_CodeRate = m_Old.m_X0;
        v.m_SpecInv = m_Old.m_X1 & 0x30;
        v.m_SymRateBd = m_Old.m_X2;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsQam& v) const
    {
        v.m_Annex = m_Old.m_X0 & 0xF;
        v.m_Interleaving = m_Old.m_X1 & 0xF;
        v.m_SymRateBd = m_Old.m_X2;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsDvbT& v) const
    {
        v.m_CodeRate = m_Old.m_X0;
        v.m_Bandwidth = m_Old.m_X1 & 0xF;
        v.m_Constellation = m_Old.m_X1 & 0xF0;
        v.m_Guard = m_Old.m_X1 & 0xF00;
        v.m_Interleaving = m_Old.m_X1 & 0xF000;
        v.m_Mode = m_Old.m_X1 & 0xF0000;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsAtsc& v) const
    {
        v.m_Constellation = m_Old.m_X0 & 3;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsDvbS2Adv& v) const
    {
        v.m_CodeRate = m_Old.m_X0;
        v.m_Pilots = m_Old.m_X1 & 3;
        v.m_FecFrame = m_Old.m_X1 & 0xC;
        v.m_SpecInv = m_Old.m_X1 & 0x30;
        v.m_SymRateBd = m_Old.m_X2;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsIq& v) const
    {
        v.m_BandwidthHz = IQ_LEGACY_BANDWIDTH_HZ;
        v.m_IqDataType = 0;
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(KxDemodParsDvbT2&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(KxDemodParsIsdbt&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(KxDemodParsDvbC2&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(KxDemodParsIq3460&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(std::monostate&) const { return KXAPI_E_INVALID_MODTYPE; }
    KXAPI_RESULT operator()(KxDemodParsDab&) const { return KXAPI_E_INVALID_MODTYPE; }
    KXAPI_RESULT operator()(KxDemodParsAtsc3&) const { return KXAPI_E_INVALID_MODTYPE; }
};

struct ToOldVisitor {
    OldStyle& m_Old;
    KXAPI_RESULT operator()(const KxDemodParsDvbS& v) const
    {
        m_Old = {v.m_CodeRate, v.m_SpecInv, v.m_SymRateBd};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsQam& v) const
    {
        m_Old = {v.m_Annex, v.m_Interleaving, v.m_SymRateBd};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbT& v) const
    {
        m_Old = {v.m_CodeRate, v.m_Bandwidth | v.m_Constellation | v.m_Guard | v.m_Interleaving | v.m_Mode, 0};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsAtsc& v) const
    {
        m_Old = {v.m_Constellation, 0, 0};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbS2Adv& v) const
    {
        m_Old = {v.m_CodeRate, v.m_Pilots | v.m_FecFrame | v.m_SpecInv, v.m_SymRateBd};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsIq&) const
    {
        m_Old = {};
        return KXAPI_OK;
    }
    KXAPI_RESULT operator()(const KxDemodParsDvbT2&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(const KxDemodParsIsdbt&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(const KxDemodParsDvbC2&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(const KxDemodParsIq3460&) const { return KXAPI_E_NOT_SUPPORTED; }
    KXAPI_RESULT operator()(const std::monostate&) const { return KXAPI_E_INVALID_MODTYPE; }
    KXAPI_RESULT operator()(const KxDemodParsDab&) const { return KXAPI_E_INVALID_MODTYPE; }
    KXAPI_RESULT operator()(const KxDemodParsAtsc3&) const { return KXAPI_E_INVALID_MODTYPE; }
};

} // namespace

KXAPI_RESULT KxDemodPars::FromOldStyle(int32_t modType, int32_t parXtra0, int32_t parXtra1, int32_t parXtra2)
{
    if (modType == KX_MOD_NONE || !IsModType(modType))
        return KXAPI_E_INVALID_MODTYPE;
    KxDemodPars converted = *this;
    KXAPI_RESULT result = converted.SetModType(modType);
    if (KxapiSucceeded(result))
        result = std::visit(FromOldVisitor{{parXtra0, parXtra1, parXtra2}}, converted.m_Variant);
    if (KxapiSucceeded(result))
        *this = std::move(converted);
    return result;
}

KXAPI_RESULT KxDemodPars::ToOldStyle(int32_t& modType, int32_t& parXtra0, int32_t& parXtra1, int32_t& parXtra2) const
{
    OldStyle old;
    KXAPI_RESULT result = std::visit(ToOldVisitor{old}, m_Variant);
    if (KxapiFailed(result))
        return result;
    modType = m_ModType;
    parXtra0 = old.m_X0;
    parXtra1 = old.m_X1;
    parXtra2 = old.m_X2;
    return KXAPI_OK;
}

} // namespace Kxapi
