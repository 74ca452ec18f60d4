// Stream selection: the DVB-C2 and DVB-T2 PLP selections ("c2sel", "t2sel") and the generic
// stream-selection record ("strselpar") of which only the ATSC 3.0 type crosses the protocol.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KxapiResult.h"
#include "Markup.h"

namespace Kxapi {

struct KxDvbC2StreamSelPars {
    int32_t m_DSliceId = 0; // "did"
    int32_t m_PlpId = 0;    // "pid"
    int32_t m_CommonPlpId = 0; // "cid"
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    bool operator==(const KxDvbC2StreamSelPars&) const = default;
};

struct KxDvbT2StreamSelPars {
    int32_t m_PlpId = 0;       // "pid"
    int32_t m_CommonPlpId = 0; // "cid"
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    bool operator==(const KxDvbT2StreamSelPars&) const = default;
};

struct KxAtsc3StreamSelPars {
    int32_t m_PlpId = 0; // "pid"
    bool operator==(const KxAtsc3StreamSelPars&) const = default;
};

// Stream types of KxStreamSelPars.
constexpr int32_t KX_STREAM_TYPE_ATSC3 = 1;

// Largest stream-selection list accepted from XML.
constexpr size_t KX_STREAM_SEL_MAX_LIST = 256;

struct KxStreamSelPars {
    int32_t m_Id = 0;         // "id"
    int32_t m_StreamType = 0; // "tp"
    KxAtsc3StreamSelPars m_Atsc3; // child "Atsc3sel" for type 1

    // KXAPI_E_NOT_IMPLEMENTED for stream types other than ATSC 3.0.
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    KXAPI_RESULT ToXmlElem(MarkupElem parent) const;
    KXAPI_RESULT FromXmlElem(MarkupElem elem);
    // A list is the concatenation of the "strselpar" elements.
    static KXAPI_RESULT ToXml(const std::vector<KxStreamSelPars>& list, std::wstring& text);
    static KXAPI_RESULT FromXml(const std::wstring& text, std::vector<KxStreamSelPars>& list);
    bool operator==(const KxStreamSelPars&) const = default;
};

} // namespace Kxapi
