// XML form of KxDemodPars: element "KxDemodPars" with "mod" and the record's element.
#include "DemodPars.h"
#include "MarkupFields.h"

namespace Kxapi {

namespace {

// Each record's element name and attributes; the attribute order is the wire order.
// AttribReader and AttribWriter share one call shape, so one list per record serves both.
template <typename Fields> void Attribs(Fields& f, KxDemodParsDvbS& v)
{
    f("cr", v.m_CodeRate)("inv", v.m_SpecInv)("symb", v.m_SymRateBd);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsDvbT& v)
{
    f("cr", v.m_CodeRate)("bw", v.m_Bandwidth)("co", v.m_Constellation)("gu", v.m_Guard)("il", v.m_Interleaving)(
        "mode", v.m_Mode);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsAtsc& v) { f("co", v.m_Constellation); }
template <typename Fields> void Attribs(Fields& f, KxDemodParsDvbT2& v)
{
    f("bw", v.m_Bandwidth)("prof", v.m_Profile);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsIsdbt& v)
{
    f("bw", v.m_Bandwidth)("nbseg", v.m_NumSegments);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsIq& v)
{
    f("bw", v.m_BandwidthHz)("iqdt", v.m_IqDataType)("samp", v.m_SampleRateHz);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsIq3460& v)
{
    f("iqfr", v.m_IqFreqHz)("sf", v.m_ScaleFactor)("samp", v.m_SampleRateHz);
}
template <typename Fields> void Attribs(Fields& f, KxIq3460Tuner& v)
{
    f("std", v.m_Standard)("bw", v.m_BandwidthHz)("if", v.m_IfFreqHz)("lpfcu", v.m_LpfCutoff)("lpfof", v.m_LpfOffset)(
        "hp", v.m_HighPass)("dcn", v.m_DcNotch)("ifn", v.m_IfNotch)("ifn2r", v.m_IfNotchToRf);
}
template <typename Fields> void Attribs(Fields& f, KxIq3460FilterCoef& v)
{
    f("idx", v.m_Index)("coef", v.m_Coef);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsDvbS2Adv& v)
{
    f("cr", v.m_CodeRate)("plt", v.m_Pilots)("inv", v.m_SpecInv)("fec", v.m_FecFrame)("symb", v.m_SymRateBd)(
        "am", v.m_AutoMute)("hm", v.m_HystTenthsDb);
}
template <typename Fields> void Attribs(Fields& f, KxDvbS2ModCodPars& v)
{
    f("mod", v.m_ModType)("cr", v.m_CodeRate)("ena", v.m_Enable)("snr", v.m_MerThreshTenthsDb);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsDvbC2& v)
{
    f("bw", v.m_BandwidthMhz)("sl1p2", v.m_SeekL1Part2);
}
template <typename Fields> void Attribs(Fields& f, KxDemodParsAtsc3& v)
{
    f("bw", v.m_Bandwidth)("ainca", v.m_AutoInitChanAcq);
}

template <typename T> void WriteAttribs(MarkupElem elem, const T& value)
{
    AttribWriter writer(elem);
    Attribs(writer, const_cast<T&>(value)); // the writer only reads the fields
}

template <typename T> KXAPI_RESULT ReadAttribs(MarkupElem elem, T& value)
{
    AttribReader reader(elem);
    Attribs(reader, value);
    return reader.Result();
}

// Reads up to maxCount child elements of one name into a list; more is KXAPI_E_TOO_LONG.
template <typename T> KXAPI_RESULT ReadList(MarkupElem parent, const char* name, size_t maxCount, std::vector<T>& list)
{
    list.clear();
    for (MarkupElem e = parent.FindChild(name); e.Valid(); e = e.NextSame()) {
        if (list.size() >= maxCount)
            return KXAPI_E_TOO_LONG;
        list.emplace_back();
        KXAPI_RESULT result = ReadAttribs(e, list.back());
        if (KxapiFailed(result))
            return result;
    }
    return KXAPI_OK;
}

struct XmlWriteVisitor {
    MarkupElem m_Pars;
    void operator()(const std::monostate&) const {}
    void operator()(const KxDemodParsDab&) const {}
    void operator()(const KxDemodParsDvbS& v) const { WriteAttribs(m_Pars.AddChild("S"), v); }
    void operator()(const KxDemodParsQam& v) const
    {
        MarkupElem e = m_Pars.AddChild("Qam");
        e.SetAttrib("anx", v.m_Annex);
        if (v.m_Annex == 3)
            e.SetAttrib("il", v.m_Interleaving);
        e.SetAttrib("symb", v.m_SymRateBd);
    }
    void operator()(const KxDemodParsDvbT& v) const { WriteAttribs(m_Pars.AddChild("T"), v); }
    void operator()(const KxDemodParsAtsc& v) const { WriteAttribs(m_Pars.AddChild("Atsc"), v); }
    void operator()(const KxDemodParsDvbT2& v) const { WriteAttribs(m_Pars.AddChild("T2"), v); }
    void operator()(const KxDemodParsIsdbt& v) const { WriteAttribs(m_Pars.AddChild("Isdbt"), v); }
    void operator()(const KxDemodParsIq& v) const { WriteAttribs(m_Pars.AddChild("Iq"), v); }
    void operator()(const KxDemodParsIq3460& v) const
    {
        MarkupElem e = m_Pars.AddChild("Iq3460");
        WriteAttribs(e, v);
        MarkupElem flt = e.AddChild("Flt");
        for (const KxIq3460FilterCoef& coef : v.m_Filter)
            WriteAttribs(flt.AddChild("Fc"), coef);
        WriteAttribs(m_Pars.AddChild("Tu3460"), v.m_Tuner);
    }
    void operator()(const KxDemodParsDvbS2Adv& v) const
    {
        MarkupElem e = m_Pars.AddChild("S2");
        WriteAttribs(e, v);
        MarkupElem mcs = e.AddChild("Mcs");
        for (const KxDvbS2ModCodPars& mcp : v.m_ModCods)
            WriteAttribs(mcs.AddChild("Mcp"), mcp);
    }
    void operator()(const KxDemodParsDvbC2& v) const { WriteAttribs(m_Pars.AddChild("C2"), v); }
    void operator()(const KxDemodParsAtsc3& v) const { WriteAttribs(m_Pars.AddChild("Atsc3"), v); }
};

// Reads the record's element; an absent element leaves the zero-filled record.
template <typename T> KXAPI_RESULT ReadChild(MarkupElem pars, const char* name, T& value)
{
    MarkupElem e = pars.FindChild(name);
    return e.Valid() ? ReadAttribs(e, value) : KXAPI_OK;
}

struct XmlReadVisitor {
    MarkupElem m_Pars;
    KXAPI_RESULT operator()(std::monostate&) const { return KXAPI_OK; }
    KXAPI_RESULT operator()(KxDemodParsDab&) const { return KXAPI_OK; }
    KXAPI_RESULT operator()(KxDemodParsDvbS& v) const { return ReadChild(m_Pars, "S", v); }
    KXAPI_RESULT operator()(KxDemodParsQam& v) const
    {
        MarkupElem e = m_Pars.FindChild("Qam");
        return AttribReader(e)("anx", v.m_Annex)("il", v.m_Interleaving)("symb", v.m_SymRateBd).Result();
    }
    KXAPI_RESULT operator()(KxDemodParsDvbT& v) const { return ReadChild(m_Pars, "T", v); }
    KXAPI_RESULT operator()(KxDemodParsAtsc& v) const { return ReadChild(m_Pars, "Atsc", v); }
    KXAPI_RESULT operator()(KxDemodParsDvbT2& v) const { return ReadChild(m_Pars, "T2", v); }
    KXAPI_RESULT operator()(KxDemodParsIsdbt& v) const { return ReadChild(m_Pars, "Isdbt", v); }
    KXAPI_RESULT operator()(KxDemodParsIq& v) const { return ReadChild(m_Pars, "Iq", v); }
    KXAPI_RESULT operator()(KxDemodParsIq3460& v) const
    {
        KXAPI_RESULT result = ReadChild(m_Pars, "Iq3460", v);
        MarkupElem flt = m_Pars.FindChild("Iq3460").FindChild("Flt");
        if (KxapiSucceeded(result) && flt.Valid())
            result = ReadList(flt, "Fc", KX_IQ3460_MAX_FILTER_COEFS, v.m_Filter);
        if (KxapiSucceeded(result))
            result = ReadChild(m_Pars, "Tu3460", v.m_Tuner);
        return result;
    }
    KXAPI_RESULT operator()(KxDemodParsDvbS2Adv& v) const
    {
        KXAPI_RESULT result = ReadChild(m_Pars, "S2", v);
        MarkupElem mcs = m_Pars.FindChild("S2").FindChild("Mcs");
        if (KxapiSucceeded(result) && mcs.Valid())
            result = ReadList(mcs, "Mcp", KX_DVBS2_MAX_MODCODS, v.m_ModCods);
        return result;
    }
    KXAPI_RESULT operator()(KxDemodParsDvbC2& v) const { return ReadChild(m_Pars, "C2", v); }
    KXAPI_RESULT operator()(KxDemodParsAtsc3& v) const { return ReadChild(m_Pars, "Atsc3", v); }
};

} // namespace

void KxDemodPars::ToXmlElem(MarkupElem parent) const
{
    MarkupElem pars = parent.AddChild("KxDemodPars");
    pars.SetAttrib("mod", m_ModType);
    std::visit(XmlWriteVisitor{pars}, m_Variant);
}

KXAPI_RESULT KxDemodPars::FromXmlElem(MarkupElem elem)
{
    if (!elem.Valid() || !elem.HasAttrib("mod"))
        return KXAPI_E_XML_ELEM;
    int32_t modType = KX_MOD_NONE;
    KXAPI_RESULT result = elem.GetAttrib("mod", modType);
    if (KxapiFailed(result))
        return result;
    KxDemodPars parsed;
    result = parsed.SetModType(modType);
    if (KxapiFailed(result))
        return result;
    result = std::visit(XmlReadVisitor{elem}, parsed.m_Variant);
    if (KxapiFailed(result))
        return result;
    *this = std::move(parsed);
    return KXAPI_OK;
}

KXAPI_RESULT KxDemodPars::ToXml(std::wstring& text) const
{
    return MarkupWriteText(text, [this](Markup& doc) { ToXmlElem(doc.Top()); });
}

KXAPI_RESULT KxDemodPars::FromXml(const std::wstring& text)
{
    return MarkupReadText(text, "KxDemodPars", [this](MarkupElem e) { return FromXmlElem(e); });
}

} // namespace Kxapi
