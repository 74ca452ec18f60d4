// Generic (XML) command bodies and integer elements.
#include "DemodSvcGeneric.h"

#include <cinttypes>
#include <cstdio>

#include "KxWire.h"
#include "Markup.h"

namespace Kxapi {

namespace {

void PutWide(DemodMsg& msg, size_t offset, const std::wstring& text)
{
    uint8_t* p = msg.data() + offset;
    for (wchar_t ch : text) {
        const auto c = static_cast<uint32_t>(ch);
        p[0] = static_cast<uint8_t>(c);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[2] = static_cast<uint8_t>(c >> 16);
        p[3] = static_cast<uint8_t>(c >> 24);
        p += 4;
    }
}

// The text from offset on, as characters: the last one must be a wide NUL, and chars is the
// number before it.
bool WideSpan(const uint8_t* body, size_t size, size_t offset, size_t& chars)
{
    if (size < offset + 4 || (size - offset) % 4 != 0 || KxGetU32(body, static_cast<unsigned int>(size - 4)) != 0)
        return false;
    chars = (size - offset) / 4 - 1;
    return true;
}

// Text from offset up to the first wide NUL; the last wide character must be NUL.
bool GetWide(const uint8_t* body, size_t size, size_t offset, std::wstring& text)
{
    text.clear();
    size_t chars = 0;
    if (!WideSpan(body, size, offset, chars))
        return false;
    text.resize(chars);
    const uint8_t* p = body + offset;
    size_t i = 0;
    for (; i < chars; i++, p += 4) {
        const uint32_t c = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
        if (c == 0)
            break;
        text[i] = static_cast<wchar_t>(c);
    }
    text.resize(i);
    return true;
}

} // namespace

DemodMsg DemodBuildGenericReq(uint32_t cmd, const std::wstring& xml)
{
    DemodMsg msg(4 * (xml.size() + 2), 0);
    KxPutU32(msg.data(), 0, cmd);
    PutWide(msg, 4, xml);
    return msg;
}

KXAPI_RESULT DemodParseGenericReq(const uint8_t* body, size_t size, std::wstring& xml)
{
    if (body == nullptr || size < 8 || !GetWide(body, size, 4, xml))
        return KXAPI_E_INTERNAL;
    return KXAPI_OK;
}

KXAPI_RESULT DemodParseGenericReq(const uint8_t* body, size_t size, Markup& doc)
{
    doc.Clear();
    size_t chars = 0;
    if (body == nullptr || size < 8 || !WideSpan(body, size, 4, chars))
        return KXAPI_E_INTERNAL;
    return doc.ParseWire(body + 4, chars);
}

DemodMsg DemodBuildGenericReply(uint32_t cmd, KXAPI_RESULT result, const std::wstring& xml)
{
    if (xml.empty())
        return DemodBuildReply(cmd, result);
    DemodMsg msg = DemodBuildReply(cmd, result, 4 * (xml.size() + 1));
    PutWide(msg, 8, xml);
    return msg;
}

KXAPI_RESULT DemodParseGenericReply(const uint8_t* body, size_t size, uint32_t cmd, std::wstring& xml)
{
    xml.clear();
    if (body == nullptr || size < 8 || KxGetU32(body, 0) != cmd)
        return KXAPI_E_INTERNAL;
    if (size > 8 && !GetWide(body, size, 8, xml))
        return KXAPI_E_INTERNAL;
    return KxGetU32(body, 4);
}

KXAPI_RESULT DemodParseGenericReply(const uint8_t* body, size_t size, uint32_t cmd, Markup& doc)
{
    doc.Clear();
    if (body == nullptr || size < 8 || KxGetU32(body, 0) != cmd)
        return KXAPI_E_INTERNAL;
    size_t chars = 0;
    if (size > 8 && (!WideSpan(body, size, 8, chars) || KxapiFailed(doc.ParseWire(body + 8, chars))))
        return KXAPI_E_INTERNAL;
    return KxGetU32(body, 4);
}

void DemodAppendIntElem(std::wstring& xml, const char* name, int64_t value)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "<%s>%" PRId64 "</%s>", name, value, name);
    for (const char* p = buf; *p; p++)
        xml.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
}

KXAPI_RESULT DemodGetIntElem(const Markup& doc, const char* name, int64_t& value)
{
    MarkupElem e = doc.Top().FindChild(name);
    if (!e.Valid())
        return KXAPI_E_INTERNAL;
    int64_t v = 0;
    if (KxapiFailed(e.GetTextInt(v)))
        return KXAPI_E_INTERNAL;
    value = v;
    return KXAPI_OK;
}

KXAPI_RESULT DemodGetIntElem(const Markup& doc, const char* name, int32_t& value)
{
    int64_t v = 0;
    KXAPI_RESULT r = DemodGetIntElem(doc, name, v);
    if (KxapiFailed(r))
        return r;
    if (v < INT32_MIN || v > INT32_MAX)
        return KXAPI_E_INTERNAL;
    value = static_cast<int32_t>(v);
    return KXAPI_OK;
}

void DemodAppendConstPointElems(std::wstring& xml, const std::vector<KxConstelPoint>& points)
{
    char buf[96];
    for (const KxConstelPoint& p : points) {
        std::snprintf(buf, sizeof buf, "<%s X=\"%d\" Y=\"%d\"/>", DEMOD_ELEM_CONST_POINT, p.m_X, p.m_Y);
        for (const char* c = buf; *c; c++)
            xml.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
}

KXAPI_RESULT DemodGetConstPointElems(const Markup& doc, int32_t count, std::vector<KxConstelPoint>& points)
{
    points.clear();
    if (count < 0 || doc.Top().CountChildren(DEMOD_ELEM_CONST_POINT) != static_cast<size_t>(count))
        return KXAPI_E_INTERNAL;
    points.reserve(static_cast<size_t>(count));
    for (MarkupElem e = doc.Top().FindChild(DEMOD_ELEM_CONST_POINT); e.Valid(); e = e.NextSame()) {
        KxConstelPoint p;
        if (!e.HasAttrib("X") || !e.HasAttrib("Y") || KxapiFailed(e.GetAttrib("X", p.m_X)) ||
            KxapiFailed(e.GetAttrib("Y", p.m_Y))) {
            points.clear();
            return KXAPI_E_INTERNAL;
        }
        points.push_back(p);
    }
    return KXAPI_OK;
}

} // namespace Kxapi
