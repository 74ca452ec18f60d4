// Generic (XML) commands of the demod FIFO: CmdDemodGeneric requests (code, wide text, wide
// NUL) and ResultDemodGeneric replies (code, result, wide text, wide NUL), and the integer
// parameters carried as single elements ("<FreqHz>474000000</FreqHz>").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "DemodSvcLayouts.h"
#include "KxapiResult.h"

namespace Kxapi {

class Markup;

// Element names of the integer parameters.
#define DEMOD_ELEM_FREQ_HZ "FreqHz"
#define DEMOD_ELEM_TUNER_ID "TunerId"
#define DEMOD_ELEM_ENABLE "Enable"
#define DEMOD_ELEM_FREQ_HZ_STEPS "FreqHzSteps"
#define DEMOD_ELEM_START_FREQ_HZ "StartFreqHz"
#define DEMOD_ELEM_END_FREQ_HZ "EndFreqHz"
#define DEMOD_ELEM_SCAN_TYPE "ScanType"
#define DEMOD_ELEM_COUNT "Count"
#define DEMOD_ELEM_PORT "Port"
#define DEMOD_ELEM_ATTRIBUTE_ID "AttributeId"
#define DEMOD_ELEM_VALUE "Value"
#define DEMOD_ELEM_NUM_POINTS "NumPoints"
#define DEMOD_ELEM_STREAM_ID "StreamId"
#define DEMOD_ELEM_EQUALISER_SETTING "EqualiserSetting"
#define DEMOD_ELEM_CONST_POINT "KxConstPoint"

// 4 x (length + 2) bytes. The text must hold no NUL.
DemodMsg DemodBuildGenericReq(uint32_t cmd, const std::wstring& xml);
// The text of a generic request: KXAPI_E_INTERNAL when shorter than 8 bytes, not a whole
// number of wide characters, or not ended by a wide NUL. The text ends at its first NUL.
KXAPI_RESULT DemodParseGenericReq(const uint8_t* body, size_t size, std::wstring& xml);
// The same text parsed into doc without a wide copy: KXAPI_E_INTERNAL for the cases above,
// else the result of Markup::Parse on the text.
KXAPI_RESULT DemodParseGenericReq(const uint8_t* body, size_t size, Markup& doc);

// The plain 8-byte reply when xml is empty, else 12 + 4 x length bytes.
DemodMsg DemodBuildGenericReply(uint32_t cmd, KXAPI_RESULT result, const std::wstring& xml);
// Client side: the reply's result, with its text in xml (empty for an 8-byte reply);
// KXAPI_E_INTERNAL for another command, a bad length or a missing wide NUL.
KXAPI_RESULT DemodParseGenericReply(const uint8_t* body, size_t size, uint32_t cmd, std::wstring& xml);
// The same with the text parsed into doc without a wide copy (an empty document for an 8-byte
// reply); KXAPI_E_INTERNAL also when the text is not well-formed.
KXAPI_RESULT DemodParseGenericReply(const uint8_t* body, size_t size, uint32_t cmd, Markup& doc);

// Appends "<name>value</name>".
void DemodAppendIntElem(std::wstring& xml, const char* name, int64_t value);
// The value of a top-level integer element: KXAPI_E_INTERNAL when it is missing, empty or
// not a decimal number.
KXAPI_RESULT DemodGetIntElem(const Markup& doc, const char* name, int64_t& value);
// As above with a 32-bit range check (KXAPI_E_INTERNAL outside it).
KXAPI_RESULT DemodGetIntElem(const Markup& doc, const char* name, int32_t& value);

// Appends one "KxConstPoint" element per point, with attributes "X" and "Y".
void DemodAppendConstPointElems(std::wstring& xml, const std::vector<KxConstelPoint>& points);
// Reads exactly count "KxConstPoint" elements: KXAPI_E_INTERNAL for another number or an
// element without a valid "X" and "Y".
KXAPI_RESULT DemodGetConstPointElems(const Markup& doc, int32_t count, std::vector<KxConstelPoint>& points);

} // namespace Kxapi
