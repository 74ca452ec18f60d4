#include "Markup.h"

#include <charconv>
#include <cstring>

namespace Kxapi {

namespace {

const unsigned int PARSE_FLAGS = pugi::parse_fragment | pugi::parse_escapes | pugi::parse_eol |
                                 pugi::parse_wconv_attribute;

// Strips blanks around a number so that "<FreqHz> 5 </FreqHz>" reads as 5.
void Trim(const char*& begin, const char*& end)
{
    while (begin < end && (*begin == ' ' || *begin == '\t' || *begin == '\r' || *begin == '\n'))
        begin++;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        end--;
}

template <typename T> KXAPI_RESULT ParseNumber(const char* text, T& value)
{
    const char* begin = text;
    const char* end = text + std::strlen(text);
    Trim(begin, end);
    if (begin == end)
        return KXAPI_E_XML_SYNTAX;
    if (*begin == '+')
        begin++;
    T parsed{};
    auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (ec != std::errc() || ptr != end)
        return KXAPI_E_XML_SYNTAX;
    value = parsed;
    return KXAPI_OK;
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : m_Out(out) {}
    void write(const void* data, size_t size) override { m_Out.append(static_cast<const char*>(data), size); }

private:
    std::string& m_Out;
};

// Writes one scalar value as UTF-8 at p; answers the position after it.
char* PutUtf8(uint32_t cp, char* p)
{
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

// Encodes count characters (read by charAt) as UTF-8 into out, which must hold 4 x count
// bytes; answers the number of bytes written, or -1 for a NUL, a surrogate or a value above
// U+10FFFF.
template <typename CharAt> ptrdiff_t EncodeUtf8(size_t count, CharAt charAt, char* out)
{
    char* p = out;
    for (size_t i = 0; i < count; i++) {
        const uint32_t cp = charAt(i);
        if (cp - 1 < 0x7F) { // 1 to 0x7F, the common case
            *p++ = static_cast<char>(cp);
            continue;
        }
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return -1;
        p = PutUtf8(cp, p);
    }
    return p - out;
}

uint32_t WireCharAt(const uint8_t* data, size_t index)
{
    const uint8_t* p = data + 4 * index;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

KXAPI_RESULT WideToUtf8(const std::wstring& text, std::string& utf8)
{
    utf8.resize(4 * text.size());
    const wchar_t* pText = text.data();
    const ptrdiff_t length =
        EncodeUtf8(text.size(), [pText](size_t i) { return static_cast<uint32_t>(pText[i]); }, utf8.data());
    if (length < 0) {
        utf8.clear();
        return KXAPI_E_XML_SYNTAX;
    }
    utf8.resize(static_cast<size_t>(length));
    return KXAPI_OK;
}

void Utf8AppendToWide(const char* utf8, size_t size, std::wstring& text)
{
    // Every character takes at least one byte: size characters are room enough.
    const size_t start = text.size();
    text.resize(start + size);
    wchar_t* out = text.data() + start;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    size_t i = 0;
    while (i < size) {
        unsigned char lead = p[i];
        if (lead < 0x80) {
            *out++ = static_cast<wchar_t>(lead);
            i++;
            continue;
        }
        int extra = -1;
        uint32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07u;
        }
        bool ok = extra > 0 && i + static_cast<size_t>(extra) < size;
        for (int k = 1; ok && k <= extra; k++) {
            unsigned char c = p[i + static_cast<size_t>(k)];
            if ((c & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (c & 0x3Fu);
        }
        const uint32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < minimum[extra > 0 ? extra : 0] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            *out++ = static_cast<wchar_t>(0xFFFD);
            i++;
            continue;
        }
        *out++ = static_cast<wchar_t>(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    text.resize(static_cast<size_t>(out - text.data()));
}

MarkupElem MarkupElem::FindChild(const char* name) const
{
    return MarkupElem(m_Node.child(name));
}

MarkupElem MarkupElem::NextSame() const
{
    return MarkupElem(m_Node.next_sibling(m_Node.name()));
}

size_t MarkupElem::CountChildren(const char* name) const
{
    size_t count = 0;
    for (pugi::xml_node n = m_Node.child(name); n; n = n.next_sibling(name))
        count++;
    return count;
}

MarkupElem MarkupElem::AddChild(const char* name) const
{
    pugi::xml_node node = m_Node;
    return MarkupElem(node.append_child(name));
}

bool MarkupElem::HasAttrib(const char* name) const
{
    return static_cast<bool>(m_Node.attribute(name));
}

KXAPI_RESULT MarkupElem::GetAttribs(const char* const* names, int32_t* const* values, size_t count) const
{
    constexpr size_t MAX_RUN = 8;
    if (count > MAX_RUN) {
        for (size_t i = 0; i < count; i++) {
            KXAPI_RESULT result = GetAttrib(names[i], *values[i]);
            if (KxapiFailed(result))
                return result;
        }
        return KXAPI_OK;
    }
    // Names are a few characters: compared in line rather than through strcmp.
    auto same = [](const char* a, const char* b) {
        for (; *a == *b; a++, b++)
            if (*a == '\0')
                return true;
        return false;
    };
    const char* texts[MAX_RUN] = {};
    size_t expected = 0; // writers give the attributes in the order of names: try that one first
    for (pugi::xml_attribute a = m_Node.first_attribute(); a; a = a.next_attribute()) {
        const char* name = a.name();
        size_t i = expected;
        if (i >= count || !same(name, names[i]))
            for (i = 0; i < count && !same(name, names[i]); i++) {
            }
        if (i == count || texts[i] != nullptr)
            continue;
        texts[i] = a.value();
        expected = i + 1;
    }
    for (size_t i = 0; i < count; i++) {
        if (texts[i] == nullptr)
            continue;
        KXAPI_RESULT result = ParseNumber(texts[i], *values[i]);
        if (KxapiFailed(result))
            return result;
    }
    return KXAPI_OK;
}

KXAPI_RESULT MarkupElem::GetAttrib(const char* name, int32_t& value) const
{
    pugi::xml_attribute a = m_Node.attribute(name);
    return a ? ParseNumber(a.value(), value) : KXAPI_OK;
}

KXAPI_RESULT MarkupElem::GetAttrib(const char* name, int64_t& value) const
{
    pugi::xml_attribute a = m_Node.attribute(name);
    return a ? ParseNumber(a.value(), value) : KXAPI_OK;
}

KXAPI_RESULT MarkupElem::GetAttrib(const char* name, double& value) const
{
    pugi::xml_attribute a = m_Node.attribute(name);
    return a ? ParseNumber(a.value(), value) : KXAPI_OK;
}

KXAPI_RESULT MarkupElem::GetAttrib(const char* name, bool& value) const
{
    pugi::xml_attribute a = m_Node.attribute(name);
    if (!a)
        return KXAPI_OK;
    int64_t number = 0;
    KXAPI_RESULT result = ParseNumber(a.value(), number);
    if (KxapiSucceeded(result))
        value = number != 0;
    return result;
}

void MarkupElem::SetAttrib(const char* name, int32_t value) const
{
    SetAttrib(name, static_cast<int64_t>(value));
}

void MarkupElem::SetAttrib(const char* name, int64_t value) const
{
    char text[24];
    auto [ptr, ec] = std::to_chars(text, text + sizeof(text) - 1, value);
    *ptr = '\0';
    (void)ec;
    pugi::xml_node node = m_Node;
    node.append_attribute(name).set_value(text);
}

void MarkupElem::SetAttrib(const char* name, double value) const
{
    char text[40];
    auto [ptr, ec] = std::to_chars(text, text + sizeof(text) - 1, value);
    *ptr = '\0';
    (void)ec;
    pugi::xml_node node = m_Node;
    node.append_attribute(name).set_value(text);
}

void MarkupElem::SetAttrib(const char* name, bool value) const
{
    pugi::xml_node node = m_Node;
    node.append_attribute(name).set_value(value ? "1" : "0");
}

KXAPI_RESULT MarkupElem::GetTextInt(int64_t& value) const
{
    const char* text = m_Node.child_value();
    const char* begin = text;
    const char* end = text + std::strlen(text);
    Trim(begin, end);
    if (begin == end)
        return KXAPI_E_XML_ELEM;
    return ParseNumber(text, value);
}

void MarkupElem::SetTextInt(int64_t value) const
{
    char text[24];
    auto [ptr, ec] = std::to_chars(text, text + sizeof(text) - 1, value);
    *ptr = '\0';
    (void)ec;
    pugi::xml_node node = m_Node;
    node.append_child(pugi::node_pcdata).set_value(text);
}

KXAPI_RESULT Markup::Parse(const std::wstring& text)
{
    m_Doc.reset();
    if (text.size() > MARKUP_MAX_CHARS)
        return KXAPI_E_TOO_LONG;
    m_Buffer.resize(4 * text.size());
    const wchar_t* pText = text.data();
    const ptrdiff_t length =
        EncodeUtf8(text.size(), [pText](size_t i) { return static_cast<uint32_t>(pText[i]); }, m_Buffer.data());
    if (length < 0)
        return KXAPI_E_XML_SYNTAX;
    return ParseBuffer(static_cast<size_t>(length));
}

KXAPI_RESULT Markup::ParseWire(const uint8_t* data, size_t count)
{
    m_Doc.reset();
    size_t chars = 0;
    while (chars < count && WireCharAt(data, chars) != 0)
        chars++;
    if (chars > MARKUP_MAX_CHARS)
        return KXAPI_E_TOO_LONG;
    m_Buffer.resize(4 * chars);
    const ptrdiff_t length = EncodeUtf8(chars, [data](size_t i) { return WireCharAt(data, i); }, m_Buffer.data());
    if (length < 0)
        return KXAPI_E_XML_SYNTAX;
    return ParseBuffer(static_cast<size_t>(length));
}

KXAPI_RESULT Markup::ParseBuffer(size_t size)
{
    if (size == 0)
        return KXAPI_OK;
    // The document keeps pointing into m_Buffer, which is left alone until the next parse.
    pugi::xml_parse_result parsed = m_Doc.load_buffer_inplace(m_Buffer.data(), size, PARSE_FLAGS, pugi::encoding_utf8);
    if (!parsed) {
        m_Doc.reset();
        return KXAPI_E_XML_SYNTAX;
    }
    return KXAPI_OK;
}

KXAPI_RESULT Markup::ParseUtf8(const char* text, size_t size)
{
    m_Doc.reset();
    if (size > 4 * MARKUP_MAX_CHARS)
        return KXAPI_E_TOO_LONG;
    if (size == 0)
        return KXAPI_OK;
    pugi::xml_parse_result parsed = m_Doc.load_buffer(text, size, PARSE_FLAGS, pugi::encoding_utf8);
    if (!parsed) {
        m_Doc.reset();
        return KXAPI_E_XML_SYNTAX;
    }
    return KXAPI_OK;
}

MarkupElem Markup::AddElem(const char* name)
{
    return MarkupElem(m_Doc.append_child(name));
}

std::string Markup::ToUtf8() const
{
    std::string out;
    StringWriter writer(out);
    m_Doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out;
}

void Markup::AppendTo(std::wstring& text) const
{
    std::string utf8 = ToUtf8();
    text.reserve(text.size() + utf8.size());
    Utf8AppendToWide(utf8.data(), utf8.size(), text);
}

} // namespace Kxapi
