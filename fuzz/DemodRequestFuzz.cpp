// Fuzz target: every demod FIFO message parser, on both ends. The input is one message body:
// the service side accepts it as a port or connection command, decodes it into its typed
// request and runs that command's request parser (with the XML of generic commands), the client side reads it as a reply of
// each layout and as an event body. Whatever is accepted must stay within the message.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "DemodPars.h"
#include "DemodPortRequests.h"
#include "DemodSvcEvents.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"
#include "DemodSvcValidation.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The decoder every port request of the service goes through: an accepted request holds the
// operation of its row, and its counts stay within their bounds, the message and one reply.
void DecodedRequest(const DemodCmdProperties& props, const uint8_t* data, size_t size)
{
    DemodRequest request;
    const KXAPI_RESULT decoded = DemodDecodeRequest(props, data, size, request);
    Check((decoded == KXAPI_OK) == (request.index() == props.m_Op));
    if (const ConstelReq* c = std::get_if<ConstelReq>(&request))
        Check(c->m_Count >= 0 && c->m_Count <= DEMOD_MAX_CONSTEL_POINTS);
    if (const DiseqcReq* d = std::get_if<DiseqcReq>(&request))
        Check(d->m_Message.size() + 12 <= size && d->m_Capacity >= 0 && d->m_Capacity <= DEMOD_MAX_DISEQC_BYTES);
    if (const StatisticsReq* s = std::get_if<StatisticsReq>(&request))
        Check(s->m_Stats.size() <= size_t(DEMOD_MAX_STATISTICS));
    if (const SupportedStatsReq* s = std::get_if<SupportedStatsReq>(&request))
        Check(s->m_Capacity >= 0 && s->m_Capacity <= DEMOD_MAX_STATISTICS);
    if (const BlindScanReq* b = std::get_if<BlindScanReq>(&request))
        Check(b->m_MaxTransmitters >= 0 &&
              16 + KXTRANSMITTER_SIZE * size_t(b->m_MaxTransmitters) <= DEMOD_MAX_REPLY_SIZE);
    if (const EventRegisterReq* e = std::get_if<EventRegisterReq>(&request))
        Check(e->m_Name.size() < DEMOD_EVENT_PIPE_NAME_CHARS);
}

void ServiceSide(const uint8_t* data, size_t size)
{
    if (!DemodMessageHasCommand(size))
        return;
    const uint32_t cmd = DemodMessageCommand(data);
    if (cmd == DEMOD_CMD_ATTACH) {
        int64_t serial;
        int32_t port;
        uint32_t xtra;
        Check((DemodParseAttach(data, size, serial, port, xtra) == KXAPI_OK) == (size == DEMOD_ATTACH_REQ_SIZE));
        return;
    }
    const DemodCmdProperties* props = nullptr;
    if (KxapiFailed(DemodCheckPortCommand(data, size, props)))
        return;
    Check(props != nullptr && size >= props->m_MinSize);
    DecodedRequest(*props, data, size);
    switch (cmd) {
    case DEMOD_CMD_CONSTEL_GET_OLD: {
        int32_t n;
        if (DemodParseConstelReq(data, size, n) == KXAPI_OK)
            Check(n >= 0 && n <= DEMOD_MAX_CONSTEL_POINTS);
        break;
    }
    case DEMOD_CMD_LNB_DISEQC_SEND: {
        int32_t cap;
        std::vector<uint8_t> msg;
        if (DemodParseDiseqcReq(data, size, cap, msg) == KXAPI_OK)
            Check(msg.size() + 12 <= size && cap >= 0);
        break;
    }
    case DEMOD_CMD_BLIND_SCAN_OLD: {
        BlindScanOldReq req;
        if (DemodParseBlindScanOldReq(data, size, req) == KXAPI_OK)
            Check(req.m_MaxTransmitters >= 0 && req.m_MaxTransmitters <= DEMOD_MAX_TRANSMITTERS);
        break;
    }
    case DEMOD_CMD_STATISTICS_GET_OLD: {
        std::vector<int32_t> ids;
        if (DemodParseStatsOldReq(data, size, ids) == KXAPI_OK)
            Check(8 + 4 * ids.size() <= size);
        break;
    }
    case DEMOD_CMD_SUPPORTED_STATS_GET_OLD: {
        int32_t cap;
        DemodParseSupportedOldReq(data, size, cap);
        break;
    }
    case DEMOD_CMD_EVENT_PIPE_REGISTER: {
        std::wstring name;
        uint64_t mask;
        if (DemodParseEventRegisterReq(data, size, name, mask) == KXAPI_OK)
            Check(name.size() < DEMOD_EVENT_PIPE_NAME_CHARS);
        break;
    }
    case DEMOD_CMD_TUNE_OLD: {
        int64_t f;
        OldStyleParsWire p;
        Check(DemodParseTuneOldReq(data, size, f, p) == KXAPI_OK);
        KxDemodPars pars;
        pars.FromOldStyle(p.m_ModType, p.m_ParXtra0, p.m_ParXtra1, p.m_ParXtra2);
        pars.CheckValidity();
        break;
    }
    case DEMOD_CMD_TUNE_PARS_SET: {
        KxTunePars tp;
        Check(DemodParseTuneParsSetReq(data, size, tp) == KXAPI_OK);
        break;
    }
    default: {
        // Generic commands: the text, its integer elements and its parameter element.
        std::wstring xml;
        if (KxapiFailed(DemodParseGenericReq(data, size, xml)))
            break;
        Check(4 * (xml.size() + 2) <= size);
        Markup doc;
        if (KxapiFailed(doc.Parse(xml)))
            break;
        Markup checked;
        // Every element a command requires is there once its request was accepted (the
        // statistics read requires none: an empty list is valid).
        const char* const* required = DemodGenericRequiredElems(cmd);
        if (required != nullptr && KxapiSucceeded(DemodOpenGenericRequest(data, size, checked)))
            for (; *required != nullptr; required++)
                Check(checked.Top().FindChild(*required).Valid());
        int64_t v;
        DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, v);
        DemodGetIntElem(doc, DEMOD_ELEM_TUNER_ID, v);
        KxDemodPars pars;
        if (KxapiSucceeded(pars.FromXml(xml))) {
            pars.CheckValidity();
            std::wstring again;
            Check(KxapiSucceeded(pars.ToXml(again)));
        }
        break;
    }
    }
}

void ClientSide(const uint8_t* data, size_t size)
{
    const int32_t count = size >= 12 ? int32_t(data[size - 1] % 8) : 1;
    std::vector<KxConstelPoint> pts;
    if (DemodParseConstelReply(data, size, count, pts) == KXAPI_OK)
        Check(pts.size() == size_t(count));
    std::vector<TStatPars> stats;
    DemodParseStatsOldReply(data, size, count, stats);
    std::vector<int32_t> ids;
    if (KxapiSucceeded(DemodParseSupportedOldReply(data, size, count, ids)))
        Check(ids.size() <= size_t(count));
    std::vector<KxTransmitter> tx;
    int32_t numFound = 0;
    const KXAPI_RESULT scan = DemodParseBlindScanOldReply(data, size, count, tx, numFound);
    Check(tx.size() <= size_t(count) && numFound >= 0);
    if (KxapiSucceeded(scan))
        Check(numFound <= count && tx.size() == size_t(numFound));
    std::vector<uint8_t> dq;
    if (KxapiSucceeded(DemodParseDiseqcReply(data, size, count, dq)))
        Check(dq.size() <= size_t(count));
    std::wstring text;
    DemodParseGenericReply(data, size, size >= 4 ? data[0] : 0, text);
    Markup doc;
    std::vector<KxConstelPoint> cp;
    if (!text.empty() && KxapiSucceeded(doc.Parse(text)) && KxapiSucceeded(DemodGetConstPointElems(doc, count, cp)))
        Check(cp.size() == size_t(count));
    DemodEvent ev;
    if (DemodParseEvent(data, size, ev) == KXAPI_OK)
        Check(size <= DEMOD_EVENT_MAX_BODY && 4 * ev.m_Xml.size() + DEMOD_EVENT_HEADER_SIZE <= size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ServiceSide(data, size);
    ClientSide(data, size);
    return 0;
}
