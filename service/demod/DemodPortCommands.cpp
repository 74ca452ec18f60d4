// Port command acceptance (ProcessDemodMsg, on client handler threads) and execution
// (ProcessDemodCommand: the validation pass on the client's thread, the real run on the
// worker thread or, for commands that are not queued, right away).
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <variant>

#include "CritSecAutoLockSvc.h"
#include "DemodHal.h"
#include "DemodPortController.h"
#include "DemodRequestReuse.h"
#include "DemodSvcProtocol.h"
#include "KxWire.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr unsigned int DONE_SLICE_MS = 100;

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

void DemodPortController::PutResultMsg(DemodMsg& msg, uint32_t code, KXAPI_RESULT result)
{
    msg.resize(DEMOD_REPLY_HEADER_SIZE);
    KxPutU32(msg.data(), 0, code);
    KxPutU32(msg.data(), 4, result);
}

void DemodPortController::SendResult(IDemodPortClient* pClient, uint32_t code, KXAPI_RESULT result)
{
    SendReply(pClient, ResultMsg(code, result));
}

void DemodPortController::SendReply(IDemodPortClient* pClient, const DemodMsg& msg)
{
    if (pClient == nullptr || msg.size() < DEMOD_REPLY_HEADER_SIZE)
        return;
    if (msg.size() > DEMOD_MAX_REPLY_SIZE) {
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
    ProcessDemodMsg(pMsg, size, pClient, nullptr);
}

void DemodPortController::ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient,
                                          DemodRequestReuse* pReuse)
{
    if (pMsg == nullptr || size < static_cast<int>(DEMOD_REQUEST_HEADER_SIZE))
        return; // no command in it: ignored without a reply
    const uint32_t code = KxGetU32(pMsg, 0);
    if (!m_Initialised.load()) {
        SendResult(pClient, code, KXAPI_E_NOT_INITIALIZED);
        return;
    }
    // The same bytes as the kept read request: the reply built for it while the cache has
    // not changed since, else its decoded form run again.
    if (PortCmdType* kept = pReuse != nullptr ? pReuse->Find(pMsg, static_cast<size_t>(size)) : nullptr) {
        if (kept->m_pClient == pClient) {
            const uint64_t version = m_StatisticsCache.Version();
            if (const DemodMsg* same = pReuse->ReplyOfKept(version)) {
                SendReply(pClient, *same);
                return;
            }
            DemodMsg& reply = pReuse->Reply();
            reply.clear();
            ReadFromCache(*kept, reply);
            pReuse->SetReplyOfKept(version);
            SendReply(pClient, reply);
            pReuse->Trim();
            return;
        }
    }
    DemodMsg ownReply;
    DemodMsg& reply = pReuse != nullptr ? pReuse->Reply() : ownReply;
    reply.clear();
    KXAPI_RESULT result = KXAPI_OK;
    PortCmdType* cmd = PortCmdType::Create(pMsg, static_cast<unsigned int>(size), pClient, result);
    if (cmd == nullptr) {
        SendResult(pClient, code, result);
        return;
    }
    if (pReuse != nullptr && DemodRequestReuse::Reusable(*cmd)) {
        cmd = pReuse->Keep(cmd);
        const uint64_t version = m_StatisticsCache.Version();
        ReadFromCache(*cmd, reply);
        pReuse->SetReplyOfKept(version);
    } else if (code == DEMOD_CMD_EVENT_PIPE_REGISTER) {
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
    if (pReuse != nullptr)
        pReuse->Trim();
}

// A read of the statistics cache changes nothing and is answered under the cache's own lock:
// it never waits behind another client's command (a DiSEqC exchange, a waited scan) holding
// the command lock, nor do many clients polling one port queue on that lock.
void DemodPortController::ReadFromCache(PortCmdType& cmd, DemodMsg& reply)
{
    ProcessDemodCommand(cmd, true, &reply);
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

// ---- Execution ----------------------------------------------------------------------------------

bool DemodPortController::ProcessDemodCommand(PortCmdType& cmd, bool execute, DemodMsg* pReply)
{
    const uint32_t code = static_cast<uint32_t>(cmd.m_Code);
    PortCmdRun run;
    run.m_pClient = cmd.m_pClient;
    run.m_Execute = execute;
    run.m_Reply = {code, cmd.m_Form};
    // The port's tuning is what a tuning command starts from; reads never need it.
    if (cmd.m_SuspendsStats) {
        CritSecAutoLockSvc lock(m_pParsLock);
        run.m_NewFreqHz = m_TuneFreqHz;
        run.m_NewPars = m_TunePars;
    }
    DemodMsg ownReply;
    DemodMsg& replyMsg = pReply != nullptr ? *pReply : ownReply;
    replyMsg.clear();
    KXAPI_RESULT result;
    try {
        result = RunCommand(cmd, run, replyMsg);
        if (replyMsg.size() < DEMOD_REPLY_HEADER_SIZE)
            PutResultMsg(replyMsg, code, result);
    } catch (const std::bad_alloc&) {
        if (pReply != nullptr)
            *pReply = ResultMsg(code, KXAPI_E_OUT_OF_MEM);
        return false;
    }
    if (KxapiFailed(result))
        return false;
    if (execute && cmd.m_SuspendsStats && run.m_TunerId != 1) {
        int64_t oldFreqHz;
        KxDemodPars oldPars;
        {
            CritSecAutoLockSvc lock(m_pParsLock);
            oldFreqHz = m_TuneFreqHz;
            oldPars = m_TunePars;
        }
        if (run.m_NewFreqHz != oldFreqHz)
            FireTuneFreqHasChangedEvent(cmd.m_pClient, oldFreqHz, run.m_NewFreqHz);
        FireTuneParsHaveChangedEvent(cmd.m_pClient, oldFreqHz, oldPars, run.m_NewFreqHz, run.m_NewPars);
        {
            CritSecAutoLockSvc lock(m_pParsLock);
            m_TuneFreqHz = run.m_NewFreqHz;
            m_TunePars = run.m_NewPars;
        }
        m_Retune = true;
    }
    return true;
}

// ---- Handlers, one per operation ----------------------------------------------------------------
// A handler runs with execute false for the check before a command is queued and with execute
// true for the real run; the HAL does nothing but its checks for the former.

template <> KXAPI_RESULT DemodPortController::Handle(const InitReq&, PortCmdRun&, NoResult&)
{
    return KXAPI_OK;
}

template <> KXAPI_RESULT DemodPortController::Handle(const EventRegisterReq& req, PortCmdRun& run, NoResult&)
{
    return EventPipeRegister(req.m_Name, req.m_Mask, run.m_pClient, run.m_Execute);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const ConstelReq& req, PortCmdRun& run, ConstelReq::Result& res)
{
    res.m_Points.resize(static_cast<size_t>(req.m_Count));
    return m_pHal->GetConstellationPoints(m_Port, req.m_Count, res.m_Points.data(), req.m_StreamId, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const ControlGetReq&, PortCmdRun&, DemodParsResult& res)
{
    return m_StatisticsCache.GetDemodPars(res.m_Pars);
}

template <> KXAPI_RESULT DemodPortController::Handle(const ControlSetReq& req, PortCmdRun& run, NoResult&)
{
    run.m_NewPars = req.m_Pars;
    return m_pHal->SetDemodControl(m_Port, run.m_NewPars, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const TuneReq& req, PortCmdRun& run, NoResult&)
{
    run.m_NewFreqHz = req.m_FreqHz;
    run.m_NewPars = req.m_Pars;
    return m_pHal->Tune(m_Port, req.m_FreqHz, run.m_NewPars, run.m_Execute);
}

// Locked and MER from the cache; a MER that needs a lock the port does not have is no failure.
template <> KXAPI_RESULT DemodPortController::Handle(const LockMerReq&, PortCmdRun&, LockMerResult& res)
{
    KxStatistic stats[2] = {KxStatistic(KX_STAT_LOCK), KxStatistic(KX_STAT_MER)};
    if (m_StatisticsCache.GetStatistics(2, stats, false) != KXAPI_OK)
        stats[0].m_Result = stats[1].m_Result = static_cast<int32_t>(KXAPI_E_DEV_DRIVER);
    stats[0].GetValue(res.m_Locked);
    res.m_MerTenthsDb = StatInt(stats[1]);
    if ((stats[0].m_Result == static_cast<int32_t>(KXAPI_OK) && stats[1].m_Result == static_cast<int32_t>(KXAPI_OK)) ||
        stats[1].m_Result == static_cast<int32_t>(KXAPI_E_LOCKED))
        return KXAPI_OK;
    return KXAPI_E_DEV_DRIVER;
}

template <> KXAPI_RESULT DemodPortController::Handle(const UnsupportedReq&, PortCmdRun&, NoResult&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

template <> KXAPI_RESULT DemodPortController::Handle(const TuneParsGetReq&, PortCmdRun& run, TuneParsResult& res)
{
    return m_pHal->GetTunePars(m_Port, &res.m_Pars, run.m_Execute);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const TuneParsSetReq& req, PortCmdRun& run, TuneParsResult& res)
{
    res.m_Pars = req.m_Pars;
    return m_pHal->SetTunePars(m_Port, &res.m_Pars, run.m_Execute);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const FreqGetReq& req, PortCmdRun& run, FreqGetReq::Result& res)
{
    run.m_TunerId = req.m_TunerId;
    return m_StatisticsCache.GetTunerFrequency(res.m_FreqHz, req.m_TunerId);
}

template <> KXAPI_RESULT DemodPortController::Handle(const FreqSetReq& req, PortCmdRun& run, NoResult&)
{
    run.m_NewFreqHz = req.m_FreqHz;
    run.m_TunerId = req.m_TunerId;
    return m_pHal->SetTunerFrequency(m_Port, req.m_FreqHz, req.m_TunerId, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const LnbEnableReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->LnbEnable(m_Port, req.m_On, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const LnbToneReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->LnbEnableTone(m_Port, req.m_On, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const LnbVoltageReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->LnbSetVoltage(m_Port, req.m_Value, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const LnbBurstReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->LnbSendBurst(m_Port, req.m_Value, run.m_Execute);
}

// The reply carries what the HAL reports, never more than the room the client asked for.
template <> KXAPI_RESULT DemodPortController::Handle(const DiseqcReq& req, PortCmdRun& run, DiseqcReq::Result& res)
{
    res.m_Answer.resize(static_cast<size_t>(req.m_Capacity));
    int length = req.m_Capacity;
    const KXAPI_RESULT r = m_pHal->LnbSendDiseqcMessage(m_Port, req.m_Message.data(),
                                                        static_cast<int>(req.m_Message.size()),
                                                        req.m_Capacity > 0 ? res.m_Answer.data() : nullptr, &length,
                                                        run.m_Execute);
    if (length < 0)
        length = 0;
    if (length > req.m_Capacity)
        length = req.m_Capacity;
    res.m_Answer.resize(static_cast<size_t>(length));
    return r;
}

template <> KXAPI_RESULT DemodPortController::Handle(const AntPowerReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->SetAntPower(m_Port, static_cast<int>(req.m_Value), run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const StatsModeReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->SetErrorStatsMode(m_Port, req.m_Mode0, req.m_Mode1, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const AgcResetReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->ResetAgc(m_Port, req.m_Value, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const TuningModeReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->SetTuningMode(m_Port, static_cast<int>(req.m_Value), run.m_Execute);
}

// From the cache, averaged; the request keeps its parsed list, the values go into a copy.
template <>
KXAPI_RESULT DemodPortController::Handle(const StatisticsReq& req, PortCmdRun&, StatisticsReq::Result& res)
{
    res.m_Stats = req.m_Stats;
    return m_StatisticsCache.GetStatistics(static_cast<int>(res.m_Stats.size()), res.m_Stats.data(), true);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const SupportedStatsReq& req, PortCmdRun&, SupportedStatsReq::Result& res)
{
    res.m_List.resize(static_cast<size_t>(req.m_Capacity));
    int count = req.m_Capacity;
    const KXAPI_RESULT r = m_StatisticsCache.GetSupportedStatistics(count, res.m_List.data());
    if (count < 0 || count > req.m_Capacity)
        count = req.m_Capacity;
    res.m_List.resize(static_cast<size_t>(count));
    return r;
}

template <>
KXAPI_RESULT DemodPortController::Handle(const StreamSelGetC2Req&, PortCmdRun&, StreamSelGetC2Req::Result& res)
{
    return m_StatisticsCache.GetStreamSelection(res.m_Sel);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const StreamSelGetT2Req&, PortCmdRun&, StreamSelGetT2Req::Result& res)
{
    return m_StatisticsCache.GetStreamSelection(res.m_Sel);
}

template <> KXAPI_RESULT DemodPortController::Handle(const StreamSelSetC2Req& req, PortCmdRun& run, NoResult&)
{
    KxDvbC2StreamSelPars sel = req.m_Sel;
    return m_pHal->SetStreamSelection(m_Port, sel, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const StreamSelSetT2Req& req, PortCmdRun& run, NoResult&)
{
    KxDvbT2StreamSelPars sel = req.m_Sel;
    return m_pHal->SetStreamSelection(m_Port, sel, run.m_Execute);
}

template <>
KXAPI_RESULT DemodPortController::Handle(const StreamListReq&, PortCmdRun&, StreamListReq::Result& res)
{
    return m_pHal->GetStreamSelection(m_Port, res.m_List);
}

template <> KXAPI_RESULT DemodPortController::Handle(const OpenStreamReq& req, PortCmdRun& run, NoResult&)
{
    KxStreamSelPars sel = req.m_Sel;
    return m_pHal->OpenStream(m_Port, sel, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const CloseStreamReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->CloseStream(m_Port, req.m_StreamId, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const EqualiseReq& req, PortCmdRun& run, NoResult&)
{
    return m_pHal->EnableEqualiser(m_Port, req.m_Setting, run.m_Execute);
}

template <> KXAPI_RESULT DemodPortController::Handle(const PollingEnableReq& req, PortCmdRun&, NoResult&)
{
    SetStatisticPollEnable(req.m_Enable);
    return KXAPI_OK;
}

template <>
KXAPI_RESULT DemodPortController::Handle(const AttributeReq& req, PortCmdRun& run, AttributeReq::Result& res)
{
    return m_pHal->GetAttribute(m_Port, req.m_Id, res.m_Value, run.m_Execute);
}

// A scan asked for as text reports its progress to the client's event FIFOs while it runs; a
// scan that ended before its first report (its checks failed) sends nothing more.
template <>
KXAPI_RESULT DemodPortController::Handle(const BlindScanReq& req, PortCmdRun& run, BlindScanReq::Result& res)
{
    const bool report = req.m_ReportsProgress && run.m_Execute;
    if (report)
        SetEventFlags({{DEMOD_EVENT_BLIND_SCAN, true}}, run.m_pClient);
    res.m_Found.resize(static_cast<size_t>(req.m_MaxTransmitters));
    KxDemodPars pars = req.m_Pars;
    const KXAPI_RESULT r = BlindScan(run.m_pClient, req.m_MaxTransmitters, res.m_Count, res.m_Found.data(), pars,
                                     req.m_Range.m_StepHz, req.m_Range.m_StartFreqHz, req.m_Range.m_EndFreqHz,
                                     run.m_Execute);
    if (report)
        SetEventFlags({{DEMOD_EVENT_BLIND_SCAN, false}}, run.m_pClient);
    res.m_Found.resize(static_cast<size_t>(res.m_Count < req.m_MaxTransmitters ? res.m_Count : req.m_MaxTransmitters));
    return r;
}

template <> KXAPI_RESULT DemodPortController::Handle(const BlindScanCancelReq&, PortCmdRun&, NoResult&)
{
    if (!m_BlindScanBusy.load())
        return KXAPI_E_IDLE;
    CancelBlindScan();
    return KXAPI_OK;
}

template <> KXAPI_RESULT DemodPortController::Handle(const SpectrumScanReq& req, PortCmdRun& run, NoResult&)
{
    if (run.m_Execute)
        SetEventFlags({{DEMOD_EVENT_SPECTRUM_SCAN, true}}, run.m_pClient);
    const KXAPI_RESULT r = SpectrumScan(run.m_pClient, req.m_ScanType, req.m_Range.m_StepHz, req.m_Range.m_StartFreqHz,
                                        req.m_Range.m_EndFreqHz, run.m_Execute);
    if (run.m_Execute)
        SetEventFlags({{DEMOD_EVENT_SPECTRUM_SCAN, false}}, run.m_pClient);
    return r;
}

template <> KXAPI_RESULT DemodPortController::Handle(const SpectrumScanCancelReq&, PortCmdRun&, NoResult&)
{
    if (!m_SpectrumScanBusy.load())
        return KXAPI_E_IDLE;
    m_SpectrumScanCancel = true;
    return KXAPI_OK;
}

// ---- Dispatch -----------------------------------------------------------------------------------

template <class Req>
KXAPI_RESULT DemodPortController::HandleAndEncode(const Req& req, PortCmdRun& run, DemodMsg& reply)
{
    typename Req::Result res{};
    KXAPI_RESULT result = Handle(req, run, res);
    if constexpr (requires { &Req::Encode; }) {
        if (KxapiSucceeded(result) || Req::REPLY_ON_FAILURE)
            req.Encode(run.m_Reply, res, result, reply);
    }
    return result;
}

template <class Req> KXAPI_RESULT DemodPortController::RunRequest(const Req& req, PortCmdRun& run, DemodMsg& reply)
{
    return HandleAndEncode(req, run, reply);
}

// The statistics read, the port's most frequent command, is written from the cache straight
// into the reply buffer, one statistic at a time under the cache's lock (so that the reply
// shows one polling pass): the fixed layout's records, or the text's elements as wide
// characters. The text of a structured value is left to the general encoder.
template <>
KXAPI_RESULT DemodPortController::RunRequest(const StatisticsReq& req, PortCmdRun& run, DemodMsg& reply)
{
    const bool generic = run.m_Reply.Generic();
    const uint32_t code = generic ? run.m_Reply.m_Code : static_cast<uint32_t>(DEMOD_CMD_STATISTICS_GET_OLD);
    PutResultMsg(reply, code, KXAPI_OK);
    CritSecAutoLockSvc lock(m_StatisticsCache.GetStatisticsLock());
    for (const KxStatistic& key : req.m_Stats) {
        KxStatistic stat = key; // a plain value: copied without allocating
        const KXAPI_RESULT r = m_StatisticsCache.GetStatistics(1, &stat, true);
        if (r != KXAPI_OK) {
            reply.clear(); // the failed poll's result alone
            return r;
        }
        if (!generic) {
            const size_t at = reply.size();
            reply.resize(at + TSTATPARS_SIZE);
            TStatPars::FromStatistic(stat).Encode(reply.data(), static_cast<unsigned int>(at));
        } else if (!stat.AppendWireXml(reply)) {
            reply.clear();
            return HandleAndEncode(req, run, reply);
        }
    }
    if (generic && !req.m_Stats.empty())
        reply.resize(reply.size() + 4); // the text's wide NUL
    return KXAPI_OK;
}

// The fixed-layout supported list straight from the cache into the reply buffer.
template <>
KXAPI_RESULT DemodPortController::RunRequest(const SupportedStatsReq& req, PortCmdRun& run, DemodMsg& reply)
{
    if (run.m_Reply.Generic())
        return HandleAndEncode(req, run, reply);
    int32_t ids[DEMOD_MAX_STATISTICS]; // the decoder bounds the capacity by it
    int count = req.m_Capacity;
    const KXAPI_RESULT r = m_StatisticsCache.GetSupportedStatisticIds(count, ids);
    if (r != KXAPI_OK)
        return r;
    const size_t room = static_cast<size_t>(req.m_Capacity);
    reply.assign(DEMOD_REPLY_HEADER_SIZE + 4 + 4 * room, 0);
    KxPutU32(reply.data(), 0, DEMOD_CMD_SUPPORTED_STATS_GET_OLD);
    KxPutU32(reply.data(), 4, KXAPI_OK);
    KxPutI32(reply.data(), DEMOD_REPLY_HEADER_SIZE, count);
    for (int i = 0; i < count; i++)
        KxPutI32(reply.data(), static_cast<unsigned int>(DEMOD_REPLY_HEADER_SIZE + 4 + 4 * i), ids[i]);
    return KXAPI_OK;
}

KXAPI_RESULT DemodPortController::RunCommand(const PortCmdType& cmd, PortCmdRun& run, DemodMsg& reply)
{
    if (cmd.m_DecodeResult != KXAPI_OK)
        return cmd.m_DecodeResult; // refused by its decoder when it was made
    return std::visit(
        [&](const auto& req) -> KXAPI_RESULT {
            if constexpr (std::is_same_v<std::decay_t<decltype(req)>, std::monostate>)
                return KXAPI_E_NOT_SUPPORTED;
            else
                return RunRequest(req, run, reply);
        },
        cmd.m_Request);
}
