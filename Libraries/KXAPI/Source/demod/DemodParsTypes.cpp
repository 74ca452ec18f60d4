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

struct ModTypeName {
    int32_t m_ModType;
    const char* m_pName;
};

constexpr ModTypeName MOD_TYPE_NAMES[] = {
    {KX_MOD_NONE, "none"},        {KX_MOD_DVBS, "DVB-S"},         {KX_MOD_QAM4, "QAM4"},
    {KX_MOD_QAM16, "QAM16"},      {KX_MOD_QAM32, "QAM32"},        {KX_MOD_QAM64, "QAM64"},
    {KX_MOD_QAM128, "QAM128"},    {KX_MOD_QAM256, "QAM256"},      {KX_MOD_DVBT, "DVB-T"},
    {KX_MOD_ATSC, "ATSC"},        {KX_MOD_DVBT2, "DVB-T2"},       {KX_MOD_ISDBT, "ISDB-T"},
    {KX_MOD_IQ, "IQ"},            {KX_MOD_IQ3460, "IQ-3460"},     {32, "DVB-S2 QPSK"},
    {33, "DVB-S2 8PSK"},          {34, "DVB-S2 16APSK"},          {35, "DVB-S2 32APSK"},
    {KX_MOD_DVBS2, "DVB-S2"},     {KX_MOD_DVBC2, "DVB-C2"},       {KX_MOD_DAB, "DAB"},
    {KX_MOD_QAMAUTO, "QAM auto"}, {60, "DVB-S2X 8APSK-L"},        {61, "DVB-S2X 16APSK-L"},
    {62, "DVB-S2X 32APSK-L"},     {63, "DVB-S2X 64APSK-L"},       {64, "DVB-S2X 64APSK"},
    {65, "DVB-S2X 128APSK"},      {66, "DVB-S2X 256APSK-L"},      {67, "DVB-S2X 256APSK"},
    {KX_MOD_ATSC3, "ATSC 3.0"},   {KX_MOD_IQ_ALT, "IQ"},
};

} // namespace

const char* KxModTypeName(int32_t modType)
{
    for (const ModTypeName& entry : MOD_TYPE_NAMES)
        if (entry.m_ModType == modType)
            return entry.m_pName;
    return "?";
}

bool KxDemodPars::IsModType(int32_t modType)
{
    return modType == KX_MOD_NONE || FindRange(modType) != nullptr;
}

KxDemodPars KxDemodPars::DvbS2Automatic(int32_t symbolRateBd)
{
    KxDemodPars pars(KX_MOD_DVBS2);
    KxDemodParsDvbS2Adv* s2 = pars.DvbS2();
    s2->m_CodeRate = KX_S2_CODE_RATE_AUTO;
    s2->m_Pilots = KX_S2_PILOTS_AUTO;
    s2->m_SpecInv = KX_S2_SPEC_INV_NONE;
    s2->m_FecFrame = KX_S2_FEC_FRAME_AUTO;
    s2->m_SymRateBd = symbolRateBd;
    return pars;
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
