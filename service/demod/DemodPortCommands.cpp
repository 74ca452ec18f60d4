// Port command acceptance (ProcessDemodMsg, on client handler threads) and execution
// (ProcessDemodCommand: the validation pass on the client's thread, the real run on the
// worker thread or, for commands that are not queued, right away).
#include <mutex>
#include <new>
#include <utility>

#include "CritSecAutoLockSvc.h"
#include "DemodHal.h"
#include "DemodPortController.h"
#include "DemodSvcGeneric.h"
#include "DemodSvcProtocol.h"
#include "DemodSvcValidation.h"
#include "KxCheckedMath.h"
#include "KxWire.h"
#include "Markup.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr unsigned int DONE_SLICE_MS = 100;
// A reply travels with a 16-bit size.
constexpr size_t MAX_REPLY_SIZE = 65535;

bool IsGenericWithText(int32_t code)
{
    switch (code) {
    case DEMOD_CMD_CONTROL_SET:
    case DEMOD_CMD_TUNE:
    case DEMOD_CMD_GET_STATISTICS:
    case DEMOD_CMD_STREAM_SEL_SET_C2:
    case DEMOD_CMD_STREAM_SEL_SET_T2:
    case DEMOD_CMD_EQUALISE:
    case DEMOD_CMD_TUNER_FREQ_GET:
    case DEMOD_CMD_TUNER_FREQ_SET:
    case DEMOD_CMD_STATS_POLLING_ENABLE:
    case DEMOD_CMD_BLIND_SCAN:
    case DEMOD_CMD_SPECTRUM_SCAN:
    case DEMOD_CMD_GET_SUPPORTED_STATS:
    case DEMOD_CMD_GET_ATTRIBUTE:
    case DEMOD_CMD_CONSTEL_POINTS_GET:
    case DEMOD_CMD_OPEN_STREAM:
    case DEMOD_CMD_CLOSE_STREAM:
        return true;
    default:
        return false;
    }
}

// The value of a statistic as a 32-bit integer (int, bool or rounded double).
int32_t StatInt(const KxStatistic& stat)
{
    const KxStatistic::Value& v = stat.GetRawValue();
    if (const int32_t* i = std::get_if<int32_t>(&v))
        return *i;
    if (const bool* b = std::get_if<bool>(&v))
        return *b ? 1 : 0;
    if (const double* d = std::get_if<double>(&v))
        return static_cast<int32_t>(*d);
    return 0;
}

} // namespace

// ---- Acceptance -------------------------------------------------------------------------------

DemodMsg DemodPortController::ResultMsg(uint32_t code, KXAPI_RESULT result)
{
    DemodMsg msg(DEMOD_REPLY_HEADER_SIZE);
    KxPutU32(msg.data(), 0, code);
    KxPutU32(msg.data(), 4, result);
    return msg;
}

void DemodPortController::SendResult(IDemodPortClient* pClient, uint32_t code, KXAPI_RESULT result)
{
    SendReply(pClient, ResultMsg(code, result));
}

void DemodPortController::SendReply(IDemodPortClient* pClient, const DemodMsg& msg)
{
    if (pClient == nullptr || msg.size() < DEMOD_REPLY_HEADER_SIZE)
        return;
    if (msg.size() > MAX_REPLY_SIZE) {
        // Does not fit one reply: the client asked for more than a reply can carry.
        SendResult(pClient, KxGetU32(msg.data(), 0), KXAPI_E_BUF_TOO_SMALL);
        return;
    }
    pClient->DemodCmdProcessedCB(msg.data(), static_cast<unsigned short>(msg.size()));
}

void DemodPortController::CancelScansFor(const PortCmdType& cmd)
{
    if (cmd.m_ScanClass != DEMOD_SCAN_CLASS_BLIND && cmd.m_ScanClass != DEMOD_SCAN_CLASS_TUNING)
        return;
    if (m_BlindScanBusy.load()) {
        m_BlindScanCancel = true;
        const KXAPI_RESULT cancel = m_pHal->CancelBlindScan(m_Port);
        // A new blind scan starts only after the running one has ended.
        // Bounded: a scan that ignores its cancel cannot hold the port's command lock for
        // good; the new scan then simply waits in the queue behind it.
        if (cmd.m_Code == static_cast<int32_t>(DEMOD_CMD_BLIND_SCAN) && cancel != KXAPI_E_IDLE)
            WaitWhileScanBusy(m_BlindScanBusy, XpUtil::GetTickCount());
    }
    if (m_SpectrumScanBusy.load()) {
        m_SpectrumScanCancel = true;
        if (cmd.m_Code == static_cast<int32_t>(DEMOD_CMD_SPECTRUM_SCAN))
            WaitWhileScanBusy(m_SpectrumScanBusy, XpUtil::GetTickCount());
    }
}

// Waits for the worker to run a waitDone command and takes the reply it built. The worker runs
// queued commands only while the port has a user; a client whose attach was answered although
// the port refused it as first user counts no user, and its command would wait for ever with
// the command lock held. So the wait is cut into 100 ms slices, and when the port has no user
// (or is stopping) a command that the worker has not taken yet is withdrawn and answered
// KXAPI_E_NOT_ATTACHED. cmd may already be deleted by the worker: it is only compared, never read.
void DemodPortController::WaitForDone(const PortCmdType* cmd, uint32_t code, DemodMsg& reply)
{
    for (;;) {
        if (m_pDoneEvent->WaitTimeout(DONE_SLICE_MS) == KXAPI_OK) {
            std::lock_guard<std::mutex> done(m_DoneMutex);
            reply = std::move(m_DoneReply);
            m_DoneReply.clear();
            return;
        }
        if (m_UserCount.load() > 0 && !m_Stop.load())
            continue;
        if (PortCmdType* withdrawn = m_CmdQueue.Remove(cmd, &m_PendingCount)) {
            delete withdrawn;
            reply = ResultMsg(code, KXAPI_E_NOT_ATTACHED);
            return;
        }
        // Otherwise the worker has taken it: it builds the reply and signals the end.
    }
}

void DemodPortController::ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient)
{
    if (pMsg == nullptr || size < static_cast<int>(DEMOD_REQUEST_HEADER_SIZE))
        return; // no command in it: ignored without a reply
    const uint32_t code = KxGetU32(pMsg, 0);
    if (!m_Initialised.load()) {
        SendResult(pClient, code, KXAPI_E_NOT_INITIALIZED);
        return;
    }
    KXAPI_RESULT result = KXAPI_OK;
    PortCmdType* cmd = PortCmdType::Create(pMsg, static_cast<unsigned int>(size), pClient, result);
    if (cmd == nullptr) {
        SendResult(pClient, code, result);
        return;
    }
    DemodMsg reply;
    if (code == DEMOD_CMD_EVENT_PIPE_REGISTER) {
        // Connecting to the client's event FIFO is a handshake with the client: it runs
        // without the command lock, so a client that never answers holds up only itself.
        ProcessDemodCommand(*cmd, true, &reply);
        delete cmd;
    } else {
        AcceptDemodMsg(cmd, reply);
    }
    // Written once no lock of the port is held: a client that does not read its replies
    // blocks only its own connection.
    SendReply(pClient, reply);
}

void DemodPortController::AcceptDemodMsg(PortCmdType* cmd, DemodMsg& reply)
{
    CritSecAutoLockSvc lock(m_pCmdLock);
    CancelScansFor(*cmd);
    if (!cmd->m_Queued) {
        ProcessDemodCommand(*cmd, true, &reply);
        delete cmd;
        return;
    }
    if (!cmd->m_WaitDone && !ProcessDemodCommand(*cmd, false, &reply)) {
        delete cmd; // refused by its checks; reply holds the error
        return;
    }
    if (cmd->m_SuspendsStats) {
        m_StatisticsCache.Enable(false);
        m_PendingCount++;
    }
    const bool waitDone = cmd->m_WaitDone;
    const uint32_t code = static_cast<uint32_t>(cmd->m_Code);
    m_CmdQueue.Add(cmd, &m_PendingCount); // cmd belongs to the queue (or the worker) now
    m_pQueueEvent->Set();
    if (waitDone)
        WaitForDone(cmd, code, reply);
}

// ---- Execution ----------------------------------------------------------------------------------

bool DemodPortController::ProcessDemodCommand(PortCmdType& cmd, bool execute, DemodMsg* pReply)
{
    const uint32_t code = static_cast<uint32_t>(cmd.m_Code);
    int64_t newFreqHz = 0;
    KxDemodPars newPars;
    {
        CritSecAutoLockSvc lock(m_pParsLock);
        newFreqHz = m_TuneFreqHz;
        newPars = m_TunePars;
    }
    int tunerId = -1;
    DemodMsg replyMsg;
    KXAPI_RESULT result;
    try {
        result = ExecuteCommand(cmd, execute, replyMsg, newFreqHz, newPars, tunerId);
    } catch (const std::bad_alloc&) {
        if (pReply != nullptr)
            *pReply = ResultMsg(code, KXAPI_E_OUT_OF_MEM);
        return false;
    }
    if (pReply != nullptr)
        *pReply = replyMsg.size() >= DEMOD_REPLY_HEADER_SIZE ? std::move(replyMsg) : ResultMsg(code, result);
    if (result != KXAPI_OK)
        return false;
    if (execute && cmd.m_SuspendsStats && tunerId != 1) {
        int64_t oldFreqHz;
        KxDemodPars oldPars;
        {
            CritSecAutoLockSvc lock(m_pParsLock);
            oldFreqHz = m_TuneFreqHz;
            oldPars = m_TunePars;
        }
        if (newFreqHz != oldFreqHz)
            FireTuneFreqHasChangedEvent(cmd.m_pClient, oldFreqHz, newFreqHz);
        FireTuneParsHaveChangedEvent(cmd.m_pClient, oldFreqHz, oldPars, newFreqHz, newPars);
        {
            CritSecAutoLockSvc lock(m_pParsLock);
            m_TuneFreqHz = newFreqHz;
            m_TunePars = newPars;
        }
        m_Retune = true;
    }
    return true;
}

KXAPI_RESULT DemodPortController::ExecuteCommand(PortCmdType& cmd, bool execute, DemodMsg& replyMsg,
                                                 int64_t& newFreqHz, KxDemodPars& newPars, int& tunerId)
{
    const uint8_t* body = cmd.Msg();
    const size_t size = cmd.m_Size;
    const uint32_t code = static_cast<uint32_t>(cmd.m_Code);
    const int port = m_Port;
    KXAPI_RESULT r = KXAPI_OK;

    if (IsGenericWithText(cmd.m_Code) || code == DEMOD_CMD_CONTROL_GET || code == DEMOD_CMD_STREAM_SEL_GET_C2 ||
        code == DEMOD_CMD_STREAM_SEL_GET_T2 || code == DEMOD_CMD_STREAM_SEL_GET_LIST)
        return ExecuteGenericCommand(cmd, execute, replyMsg, newFreqHz, newPars, tunerId);

    switch (code) {
    case DEMOD_CMD_INIT_DEMODULATOR:
        return KXAPI_OK;

    case DEMOD_CMD_CONSTEL_GET_OLD: {
        int32_t count = 0;
        r = DemodParseConstelReq(body, size, count);
        if (r != KXAPI_OK)
            return r;
        size_t replySize = 0;
        if (!KxCheckedRecordSize(count, DEMOD_MAX_CONSTEL_POINTS, 8, KXCONSTELPOINT_SIZE, MAX_REPLY_SIZE, replySize))
            return KXAPI_E_INVALID_PARS;
        std::vector<KxConstelPoint> points(static_cast<size_t>(count));
        r = m_pHal->GetConstellationPoints(port, count, points.data(), -1, execute);
        if (r != KXAPI_OK)
            return r;
        replyMsg = DemodBuildConstelReply(r, points);
        return r;
    }

    case DEMOD_CMD_CONTROL_GET_OLD: {
        KxDemodPars pars;
        r = m_StatisticsCache.GetDemodPars(pars);
        OldStyleParsWire wire;
        if (r == KXAPI_OK)
            r = pars.ToOldStyle(wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
        if (r != KXAPI_OK)
            return r;
        replyMsg = DemodBuildControlGetOldReply(r, wire);
        return r;
    }

    case DEMOD_CMD_LOCK_MER_GET_OLD: {
        KxStatistic stats[2] = {KxStatistic(KX_STAT_LOCK), KxStatistic(KX_STAT_MER)};
        if (m_StatisticsCache.GetStatistics(2, stats, false) != KXAPI_OK)
            stats[0].m_Result = stats[1].m_Result = static_cast<int32_t>(KXAPI_E_DEV_DRIVER);
        if (stats[0].m_Result == static_cast<int32_t>(KXAPI_OK) && stats[1].m_Result == static_cast<int32_t>(KXAPI_OK))
            r = KXAPI_OK;
        else if (stats[1].m_Result == static_cast<int32_t>(KXAPI_E_LOCKED))
            r = KXAPI_OK;
        else
            r = KXAPI_E_DEV_DRIVER;
        bool locked = false;
        stats[0].GetValue(locked);
        replyMsg = DemodBuildLockMerReply(r, locked, StatInt(stats[1]));
        return r;
    }

    case DEMOD_CMD_UNSUPPORTED_8:
    case DEMOD_CMD_UNSUPPORTED_9:
    case DEMOD_CMD_UNSUPPORTED_10:
        replyMsg = DemodBuildNotSupportedReply(code);
        return KXAPI_E_NOT_SUPPORTED;

    case DEMOD_CMD_TUNE_PARS_GET: {
        KxTunePars pars;
        r = m_pHal->GetTunePars(port, &pars, execute);
        if (r != KXAPI_OK)
            return r;
        replyMsg = DemodBuildTuneParsReply(code, r, pars);
        return r;
    }

    case DEMOD_CMD_TUNE_PARS_SET: {
        KxTunePars pars;
        r = DemodParseTuneParsSetReq(body, size, pars);
        if (r != KXAPI_OK)
            return r;
        r = m_pHal->SetTunePars(port, &pars, execute);
        replyMsg = DemodBuildTuneParsReply(code, r, pars);
        return r;
    }

    case DEMOD_CMD_TUNER_FREQ_GET_OLD: {
        long long freqHz = 0;
        r = m_StatisticsCache.GetTunerFrequency(freqHz, -1);
        if (r != KXAPI_OK)
            return r;
        replyMsg = DemodBuildFreqGetReply(r, freqHz);
        return r;
    }

    case DEMOD_CMD_TUNER_FREQ_SET_OLD: {
        int64_t freqHz = 0;
        r = DemodParseFreqSetReq(body, size, freqHz);
        if (r != KXAPI_OK)
            return r;
        newFreqHz = freqHz;
        return m_pHal->SetTunerFrequency(port, freqHz, -1, execute);
    }

    case DEMOD_CMD_CONTROL_SET_OLD: {
        OldStyleParsWire wire;
        r = DemodParseControlSetOldReq(body, size, wire);
        if (r != KXAPI_OK)
            return r;
        KxDemodPars pars;
        r = pars.FromOldStyle(wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
        if (r != KXAPI_OK)
            return r;
        newPars = pars;
        return m_pHal->SetDemodControl(port, newPars, execute);
    }

    case DEMOD_CMD_LNB_ENABLE:
    case DEMOD_CMD_LNB_TONE_ENABLE: {
        bool on = false;
        r = DemodParseBoolReq(body, size, on);
        if (r != KXAPI_OK)
            return r;
        return code == DEMOD_CMD_LNB_ENABLE ? m_pHal->LnbEnable(port, on, execute)
                                            : m_pHal->LnbEnableTone(port, on, execute);
    }

    case DEMOD_CMD_LNB_VOLTAGE_SET:
    case DEMOD_CMD_LNB_BURST_SEND:
    case DEMOD_CMD_ANT_POWER_SET:
    case DEMOD_CMD_AGC_RESET:
    case DEMOD_CMD_TUNING_MODE_SET: {
        uint32_t value = 0;
        r = DemodParseWordReq(body, size, value);
        if (r != KXAPI_OK)
            return r;
        switch (code) {
        case DEMOD_CMD_LNB_VOLTAGE_SET:
            return m_pHal->LnbSetVoltage(port, value, execute);
        case DEMOD_CMD_LNB_BURST_SEND:
            return m_pHal->LnbSendBurst(port, value, execute);
        case DEMOD_CMD_ANT_POWER_SET:
            return m_pHal->SetAntPower(port, static_cast<int>(value), execute);
        case DEMOD_CMD_AGC_RESET:
            return m_pHal->ResetAgc(port, value, execute);
        default:
            return m_pHal->SetTuningMode(port, static_cast<int>(value), execute);
        }
    }

    case DEMOD_CMD_LNB_DISEQC_SEND: {
        int32_t capacity = 0;
        std::vector<uint8_t> message;
        r = DemodParseDiseqcReq(body, size, capacity, message);
        if (r != KXAPI_OK)
            return KXAPI_E_INVALID_PARS;
        std::vector<uint8_t> answer(static_cast<size_t>(capacity));
        int length = capacity;
        r = m_pHal->LnbSendDiseqcMessage(port, message.data(), static_cast<int>(message.size()),
                                          capacity > 0 ? answer.data() : nullptr, &length, execute);
        if (r != KXAPI_OK)
            return r;
        // The reply carries what the HAL reports, never more than the buffer it was given.
        if (length < 0)
            length = 0;
        if (length > capacity)
            length = capacity;
        answer.resize(static_cast<size_t>(length));
        replyMsg = DemodBuildDiseqcReply(r, answer);
        return r;
    }

    case DEMOD_CMD_BLIND_SCAN_OLD: {
        BlindScanOldReq req;
        r = DemodParseBlindScanOldReq(body, size, req);
        if (r != KXAPI_OK)
            return KXAPI_E_INVALID_PARS;
        size_t replySize = 0;
        if (!KxCheckedRecordSize(req.m_MaxTransmitters, DEMOD_MAX_TRANSMITTERS, 16, KXTRANSMITTER_SIZE, MAX_REPLY_SIZE,
                                 replySize))
            return KXAPI_E_INVALID_PARS;
        std::vector<KxTransmitter> found(static_cast<size_t>(req.m_MaxTransmitters));
        int count = 0;
        KxDemodPars pars; // no modulation type: the HAL's automatic blind-scan parameters
        r = BlindScan(cmd.m_pClient, req.m_MaxTransmitters, count, found.data(), pars, req.m_StepHz,
                      req.m_StartFreqHz, req.m_EndFreqHz, execute);
        const int filled = count < req.m_MaxTransmitters ? count : req.m_MaxTransmitters;
        found.resize(static_cast<size_t>(filled));
        replyMsg = DemodBuildBlindScanOldReply(r, req.m_MaxTransmitters, found);
        KxPutI32(replyMsg.data(), 8, count); // the full count, also when it exceeds the room
        return r;
    }

    case DEMOD_CMD_EVENT_PIPE_REGISTER: {
        std::wstring name;
        uint64_t mask = 0;
        r = DemodParseEventRegisterReq(body, size, name, mask);
        if (r != KXAPI_OK)
            return r;
        return EventPipeRegister(name, mask, cmd.m_pClient, execute);
    }

    case DEMOD_CMD_TUNE_OLD: {
        int64_t freqHz = 0;
        OldStyleParsWire wire;
        r = DemodParseTuneOldReq(body, size, freqHz, wire);
        if (r != KXAPI_OK)
            return r;
        newFreqHz = freqHz;
        KxDemodPars pars;
        r = pars.FromOldStyle(wire.m_ModType, wire.m_ParXtra0, wire.m_ParXtra1, wire.m_ParXtra2);
        if (r != KXAPI_OK)
            return r;
        newPars = pars;
        return m_pHal->Tune(port, freqHz, newPars, execute);
    }

    case DEMOD_CMD_STATISTICS_GET_OLD: {
        std::vector<int32_t> ids;
        r = DemodParseStatsOldReq(body, size, ids);
        if (r != KXAPI_OK)
            return KXAPI_E_INVALID_PARS;
        size_t replySize = 0;
        if (!KxCheckedRecordSize(static_cast<long long>(ids.size()), DEMOD_MAX_STATISTICS, 8, TSTATPARS_SIZE,
                                 MAX_REPLY_SIZE, replySize))
            return KXAPI_E_INVALID_PARS;
        std::vector<TStatPars> stats(ids.size());
        r = m_StatisticsCache.GetStatistics(static_cast<int>(ids.size()), ids.data(), stats.data(), true);
        if (r != KXAPI_OK)
            return r;
        replyMsg = DemodBuildStatsOldReply(r, stats);
        return r;
    }

    case DEMOD_CMD_SUPPORTED_STATS_GET_OLD: {
        int32_t capacity = 0;
        r = DemodParseSupportedOldReq(body, size, capacity);
        if (r != KXAPI_OK)
            return r;
        if (capacity < 0 || capacity > DEMOD_MAX_STATISTICS)
            return KXAPI_E_INVALID_PARS;
        std::vector<int32_t> ids(static_cast<size_t>(capacity));
        int count = capacity;
        r = m_StatisticsCache.GetSupportedStatistics(count, ids.data());
        if (r != KXAPI_OK)
            return r;
        if (count < 0 || count > capacity)
            count = capacity;
        ids.resize(static_cast<size_t>(count));
        replyMsg = DemodBuildSupportedOldReply(r, capacity, ids);
        return r;
    }

    case DEMOD_CMD_STATS_MODE_SET: {
        int32_t mode0 = 0;
        int32_t mode1 = 0;
        r = DemodParseStatsModeReq(body, size, mode0, mode1);
        if (r != KXAPI_OK)
            return r;
        return m_pHal->SetErrorStatsMode(port, mode0, mode1, execute);
    }

    case DEMOD_CMD_BLIND_SCAN_CANCEL:
        if (!m_BlindScanBusy.load())
            return KXAPI_E_IDLE;
        CancelBlindScan();
        return KXAPI_OK;

    case DEMOD_CMD_SPECTRUM_SCAN_CANCEL:
        if (!m_SpectrumScanBusy.load())
            return KXAPI_E_IDLE;
        m_SpectrumScanCancel = true;
        return KXAPI_OK;

    default:
        return KXAPI_E_NOT_SUPPORTED;
    }
}

KXAPI_RESULT DemodPortController::ExecuteGenericCommand(PortCmdType& cmd, bool execute, DemodMsg& replyMsg,
                                                        int64_t& newFreqHz, KxDemodPars& newPars, int& tunerId)
{
    const uint8_t* body = cmd.Msg();
    const size_t size = cmd.m_Size;
    const uint32_t code = static_cast<uint32_t>(cmd.m_Code);
    const int port = m_Port;
    KXAPI_RESULT r = KXAPI_OK;
    std::wstring text;
    Markup doc;
    if (IsGenericWithText(cmd.m_Code)) {
        r = DemodOpenGenericRequest(body, size, doc);
        if (r != KXAPI_OK)
            return r;
        // The statistics read works on the parsed document alone: no wide copy of its text.
        if (code != DEMOD_CMD_GET_STATISTICS && DemodParseGenericReq(body, size, text) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
    }
    auto replyXml = [&](const std::wstring& xml) { replyMsg = DemodBuildGenericReply(code, KXAPI_OK, xml); };

    switch (code) {
    case DEMOD_CMD_CONTROL_GET: {
        KxDemodPars pars;
        r = m_StatisticsCache.GetDemodPars(pars);
        std::wstring xml;
        if (r == KXAPI_OK)
            r = pars.ToXml(xml);
        if (r == KXAPI_OK)
            replyXml(xml);
        return r;
    }

    case DEMOD_CMD_CONTROL_SET: {
        KxDemodPars pars;
        r = pars.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        newPars = pars;
        return m_pHal->SetDemodControl(port, newPars, execute);
    }

    case DEMOD_CMD_TUNE: {
        int64_t freqHz = 0;
        r = DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, freqHz);
        if (r != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        newFreqHz = freqHz;
        KxDemodPars pars;
        r = pars.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        newPars = pars;
        return m_pHal->Tune(port, freqHz, newPars, execute);
    }

    case DEMOD_CMD_GET_STATISTICS: {
        std::vector<KxStatistic> stats;
        r = KxStatistic::FromXml(doc, stats, static_cast<size_t>(DEMOD_MAX_STATISTICS));
        if (r != KXAPI_OK)
            return r;
        // An empty list is answered with the cache's result and an empty list.
        r = m_StatisticsCache.GetStatistics(static_cast<int>(stats.size()), stats.data(), true);
        if (r != KXAPI_OK)
            return r;
        std::wstring xml;
        r = KxStatistic::ToXml(stats.data(), static_cast<int>(stats.size()), xml);
        if (r == KXAPI_OK)
            replyXml(xml);
        return r;
    }

    case DEMOD_CMD_STREAM_SEL_GET_C2:
    case DEMOD_CMD_STREAM_SEL_GET_T2: {
        std::wstring xml;
        if (code == DEMOD_CMD_STREAM_SEL_GET_C2) {
            KxDvbC2StreamSelPars sel;
            r = m_StatisticsCache.GetStreamSelection(sel);
            if (r == KXAPI_OK)
                r = sel.ToXml(xml);
        } else {
            KxDvbT2StreamSelPars sel;
            r = m_StatisticsCache.GetStreamSelection(sel);
            if (r == KXAPI_OK)
                r = sel.ToXml(xml);
        }
        if (r == KXAPI_OK)
            replyXml(xml);
        return r;
    }

    case DEMOD_CMD_STREAM_SEL_SET_C2: {
        KxDvbC2StreamSelPars sel;
        r = sel.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        return m_pHal->SetStreamSelection(port, sel, execute);
    }

    case DEMOD_CMD_STREAM_SEL_SET_T2: {
        KxDvbT2StreamSelPars sel;
        r = sel.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        return m_pHal->SetStreamSelection(port, sel, execute);
    }

    case DEMOD_CMD_EQUALISE: {
        int32_t setting = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_EQUALISER_SETTING, setting) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        return m_pHal->EnableEqualiser(port, setting, execute);
    }

    case DEMOD_CMD_TUNER_FREQ_GET: {
        int32_t id = -1;
        if (DemodGetIntElem(doc, DEMOD_ELEM_TUNER_ID, id) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        tunerId = id;
        long long freqHz = 0;
        r = m_StatisticsCache.GetTunerFrequency(freqHz, id);
        if (r != KXAPI_OK)
            return r;
        std::wstring xml;
        DemodAppendIntElem(xml, DEMOD_ELEM_FREQ_HZ, freqHz);
        replyXml(xml);
        return r;
    }

    case DEMOD_CMD_TUNER_FREQ_SET: {
        int64_t freqHz = 0;
        int32_t id = -1;
        if (DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ, freqHz) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_TUNER_ID, id) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        newFreqHz = freqHz;
        tunerId = id;
        return m_pHal->SetTunerFrequency(port, freqHz, id, execute);
    }

    case DEMOD_CMD_STATS_POLLING_ENABLE: {
        int64_t enable = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_ENABLE, enable) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        SetStatisticPollEnable(enable != 0);
        return KXAPI_OK;
    }

    case DEMOD_CMD_BLIND_SCAN: {
        int64_t stepHz = 0;
        int64_t startHz = 0;
        int64_t endHz = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_START_FREQ_HZ, startHz) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_END_FREQ_HZ, endHz) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        KxDemodPars pars;
        r = pars.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        if (execute)
            SetEventFlags({{DEMOD_EVENT_BLIND_SCAN, true}}, cmd.m_pClient);
        int found = 0;
        r = BlindScan(cmd.m_pClient, 0, found, nullptr, pars, stepHz, startHz, endHz, execute);
        // A scan that ended before its first report (its checks failed) sends nothing more.
        if (execute)
            SetEventFlags({{DEMOD_EVENT_BLIND_SCAN, false}}, cmd.m_pClient);
        return r;
    }

    case DEMOD_CMD_SPECTRUM_SCAN: {
        int32_t scanType = 0;
        int64_t stepHz = 0;
        int64_t startHz = 0;
        int64_t endHz = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_SCAN_TYPE, scanType) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_FREQ_HZ_STEPS, stepHz) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_START_FREQ_HZ, startHz) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_END_FREQ_HZ, endHz) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        if (execute)
            SetEventFlags({{DEMOD_EVENT_SPECTRUM_SCAN, true}}, cmd.m_pClient);
        r = SpectrumScan(cmd.m_pClient, scanType, stepHz, startHz, endHz, execute);
        if (execute)
            SetEventFlags({{DEMOD_EVENT_SPECTRUM_SCAN, false}}, cmd.m_pClient);
        return r;
    }

    case DEMOD_CMD_GET_SUPPORTED_STATS: {
        int32_t capacity = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_COUNT, capacity) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        if (capacity < 0 || capacity > DEMOD_MAX_STATISTICS)
            return KXAPI_E_INVALID_PARS;
        std::vector<KxStatistic> list(static_cast<size_t>(capacity));
        int count = capacity;
        r = m_StatisticsCache.GetSupportedStatistics(count, list.data());
        if (r != KXAPI_OK)
            return r;
        if (count < 0 || count > capacity)
            count = capacity;
        std::wstring xml;
        r = KxStatistic::ToXml(list.data(), count, xml);
        if (r == KXAPI_OK)
            replyXml(xml);
        return r;
    }

    case DEMOD_CMD_GET_ATTRIBUTE: {
        int32_t id = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_ATTRIBUTE_ID, id) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        int value = 0;
        r = m_pHal->GetAttribute(port, id, value, execute);
        if (r != KXAPI_OK)
            return r;
        std::wstring xml;
        DemodAppendIntElem(xml, DEMOD_ELEM_VALUE, value);
        replyXml(xml);
        return r;
    }

    case DEMOD_CMD_CONSTEL_POINTS_GET: {
        int32_t count = 0;
        int32_t streamId = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_NUM_POINTS, count) != KXAPI_OK ||
            DemodGetIntElem(doc, DEMOD_ELEM_STREAM_ID, streamId) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        if (count < 0 || count > DEMOD_MAX_CONSTEL_POINTS)
            return KXAPI_E_INVALID_PARS;
        std::vector<KxConstelPoint> points(static_cast<size_t>(count));
        r = m_pHal->GetConstellationPoints(port, count, points.data(), streamId, execute);
        if (r != KXAPI_OK)
            return r;
        std::wstring xml;
        DemodAppendConstPointElems(xml, points);
        replyXml(xml);
        return r;
    }

    case DEMOD_CMD_OPEN_STREAM: {
        KxStreamSelPars sel;
        r = sel.FromXml(text);
        if (r != KXAPI_OK)
            return r;
        return m_pHal->OpenStream(port, sel, execute);
    }

    case DEMOD_CMD_CLOSE_STREAM: {
        int64_t streamId = 0;
        if (DemodGetIntElem(doc, DEMOD_ELEM_STREAM_ID, streamId) != KXAPI_OK)
            return KXAPI_E_INTERNAL;
        return m_pHal->CloseStream(port, streamId, execute);
    }

    case DEMOD_CMD_STREAM_SEL_GET_LIST: {
        std::vector<KxStreamSelPars> list;
        r = m_pHal->GetStreamSelection(port, list);
        if (r != KXAPI_OK)
            return r;
        std::wstring xml;
        r = KxStreamSelPars::ToXml(list, xml);
        replyMsg = DemodBuildGenericReply(code, r, r == KXAPI_OK ? xml : std::wstring());
        return r;
    }

    default:
        return KXAPI_E_NOT_SUPPORTED;
    }
}
