// Markup: the small XML document class of the demod protocol's generic commands.
// Reads and writes flat concatenations of elements ("<FreqHz>474000000</FreqHz><KxDemodPars
// mod=\"9\">...</KxDemodPars>"); elements are found by name regardless of order and unknown
// elements are ignored. Wide text (4-byte characters) is converted to UTF-8 at the edge.
// Hostile input (malformed, truncated, huge) gives an error code, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "KxapiResult.h"

namespace Kxapi {

// Largest text Markup parses, in characters; larger input gives KXAPI_E_TOO_LONG.
constexpr size_t MARKUP_MAX_CHARS = 4u * 1024u * 1024u;
// A document keeps the buffer its text was converted into for the next parse, up to this many
// bytes; a larger buffer is given back at the next parse of a smaller text.
constexpr size_t MARKUP_KEPT_BUFFER_BYTES = 256u * 1024u;

// A handle to one element of a Markup document; invalid when a search found nothing.
class MarkupElem {
public:
    MarkupElem() = default;
    explicit MarkupElem(pugi::xml_node node) : m_Node(node) {}

    bool Valid() const { return static_cast<bool>(m_Node); }
    const char* Name() const { return m_Node.name(); }

    // First child element with this name; invalid handle when there is none.
    MarkupElem FindChild(const char* name) const;
    // Next sibling element with the same name as this one.
    MarkupElem NextSame() const;
    // Number of child elements with this name.
    size_t CountChildren(const char* name) const;
    // Appends a child element.
    MarkupElem AddChild(const char* name) const;

    // Attribute readers: a missing attribute leaves the value unchanged and answers KXAPI_OK;
    // text that is not a decimal number of the type's range gives KXAPI_E_XML_SYNTAX.
    KXAPI_RESULT GetAttrib(const char* name, int32_t& value) const;
    KXAPI_RESULT GetAttrib(const char* name, int64_t& value) const;
    KXAPI_RESULT GetAttrib(const char* name, double& value) const;
    KXAPI_RESULT GetAttrib(const char* name, bool& value) const;
    bool HasAttrib(const char* name) const;
    // Reads a run of integer attributes in one pass over the element's attributes, each as
    // GetAttrib would (the first attribute of a name counts, a missing one leaves its value
    // unchanged); answers the first failure in the order of names.
    KXAPI_RESULT GetAttribs(const char* const* names, int32_t* const* values, size_t count) const;
    // The texts of the first attributes named names[0] to names[count - 1], found in one pass
    // over the element's attributes; null for a name the element lacks. At most
    // MARKUP_MAX_ATTRIB_RUN names.
    static constexpr size_t MARKUP_MAX_ATTRIB_RUN = 16;
    void FindAttribs(const char* const* names, const char** texts, size_t count) const;
    // An attribute's text as the readers above read it: a decimal number of the type's range,
    // blanks around it and one leading '+' allowed; KXAPI_E_XML_SYNTAX otherwise (value
    // unchanged).
    static KXAPI_RESULT ParseNumber(const char* text, int32_t& value);
    static KXAPI_RESULT ParseNumber(const char* text, int64_t& value);
    static KXAPI_RESULT ParseNumber(const char* text, double& value);

    // Attribute writers: decimal text, booleans as 0 or 1, doubles in the shortest exact form.
    void SetAttrib(const char* name, int32_t value) const;
    void SetAttrib(const char* name, int64_t value) const;
    void SetAttrib(const char* name, double value) const;
    void SetAttrib(const char* name, bool value) const;

    // The element's text as a decimal integer: KXAPI_E_XML_ELEM when empty,
    // KXAPI_E_XML_SYNTAX when not a number.
    KXAPI_RESULT GetTextInt(int64_t& value) const;
    void SetTextInt(int64_t value) const;

    pugi::xml_node Node() const { return m_Node; }

private:
    pugi::xml_node m_Node;
};

class Markup {
public:
    // Parses a fragment of elements (any number, including none). KXAPI_E_XML_SYNTAX for
    // malformed XML or characters that are not Unicode scalar values, KXAPI_E_TOO_LONG for
    // text above MARKUP_MAX_CHARS, KXAPI_E_OUT_OF_MEM when no room for the converted text can
    // be had. The previous content is discarded in every case. A document parsed again and
    // again (a client's replies) converts each text into the buffer of the one before.
    KXAPI_RESULT Parse(const std::wstring& text);
    // As Parse, for text as a message carries it: count little-endian 4-byte characters,
    // ending early at the first NUL.
    KXAPI_RESULT ParseWire(const uint8_t* data, size_t count);
    KXAPI_RESULT ParseUtf8(const char* text, size_t size);

    // The document root: its children are the fragment's top-level elements.
    MarkupElem Top() const { return MarkupElem(m_Doc); }
    // Appends a top-level element.
    MarkupElem AddElem(const char* name);
    // Removes every element.
    void Clear() { m_Doc.reset(); }

    // Appends the document as wide text (no declaration, no indentation) to text.
    void AppendTo(std::wstring& text) const;
    std::string ToUtf8() const;

private:
    // Parses the first size bytes of m_pBuffer in place.
    KXAPI_RESULT ParseBuffer(size_t size);
    // At least `bytes` bytes of m_pBuffer (contents undefined); null when out of memory.
    char* Room(size_t bytes);

    pugi::xml_document m_Doc;
    // UTF-8 text a parsed wide document points into; not initialised, and kept between parses.
    std::unique_ptr<char[]> m_pBuffer;
    size_t m_BufferSize = 0;
};

// UTF-32 <-> UTF-8 at the wide-text edge. WideToUtf8 fails with KXAPI_E_XML_SYNTAX on
// NUL, surrogates and values above U+10FFFF; Utf8ToWide replaces bad sequences with U+FFFD.
KXAPI_RESULT WideToUtf8(const std::wstring& text, std::string& utf8);
void Utf8AppendToWide(const char* utf8, size_t size, std::wstring& text);

} // namespace Kxapi
