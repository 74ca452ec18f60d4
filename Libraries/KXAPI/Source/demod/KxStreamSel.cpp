#include "KxStreamSel.h"

#include "MarkupFields.h"

namespace Kxapi {

namespace {

// Parses text and reads the attributes of its first element of this name into a copy.
template <typename T, typename Read> KXAPI_RESULT ParseOne(const std::wstring& text, const char* name, T& target, Read read)
{
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    if (KxapiFailed(result))
        return result;
    MarkupElem e = doc.Top().FindChild(name);
    if (!e.Valid())
        return KXAPI_E_XML_ELEM;
    T parsed;
    AttribReader reader(e);
    read(reader, parsed);
    if (KxapiSucceeded(reader.Result()))
        target = parsed;
    return reader.Result();
}

} // namespace

KXAPI_RESULT KxDvbC2StreamSelPars::ToXml(std::wstring& text) const
{
    Markup doc;
    AttribWriter(doc.AddElem("c2sel"))("did", m_DSliceId)("pid", m_PlpId)("cid", m_CommonPlpId);
    text.clear();
    doc.AppendTo(text);
    return KXAPI_OK;
}

KXAPI_RESULT KxDvbC2StreamSelPars::FromXml(const std::wstring& text)
{
    return ParseOne(text, "c2sel", *this, [](AttribReader& r, KxDvbC2StreamSelPars& p) {
        r("did", p.m_DSliceId)("pid", p.m_PlpId)("cid", p.m_CommonPlpId);
    });
}

KXAPI_RESULT KxDvbT2StreamSelPars::ToXml(std::wstring& text) const
{
    Markup doc;
    AttribWriter(doc.AddElem("t2sel"))("pid", m_PlpId)("cid", m_CommonPlpId);
    text.clear();
    doc.AppendTo(text);
    return KXAPI_OK;
}

KXAPI_RESULT KxDvbT2StreamSelPars::FromXml(const std::wstring& text)
{
    return ParseOne(text, "t2sel", *this,
                    [](AttribReader& r, KxDvbT2StreamSelPars& p) { r("pid", p.m_PlpId)("cid", p.m_CommonPlpId); });
}

KXAPI_RESULT KxStreamSelPars::ToXmlElem(MarkupElem parent) const
{
    if (m_StreamType != KX_STREAM_TYPE_ATSC3)
        return KXAPI_E_NOT_IMPLEMENTED;
    MarkupElem e = parent.AddChild("strselpar");
    AttribWriter{e}("id", m_Id)("tp", m_StreamType);
    e.AddChild("Atsc3sel").SetAttrib("pid", m_Atsc3.m_PlpId);
    return KXAPI_OK;
}

KXAPI_RESULT KxStreamSelPars::FromXmlElem(MarkupElem elem)
{
    if (!elem.Valid())
        return KXAPI_E_XML_ELEM;
    KxStreamSelPars parsed;
    KXAPI_RESULT result = AttribReader{elem}("id", parsed.m_Id)("tp", parsed.m_StreamType).Result();
    if (KxapiFailed(result))
        return result;
    if (parsed.m_StreamType != KX_STREAM_TYPE_ATSC3)
        return KXAPI_E_NOT_IMPLEMENTED;
    result = elem.FindChild("Atsc3sel").GetAttrib("pid", parsed.m_Atsc3.m_PlpId);
    if (KxapiSucceeded(result))
        *this = parsed;
    return result;
}

KXAPI_RESULT KxStreamSelPars::ToXml(std::wstring& text) const
{
    return ToXml(std::vector<KxStreamSelPars>{*this}, text);
}

KXAPI_RESULT KxStreamSelPars::FromXml(const std::wstring& text)
{
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    return KxapiSucceeded(result) ? FromXmlElem(doc.Top().FindChild("strselpar")) : result;
}

KXAPI_RESULT KxStreamSelPars::ToXml(const std::vector<KxStreamSelPars>& list, std::wstring& text)
{
    text.clear();
    Markup doc;
    for (const KxStreamSelPars& pars : list) {
        KXAPI_RESULT result = pars.ToXmlElem(doc.Top());
        if (KxapiFailed(result))
            return result;
    }
    doc.AppendTo(text);
    return KXAPI_OK;
}

KXAPI_RESULT KxStreamSelPars::FromXml(const std::wstring& text, std::vector<KxStreamSelPars>& list)
{
    list.clear();
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    if (KxapiFailed(result))
        return result;
    if (doc.Top().CountChildren("strselpar") > KX_STREAM_SEL_MAX_LIST)
        return KXAPI_E_TOO_LONG;
    std::vector<KxStreamSelPars> parsed;
    for (MarkupElem e = doc.Top().FindChild("strselpar"); e.Valid(); e = e.NextSame()) {
        result = parsed.emplace_back().FromXmlElem(e);
        if (KxapiFailed(result))
            return result;
    }
    list = std::move(parsed);
    return KXAPI_OK;
}

} // namespace Kxapi
