// The modulation-type registry: which codes exist and which record each one carries.
#include "DemodPars.h"

namespace Kxapi {

namespace {

template <typename T> KxDemodPars::Variant Make() { return KxDemodPars::Variant(T{}); }

struct ModTypeRange {
    int32_t m_First;
    int32_t m_Last;
    KxDemodPars::Variant (*m_pMake)();
};

constexpr ModTypeRange MOD_TYPE_RANGES[] = {
    {KX_MOD_DVBS, KX_MOD_DVBS, Make<KxDemodParsDvbS>},
    {KX_MOD_QAM4, KX_MOD_QAM256, Make<KxDemodParsQam>},
    {KX_MOD_QAMAUTO, KX_MOD_QAMAUTO, Make<KxDemodParsQam>},
    {KX_MOD_DVBT, KX_MOD_DVBT, Make<KxDemodParsDvbT>},
    {KX_MOD_ATSC, KX_MOD_ATSC, Make<KxDemodParsAtsc>},
    {KX_MOD_DVBT2, KX_MOD_DVBT2, Make<KxDemodParsDvbT2>},
    {KX_MOD_ISDBT, KX_MOD_ISDBT, Make<KxDemodParsIsdbt>},
    {KX_MOD_IQ, KX_MOD_IQ, Make<KxDemodParsIq>},
    {KX_MOD_IQ_ALT, KX_MOD_IQ_ALT, Make<KxDemodParsIq>},
    {KX_MOD_IQ3460, KX_MOD_IQ3460, Make<KxDemodParsIq3460>},
    {KX_MOD_DVBS2_QPSK, KX_MOD_DVBS2_32APSK, Make<KxDemodParsDvbS2Adv>},
    {KX_MOD_DVBS2, KX_MOD_DVBS2, Make<KxDemodParsDvbS2Adv>},
    {KX_MOD_DVBS2X_8APSK_L, KX_MOD_DVBS2X_256APSK, Make<KxDemodParsDvbS2Adv>},
    {KX_MOD_DVBC2, KX_MOD_DVBC2, Make<KxDemodParsDvbC2>},
    {KX_MOD_DAB, KX_MOD_DAB, Make<KxDemodParsDab>},
    {KX_MOD_ATSC3, KX_MOD_ATSC3, Make<KxDemodParsAtsc3>},
};

const ModTypeRange* FindRange(int32_t modType)
{
    for (const ModTypeRange& range : MOD_TYPE_RANGES)
        if (modType >= range.m_First && modType <= range.m_Last)
            return &range;
    return nullptr;
}

} // namespace

bool KxDemodPars::IsModType(int32_t modType)
{
    return modType == KX_MOD_NONE || FindRange(modType) != nullptr;
}

KXAPI_RESULT KxDemodPars::SetModType(int32_t modType)
{
    if (modType == m_ModType)
        return KXAPI_OK;
    if (modType == KX_MOD_NONE) {
        m_ModType = KX_MOD_NONE;
        m_Variant = std::monostate{};
        return KXAPI_OK;
    }
    const ModTypeRange* range = FindRange(modType);
    if (range == nullptr)
        return KXAPI_E_INVALID_MODTYPE;
    m_ModType = modType;
    m_Variant = range->m_pMake();
    return KXAPI_OK;
}

} // namespace Kxapi
