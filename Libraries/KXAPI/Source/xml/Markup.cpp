#include "Markup.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads an optional '-' and at least one decimal digit at p, within the range of T; answers
// the character after the digits, or null.
template <typename T> const char* ParseInteger(const char* p, T& value)
{
    static_assert(std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) <= 8);
    const bool negative = *p == '-';
    if (negative)
        p++;
    // The magnitude's limit: one more for a negative number.
    const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<T>::max()) + (negative ? 1 : 0);
    uint64_t magnitude = 0;
    const char* digits = p;
    for (unsigned digit; (digit = static_cast<unsigned char>(*p) - unsigned('0')) <= 9; p++) {
        if (magnitude > (limit - digit) / 10)
            return nullptr;
        magnitude = magnitude * 10 + digit;
    }
    if (p == digits)
        return nullptr;
    value = negative ? static_cast<T>(0 - magnitude) : static_cast<T>(magnitude);
    return p;
}

// One pass over the text: blanks, an optional '+', the number, blanks, the end.
template <typename T> KXAPI_RESULT ParseNumber(const char* text, T& value)
{
    const char* p = text;
    while (IsBlank(*p))
        p++;
    if (*p == '+')
        p++;
    T parsed{};
    if constexpr (std::is_integral_v<T>) {
        p = ParseInteger(p, parsed);
        if (p == nullptr)
            return KXAPI_E_XML_SYNTAX;
    } else {
        // The number ends at the first blank, at the latest at the text's terminating NUL.
        const char* end = p;
        while (*end != '\0' && !IsBlank(*end))
            end++;
        auto [stop, ec] = std::from_chars(p, end, parsed);
        if (ec != std::errc() || stop != end || p == end)
            return KXAPI_E_XML_SYNTAX;
        p = end;
    }
    while (IsBlank(*p))
        p++;
    if (*p != '\0')
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

// A little-endian 4-byte character of a message (one load on a little-endian machine).
inline uint32_t WireCharAt(const uint8_t* data, size_t index)
{
    uint32_t value = 0;
    std::memcpy(&value, data + 4 * index, sizeof(value));
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap32(value);
    return value;
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

void MarkupElem::FindAttribs(const char* const* names, const char** texts, size_t count) const
{
    for (size_t i = 0; i < count; i++)
        texts[i] = nullptr;
    if (count > MARKUP_MAX_ATTRIB_RUN)
        return;
    // Names are a few characters: compared in line rather than through strcmp.
    auto same = [](const char* a, const char* b) {
        for (; *a == *b; a++, b++)
            if (*a == '\0')
                return true;
        return false;
    };
    size_t found = 0;
    size_t expected = 0; // writers give the attributes in the order of names: try that one first
    for (pugi::xml_attribute a = m_Node.first_attribute(); a && found < count; a = a.next_attribute()) {
        const char* name = a.name();
        size_t i = expected;
        if (i >= count || !same(name, names[i]))
            for (i = 0; i < count && !same(name, names[i]); i++) {
            }
        if (i == count || texts[i] != nullptr)
            continue;
        texts[i] = a.value();
        found++;
        expected = i + 1;
    }
}

KXAPI_RESULT MarkupElem::ParseNumber(const char* text, int32_t& value)
{
    return Kxapi::ParseNumber(text, value);
}

KXAPI_RESULT MarkupElem::ParseNumber(const char* text, int64_t& value)
{
    return Kxapi::ParseNumber(text, value);
}

KXAPI_RESULT MarkupElem::ParseNumber(const char* text, double& value)
{
    return Kxapi::ParseNumber(text, value);
}

KXAPI_RESULT MarkupElem::GetAttribs(const char* const* names, int32_t* const* values, size_t count) const
{
    if (count > MARKUP_MAX_ATTRIB_RUN) {
        for (size_t i = 0; i < count; i++) {
            KXAPI_RESULT result = GetAttrib(names[i], *values[i]);
            if (KxapiFailed(result))
                return result;
        }
        return KXAPI_OK;
    }
    const char* texts[MARKUP_MAX_ATTRIB_RUN];
    FindAttribs(names, texts, count);
    for (size_t i = 0; i < count; i++) {
        if (texts[i] == nullptr)
            continue;
        KXAPI_RESULT result = Kxapi::ParseNumber(texts[i], *values[i]);
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

char* Markup::Room(size_t bytes)
{
    if (m_pBuffer != nullptr && bytes <= m_BufferSize &&
        (m_BufferSize <= MARKUP_KEPT_BUFFER_BYTES || bytes > MARKUP_KEPT_BUFFER_BYTES))
        return m_pBuffer.get();
    m_pBuffer.reset(); // the document pointing into it was reset before
    m_BufferSize = 0;
    m_pBuffer.reset(new (std::nothrow) char[bytes > 0 ? bytes : 1]);
    if (m_pBuffer != nullptr)
        m_BufferSize = bytes;
    return m_pBuffer.get();
}

KXAPI_RESULT Markup::Parse(const std::wstring& text)
{
    m_Doc.reset();
    if (text.size() > MARKUP_MAX_CHARS)
        return KXAPI_E_TOO_LONG;
    char* buffer = Room(4 * text.size());
    if (buffer == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    const wchar_t* pText = text.data();
    const ptrdiff_t length =
        EncodeUtf8(text.size(), [pText](size_t i) { return static_cast<uint32_t>(pText[i]); }, buffer);
    if (length < 0)
        return KXAPI_E_XML_SYNTAX;
    return ParseBuffer(static_cast<size_t>(length));
}

KXAPI_RESULT Markup::ParseWire(const uint8_t* data, size_t count)
{
    m_Doc.reset();
    if (count > MARKUP_MAX_CHARS) {
        // Only a text that really is that long (up to its NUL) is refused as too long.
        size_t chars = 0;
        while (chars < count && WireCharAt(data, chars) != 0)
            chars++;
        if (chars > MARKUP_MAX_CHARS)
            return KXAPI_E_TOO_LONG;
        count = chars;
    }
    char* buffer = Room(4 * count);
    if (buffer == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    // One pass up to the first NUL; ASCII, nearly all of a message's text, a byte each, and
    // sixteen characters at a time while all of them are.
    char* p = buffer;
    size_t i = 0;
#if defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
        const __m128i one = _mm_set1_epi32(1);
        const __m128i ascii = _mm_set1_epi32(0x7F);
        for (; i + 16 <= count; i += 16) {
            const auto* in = reinterpret_cast<const __m128i*>(data + 4 * i);
            const __m128i v0 = _mm_loadu_si128(in);
            const __m128i v1 = _mm_loadu_si128(in + 1);
            const __m128i v2 = _mm_loadu_si128(in + 2);
            const __m128i v3 = _mm_loadu_si128(in + 3);
            // A lane below 1 (NUL, or above 0x7FFFFFFF as a signed number) or above 0x7F.
            const __m128i outside = _mm_or_si128(
                _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(v0, one), _mm_cmpgt_epi32(v0, ascii)),
                             _mm_or_si128(_mm_cmplt_epi32(v1, one), _mm_cmpgt_epi32(v1, ascii))),
                _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(v2, one), _mm_cmpgt_epi32(v2, ascii)),
                             _mm_or_si128(_mm_cmplt_epi32(v3, one), _mm_cmpgt_epi32(v3, ascii))));
            if (_mm_movemask_epi8(outside) != 0)
                break;
            // Every lane is 1 to 0x7F: narrowing keeps it.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                             _mm_packus_epi16(_mm_packs_epi32(v0, v1), _mm_packs_epi32(v2, v3)));
            p += 16;
        }
    }
#endif
    for (; i < count; i++) {
        const uint32_t cp = WireCharAt(data, i);
        if (cp - 1 < 0x7F) {
            *p++ = static_cast<char>(cp);
            continue;
        }
        if (cp == 0)
            break;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return KXAPI_E_XML_SYNTAX;
        p = PutUtf8(cp, p);
    }
    return ParseBuffer(static_cast<size_t>(p - buffer));
}

KXAPI_RESULT Markup::ParseBuffer(size_t size)
{
    if (size == 0)
        return KXAPI_OK;
    // The document keeps pointing into m_pBuffer, which is left alone until the next parse.
    pugi::xml_parse_result parsed = m_Doc.load_buffer_inplace(m_pBuffer.get(), size, PARSE_FLAGS, pugi::encoding_utf8);
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
