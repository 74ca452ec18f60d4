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

private:
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

} // namespace Kxapi
