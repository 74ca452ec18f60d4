#include "KxStatistic.h"

#include <cstring>

#include "KxWire.h"

namespace Kxapi {

namespace {

template <size_t... I> KxStatistic::Value MakeValue(size_t index, std::index_sequence<I...>)
{
    KxStatistic::Value value;
    ((index == I ? (value.emplace<I>(), 0) : 0), ...);
    return value;
}

std::wstring Widen(const char* text)
{
    std::wstring wide;
    while (*text != '\0')
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text++)));
    return wide;
}

} // namespace

void KxStatistic::EmplaceValue(int32_t valueType)
{
    if (valueType < 0 || valueType > KX_STAT_VT_LAST)
        valueType = KX_STAT_VT_NONE;
    m_Value = MakeValue(static_cast<size_t>(valueType), std::make_index_sequence<std::variant_size_v<Value>>());
}

void KxStatistic::ResetValue(int32_t valueType)
{
    EmplaceValue(valueType >= KX_STAT_VT_FIRST_STRUCT ? KX_STAT_VT_NONE : valueType);
}

KXAPI_RESULT KxStatistic::SetId(int32_t id)
{
    const KxStatisticInfo* info = KxFindStatistic(id);
    if (info == nullptr)
        return KXAPI_E_NOT_FOUND;
    m_StatisticId = id;
    m_ValueType = info->m_ValueType;
    ResetValue(m_ValueType);
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::GetName(std::string& name, std::string& description) const
{
    const KxStatisticInfo* info = KxFindStatistic(m_StatisticId);
    if (info == nullptr)
        return KXAPI_E_NOT_FOUND;
    name = info->m_pName;
    description = info->m_pDescription;
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::GetName(std::wstring& name, std::wstring& description) const
{
    const KxStatisticInfo* info = KxFindStatistic(m_StatisticId);
    if (info == nullptr)
        return KXAPI_E_NOT_FOUND;
    name = Widen(info->m_pName);
    description = Widen(info->m_pDescription);
    return KXAPI_OK;
}

TStatPars TStatPars::FromStatistic(const KxStatistic& stat)
{
    TStatPars pars;
    pars.m_StatisticId = stat.m_StatisticId;
    pars.m_Result = static_cast<uint32_t>(stat.m_Result);
    const KxStatistic::Value& value = stat.GetRawValue();
    if (const bool* b = std::get_if<bool>(&value))
        pars.m_Value[0] = *b ? 1 : 0;
    else if (const int32_t* i = std::get_if<int32_t>(&value))
        KxPutI32(pars.m_Value, 0, *i);
    else if (const double* d = std::get_if<double>(&value))
        std::memcpy(pars.m_Value, d, sizeof(double));
    return pars;
}

void TStatPars::Encode(void* body, unsigned int offset) const
{
    std::memcpy(static_cast<char*>(body) + offset, m_Value, sizeof(m_Value));
    KxPutI32(body, offset + 8, m_StatisticId);
    KxPutU32(body, offset + 12, m_Result);
}

TStatPars TStatPars::Decode(const void* body, unsigned int offset)
{
    TStatPars pars;
    std::memcpy(pars.m_Value, static_cast<const char*>(body) + offset, sizeof(pars.m_Value));
    pars.m_StatisticId = KxGetI32(body, offset + 8);
    pars.m_Result = KxGetU32(body, offset + 12);
    return pars;
}

} // namespace Kxapi
