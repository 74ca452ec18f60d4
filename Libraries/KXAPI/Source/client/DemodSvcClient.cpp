// DemodSvcClient: request building and reply checking of a demod port client.
#include "DemodSvcClient.h"

#include <algorithm>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "DemodPars.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"
#include "KxCheckedMath.h"
#include "KxServiceDefs.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"
#include "KxWire.h"
#include "Markup.h"

namespace Kxapi {

DemodSvcClient::DemodSvcClient(IDemodSvcTransport* pTransport)
    : m_pTransport(pTransport), m_pLock(Xp::Instance()->MakeCritSec())
{
}

DemodSvcClient::~DemodSvcClient() = default;

KXAPI_RESULT DemodSvcClient::TransferSvcMsg(const DemodMsg& request, DemodMsg& reply)
{
    CritSecAutoLock lock(m_pLock);
    reply.clear();
    if (m_pTransport == nullptr || KxapiFailed(m_pTransport->Transfer(request, reply)))
        return KXAPI_E_INTERNAL;
    return KXAPI_OK;
}

template <class Parse> KXAPI_RESULT DemodSvcClient::Exchange(const DemodMsg& request, Parse parse)
{
    DemodMsg reply;
    KXAPI_RESULT r = TransferSvcMsg(request, reply);
    return KxapiFailed(r) ? r : parse(reply.data(), reply.size());
}

KXAPI_RESULT DemodSvcClient::Simple(const DemodMsg& request, size_t expectedSize)
{
    const uint32_t cmd = KxGetU32(request.data(), 0);
    return Exchange(request,
                    [&](const uint8_t* body, size_t size) { return DemodCheckReply(body, size, cmd, expectedSize); });
}

KXAPI_RESULT DemodSvcClient::ServiceVersion(uint32_t (&version)[4])
{
    KXAPI_RESULT r = Exchange(DemodBuildCodeOnly(DEMOD_CMD_SERVICE_VERSION), [&](const uint8_t* body, size_t size) {
        return DemodParseVersionReply(body, size, version);
    });
    if (KxapiFailed(r))
        return r;
    return KxServiceVersionAccepted(version[0], version[1]) ? r : KXAPI_E_SERVICE_INCOMP;
}

KXAPI_RESULT DemodSvcClient::Attach(int64_t serial, int32_t portIndex, uint32_t xtra)
{
    int32_t port = 0;
    if (!KxCheckedAdd(portIndex, int32_t(1), port))
        return KXAPI_E_INVALID_ARG; // no 1-based port number exists for it
    KXAPI_RESULT r = Simple(DemodBuildAttach(serial, port, xtra));
    return r == KXAPI_E_INTERNAL ? KXAPI_E_CONNECT_TO_SERVICE : r;
}

KXAPI_RESULT DemodSvcClient::InitDemodulator()
{
    KXAPI_RESULT r = Simple(DemodBuildCodeOnly(DEMOD_CMD_INIT_DEMODULATOR));
    return r == KXAPI_E_INTERNAL ? KXAPI_E_CONNECT_TO_SERVICE : r;
}

KXAPI_RESULT DemodSvcClient::Detach()
{
    return Simple(DemodBuildCodeOnly(DEMOD_CMD_DETACH));
}

KXAPI_RESULT DemodSvcClient::EventPipeRegister(const std::wstring& pipeName, uint64_t eventMask)
{
    DemodMsg request;
    KXAPI_RESULT r = DemodBuildEventRegisterReq(pipeName, eventMask, request);
    return KxapiFailed(r) ? r : Simple(request);
}

KXAPI_RESULT DemodSvcClient::ControlGetOld(OldStyleParsWire& pars)
{
    return Exchange(DemodBuildCodeOnly(DEMOD_CMD_CONTROL_GET_OLD),
                    [&](const uint8_t* body, size_t size) { return DemodParseControlGetOldReply(body, size, pars); });
}

KXAPI_RESULT DemodSvcClient::ControlSetOld(const OldStyleParsWire& pars)
{
    return Simple(DemodBuildControlSetOldReq(pars));
}

KXAPI_RESULT DemodSvcClient::TuneOld(int64_t freqHz, const OldStyleParsWire& pars)
{
    return Simple(DemodBuildTuneOldReq(freqHz, pars));
}

KXAPI_RESULT DemodSvcClient::LockMerGet(bool& locked, int32_t& merTenthsDb)
{
    return Exchange(DemodBuildCodeOnly(DEMOD_CMD_LOCK_MER_GET_OLD), [&](const uint8_t* body, size_t size) {
        return DemodParseLockMerReply(body, size, locked, merTenthsDb);
    });
}

KXAPI_RESULT DemodSvcClient::TuneParsGet(KxTunePars& pars)
{
    return Exchange(DemodBuildCodeOnly(DEMOD_CMD_TUNE_PARS_GET), [&](const uint8_t* body, size_t size) {
        return DemodParseTuneParsReply(body, size, DEMOD_CMD_TUNE_PARS_GET, pars);
    });
}

KXAPI_RESULT DemodSvcClient::TuneParsSet(KxTunePars& pars)
{
    return Exchange(DemodBuildTuneParsSetReq(pars), [&](const uint8_t* body, size_t size) {
        return DemodParseTuneParsReply(body, size, DEMOD_CMD_TUNE_PARS_SET, pars);
    });
}

KXAPI_RESULT DemodSvcClient::TunerFreqGetOld(int64_t& freqHz)
{
    return Exchange(DemodBuildCodeOnly(DEMOD_CMD_TUNER_FREQ_GET_OLD),
                    [&](const uint8_t* body, size_t size) { return DemodParseFreqGetReply(body, size, freqHz); });
}

KXAPI_RESULT DemodSvcClient::TunerFreqSetOld(int64_t freqHz)
{
    return Simple(DemodBuildFreqSetReq(freqHz));
}

KXAPI_RESULT DemodSvcClient::LnbEnable(bool enable)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_LNB_ENABLE, enable ? 1 : 0));
}

KXAPI_RESULT DemodSvcClient::LnbVoltageSet(uint32_t level)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_LNB_VOLTAGE_SET, level));
}

KXAPI_RESULT DemodSvcClient::LnbToneEnable(bool enable)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_LNB_TONE_ENABLE, enable ? 1 : 0));
}

KXAPI_RESULT DemodSvcClient::LnbBurstSend(uint32_t burst)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_LNB_BURST_SEND, burst));
}

KXAPI_RESULT DemodSvcClient::LnbDiseqcSend(const std::vector<uint8_t>& message, int32_t replyCapacity,
                                           std::vector<uint8_t>& reply)
{
    if (replyCapacity < 0 || replyCapacity > DEMOD_MAX_DISEQC_BYTES || message.size() > size_t(DEMOD_MAX_DISEQC_BYTES))
        return KXAPI_E_INVALID_ARG;
    return Exchange(DemodBuildDiseqcReq(replyCapacity, message), [&](const uint8_t* body, size_t size) {
        return DemodParseDiseqcReply(body, size, replyCapacity, reply);
    });
}

KXAPI_RESULT DemodSvcClient::AntPowerSet(int32_t mode)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_ANT_POWER_SET, static_cast<uint32_t>(mode)));
}

KXAPI_RESULT DemodSvcClient::AgcReset(uint32_t what)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_AGC_RESET, what));
}

KXAPI_RESULT DemodSvcClient::TuningModeSet(int32_t mode)
{
    return Simple(DemodBuildWordReq(DEMOD_CMD_TUNING_MODE_SET, static_cast<uint32_t>(mode)));
}

KXAPI_RESULT DemodSvcClient::StatsModeSet(int32_t mode0, int32_t mode1)
{
    return Simple(DemodBuildStatsModeReq(mode0, mode1));
}

KXAPI_RESULT DemodSvcClient::StatisticsGetOld(const std::vector<int32_t>& ids, std::vector<TStatPars>& stats)
{
    if (ids.size() > size_t(DEMOD_MAX_STATISTICS))
        return KXAPI_E_INVALID_ARG;
    return Exchange(DemodBuildStatsOldReq(ids), [&](const uint8_t* body, size_t size) {
        return DemodParseStatsOldReply(body, size, static_cast<int32_t>(ids.size()), stats);
    });
}

KXAPI_RESULT DemodSvcClient::SupportedStatsGetOld(int32_t capacity, std::vector<int32_t>& ids)
{
    if (capacity < 0 || capacity > DEMOD_MAX_STATISTICS)
        return KXAPI_E_INVALID_ARG;
    return Exchange(DemodBuildSupportedOldReq(capacity), [&](const uint8_t* body, size_t size) {
        return DemodParseSupportedOldReply(body, size, capacity, ids);
    });
}

KXAPI_RESULT DemodSvcClient::ConstelGetOld(int32_t count, std::vector<KxConstelPoint>& points)
{
    if (count < 0 || count > DEMOD_MAX_CONSTEL_POINTS)
        return KXAPI_E_INVALID_ARG;
    return Exchange(DemodBuildConstelReq(count), [&](const uint8_t* body, size_t size) {
        return DemodParseConstelReply(body, size, count, points);
    });
}

KXAPI_RESULT DemodSvcClient::BlindScanOld(const BlindScanOldReq& req, std::vector<KxTransmitter>& found,
                                          int32_t& numFound)
{
    found.clear();
    numFound = 0;
    if (req.m_MaxTransmitters < 0 || req.m_MaxTransmitters > DEMOD_MAX_TRANSMITTERS)
        return KXAPI_E_INVALID_ARG;
    return Exchange(DemodBuildBlindScanOldReq(req), [&](const uint8_t* body, size_t size) {
        return DemodParseBlindScanOldReply(body, size, req.m_MaxTransmitters, found, numFound);
    });
}

KXAPI_RESULT DemodSvcClient::BlindScanCancel()
{
    return Simple(DemodBuildCodeOnly(DEMOD_CMD_BLIND_SCAN_CANCEL));
}

KXAPI_RESULT DemodSvcClient::SpectrumScanCancel()
{
    return Simple(DemodBuildCodeOnly(DEMOD_CMD_SPECTRUM_SCAN_CANCEL));
}

KXAPI_RESULT DemodSvcClient::TransferGeneric(uint32_t cmd, const std::wstring& requestXml, std::wstring& replyXml)
{
    // Commands without request text send the code alone.
    DemodMsg request = requestXml.empty() ? DemodBuildCodeOnly(cmd) : DemodBuildGenericReq(cmd, requestXml);
    DemodMsg reply;
    KXAPI_RESULT r = TransferSvcMsg(request, reply);
    if (KxapiFailed(r))
        return r;
    return DemodParseGenericReply(reply.data(), reply.size(), cmd, replyXml);
}

namespace {

// A generic reply that must carry text on success.
KXAPI_RESULT NeedText(KXAPI_RESULT r, const std::wstring& text)
{
    return (KxapiSucceeded(r) && text.empty()) ? KXAPI_E_INTERNAL : r;
}

} // namespace

KXAPI_RESULT DemodSvcClient::ControlGet(KxDemodPars& pars)
{
    std::wstring reply;
    KXAPI_RESULT r = NeedText(TransferGeneric(DEMOD_CMD_CONTROL_GET, L"", reply), reply);
    if (KxapiFailed(r))
        return r;
    return KxapiFailed(pars.FromXml(reply)) ? KXAPI_E_INTERNAL : r;
}

KXAPI_RESULT DemodSvcClient::ControlSet(const KxDemodPars& pars)
{
    std::wstring xml, reply;
    KXAPI_RESULT r = pars.ToXml(xml);
    return KxapiFailed(r) ? r : TransferGeneric(DEMOD_CMD_CONTROL_SET, xml, reply);
}

KXAPI_RESULT DemodSvcClient::Tune(int64_t freqHz, const KxDemodPars& pars)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, freqHz);
    std::wstring parsXml;
    KXAPI_RESULT r = pars.ToXml(parsXml);
    if (KxapiFailed(r))
        return r;
    xml += parsXml;
    return TransferGeneric(DEMOD_CMD_TUNE, xml, reply);
}

KXAPI_RESULT DemodSvcClient::GetStatisticsXml(const std::wstring& requestList, std::wstring& replyList)
{
    Markup request;
    if (KxapiFailed(request.Parse(requestList)))
        return KXAPI_E_INVALID_ARG;
    // Always the text form, also for an empty list: the code alone is not a statistics read.
    DemodMsg replyMsg;
    KXAPI_RESULT r = TransferSvcMsg(DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, requestList), replyMsg);
    if (KxapiFailed(r))
        return r;
    r = DemodParseGenericReply(replyMsg.data(), replyMsg.size(), DEMOD_CMD_GET_STATISTICS, replyList);
    if (KxapiFailed(r))
        return r;
    Markup reply;
    if (KxapiFailed(reply.Parse(replyList)) ||
        reply.Top().CountChildren("kxstat") != request.Top().CountChildren("kxstat"))
        return KXAPI_E_INTERNAL;
    return r;
}

KXAPI_RESULT DemodSvcClient::Equalise(int64_t setting)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_EQUALISER_SETTING, setting);
    return TransferGeneric(DEMOD_CMD_EQUALISE, xml, reply);
}

KXAPI_RESULT DemodSvcClient::TunerFrequencyGet(int32_t tunerId, int64_t& freqHz)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_TUNER_ID, tunerId);
    KXAPI_RESULT r = TransferGeneric(DEMOD_CMD_TUNER_FREQ_GET, xml, reply);
    if (KxapiFailed(r))
        return r;
    Markup doc;
    if (KxapiFailed(doc.Parse(reply)))
        return KXAPI_E_INTERNAL;
    KXAPI_RESULT e = DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, freqHz);
    return KxapiFailed(e) ? e : r;
}

KXAPI_RESULT DemodSvcClient::TunerFrequencySet(int64_t freqHz, int32_t tunerId)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, freqHz);
    DemodAppendIntElem(xml, DEMOD_ELEM_TUNER_ID, tunerId);
    return TransferGeneric(DEMOD_CMD_TUNER_FREQ_SET, xml, reply);
}

KXAPI_RESULT DemodSvcClient::StatisticsPollingEnable(bool enable)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_ENABLE, enable ? 1 : 0);
    return TransferGeneric(DEMOD_CMD_STATS_POLLING_ENABLE, xml, reply);
}

KXAPI_RESULT DemodSvcClient::BlindScan(const KxDemodPars& pars, int64_t stepHz, int64_t startFreqHz, int64_t endFreqHz)
{
    std::wstring xml, reply;
    KXAPI_RESULT r = pars.ToXml(xml);
    if (KxapiFailed(r))
        return r;
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz);
    DemodAppendIntElem(xml, DEMOD_ELEM_START_FREQ_HZ, startFreqHz);
    DemodAppendIntElem(xml, DEMOD_ELEM_END_FREQ_HZ, endFreqHz);
    return TransferGeneric(DEMOD_CMD_BLIND_SCAN, xml, reply);
}

KXAPI_RESULT DemodSvcClient::SpectrumScan(int32_t scanType, int64_t stepHz, int64_t startFreqHz, int64_t endFreqHz)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_SCAN_TYPE, scanType);
    DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz);
    DemodAppendIntElem(xml, DEMOD_ELEM_START_FREQ_HZ, startFreqHz);
    DemodAppendIntElem(xml, DEMOD_ELEM_END_FREQ_HZ, endFreqHz);
    return TransferGeneric(DEMOD_CMD_SPECTRUM_SCAN, xml, reply);
}

KXAPI_RESULT DemodSvcClient::GetAttribute(int32_t port, int32_t attributeId, int64_t& value)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_PORT, port);
    DemodAppendIntElem(xml, DEMOD_ELEM_ATTRIBUTE_ID, attributeId);
    KXAPI_RESULT r = TransferGeneric(DEMOD_CMD_GET_ATTRIBUTE, xml, reply);
    if (KxapiFailed(r))
        return r;
    Markup doc;
    if (KxapiFailed(doc.Parse(reply)))
        return KXAPI_E_INTERNAL;
    KXAPI_RESULT e = DemodGetIntElem(doc, DEMOD_ELEM_VALUE, value);
    return KxapiFailed(e) ? e : r;
}

KXAPI_RESULT DemodSvcClient::CloseStream(int64_t streamId)
{
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_STREAM_ID, streamId);
    return TransferGeneric(DEMOD_CMD_CLOSE_STREAM, xml, reply);
}

namespace {

// What a statistics request names of a statistic: the service answers from the id and extra
// ids (results and values it ignores), and the value type is part of the text.
bool SameKey(const KxStatistic& a, const KxStatistic& b)
{
    return a.m_StatisticId == b.m_StatisticId && a.m_ValueType == b.m_ValueType &&
           std::equal(a.m_XtraId, a.m_XtraId + 4, b.m_XtraId);
}

} // namespace

KXAPI_RESULT DemodSvcClient::GetStatistics(KxStatistic* stats, int count)
{
    if (stats == nullptr || count <= 0 || size_t(count) > KX_STAT_MAX_LIST)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLock lock(m_pLock);
    // A poll names the same statistics each time (often in the same array, which holds the
    // last values then): the request of an unchanged list is not serialised again.
    if (m_StatsSent.size() != size_t(count) || !std::equal(stats, stats + count, m_StatsSent.begin(), SameKey)) {
        std::wstring request;
        m_StatsSent.clear();
        KXAPI_RESULT r = KxStatistic::ToXml(stats, count, request);
        if (KxapiFailed(r))
            return r;
        m_StatsRequest = DemodBuildGenericReq(DEMOD_CMD_GET_STATISTICS, request);
        m_StatsSent.assign(stats, stats + count);
    }
    KXAPI_RESULT r = TransferSvcMsg(m_StatsRequest, m_StatsReply);
    if (KxapiFailed(r))
        return r;
    // Parsed straight from the reply's wide characters into the document and statistics
    // kept from the last reply; the caller's statistics change only when the whole reply
    // was good.
    r = DemodParseGenericReply(m_StatsReply.data(), m_StatsReply.size(), DEMOD_CMD_GET_STATISTICS, m_StatsDoc);
    if (KxapiFailed(r))
        return r;
    m_StatsAnswered.resize(size_t(count));
    size_t answered = 0;
    for (MarkupElem e = m_StatsDoc.Top().FindChild("kxstat"); e.Valid(); e = e.NextSame())
        if (answered == size_t(count) || KxapiFailed(m_StatsAnswered[answered++].FromXmlElem(e)))
            return KXAPI_E_INTERNAL;
    if (answered != size_t(count))
        return KXAPI_E_INTERNAL;
    std::copy(m_StatsAnswered.begin(), m_StatsAnswered.end(), stats);
    return r;
}

KXAPI_RESULT DemodSvcClient::GetSupportedStatistics(int32_t capacity, std::vector<KxStatistic>& stats)
{
    if (capacity < 0 || size_t(capacity) > KX_STAT_MAX_LIST)
        return KXAPI_E_INVALID_ARG;
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_COUNT, capacity);
    KXAPI_RESULT r = TransferGeneric(DEMOD_CMD_GET_SUPPORTED_STATS, xml, reply);
    if (KxapiFailed(r))
        return r;
    if (KxapiFailed(KxStatistic::FromXml(reply, stats, size_t(capacity))))
        return KXAPI_E_INTERNAL;
    return r;
}

KXAPI_RESULT DemodSvcClient::ConstellationPointsGet(int32_t numPoints, int64_t streamId,
                                                    std::vector<KxConstelPoint>& points)
{
    points.clear();
    if (numPoints < 0 || numPoints > DEMOD_MAX_CONSTEL_POINTS)
        return KXAPI_E_INVALID_ARG;
    std::wstring xml, reply;
    DemodAppendIntElem(xml, DEMOD_ELEM_NUM_POINTS, numPoints);
    DemodAppendIntElem(xml, DEMOD_ELEM_STREAM_ID, streamId);
    KXAPI_RESULT r = TransferGeneric(DEMOD_CMD_CONSTEL_POINTS_GET, xml, reply);
    if (KxapiFailed(r))
        return r;
    Markup doc;
    if (KxapiFailed(doc.Parse(reply)))
        return KXAPI_E_INTERNAL;
    KXAPI_RESULT e = DemodGetConstPointElems(doc, numPoints, points);
    if (KxapiFailed(e))
        return e;
    return r;
}

namespace {

// A Get of one element: the reply must carry it and it must parse.
template <class T> KXAPI_RESULT GetOne(DemodSvcClient& client, uint32_t cmd, T& pars)
{
    std::wstring reply;
    KXAPI_RESULT r = NeedText(client.TransferGeneric(cmd, L"", reply), reply);
    if (KxapiFailed(r))
        return r;
    T got;
    if (KxapiFailed(got.FromXml(reply)))
        return KXAPI_E_INTERNAL;
    pars = got;
    return r;
}

template <class T> KXAPI_RESULT SetOne(DemodSvcClient& client, uint32_t cmd, const T& pars)
{
    std::wstring xml, reply;
    KXAPI_RESULT r = pars.ToXml(xml);
    return KxapiFailed(r) ? r : client.TransferGeneric(cmd, xml, reply);
}

} // namespace

KXAPI_RESULT DemodSvcClient::StreamSelGet(KxDvbC2StreamSelPars& pars)
{
    return GetOne(*this, DEMOD_CMD_STREAM_SEL_GET_C2, pars);
}

KXAPI_RESULT DemodSvcClient::StreamSelSet(const KxDvbC2StreamSelPars& pars)
{
    return SetOne(*this, DEMOD_CMD_STREAM_SEL_SET_C2, pars);
}

KXAPI_RESULT DemodSvcClient::StreamSelGet(KxDvbT2StreamSelPars& pars)
{
    return GetOne(*this, DEMOD_CMD_STREAM_SEL_GET_T2, pars);
}

KXAPI_RESULT DemodSvcClient::StreamSelSet(const KxDvbT2StreamSelPars& pars)
{
    return SetOne(*this, DEMOD_CMD_STREAM_SEL_SET_T2, pars);
}

KXAPI_RESULT DemodSvcClient::StreamSelGet(std::vector<KxStreamSelPars>& list)
{
    std::wstring reply;
    KXAPI_RESULT r = TransferGeneric(DEMOD_CMD_STREAM_SEL_GET_LIST, L"", reply);
    if (KxapiFailed(r))
        return r;
    if (KxapiFailed(KxStreamSelPars::FromXml(reply, list)))
        return KXAPI_E_INTERNAL;
    return r;
}

KXAPI_RESULT DemodSvcClient::OpenStream(const KxStreamSelPars& pars)
{
    return SetOne(*this, DEMOD_CMD_OPEN_STREAM, pars);
}

} // namespace Kxapi
