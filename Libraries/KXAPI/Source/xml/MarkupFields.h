// Helpers that read or write a run of attributes of one element, keeping the first failure.
#pragma once

#include "Markup.h"

namespace Kxapi {

class AttribReader {
public:
    explicit AttribReader(MarkupElem elem) : m_Elem(elem) {}
    template <typename T> AttribReader& operator()(const char* name, T& value)
    {
        if (KxapiSucceeded(m_Result))
            m_Result = m_Elem.GetAttrib(name, value);
        return *this;
    }
    KXAPI_RESULT Result() const { return m_Result; }

protected:
    MarkupElem m_Elem;
    KXAPI_RESULT m_Result = KXAPI_OK;
};

class AttribWriter {
public:
    explicit AttribWriter(MarkupElem elem) : m_Elem(elem) {}
    template <typename T> AttribWriter& operator()(const char* name, const T& value)
    {
        m_Elem.SetAttrib(name, value);
        return *this;
    }

private:
    MarkupElem m_Elem;
};

// Builds a document with `build(Markup&)` and writes it to `text`, replacing what was there.
template <typename Build> KXAPI_RESULT MarkupWriteText(std::wstring& text, Build build)
{
    Markup doc;
    build(doc);
    text.clear();
    doc.AppendTo(text);
    return KXAPI_OK;
}

// Parses `text` and hands its top-level element `name` to `read(MarkupElem)`, whose result it
// returns; the parser's code for text that is not XML, KXAPI_E_XML_ELEM without that element.
template <typename Read> KXAPI_RESULT MarkupReadText(const std::wstring& text, const char* name, Read read)
{
    Markup doc;
    KXAPI_RESULT result = doc.Parse(text);
    if (KxapiFailed(result))
        return result;
    MarkupElem elem = doc.Top().FindChild(name);
    if (!elem.Valid())
        return KXAPI_E_XML_ELEM;
    return read(elem);
}

} // namespace Kxapi
