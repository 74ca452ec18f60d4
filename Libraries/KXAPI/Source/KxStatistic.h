// KxStatistic: one receiver statistic (id, qualifying extra ids, result and typed value) as it
// crosses the demod protocol; element "kxstat".
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "KxStatisticValues.h"
#include "KxapiResult.h"
#include "Markup.h"

namespace Kxapi {

// Value types; the structured ones are numbered 4 to 21 in the order of KxStatistic::Value.
enum KxStatValueType : int32_t {
    KX_STAT_VT_NONE = 0, KX_STAT_VT_BOOL = 1, KX_STAT_VT_DOUBLE = 2, KX_STAT_VT_INT = 3,
    KX_STAT_VT_FIRST_STRUCT = 4, KX_STAT_VT_LAST = 21,
};

// One row of the statistic table.
struct KxStatisticInfo {
    int32_t m_Id;
    int32_t m_ValueType;
    const char* m_pName;
    const char* m_pDescription;
};

// The statistic table, searched linearly; nullptr for an id not in it.
const KxStatisticInfo* KxFindStatistic(int32_t id);
// Number of rows and row access (for listing).
size_t KxStatisticCount();
const KxStatisticInfo& KxStatisticRow(size_t index);

class KxStatistic {
public:
    using Value = std::variant<std::monostate, bool, double, int32_t, KxDvbC2L1Part2, KxDvbC2PlpSigData,
                               KxDvbT2L1Data, KxIsdbtPars, KxLdpcStats, KxT2C2MaData, KxMaStats, KxPlpNumBlocks,
                               KxVitStats, KxDabEnsemble, KxRsStats, KxDvbTTps, KxDabTii, KxAtsc3L1Data, KxT2TxId,
                               KxAtsc3TxIdInfo, KxDvbS2IsiList, KxDvbS2IsiSigData>;

    KxStatistic() = default;
    // Sets the id (see SetId); an unknown id leaves the statistic without id and value.
    explicit KxStatistic(int32_t id) { SetId(id); }
    virtual ~KxStatistic() = default;
    KxStatistic(const KxStatistic&) = default;
    KxStatistic& operator=(const KxStatistic&) = default;

    // Looks the id up, stores it and its value type and resets the value;
    // KXAPI_E_NOT_FOUND for an id not in the table (the statistic is unchanged).
    KXAPI_RESULT SetId(int32_t id);

    // Typed access: KXAPI_E_INVALID_TYPE when T is not the stored value type (a failed
    // SetValue also stores KXAPI_E_INVALID_TYPE in Result); GetValue of the right type answers Result.
    template <typename T> KXAPI_RESULT GetValue(T& value) const
    {
        const T* stored = std::get_if<T>(&m_Value);
        if (stored == nullptr)
            return KXAPI_E_INVALID_TYPE;
        value = *stored;
        return m_Result;
    }
    template <typename T> KXAPI_RESULT SetValue(const T& value)
    {
        T* stored = std::get_if<T>(&m_Value);
        if (stored == nullptr) {
            m_Result = KXAPI_E_INVALID_TYPE;
            return KXAPI_E_INVALID_TYPE;
        }
        *stored = value;
        return KXAPI_OK;
    }
    const Value& GetRawValue() const { return m_Value; }

    // Short name and description of the table row ("Lock", "General Lock");
    // KXAPI_E_NOT_FOUND when the id is not in the table.
    KXAPI_RESULT GetName(std::string& name, std::string& description) const;
    KXAPI_RESULT GetName(std::wstring& name, std::wstring& description) const;

    // Element "kxstat". ToXml: KXAPI_E_NOT_SUPPORTED for value types 8, 10 and 19,
    // KXAPI_E_INVALID_TYPE for 12, 13, 14, 16 and 18. FromXml reads the first "kxstat".
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    KXAPI_RESULT ToXmlElem(MarkupElem parent) const;
    KXAPI_RESULT FromXmlElem(MarkupElem elem);

    // A list is the concatenation of the elements, in order.
    static KXAPI_RESULT ToXml(const KxStatistic* stats, int count, std::wstring& text);
    // Parses every "kxstat" element of text into stats (replaced); at most maxCount elements
    // (KXAPI_E_TOO_LONG above).
    static KXAPI_RESULT FromXml(const std::wstring& text, std::vector<KxStatistic>& stats,
                                size_t maxCount = KX_STAT_MAX_LIST);
    // As above, from the top-level "kxstat" elements of a parsed document.
    static KXAPI_RESULT FromXml(const Markup& doc, std::vector<KxStatistic>& stats,
                                size_t maxCount = KX_STAT_MAX_LIST);

    bool operator==(const KxStatistic& other) const = default;

    int32_t m_Result = 0;
    int32_t m_StatisticId = 0;
    int32_t m_XtraId[4] = {-1, -1, -1, -1};
    int32_t m_ValueType = KX_STAT_VT_NONE;

private:
    // Replaces the value by the default of a value type (0 to 21).
    void ResetValue(int32_t valueType);

    Value m_Value;
};

// Legacy 16-byte statistic record of the fixed-layout statistics read.
struct TStatPars {
    uint8_t m_Value[8] = {}; // bool in byte 0, int32 in bytes 0-3, or double
    int32_t m_StatisticId = 0;
    uint32_t m_Result = 0;
    // Fills the record from a statistic of value type bool, int or double (others: value 0).
    static TStatPars FromStatistic(const KxStatistic& stat);
    void Encode(void* body, unsigned int offset) const;
    static TStatPars Decode(const void* body, unsigned int offset);
};
constexpr unsigned int TSTATPARS_SIZE = 16;

} // namespace Kxapi
