// Event messages of the demod service (KxapiSvcEvent) on a client's event FIFO, and the
// name format of that FIFO. Each message is a 2-byte little-endian body length and the body;
// every body starts with a 24-byte header: kind, reserved, device serial (i64 at 8),
// 1-based port (at 16), reserved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "DemodSvcLayouts.h"
#include "KxapiResult.h"

namespace Kxapi {

enum KxapiSvcEvent : uint32_t {
    DEMOD_EVENT_FREQ_CHANGED = 0,  // tune frequency changed
    DEMOD_EVENT_PARS_CHANGED = 1,  // tune parameters changed
    DEMOD_EVENT_BLIND_SCAN = 2,    // blind-scan progress ("BSprog")
    DEMOD_EVENT_SPECTRUM_SCAN = 3, // spectrum-scan progress ("SPSprog")
};

// Event-mask bits of the registration command (26).
constexpr uint64_t DEMOD_EVENT_MASK_FREQ = 1;
constexpr uint64_t DEMOD_EVENT_MASK_PARS = 2;

constexpr size_t DEMOD_EVENT_HEADER_SIZE = 24;
constexpr size_t DEMOD_EVENT_FREQ_SIZE = 40;
constexpr size_t DEMOD_EVENT_PARS_SIZE = 72;
// Largest event body: a scan report's parameters (a DVB-S2 mod-cod list, an I/Q filter) make
// its text long.
constexpr size_t DEMOD_EVENT_MAX_BODY = 64 * 1024;
constexpr size_t DEMOD_EVENT_FRAME_PREFIX = 2;

#define DEMOD_KXAPI_EVENT_PIPE_NAME L"KxapiDemodSvc_EvPipe"
constexpr size_t DEMOD_EVENT_PIPE_NAME_MAX = 63;

// "KxapiDemodSvc_EvPipe_<serial>_<port>_<pid>_<counter>"; KXAPI_E_TOO_LONG above 63 characters.
KXAPI_RESULT DemodMakeEventPipeName(int64_t serial, int32_t port, int32_t pid, int32_t counter, std::wstring& name);

// One decoded event.
struct DemodEvent {
    uint32_t m_Kind = 0;
    int64_t m_Serial = 0;
    int32_t m_Port = 0;
    int64_t m_OldFreqHz = 0;
    int64_t m_NewFreqHz = 0;
    OldStyleParsWire m_OldPars;
    OldStyleParsWire m_NewPars;
    std::wstring m_Xml; // kinds 2 and 3
};

DemodMsg DemodBuildFreqEvent(int64_t serial, int32_t port, int64_t oldFreqHz, int64_t newFreqHz);
DemodMsg DemodBuildParsEvent(int64_t serial, int32_t port, int64_t oldFreqHz, const OldStyleParsWire& oldPars,
                             int64_t newFreqHz, const OldStyleParsWire& newPars);
// Kinds 2 and 3: the XML element as wide text with a wide NUL.
DemodMsg DemodBuildScanEvent(uint32_t kind, int64_t serial, int32_t port, const std::wstring& xml);

// Prefixes a body with its length as the message framing does (2 bytes, or the 8-byte header
// from 65535 bytes); KXAPI_E_TOO_LONG above DEMOD_EVENT_MAX_BODY bytes.
KXAPI_RESULT DemodFrameEvent(const DemodMsg& body, DemodMsg& frame);

// Client side: KXAPI_OK when the body is to be dispatched (kind 0 of exactly 40 bytes,
// kind 1 of exactly 72, kinds 2 and 3 with a NUL-terminated text); KXAPI_E_INVALID_PARS for
// bodies the client ignores (wrong sizes, unknown kinds, above DEMOD_EVENT_MAX_BODY bytes).
KXAPI_RESULT DemodParseEvent(const uint8_t* body, size_t size, DemodEvent& event);

} // namespace Kxapi
