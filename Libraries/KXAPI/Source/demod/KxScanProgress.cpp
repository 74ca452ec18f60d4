#include "KxScanProgress.h"

#include "MarkupFields.h"

namespace Kxapi {

KXAPI_RESULT KxBsProgress::ToXml(std::wstring& text) const
{
    return MarkupWriteText(text, [this](Markup& doc) {
        MarkupElem e = doc.AddElem("BSprog");
        AttribWriter{e}("frq", m_FreqHz)("evnt", m_Event)("chf", m_ChannelFound)("res", m_Result);
        m_DemodPars.ToXmlElem(e);
    });
}

KXAPI_RESULT KxBsProgress::FromXml(const std::wstring& text)
{
    return MarkupReadText(text, "BSprog", [this](MarkupElem e) {
        KxBsProgress parsed;
        KXAPI_RESULT result = AttribReader{e}("frq", parsed.m_FreqHz)("evnt", parsed.m_Event)(
                                  "chf", parsed.m_ChannelFound)("res", parsed.m_Result)
                                  .Result();
        MarkupElem pars = e.FindChild("KxDemodPars");
        if (KxapiSucceeded(result) && pars.Valid())
            result = parsed.m_DemodPars.FromXmlElem(pars);
        if (KxapiSucceeded(result))
            *this = std::move(parsed);
        return result;
    });
}

KXAPI_RESULT KxSpsProgress::ToXml(std::wstring& text) const
{
    return MarkupWriteText(text, [this](Markup& doc) {
        AttribWriter{doc.AddElem("SPSprog")}("frq", m_FreqHz)("lvl", m_Level)("evnt", m_Event)("res", m_Result);
    });
}

KXAPI_RESULT KxSpsProgress::FromXml(const std::wstring& text)
{
    return MarkupReadText(text, "SPSprog", [this](MarkupElem e) {
        KxSpsProgress parsed;
        KXAPI_RESULT result = AttribReader{e}("frq", parsed.m_FreqHz)("lvl", parsed.m_Level)("evnt", parsed.m_Event)(
                                  "res", parsed.m_Result)
                                  .Result();
        if (KxapiSucceeded(result))
            *this = parsed;
        return result;
    });
}

} // namespace Kxapi
