// Demod event bodies, their framing and the event FIFO name.
#include "DemodSvcEvents.h"
#include "PipeMessenger.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "KxWire.h"

namespace Kxapi {

namespace {

DemodMsg EventHeader(uint32_t kind, int64_t serial, int32_t port, size_t size)
{
    DemodMsg msg(size, 0);
    KxPutU32(msg.data(), 0, kind);
    KxPutI64(msg.data(), 8, serial);
    KxPutI32(msg.data(), 16, port);
    return msg;
}

} // namespace

KXAPI_RESULT DemodMakeEventPipeName(int64_t serial, int32_t port, int32_t pid, int32_t counter, std::wstring& name)
{
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, "KxapiDemodSvc_EvPipe_%" PRId64 "_%d_%d_%d", serial, port, pid, counter);
    if (n < 0 || static_cast<size_t>(n) > DEMOD_EVENT_PIPE_NAME_MAX)
        return KXAPI_E_TOO_LONG;
    name.assign(buf, buf + n);
    return KXAPI_OK;
}

DemodMsg DemodBuildFreqEvent(int64_t serial, int32_t port, int64_t oldFreqHz, int64_t newFreqHz)
{
    DemodMsg msg = EventHeader(DEMOD_EVENT_FREQ_CHANGED, serial, port, DEMOD_EVENT_FREQ_SIZE);
    KxPutI64(msg.data(), 24, oldFreqHz);
    KxPutI64(msg.data(), 32, newFreqHz);
    return msg;
}

DemodMsg DemodBuildParsEvent(int64_t serial, int32_t port, int64_t oldFreqHz, const OldStyleParsWire& oldPars,
                             int64_t newFreqHz, const OldStyleParsWire& newPars)
{
    DemodMsg msg = EventHeader(DEMOD_EVENT_PARS_CHANGED, serial, port, DEMOD_EVENT_PARS_SIZE);
    KxPutI64(msg.data(), 24, oldFreqHz);
    oldPars.Encode(msg.data(), 32);
    KxPutI64(msg.data(), 48, newFreqHz);
    newPars.Encode(msg.data(), 56);
    return msg;
}

DemodMsg DemodBuildScanEvent(uint32_t kind, int64_t serial, int32_t port, const std::wstring& xml)
{
    DemodMsg msg = EventHeader(kind, serial, port, DEMOD_EVENT_HEADER_SIZE + 4 * (xml.size() + 1));
    for (size_t i = 0; i < xml.size(); i++)
        KxPutU32(msg.data(), static_cast<unsigned int>(24 + 4 * i), static_cast<uint32_t>(xml[i]));
    return msg;
}

KXAPI_RESULT DemodFrameEvent(const DemodMsg& body, DemodMsg& frame)
{
    if (body.size() > DEMOD_EVENT_MAX_BODY)
        return KXAPI_E_TOO_LONG;
    unsigned char header[8];
    const unsigned int headerLength = PipeBuildHeader(static_cast<unsigned int>(body.size()), header);
    frame.assign(header, header + headerLength);
    frame.insert(frame.end(), body.begin(), body.end());
    return KXAPI_OK;
}

KXAPI_RESULT DemodParseEvent(const uint8_t* body, size_t size, DemodEvent& event)
{
    if (body == nullptr || size < DEMOD_EVENT_HEADER_SIZE || size > DEMOD_EVENT_MAX_BODY)
        return KXAPI_E_INVALID_PARS;
    event = DemodEvent();
    event.m_Kind = KxGetU32(body, 0);
    event.m_Serial = KxGetI64(body, 8);
    event.m_Port = KxGetI32(body, 16);
    switch (event.m_Kind) {
    case DEMOD_EVENT_FREQ_CHANGED:
        if (size != DEMOD_EVENT_FREQ_SIZE)
            return KXAPI_E_INVALID_PARS;
        event.m_OldFreqHz = KxGetI64(body, 24);
        event.m_NewFreqHz = KxGetI64(body, 32);
        return KXAPI_OK;
    case DEMOD_EVENT_PARS_CHANGED:
        if (size != DEMOD_EVENT_PARS_SIZE)
            return KXAPI_E_INVALID_PARS;
        event.m_OldFreqHz = KxGetI64(body, 24);
        event.m_OldPars = OldStyleParsWire::Decode(body, 32);
        event.m_NewFreqHz = KxGetI64(body, 48);
        event.m_NewPars = OldStyleParsWire::Decode(body, 56);
        return KXAPI_OK;
    case DEMOD_EVENT_BLIND_SCAN:
    case DEMOD_EVENT_SPECTRUM_SCAN: {
        if (size == DEMOD_EVENT_HEADER_SIZE || (size - DEMOD_EVENT_HEADER_SIZE) % 4 != 0 ||
            KxGetU32(body, static_cast<unsigned int>(size - 4)) != 0)
            return KXAPI_E_INVALID_PARS;
        for (size_t at = DEMOD_EVENT_HEADER_SIZE; at + 4 < size; at += 4) {
            const uint32_t c = KxGetU32(body, static_cast<unsigned int>(at));
            if (c == 0)
                break;
            event.m_Xml.push_back(static_cast<wchar_t>(c));
        }
        return KXAPI_OK;
    }
    default:
        return KXAPI_E_INVALID_PARS;
    }
}

} // namespace Kxapi
