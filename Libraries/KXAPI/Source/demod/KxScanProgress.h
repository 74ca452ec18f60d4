// Progress reports of blind scans ("BSprog") and spectrum scans ("SPSprog"), carried as wide
// XML text in the scan-progress events of the demod protocol.
#pragma once

#include <cstdint>
#include <string>

#include "DemodPars.h"
#include "KxapiResult.h"

namespace Kxapi {

struct KxBsProgress {
    int64_t m_FreqHz = -1;      // "frq"
    KxDemodPars m_DemodPars;    // child "KxDemodPars"
    int32_t m_Event = 2;        // "evnt": 1 and 2 end the scan
    bool m_ChannelFound = false; // "chf"
    int32_t m_Result = 0;       // "res"

    bool IsFinal() const { return m_Event == 1 || m_Event == 2; }
    KXAPI_RESULT ToXml(std::wstring& text) const;
    // Reads the first "BSprog" element (KXAPI_E_XML_ELEM when absent); unchanged on failure.
    KXAPI_RESULT FromXml(const std::wstring& text);
    bool operator==(const KxBsProgress&) const = default;
};

struct KxSpsProgress {
    int64_t m_FreqHz = -1; // "frq"
    int32_t m_Level = 0;   // "lvl"
    int32_t m_Event = 2;   // "evnt": 1 and 2 end the scan
    int32_t m_Result = 0;  // "res"

    bool IsFinal() const { return m_Event == 1 || m_Event == 2; }
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    bool operator==(const KxSpsProgress&) const = default;
};

} // namespace Kxapi
