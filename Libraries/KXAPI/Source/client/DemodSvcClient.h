// The message layer of a demod port client: builds each request, exchanges it through a
// transport and checks the reply's exact length. One object per receiver port; requests of
// one object are serialised by its lock. The FIFO connection (with reconnect and re-attach
// after a failed transfer), the event FIFO and its thread plug in as the transport.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DemodSvcLayouts.h"
#include "KxStatistic.h"
#include "IInterface.h"
#include "KxapiResult.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

namespace Kxapi {

class KxDemodPars;
struct KxDvbC2StreamSelPars;
struct KxDvbT2StreamSelPars;
struct KxStreamSelPars;

// One request/reply exchange with the service. A failure means no valid reply was read.
class IDemodSvcTransport : public IInterface {
public:
    virtual KXAPI_RESULT Transfer(const DemodMsg& request, DemodMsg& reply) = 0;
};

class DemodSvcClient : private KxNonCopyable {
public:
    // The transport is not owned and must outlive the client.
    explicit DemodSvcClient(IDemodSvcTransport* pTransport);
    ~DemodSvcClient();

    // One exchange under the client's lock: KXAPI_E_INTERNAL when the transfer fails.
    KXAPI_RESULT TransferSvcMsg(const DemodMsg& request, DemodMsg& reply);

    // Connection. Attach sends the 1-based port (portIndex + 1); Attach and InitDemodulator
    // report a failed transfer or a reply of the wrong length as KXAPI_E_CONNECT_TO_SERVICE.
    KXAPI_RESULT ServiceVersion(uint32_t (&version)[4]); // KXAPI_E_SERVICE_INCOMP below 3.2
    KXAPI_RESULT Attach(int64_t serial, int32_t portIndex, uint32_t xtra);
    KXAPI_RESULT InitDemodulator();
    KXAPI_RESULT Detach();
    KXAPI_RESULT EventPipeRegister(const std::wstring& pipeName, uint64_t eventMask);
    // The 4-byte close message; no reply is read.
    DemodMsg CloseMessage() const { return DemodBuildCodeOnly(0xFFFFFFFFu); }

    // Fixed-layout commands.
    KXAPI_RESULT ControlGetOld(OldStyleParsWire& pars);
    KXAPI_RESULT ControlSetOld(const OldStyleParsWire& pars);
    KXAPI_RESULT TuneOld(int64_t freqHz, const OldStyleParsWire& pars);
    KXAPI_RESULT LockMerGet(bool& locked, int32_t& merTenthsDb);
    KXAPI_RESULT TuneParsGet(KxTunePars& pars);
    KXAPI_RESULT TuneParsSet(KxTunePars& pars); // pars receives the words after the call
    KXAPI_RESULT TunerFreqGetOld(int64_t& freqHz);
    KXAPI_RESULT TunerFreqSetOld(int64_t freqHz);
    KXAPI_RESULT LnbEnable(bool enable);
    KXAPI_RESULT LnbVoltageSet(uint32_t level);
    KXAPI_RESULT LnbToneEnable(bool enable);
    KXAPI_RESULT LnbBurstSend(uint32_t burst);
    KXAPI_RESULT LnbDiseqcSend(const std::vector<uint8_t>& message, int32_t replyCapacity, std::vector<uint8_t>& reply);
    KXAPI_RESULT AntPowerSet(int32_t mode);
    KXAPI_RESULT AgcReset(uint32_t what);
    KXAPI_RESULT TuningModeSet(int32_t mode);
    KXAPI_RESULT StatsModeSet(int32_t mode0, int32_t mode1);
    KXAPI_RESULT StatisticsGetOld(const std::vector<int32_t>& ids, std::vector<TStatPars>& stats);
    KXAPI_RESULT SupportedStatsGetOld(int32_t capacity, std::vector<int32_t>& ids);
    KXAPI_RESULT ConstelGetOld(int32_t count, std::vector<KxConstelPoint>& points);
    // Fixed-layout blind scan: found holds at most req.m_MaxTransmitters records, numFound the
    // transmitters found (more than the room with KXAPI_E_BUF_TOO_SMALL).
    KXAPI_RESULT BlindScanOld(const BlindScanOldReq& req, std::vector<KxTransmitter>& found, int32_t& numFound);
    KXAPI_RESULT BlindScanCancel();
    KXAPI_RESULT SpectrumScanCancel();

    // Generic (XML) commands.
    // One exchange of a generic command: the reply's result with its text.
    KXAPI_RESULT TransferGeneric(uint32_t cmd, const std::wstring& requestXml, std::wstring& replyXml);
    KXAPI_RESULT ControlGet(KxDemodPars& pars);
    KXAPI_RESULT ControlSet(const KxDemodPars& pars);
    KXAPI_RESULT Tune(int64_t freqHz, const KxDemodPars& pars);
    // Statistics as "kxstat" lists: a reply with another number of elements than the
    // request is KXAPI_E_INTERNAL.
    KXAPI_RESULT GetStatisticsXml(const std::wstring& requestList, std::wstring& replyList);
    KXAPI_RESULT Equalise(int64_t setting);
    KXAPI_RESULT TunerFrequencyGet(int32_t tunerId, int64_t& freqHz);
    KXAPI_RESULT TunerFrequencySet(int64_t freqHz, int32_t tunerId);
    KXAPI_RESULT StatisticsPollingEnable(bool enable);
    KXAPI_RESULT BlindScan(const KxDemodPars& pars, int64_t stepHz, int64_t startFreqHz, int64_t endFreqHz);
    KXAPI_RESULT SpectrumScan(int32_t scanType, int64_t stepHz, int64_t startFreqHz, int64_t endFreqHz);
    KXAPI_RESULT GetAttribute(int32_t port, int32_t attributeId, int64_t& value);
    KXAPI_RESULT CloseStream(int64_t streamId);
    // Reads the named statistics (id and extra ids set by the caller) and stores results and
    // values in place; KXAPI_E_INTERNAL when the reply holds another number of statistics.
    KXAPI_RESULT GetStatistics(KxStatistic* stats, int count);
    // At most capacity supported statistics.
    KXAPI_RESULT GetSupportedStatistics(int32_t capacity, std::vector<KxStatistic>& stats);
    // Exactly numPoints points ("KxConstPoint" elements with "X" and "Y") or KXAPI_E_INTERNAL.
    KXAPI_RESULT ConstellationPointsGet(int32_t numPoints, int64_t streamId, std::vector<KxConstelPoint>& points);
    KXAPI_RESULT StreamSelGet(KxDvbC2StreamSelPars& pars);
    KXAPI_RESULT StreamSelSet(const KxDvbC2StreamSelPars& pars);
    KXAPI_RESULT StreamSelGet(KxDvbT2StreamSelPars& pars);
    KXAPI_RESULT StreamSelSet(const KxDvbT2StreamSelPars& pars);
    KXAPI_RESULT StreamSelGet(std::vector<KxStreamSelPars>& list);
    KXAPI_RESULT OpenStream(const KxStreamSelPars& pars);

private:
    KXAPI_RESULT Simple(const DemodMsg& request, size_t expectedSize = 8);
    // Transfers the request and hands the reply body to parse(body, size).
    template <class Parse> KXAPI_RESULT Exchange(const DemodMsg& request, Parse parse);
    IDemodSvcTransport* m_pTransport;
    XpCritSecPtr m_pLock;
    // GetStatistics: the list last sent and its request (a poll repeats the same list, whose
    // request is then not serialised again), the reply buffer, the reply's document and the
    // statistics read from it, all kept so that a steady poll allocates nothing; guarded by
    // m_pLock.
    std::vector<KxStatistic> m_StatsSent;
    DemodMsg m_StatsRequest;
    DemodMsg m_StatsReply;
    Markup m_StatsDoc;
    std::vector<KxStatistic> m_StatsAnswered;
};

} // namespace Kxapi
