// XML form of KxStatistic: element "kxstat" with the value as an attribute or, for the
// structured value types, as the structure's sub-document.
#include "KxStatistic.h"

namespace Kxapi {

namespace {

// How each value type crosses the generic protocol.
struct ValueTypeXml {
    int32_t m_ValueType;
    const char* m_pElem;   // sub-document element of a structured value, or nullptr
    KXAPI_RESULT m_Refusal; // KXAPI_OK when the type is carried
};

const ValueTypeXml VALUE_TYPE_XML[] = {
    {4, "c2l1p2", KXAPI_OK},          {5, "c2psd", KXAPI_OK},          {6, "t2datal1", KXAPI_OK},
    {7, "isdbtpars", KXAPI_OK},       {8, nullptr, KXAPI_E_NOT_SUPPORTED}, {9, "t2c2madata", KXAPI_OK},
    {10, nullptr, KXAPI_E_NOT_SUPPORTED}, {11, "t2plpblocks", KXAPI_OK}, {12, nullptr, KXAPI_E_INVALID_TYPE},
    {13, nullptr, KXAPI_E_INVALID_TYPE}, {14, nullptr, KXAPI_E_INVALID_TYPE}, {15, "ttpsinfo", KXAPI_OK},
    {16, nullptr, KXAPI_E_INVALID_TYPE}, {17, "atsc3l1", KXAPI_OK},     {18, nullptr, KXAPI_E_INVALID_TYPE},
    {19, nullptr, KXAPI_E_NOT_SUPPORTED}, {20, "s2Isi", KXAPI_OK},      {21, "s2isidata", KXAPI_OK},
};

const ValueTypeXml* FindValueType(int32_t valueType)
{
    for (const ValueTypeXml& row : VALUE_TYPE_XML)
        if (row.m_ValueType == valueType)
            return &row;
    return nullptr;
}

// Value types 0 to 3 and the carried structures pass; the refused structures give their code.
KXAPI_RESULT CheckCarried(int32_t valueType)
{
    if (valueType >= KX_STAT_VT_NONE && valueType < KX_STAT_VT_FIRST_STRUCT)
        return KXAPI_OK;
    const ValueTypeXml* row = FindValueType(valueType);
    return row == nullptr ? KXAPI_E_INVALID_TYPE : row->m_Refusal;
}

class FieldWriter {
public:
    explicit FieldWriter(MarkupElem elem) : m_Elem(elem) {}
    template <typename T> FieldWriter& operator()(const char* name, T& value)
    {
        m_Elem.SetAttrib(name, value);
        return *this;
    }
    template <typename T> void List(const char* name, std::vector<T>& list)
    {
        for (T& item : list) {
            FieldWriter child(m_Elem.AddChild(name));
            item.Fields(child);
        }
    }

private:
    MarkupElem m_Elem;
};

class FieldReader {
public:
    explicit FieldReader(MarkupElem elem) : m_Elem(elem) {}
    template <typename T> FieldReader& operator()(const char* name, T& value)
    {
        if (KxapiSucceeded(m_Result))
            m_Result = m_Elem.GetAttrib(name, value);
        return *this;
    }
    template <typename T> void List(const char* name, std::vector<T>& list)
    {
        list.clear();
        for (MarkupElem e = m_Elem.FindChild(name); e.Valid() && KxapiSucceeded(m_Result); e = e.NextSame()) {
            if (list.size() >= KX_STAT_MAX_LIST) {
                m_Result = KXAPI_E_TOO_LONG;
                break;
            }
            FieldReader child(e);
            list.emplace_back().Fields(child);
            m_Result = child.Result();
        }
    }
    KXAPI_RESULT Result() const { return m_Result; }

private:
    MarkupElem m_Elem;
    KXAPI_RESULT m_Result = KXAPI_OK;
};

template <typename T>
concept HasFields = requires(T value, FieldWriter& writer) { value.Fields(writer); };

struct ValueWriter {
    MarkupElem m_Stat;
    const char* m_pElem;
    void operator()(const std::monostate&) const {}
    void operator()(const bool& v) const { m_Stat.SetAttrib("bl", v); }
    void operator()(const int32_t& v) const { m_Stat.SetAttrib("int", v); }
    void operator()(const double& v) const { m_Stat.SetAttrib("dbl", v); }
    template <typename T> void operator()(const T& v) const
    {
        if constexpr (HasFields<T>) {
            FieldWriter writer(m_Stat.AddChild(m_pElem));
            const_cast<T&>(v).Fields(writer); // the writer only reads the fields
        }
    }
};

struct ValueReader {
    MarkupElem m_Stat;
    const char* m_pElem;
    KXAPI_RESULT operator()(std::monostate&) const { return KXAPI_OK; }
    KXAPI_RESULT operator()(bool& v) const { return m_Stat.GetAttrib("bl", v); }
    KXAPI_RESULT operator()(int32_t& v) const { return m_Stat.GetAttrib("int", v); }
    KXAPI_RESULT operator()(double& v) const { return m_Stat.GetAttrib("dbl", v); }
    template <typename T> KXAPI_RESULT operator()(T& v) const
    {
        if constexpr (HasFields<T>) {
            MarkupElem sub = m_Stat.FindChild(m_pElem);
            if (!sub.Valid())
                return KXAPI_OK; // the value is sent only when present
            FieldReader reader(sub);
            v.Fields(reader);
            return reader.Result();
        } else {
            return KXAPI_E_INVALID_TYPE;
        }
    }
};

} // namespace

KXAPI_RESULT KxStatistic::ToXmlElem(MarkupElem parent) const
{
    KXAPI_RESULT result = CheckCarried(m_ValueType);
    if (KxapiFailed(result))
        return result;
    MarkupElem stat = parent.AddChild("kxstat");
    stat.SetAttrib("res", m_Result);
    stat.SetAttrib("sid", m_StatisticId);
    stat.SetAttrib("xid0", m_XtraId[0]);
    stat.SetAttrib("xid1", m_XtraId[1]);
    stat.SetAttrib("xid2", m_XtraId[2]);
    stat.SetAttrib("xid3", m_XtraId[3]);
    stat.SetAttrib("vt", m_ValueType);
    const ValueTypeXml* row = FindValueType(m_ValueType);
    std::visit(ValueWriter{stat, row != nullptr ? row->m_pElem : nullptr}, m_Value);
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::FromXmlElem(MarkupElem elem)
{
    if (!elem.Valid())
        return KXAPI_E_XML_ELEM;
    KxStatistic parsed;
    KXAPI_RESULT result = elem.GetAttrib("res", parsed.m_Result);
    if (KxapiSucceeded(result))
        result = elem.GetAttrib("sid", parsed.m_StatisticId);
    const char* xidNames[4] = {"xid0", "xid1", "xid2", "xid3"};
    for (int i = 0; i < 4 && KxapiSucceeded(result); i++)
        result = elem.GetAttrib(xidNames[i], parsed.m_XtraId[i]);
    if (KxapiSucceeded(result))
        result = elem.GetAttrib("vt", parsed.m_ValueType);
    if (KxapiSucceeded(result))
        result = CheckCarried(parsed.m_ValueType);
    if (KxapiFailed(result))
        return result;
    parsed.ResetValue(parsed.m_ValueType);
    const ValueTypeXml* row = FindValueType(parsed.m_ValueType);
    result = std::visit(ValueReader{elem, row != nullptr ? row->m_pElem : nullptr}, parsed.m_Value);
    if (KxapiFailed(result))
        return result;
    *this = std::move(parsed);
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::ToXml(std::wstring& text) const
{
    return ToXml(this, 1, text);
}

KXAPI_RESULT KxStatistic::FromXml(const std::wstring& text)
{
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    if (KxapiFailed(result))
        return result;
    return FromXmlElem(doc.Top().FindChild("kxstat"));
}

KXAPI_RESULT KxStatistic::ToXml(const KxStatistic* stats, int count, std::wstring& text)
{
    text.clear();
    if (count < 0 || (count > 0 && stats == nullptr))
        return KXAPI_E_INVALID_ARG;
    Markup doc;
    for (int i = 0; i < count; i++) {
        KXAPI_RESULT result = stats[i].ToXmlElem(doc.Top());
        if (KxapiFailed(result))
            return result;
    }
    doc.AppendTo(text);
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::FromXml(const std::wstring& text, std::vector<KxStatistic>& stats, size_t maxCount)
{
    stats.clear();
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    if (KxapiFailed(result))
        return result;
    return FromXml(doc, stats, maxCount);
}

KXAPI_RESULT KxStatistic::FromXml(const Markup& doc, std::vector<KxStatistic>& stats, size_t maxCount)
{
    stats.clear();
    KXAPI_RESULT result = KXAPI_OK;
    size_t count = doc.Top().CountChildren("kxstat");
    if (count > maxCount)
        return KXAPI_E_TOO_LONG;
    std::vector<KxStatistic> parsed(count);
    size_t i = 0;
    for (MarkupElem e = doc.Top().FindChild("kxstat"); e.Valid(); e = e.NextSame()) {
        result = parsed[i++].FromXmlElem(e);
        if (KxapiFailed(result))
            return result;
    }
    stats = std::move(parsed);
    return KXAPI_OK;
}

} // namespace Kxapi
