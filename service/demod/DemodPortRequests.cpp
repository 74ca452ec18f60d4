// Decoding of port requests into their typed form, and the replies built from handler results.
#include "DemodPortRequests.h"

#include <array>
#include <new>
#include <utility>

#include "DemodSvcGeneric.h"
#include "DemodSvcValidation.h"
#include "KxCheckedMath.h"
#include "KxWire.h"
#include "Markup.h"

using namespace Kxapi;

namespace {

// The generic reply of a text an encoder produced with result r (the result alone otherwise).
void ReplyText(const DemodReplyForm& form, KXAPI_RESULT r, const std::wstring& xml, KXAPI_RESULT& result,
               DemodMsg& reply)
{
    result = r;
    if (r == KXAPI_OK)
        reply = DemodBuildGenericReply(form.m_Code, KXAPI_OK, xml);
}

// The generic reply of a list of statistics.
void ReplyStatistics(const DemodReplyForm& form, const std::vector<KxStatistic>& stats, KXAPI_RESULT& result,
                     DemodMsg& reply)
{
    std::wstring xml;
    ReplyText(form, KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), xml), xml, result, reply);
}

// The fixed-layout records of a list of statistics.
template <class Out, class Fn> std::vector<Out> EachOf(const std::vector<KxStatistic>& stats, Fn toRecord)
{
    std::vector<Out> out;
    out.reserve(stats.size());
    for (const KxStatistic& stat : stats)
        out.push_back(toRecord(stat));
    return out;
}

// The reply of one integer element.
void ReplyIntElem(const DemodReplyForm& form, const char* name, int64_t value, DemodMsg& reply)
{
    std::wstring xml;
    DemodAppendIntElem(xml, name, value);
    reply = DemodBuildGenericReply(form.m_Code, KXAPI_OK, xml);
}

// Parameters in the four-integer form.
KXAPI_RESULT ParsFromOldStyle(const OldStyleParsWire& wire, KxDemodPars& pars)
{
    return pars.FromOldStyle(wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
}

// Parameters in the text of a generic request.
KXAPI_RESULT ParsFromText(const DemodRequestBody& in, KxDemodPars& pars)
{
    std::wstring text;
    KXAPI_RESULT r = in.Text(text);
    return r != KXAPI_OK ? r : pars.FromXml(text);
}

} // namespace

// ---- Request body -------------------------------------------------------------------------------

KXAPI_RESULT DemodRequestBody::Text(std::wstring& text) const
{
    if (m_pDoc == nullptr || DemodParseGenericReq(m_pBody, m_Size, text) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    return KXAPI_OK;
}

KXAPI_RESULT DemodRequestBody::Int(const char* name, int64_t& value) const
{
    return m_pDoc != nullptr && DemodGetIntElem(*m_pDoc, name, value) == KXAPI_OK ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT DemodRequestBody::Int(const char* name, int32_t& value) const
{
    return m_pDoc != nullptr && DemodGetIntElem(*m_pDoc, name, value) == KXAPI_OK ? KXAPI_OK : KXAPI_E_INTERNAL;
}

// ---- Decoders -----------------------------------------------------------------------------------

KXAPI_RESULT EventRegisterReq::Decode(const DemodRequestBody& in)
{
    return DemodParseEventRegisterReq(in.m_pBody, in.m_Size, m_Name, m_Mask);
}

KXAPI_RESULT ConstelReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic()) {
        if (in.Int(DEMOD_ELEM_NUM_POINTS, m_Count) != KXAPI_OK || in.Int(DEMOD_ELEM_STREAM_ID, m_StreamId) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        return m_Count < 0 || m_Count > DEMOD_MAX_CONSTEL_POINTS ? KXAPI_E_INVALID_PARS : KXAPI_OK;
    }
    KXAPI_RESULT r = DemodParseConstelReq(in.m_pBody, in.m_Size, m_Count);
    if (r != KXAPI_OK)
        return r;
    size_t replySize = 0;
    if (!KxCheckedRecordSize(m_Count, DEMOD_MAX_CONSTEL_POINTS, 8, KXCONSTELPOINT_SIZE, DEMOD_MAX_REPLY_SIZE, replySize))
        return KXAPI_E_INVALID_PARS;
    return KXAPI_OK;
}

KXAPI_RESULT ControlSetReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic())
        return ParsFromText(in, m_Pars);
    OldStyleParsWire wire;
    KXAPI_RESULT r = DemodParseControlSetOldReq(in.m_pBody, in.m_Size, wire);
    return r != KXAPI_OK ? r : ParsFromOldStyle(wire, m_Pars);
}

KXAPI_RESULT TuneReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic()) {
        if (in.Int(DEMOD_ELEM_FREQ_HZ, m_FreqHz) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        return ParsFromText(in, m_Pars);
    }
    OldStyleParsWire wire;
    KXAPI_RESULT r = DemodParseTuneOldReq(in.m_pBody, in.m_Size, m_FreqHz, wire);
    return r != KXAPI_OK ? r : ParsFromOldStyle(wire, m_Pars);
}

KXAPI_RESULT TuneParsSetReq::Decode(const DemodRequestBody& in)
{
    return DemodParseTuneParsSetReq(in.m_pBody, in.m_Size, m_Pars);
}

KXAPI_RESULT FreqGetReq::Decode(const DemodRequestBody& in)
{
    return in.Generic() ? in.Int(DEMOD_ELEM_TUNER_ID, m_TunerId) : KXAPI_OK;
}

KXAPI_RESULT FreqSetReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic()) {
        if (in.Int(DEMOD_ELEM_FREQ_HZ, m_FreqHz) != KXAPI_OK || in.Int(DEMOD_ELEM_TUNER_ID, m_TunerId) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        return KXAPI_OK;
    }
    return DemodParseFreqSetReq(in.m_pBody, in.m_Size, m_FreqHz);
}

KXAPI_RESULT DiseqcReq::Decode(const DemodRequestBody& in)
{
    if (DemodParseDiseqcReq(in.m_pBody, in.m_Size, m_Capacity, m_Message) != KXAPI_OK)
        return KXAPI_E_INVALID_PARS;
    return KXAPI_OK;
}

KXAPI_RESULT StatsModeReq::Decode(const DemodRequestBody& in)
{
    return DemodParseStatsModeReq(in.m_pBody, in.m_Size, m_Mode0, m_Mode1);
}

KXAPI_RESULT StatisticsReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic())
        return in.m_pDoc != nullptr ? KxStatistic::FromXml(*in.m_pDoc, m_Stats, static_cast<size_t>(DEMOD_MAX_STATISTICS))
                                    : KXAPI_E_INTERNAL;
    std::vector<int32_t> ids;
    if (DemodParseStatsOldReq(in.m_pBody, in.m_Size, ids) != KXAPI_OK)
        return KXAPI_E_INVALID_PARS;
    size_t replySize = 0;
    if (!KxCheckedRecordSize(static_cast<long long>(ids.size()), DEMOD_MAX_STATISTICS, 8, TSTATPARS_SIZE,
                             DEMOD_MAX_REPLY_SIZE, replySize))
        return KXAPI_E_INVALID_PARS;
    // The fixed layout reads at least one statistic.
    if (ids.empty())
        return KXAPI_E_INVALID_ARG;
    m_Stats.resize(ids.size());
    for (size_t i = 0; i < ids.size(); i++)
        if (KxapiFailed(m_Stats[i].SetId(ids[i])))
            m_Stats[i].m_StatisticId = ids[i]; // unknown: answered "not supported" by the cache
    return KXAPI_OK;
}

KXAPI_RESULT SupportedStatsReq::Decode(const DemodRequestBody& in)
{
    KXAPI_RESULT r = in.Generic() ? in.Int(DEMOD_ELEM_COUNT, m_Capacity)
                                  : DemodParseSupportedOldReq(in.m_pBody, in.m_Size, m_Capacity);
    if (r != KXAPI_OK)
        return r;
    return m_Capacity < 0 || m_Capacity > DEMOD_MAX_STATISTICS ? KXAPI_E_INVALID_PARS : KXAPI_OK;
}

template <class Sel, DemodOp O> KXAPI_RESULT StreamSelSetReq<Sel, O>::Decode(const DemodRequestBody& in)
{
    std::wstring text;
    KXAPI_RESULT r = in.Text(text);
    return r != KXAPI_OK ? r : m_Sel.FromXml(text);
}
template struct StreamSelSetReq<KxDvbC2StreamSelPars, DEMOD_OP_STREAM_SEL_SET_C2>;
template struct StreamSelSetReq<KxDvbT2StreamSelPars, DEMOD_OP_STREAM_SEL_SET_T2>;
template struct StreamSelSetReq<KxStreamSelPars, DEMOD_OP_OPEN_STREAM>;

KXAPI_RESULT CloseStreamReq::Decode(const DemodRequestBody& in)
{
    return in.Int(DEMOD_ELEM_STREAM_ID, m_StreamId);
}

KXAPI_RESULT EqualiseReq::Decode(const DemodRequestBody& in)
{
    return in.Int(DEMOD_ELEM_EQUALISER_SETTING, m_Setting);
}

KXAPI_RESULT PollingEnableReq::Decode(const DemodRequestBody& in)
{
    int64_t enable = 0;
    KXAPI_RESULT r = in.Int(DEMOD_ELEM_ENABLE, enable);
    m_Enable = enable != 0;
    return r;
}

KXAPI_RESULT AttributeReq::Decode(const DemodRequestBody& in)
{
    return in.Int(DEMOD_ELEM_ATTRIBUTE_ID, m_Id);
}

KXAPI_RESULT DemodScanRange::Decode(const DemodRequestBody& in)
{
    if (in.Int(DEMOD_ELEM_FREQ_HZ_STEPS, m_StepHz) != KXAPI_OK || in.Int(DEMOD_ELEM_START_FREQ_HZ, m_StartFreqHz) != KXAPI_OK ||
        in.Int(DEMOD_ELEM_END_FREQ_HZ, m_EndFreqHz) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    return KXAPI_OK;
}

KXAPI_RESULT BlindScanReq::Decode(const DemodRequestBody& in)
{
    if (in.Generic()) {
        if (m_Range.Decode(in) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        m_ReportsProgress = true;
        return ParsFromText(in, m_Pars);
    }
    BlindScanOldReq req;
    if (DemodParseBlindScanOldReq(in.m_pBody, in.m_Size, req) != KXAPI_OK)
        return KXAPI_E_INVALID_PARS;
    size_t replySize = 0;
    if (!KxCheckedRecordSize(req.m_MaxTransmitters, DEMOD_MAX_TRANSMITTERS, 16, KXTRANSMITTER_SIZE,
                             DEMOD_MAX_REPLY_SIZE, replySize))
        return KXAPI_E_INVALID_PARS;
    m_MaxTransmitters = req.m_MaxTransmitters;
    m_Range = {req.m_StepHz, req.m_StartFreqHz, req.m_EndFreqHz};
    return KXAPI_OK;
}

KXAPI_RESULT SpectrumScanReq::Decode(const DemodRequestBody& in)
{
    if (in.Int(DEMOD_ELEM_SCAN_TYPE, m_ScanType) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    return m_Range.Decode(in);
}

// ---- Replies ------------------------------------------------------------------------------------

void ConstelReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT&, DemodMsg& reply) const
{
    if (!form.Generic()) {
        reply = DemodBuildConstelReply(KXAPI_OK, res.m_Points);
        return;
    }
    std::wstring xml;
    DemodAppendConstPointElems(xml, res.m_Points);
    reply = DemodBuildGenericReply(form.m_Code, KXAPI_OK, xml);
}

void ControlGetReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    if (!form.Generic()) {
        OldStyleParsWire wire;
        result = res.m_Pars.ToOldStyle(wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
        if (result == KXAPI_OK)
            reply = DemodBuildControlGetOldReply(result, wire);
        return;
    }
    std::wstring xml;
    ReplyText(form, res.m_Pars.ToXml(xml), xml, result, reply);
}

void LockMerReq::Encode(const DemodReplyForm&, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    reply = DemodBuildLockMerReply(result, res.m_Locked, res.m_MerTenthsDb);
}

void UnsupportedReq::Encode(const DemodReplyForm& form, const Result&, KXAPI_RESULT&, DemodMsg& reply) const
{
    reply = DemodBuildNotSupportedReply(form.m_Code);
}

void TuneParsGetReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    reply = DemodBuildTuneParsReply(form.m_Code, result, res.m_Pars);
}

void TuneParsSetReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    reply = DemodBuildTuneParsReply(form.m_Code, result, res.m_Pars);
}

void FreqGetReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT&, DemodMsg& reply) const
{
    if (form.Generic())
        ReplyIntElem(form, DEMOD_ELEM_FREQ_HZ, res.m_FreqHz, reply);
    else
        reply = DemodBuildFreqGetReply(KXAPI_OK, res.m_FreqHz);
}

void DiseqcReq::Encode(const DemodReplyForm&, const Result& res, KXAPI_RESULT&, DemodMsg& reply) const
{
    reply = DemodBuildDiseqcReply(KXAPI_OK, res.m_Answer);
}

void StatisticsReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    if (form.Generic()) {
        ReplyStatistics(form, res.m_Stats, result, reply);
        return;
    }
    reply = DemodBuildStatsOldReply(KXAPI_OK, EachOf<TStatPars>(res.m_Stats, &TStatPars::FromStatistic));
}

void SupportedStatsReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result,
                               DemodMsg& reply) const
{
    if (form.Generic()) {
        ReplyStatistics(form, res.m_List, result, reply);
        return;
    }
    const auto idOf = [](const KxStatistic& stat) { return stat.m_StatisticId; };
    reply = DemodBuildSupportedOldReply(KXAPI_OK, m_Capacity, EachOf<int32_t>(res.m_List, idOf));
}

template <class Sel, DemodOp O>
void StreamSelGetReq<Sel, O>::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result,
                                     DemodMsg& reply) const
{
    std::wstring xml;
    ReplyText(form, res.m_Sel.ToXml(xml), xml, result, reply);
}
template struct StreamSelGetReq<KxDvbC2StreamSelPars, DEMOD_OP_STREAM_SEL_GET_C2>;
template struct StreamSelGetReq<KxDvbT2StreamSelPars, DEMOD_OP_STREAM_SEL_GET_T2>;

void StreamListReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    std::wstring xml;
    ReplyText(form, KxStreamSelPars::ToXml(res.m_List, xml), xml, result, reply);
}

void AttributeReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT&, DemodMsg& reply) const
{
    ReplyIntElem(form, DEMOD_ELEM_VALUE, res.m_Value, reply);
}

void BlindScanReq::Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, DemodMsg& reply) const
{
    if (form.Generic())
        return; // progress went out as events
    reply = DemodBuildBlindScanOldReply(result, m_MaxTransmitters, res.m_Found);
    KxPutI32(reply.data(), 8, res.m_Count); // the full count, also when it exceeds the room
}

// ---- Dispatch by operation ------------------------------------------------------------------------

namespace {

using DecodeFn = KXAPI_RESULT (*)(const DemodRequestBody&, DemodRequest&);

template <size_t I> KXAPI_RESULT DecodeAs(const DemodRequestBody& in, DemodRequest& request)
{
    using Req = std::variant_alternative_t<I, DemodRequest>;
    static_assert(static_cast<size_t>(Req::OP) == I, "DemodRequest lists the requests in DemodOp order");
    const KXAPI_RESULT r = request.template emplace<I>().Decode(in);
    if (r != KXAPI_OK)
        request.template emplace<0>();
    return r;
}

template <size_t... I> constexpr std::array<DecodeFn, sizeof...(I)> MakeDecoders(std::index_sequence<I...>)
{
    return {&DecodeAs<I + 1>...};
}

static_assert(std::variant_size_v<DemodRequest> == DEMOD_OP_COUNT, "one request per operation");
constexpr auto DECODERS = MakeDecoders(std::make_index_sequence<DEMOD_OP_COUNT - 1>());

KXAPI_RESULT DecodeText(const DemodRequestBody& body, DecodeFn decode, DemodRequest& request)
{
    Markup doc;
    if (DemodOpenGenericRequest(body.m_pBody, body.m_Size, doc) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    DemodRequestBody in = body;
    in.m_pDoc = &doc;
    return decode(in, request);
}

} // namespace

KXAPI_RESULT DemodDecodeRequest(const DemodCmdProperties& props, const uint8_t* body, size_t size,
                                DemodRequest& request)
{
    request.emplace<0>();
    if (props.m_Op == DEMOD_OP_NONE || props.m_Op >= DEMOD_OP_COUNT || body == nullptr)
        return KXAPI_E_NOT_SUPPORTED;
    const DecodeFn decode = DECODERS[props.m_Op - 1];
    const DemodRequestBody in{body, size, props.m_Form, nullptr};
    try {
        if (props.m_Form == DEMOD_FORM_GENERIC && props.m_pRequiredElems != nullptr)
            return DecodeText(in, decode, request);
        return decode(in, request);
    } catch (const std::bad_alloc&) {
        request.emplace<0>();
        return KXAPI_E_OUT_OF_MEM;
    }
}
