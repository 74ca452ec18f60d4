// XML form of KxStatistic: element "kxstat" with the value as an attribute or, for the
// structured value types, as the structure's sub-document.
#include "KxStatistic.h"
#include "MarkupFields.h"

#include <charconv>
#include <cstring>

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

// An attribute reader that also reads lists of child elements.
class FieldReader : public AttribReader {
public:
    explicit FieldReader(MarkupElem elem) : AttribReader(elem) {}
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

// Plain values (none, bool, int, double) are written straight as text, byte for byte what the
// document writer gives for them: attributes in order, no blanks, "/>" at the end.
bool IsPlain(const KxStatistic& stat)
{
    return stat.m_ValueType >= KX_STAT_VT_NONE && stat.m_ValueType < KX_STAT_VT_FIRST_STRUCT &&
           stat.GetRawValue().index() < KX_STAT_VT_FIRST_STRUCT;
}

// Longest element: seven 11-character integers and a 24-character double with their names.
constexpr size_t PLAIN_ELEM_MAX_CHARS = 256;

char* PutText(char* p, const char* text)
{
    const size_t length = std::strlen(text);
    std::memcpy(p, text, length);
    return p + length;
}

template <typename T> char* PutAttrib(char* p, const char* name, T value)
{
    *p++ = ' ';
    p = PutText(p, name);
    *p++ = '=';
    *p++ = '"';
    p = std::to_chars(p, p + 32, value).ptr;
    *p++ = '"';
    return p;
}

// Writes the element of a statistic with a plain value type; answers the end of the text.
char* PutPlainElem(const KxStatistic& stat, char* p)
{
    p = PutText(p, "<kxstat");
    p = PutAttrib(p, "res", stat.m_Result);
    p = PutAttrib(p, "sid", stat.m_StatisticId);
    p = PutAttrib(p, "xid0", stat.m_XtraId[0]);
    p = PutAttrib(p, "xid1", stat.m_XtraId[1]);
    p = PutAttrib(p, "xid2", stat.m_XtraId[2]);
    p = PutAttrib(p, "xid3", stat.m_XtraId[3]);
    p = PutAttrib(p, "vt", stat.m_ValueType);
    const KxStatistic::Value& value = stat.GetRawValue();
    if (const bool* b = std::get_if<bool>(&value))
        p = PutText(p, *b ? " bl=\"1\"" : " bl=\"0\"");
    else if (const int32_t* i = std::get_if<int32_t>(&value))
        p = PutAttrib(p, "int", *i);
    else if (const double* d = std::get_if<double>(&value))
        p = PutAttrib(p, "dbl", *d);
    return PutText(p, "/>");
}

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

namespace {

// The attributes of a "kxstat" element, read in one pass: the header's integers, then the
// value of each plain value type.
enum KxstatAttrib { ATTR_RES, ATTR_SID, ATTR_XID0, ATTR_VT = ATTR_XID0 + 4, ATTR_BL, ATTR_INT, ATTR_DBL, ATTR_COUNT };
const char* const KXSTAT_ATTRIB_NAMES[ATTR_COUNT] = {"res", "sid", "xid0", "xid1", "xid2", "xid3", "vt", "bl", "int", "dbl"};

// Stores a plain value, assigning in place where the statistic already holds one of its type.
template <size_t I, typename T> void StorePlain(KxStatistic::Value& value, T v)
{
    if (value.index() == I)
        std::get<I>(value) = v;
    else
        value.emplace<I>(v);
}

} // namespace

KXAPI_RESULT KxStatistic::FromXmlElem(MarkupElem elem)
{
    if (!elem.Valid())
        return KXAPI_E_XML_ELEM;
    const char* texts[ATTR_COUNT];
    elem.FindAttribs(KXSTAT_ATTRIB_NAMES, texts, ATTR_COUNT);
    // A missing header attribute keeps the value of a new statistic.
    int32_t header[ATTR_VT + 1] = {0, 0, -1, -1, -1, -1, KX_STAT_VT_NONE};
    for (int i = 0; i <= ATTR_VT; i++)
        if (texts[i] != nullptr && KxapiFailed(MarkupElem::ParseNumber(texts[i], header[i])))
            return KXAPI_E_XML_SYNTAX;
    const int32_t valueType = header[ATTR_VT];
    KXAPI_RESULT result = CheckCarried(valueType);
    if (KxapiFailed(result))
        return result;

    if (valueType >= KX_STAT_VT_FIRST_STRUCT) {
        // A structured value is present only when its sub-element is.
        KxStatistic parsed;
        parsed.ResetValue(valueType);
        const ValueTypeXml* row = FindValueType(valueType);
        if (row != nullptr && row->m_pElem != nullptr && elem.FindChild(row->m_pElem).Valid())
            parsed.EmplaceValue(valueType);
        result = std::visit(ValueReader{elem, row != nullptr ? row->m_pElem : nullptr}, parsed.m_Value);
        if (KxapiFailed(result))
            return result;
        m_Value = std::move(parsed.m_Value);
    } else {
        // A plain value is read from the attribute of its type (zero when missing) before
        // anything of this statistic changes.
        bool flag = false;
        int32_t integer = 0;
        double real = 0.0;
        int64_t number = 0;
        if (valueType == KX_STAT_VT_BOOL && texts[ATTR_BL] != nullptr) {
            if (KxapiFailed(MarkupElem::ParseNumber(texts[ATTR_BL], number)))
                return KXAPI_E_XML_SYNTAX;
            flag = number != 0;
        } else if (valueType == KX_STAT_VT_INT && texts[ATTR_INT] != nullptr) {
            if (KxapiFailed(MarkupElem::ParseNumber(texts[ATTR_INT], integer)))
                return KXAPI_E_XML_SYNTAX;
        } else if (valueType == KX_STAT_VT_DOUBLE && texts[ATTR_DBL] != nullptr) {
            if (KxapiFailed(MarkupElem::ParseNumber(texts[ATTR_DBL], real)))
                return KXAPI_E_XML_SYNTAX;
        }
        switch (valueType) {
        case KX_STAT_VT_BOOL:
            StorePlain<KX_STAT_VT_BOOL>(m_Value, flag);
            break;
        case KX_STAT_VT_INT:
            StorePlain<KX_STAT_VT_INT>(m_Value, integer);
            break;
        case KX_STAT_VT_DOUBLE:
            StorePlain<KX_STAT_VT_DOUBLE>(m_Value, real);
            break;
        default:
            m_Value = std::monostate();
            break;
        }
    }
    m_Result = header[ATTR_RES];
    m_StatisticId = header[ATTR_SID];
    for (int k = 0; k < 4; k++)
        m_XtraId[k] = header[ATTR_XID0 + k];
    m_ValueType = valueType;
    return KXAPI_OK;
}

KXAPI_RESULT KxStatistic::ToXml(std::wstring& text) const
{
    return ToXml(this, 1, text);
}

KXAPI_RESULT KxStatistic::FromXml(const std::wstring& text)
{
    return MarkupReadText(text, "kxstat", [this](MarkupElem e) { return FromXmlElem(e); });
}

bool KxStatistic::AppendWireXml(std::vector<uint8_t>& out) const
{
    if (!IsPlain(*this))
        return false;
    char elem[PLAIN_ELEM_MAX_CHARS];
    const size_t length = static_cast<size_t>(PutPlainElem(*this, elem) - elem);
    const size_t start = out.size();
    out.resize(start + 4 * length);
    uint8_t* p = out.data() + start;
    for (size_t k = 0; k < length; k++, p += 4) {
        p[0] = static_cast<uint8_t>(elem[k]); // ASCII: the other three bytes are zero
        p[1] = 0;
        p[2] = 0;
        p[3] = 0;
    }
    return true;
}

KXAPI_RESULT KxStatistic::ToXml(const KxStatistic* stats, int count, std::wstring& text)
{
    text.clear();
    if (count < 0 || (count > 0 && stats == nullptr))
        return KXAPI_E_INVALID_ARG;
    bool plain = true;
    for (int i = 0; i < count && plain; i++)
        plain = IsPlain(stats[i]);
    if (plain) {
        // ASCII only: each byte is one wide character.
        char elem[PLAIN_ELEM_MAX_CHARS];
        for (int i = 0; i < count; i++) {
            const char* end = PutPlainElem(stats[i], elem);
            const size_t start = text.size();
            text.resize(start + static_cast<size_t>(end - elem));
            for (size_t k = 0; k < static_cast<size_t>(end - elem); k++)
                text[start + k] = static_cast<wchar_t>(elem[k]);
        }
        return KXAPI_OK;
    }
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
