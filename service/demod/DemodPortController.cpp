// Port controller life cycle, worker thread, state machine, statistics polling and the
// registry of event messengers.
#include "DemodPortController.h"

#include <new>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "DemodHal.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr int STAT_ID_LOCK = 512;
constexpr unsigned int TICK_MS = 100;
constexpr int SCAN_POLL_MS = 10;
// Room for the supported-statistics table on the first read; a larger table is read again.
constexpr int SUPPORTED_STATS_FIRST_CAPACITY = 256;

bool IsGeneralLock(const SupportedStatisticsType& type)
{
    return type.StatisticId == STAT_ID_LOCK && type.XtraId[0] == -1 && type.XtraId[1] == -1 &&
           type.XtraId[2] == -1 && type.XtraId[3] == -1;
}

KxStatistic StatisticOf(const SupportedStatisticsType& type)
{
    KxStatistic stat(type.StatisticId);
    for (int i = 0; i < 4; i++)
        stat.m_XtraId[i] = type.XtraId[i];
    return stat;
}

bool Divides(int counter, int divider)
{
    if (divider < 1)
        divider = 1;
    return counter % divider == 0;
}

template <typename T> void CloseAndDelete(T*& object)
{
    if (object != nullptr) {
        object->Close();
        delete object;
        object = nullptr;
    }
}

} // namespace

DemodPortController::DemodPortController() = default;

DemodPortController::~DemodPortController()
{
    CleanUp();
}

bool DemodPortController::Init(int port, DemodHal* pHal)
{
    if (m_Initialised.load() || m_pThread != nullptr)
        return false;
    if (pHal == nullptr || port < 1)
        return false;
    m_Stop = false;
    m_Port = port;
    m_pHal = pHal;
    if (!m_CmdQueue.Init(port))
        return false;
    InitStatisticsCache();

    Xp* xp = Xp::Instance();
    m_pCmdLock = xp->NewCritSec();
    m_pEventLock = xp->NewCritSec();
    m_pParsLock = xp->NewCritSec();
    m_pDoneEvent = xp->NewEvent();
    m_pQueueEvent = xp->NewEvent();
    if (m_pCmdLock == nullptr || m_pEventLock == nullptr || m_pParsLock == nullptr || m_pDoneEvent == nullptr ||
        m_pQueueEvent == nullptr)
        return false;
    if (m_pCmdLock->Init() != KXAPI_OK || m_pEventLock->Init() != KXAPI_OK || m_pParsLock->Init() != KXAPI_OK ||
        m_pDoneEvent->Init(false) != KXAPI_OK || m_pQueueEvent->Init(false) != KXAPI_OK)
        return false;

    if (m_pHal->InitPort(port) != KXAPI_OK)
        return false;

    m_pThread = xp->NewThread();
    if (m_pThread == nullptr)
        return false;
    DeleteEventMessengers();
    // The worker reads the initialised flag; set it before the thread runs.
    m_Initialised = true;
    if (m_pThread->Create(&DemodPortController::StaticPortControllerThread, this) != KXAPI_OK) {
        m_Initialised = false;
        delete m_pThread;
        m_pThread = nullptr;
        return false;
    }
    m_ThreadStarted = true;
    m_pThread->SetName("DemodPort");
    return true;
}

bool DemodPortController::Attach()
{
    if (!m_Initialised.load())
        return false;
    if (m_UserCount.load() == 0 && m_pHal->OnFirstUsage(m_Port) != KXAPI_OK)
        return false;
    m_UserCount++;
    return true;
}

bool DemodPortController::Detach(IDemodPortClient* pClient)
{
    return Detach(pClient, true);
}

bool DemodPortController::Detach(IDemodPortClient* pClient, bool counted)
{
    if (!m_Initialised.load())
        return false;
    SetEventFlags({{DEMOD_EVENT_FREQ_CHANGED, false}, {DEMOD_EVENT_PARS_CHANGED, false}}, pClient);
    // The client's messenger goes once its last scan has sent its final report. Scans of
    // the port are cancelled (they may belong to another client; any detach ends them).
    for (int round = 0;; round++) {
        if (m_BlindScanBusy.load()) {
            CancelBlindScan();
            while (m_BlindScanBusy.load())
                XpUtil::Sleep(SCAN_POLL_MS);
        }
        if (m_SpectrumScanBusy.load()) {
            m_SpectrumScanCancel = true;
            while (m_SpectrumScanBusy.load())
                XpUtil::Sleep(SCAN_POLL_MS);
        }
        XpUtil::Sleep(SCAN_POLL_MS);
        if (RemoveEventHandler(pClient))
            break;
        // A progress flag that is still on after a second of idle scans belongs to a scan
        // that never started (for example one that failed its checks); nothing will turn it
        // off, so the leaving client's flags are cleared here.
        if (round >= 100 && !m_BlindScanBusy.load() && !m_SpectrumScanBusy.load())
            SetEventFlags({{DEMOD_EVENT_BLIND_SCAN, false}, {DEMOD_EVENT_SPECTRUM_SCAN, false}}, pClient);
    }
    m_CmdQueue.Clear(pClient, &m_PendingCount);
    if (!counted)
        return true;
    // Never below 0: a client whose attach the port refused may detach as well, and the
    // port is released only by the user that was counted last.
    int users = m_UserCount.load();
    while (users > 0 && !m_UserCount.compare_exchange_weak(users, users - 1)) {
    }
    if (users == 1)
        return m_pHal->OnLastUsageEnds(m_Port) == KXAPI_OK;
    return true;
}

void DemodPortController::CleanUp()
{
    m_Stop = true;
    // A running scan sees the stop request at its next step.
    if (m_BlindScanBusy.load() && m_pHal != nullptr)
        CancelBlindScan();
    m_SpectrumScanCancel = true;
    if (m_pThread != nullptr) {
        if (m_ThreadStarted)
            m_pThread->WaitFinished();
        m_pThread->Close();
        delete m_pThread;
        m_pThread = nullptr;
        m_ThreadStarted = false;
    }
    m_Initialised = false;
    m_CmdQueue.CleanUp();
    if (m_pEventLock != nullptr)
        DeleteEventMessengers();
    CloseObjects();
}

void DemodPortController::CloseObjects()
{
    CloseAndDelete(m_pCmdLock);
    CloseAndDelete(m_pDoneEvent);
    CloseAndDelete(m_pQueueEvent);
    CloseAndDelete(m_pEventLock);
    CloseAndDelete(m_pParsLock);
}

// ---- Worker thread --------------------------------------------------------------------------

void DemodPortController::StaticPortControllerThread(void* pArg)
{
    static_cast<DemodPortController*>(pArg)->PortControllerThread();
}

void DemodPortController::PortControllerThread()
{
    unsigned int t0 = XpUtil::GetTickCount();
    while (!m_Stop.load()) {
        unsigned int wait;
        const unsigned int elapsed = XpUtil::GetTickCount() - t0;
        if (elapsed > TICK_MS - 1) {
            t0 = XpUtil::GetTickCount();
            StateMachine();
            const unsigned int took = XpUtil::GetTickCount() - t0;
            wait = took > TICK_MS - 1 ? 0 : TICK_MS - took;
        } else {
            wait = TICK_MS - elapsed;
        }

        bool take = false;
        if (!m_CmdQueue.IsEmpty()) {
            if (m_State.load() < 2)
                XpUtil::Sleep(static_cast<int>(wait));
            else
                take = true;
        } else if (m_pQueueEvent->WaitTimeout(wait) == KXAPI_OK) {
            if (m_State.load() < 2)
                XpUtil::Sleep(static_cast<int>(wait));
            else
                take = true;
        }
        if (!take)
            continue;

        PortCmdType* cmd = m_CmdQueue.GetNext();
        if (cmd == nullptr)
            continue;
        if (cmd->m_SuspendsStats && --m_PendingCount < 0)
            m_PendingCount = 0;
        ProcessDemodCommand(*cmd, true, cmd->m_WaitDone);
        const bool waitDone = cmd->m_WaitDone;
        delete cmd;
        if (waitDone)
            m_pDoneEvent->Set();
    }
}

void DemodPortController::StateMachine()
{
    const int users = m_UserCount.load();
    if (m_Initialised.load() && users <= 0) {
        if (m_State.load() == 1)
            return;
        m_State = 1;
        InitStatisticsCache(); // a released port starts from its defaults again
    }
    KxStatistic lock(STAT_ID_LOCK);
    switch (m_State.load()) {
    case 0:
        if (!m_Initialised.load())
            return;
        m_State = 1;
        [[fallthrough]];
    case 1:
        if (users <= 0)
            return;
        m_State = 2;
        [[fallthrough]];
    case 2: {
        const bool forced = m_Retune.load();
        bool locked = GetLockedStatus(lock);
        if (m_Retune.load() || !locked) {
            m_pHal->Tune(m_Port, false);
            locked = GetLockedStatus(lock);
            m_Retune = false;
            if (m_PendingCount.load() == 0)
                m_StatisticsCache.Enable(true);
        }
        if (m_StatisticsCache.IsEnabled())
            UpdateStatistics(lock, forced);
        m_pHal->Update(m_Port, locked);
        if (locked)
            m_State = 3;
        return;
    }
    case 3: {
        if (m_Retune.load()) {
            InvalidateLockedStatistics();
            m_State = 2;
            return;
        }
        if (!m_StatisticsCache.IsEnabled()) {
            // Held back for a tune that has not run yet. When none is pending any more, the
            // last one failed on the hardware (no retune followed): acquire again so that the
            // statistics come back instead of staying held for good.
            if (m_PendingCount.load() == 0)
                m_Retune = true;
            return;
        }
        const bool locked = GetLockedStatus(lock);
        if (m_StatisticsCache.IsEnabled())
            UpdateStatistics(lock, false);
        m_pHal->Update(m_Port, locked);
        if (!locked) {
            InvalidateLockedStatistics();
            m_State = 2;
        }
        return;
    }
    default:
        return;
    }
}

bool DemodPortController::GetLockedStatus(KxStatistic& stat)
{
    stat = KxStatistic(STAT_ID_LOCK);
    m_pHal->GetStatistics(m_Port, 1, &stat);
    bool locked = false;
    return stat.GetValue(locked) == KXAPI_OK && locked;
}

void DemodPortController::SetStatisticPollEnable(bool enable)
{
    m_PollEnable = enable;
}

bool DemodPortController::MustPollStatistics()
{
    if (!m_PollEnable.load())
        return false;
    const unsigned int now = XpUtil::GetTickCount();
    if (now - m_LastPollTime < m_PollPeriodMs)
        return false;
    m_LastPollTime = now;
    return true;
}

void DemodPortController::UpdateStatistics(KxStatistic& lock, bool forced)
{
    KxDemodPars pars;
    const KXAPI_RESULT parsResult = m_pHal->GetDemodControl(m_Port, pars);
    long long freq0 = 0;
    long long freq1 = 0;
    KXAPI_RESULT freq0Result;
    KXAPI_RESULT freq1Result;
    const int typeNumber = m_pHal->Device().TypeNumber();
    if (typeNumber == 830 || typeNumber == 850) {
        freq1Result = m_pHal->GetTunerFrequency(m_Port, freq1, 1);
        freq0Result = m_pHal->GetTunerFrequency(m_Port, freq0, 0);
    } else {
        freq0Result = m_pHal->GetTunerFrequency(m_Port, freq0, -1);
        freq1Result = KXAPI_E_NOT_SUPPORTED;
    }
    KxDvbC2StreamSelPars c2;
    KxDvbT2StreamSelPars t2;
    KxAtsc3StreamSelPars atsc3;
    const KXAPI_RESULT c2Result = m_pHal->GetStreamSelection(m_Port, c2);
    const KXAPI_RESULT t2Result = m_pHal->GetStreamSelection(m_Port, t2);
    const KXAPI_RESULT atsc3Result = m_pHal->GetStreamSelection(m_Port, atsc3);
    std::vector<int> plpIds;
    const KXAPI_RESULT plpResult = m_pHal->GetPlpList(m_Port, plpIds);
    m_StatisticsCache.SetMultiPlpIds(plpIds, plpResult);

    const bool poll = MustPollStatistics();
    std::vector<KxStatistic> list;
    KXAPI_RESULT pollResult = KXAPI_OK;
    if (poll || forced) {
        if (forced)
            m_PollCounter = 0;
        bool locked = false;
        lock.GetValue(locked);
        pollResult = GetStatisticIdsToPoll(locked, list);
        m_StatisticsCache.SetDefaultValues(list);
        if (pollResult == KXAPI_OK && !list.empty())
            pollResult = m_pHal->GetStatistics(m_Port, static_cast<int>(list.size()), list.data());
        m_PollCounter++;
    }

    CritSecAutoLockSvc statsLock(m_StatisticsCache.GetStatisticsLock());
    std::vector<KxStatistic> lockList{lock};
    m_StatisticsCache.StoreStatistics(lockList, false);
    m_StatisticsCache.StoreDemodPars(pars, parsResult);
    m_StatisticsCache.StoreTunerFrequency(freq0, 0, freq0Result);
    m_StatisticsCache.StoreTunerFrequency(freq1, 1, freq1Result);
    m_StatisticsCache.StoreStreamSelection(c2, c2Result);
    m_StatisticsCache.StoreStreamSelection(t2, t2Result);
    m_StatisticsCache.StoreStreamSelection(atsc3, atsc3Result);
    if (poll) {
        m_StatisticsCache.StoreStatisticsResult(pollResult);
        m_StatisticsCache.StoreStatistics(list, true);
    }
}

KXAPI_RESULT DemodPortController::GetStatisticIdsToPoll(bool locked, std::vector<KxStatistic>& list)
{
    list.clear();
    std::vector<SupportedStatisticsType> types;
    KXAPI_RESULT result = m_StatisticsCache.GetSupportedStatisticsInternal(types);
    if (result != KXAPI_OK)
        return result;
    for (const SupportedStatisticsType& type : types) {
        if (IsGeneralLock(type) || type.LockedOnly)
            continue;
        if (Divides(m_PollCounter, type.PollDivider))
            list.push_back(StatisticOf(type));
    }
    if (locked) {
        for (const SupportedStatisticsType& type : types) {
            if (IsGeneralLock(type) || !type.LockedOnly)
                continue;
            if (Divides(m_PollCounter, type.PollDivider)) {
                list.push_back(StatisticOf(type));
                list.back().m_Result = static_cast<int32_t>(KXAPI_E_NOT_LOCKED);
            }
        }
    }
    return KXAPI_OK;
}

void DemodPortController::InvalidateLockedStatistics()
{
    std::vector<SupportedStatisticsType> types;
    if (m_StatisticsCache.GetSupportedStatisticsInternal(types) != KXAPI_OK)
        return;
    std::vector<KxStatistic> list;
    for (const SupportedStatisticsType& type : types)
        if (type.LockedOnly && type.StatisticId != STAT_ID_LOCK)
            list.push_back(StatisticOf(type));
    CritSecAutoLockSvc statsLock(m_StatisticsCache.GetStatisticsLock());
    m_StatisticsCache.SetDefaultValues(list);
    m_StatisticsCache.StoreStatistics(list, false);
}

KXAPI_RESULT DemodPortController::InitStatisticsCache()
{
    std::vector<SupportedStatisticsType> types(SUPPORTED_STATS_FIRST_CAPACITY);
    int count = static_cast<int>(types.size());
    KXAPI_RESULT result = m_pHal->GetSupportedStatistics(m_Port, count, types.data());
    if (result == KXAPI_E_BUF_TOO_SMALL && count > static_cast<int>(types.size()) && count <= 65536) {
        types.resize(static_cast<size_t>(count));
        result = m_pHal->GetSupportedStatistics(m_Port, count, types.data());
    }
    if (result != KXAPI_OK || count < 0 || count > static_cast<int>(types.size()))
        count = 0;
    types.resize(static_cast<size_t>(count));
    std::vector<KxStatistic> defaults;
    defaults.reserve(types.size());
    for (const SupportedStatisticsType& type : types)
        defaults.push_back(StatisticOf(type));
    if (result == KXAPI_OK && count > 0)
        result = m_pHal->GetDefaultStatisticValues(count, defaults.data());
    m_StatisticsCache.Init(count, types.data(), defaults.data());
    m_StatisticsCache.StoreStatisticsResult(result);
    return result;
}

// ---- Event messengers -----------------------------------------------------------------------

KXAPI_RESULT DemodPortController::EventPipeRegister(const std::wstring& name, IDemodPortClient* pClient)
{
    if (name.empty())
        return KXAPI_E_INVALID_BUF;
    CritSecAutoLockSvc lock(m_pEventLock);
    if (m_EventMessengers.count(name) != 0)
        return KXAPI_OK; // the first registration and its owner stay
    auto* messenger = new (std::nothrow) DemodEventMessenger(pClient);
    if (messenger == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    if (!messenger->Init(name, m_pHal->Serial(), m_Port)) {
        delete messenger;
        return KXAPI_E_INTERNAL;
    }
    m_EventMessengers[name] = messenger;
    m_NumEventMessengers++;
    return KXAPI_OK;
}

KXAPI_RESULT DemodPortController::SetEventFlags(const std::map<KxapiSvcEvent, bool>& flags, const std::wstring& name)
{
    if (name.empty())
        return KXAPI_E_INVALID_BUF;
    CritSecAutoLockSvc lock(m_pEventLock);
    auto it = m_EventMessengers.find(name);
    if (it == m_EventMessengers.end())
        return KXAPI_E_INTERNAL;
    it->second->SetEventFlags(flags);
    return KXAPI_OK;
}

void DemodPortController::SetEventFlags(const std::map<KxapiSvcEvent, bool>& flags, IDemodPortClient* pClient)
{
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        if (entry.second->Owner() == pClient)
            entry.second->SetEventFlags(flags);
}

bool DemodPortController::RemoveEventHandler(IDemodPortClient* pClient)
{
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto it = m_EventMessengers.begin(); it != m_EventMessengers.end(); ++it) {
        if (it->second->Owner() != pClient)
            continue;
        if (!it->second->AllFlagsDisabled())
            return false;
        delete it->second;
        m_EventMessengers.erase(it);
        m_NumEventMessengers--;
        return true;
    }
    return true;
}

void DemodPortController::FireTuneFreqHasChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz)
{
    if (pClient == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        entry.second->TuneFreqHasChangedEv(pClient, oldFreqHz, newFreqHz);
}

void DemodPortController::FireTuneParsHaveChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz,
                                                       const KxDemodPars& oldPars, int64_t newFreqHz,
                                                       const KxDemodPars& newPars)
{
    if (pClient == nullptr)
        return;
    // The four-integer form; a type without it is sent with its type code and zeros.
    OldStyleParsWire oldWire;
    OldStyleParsWire newWire;
    oldWire.m_ModType = oldPars.ModType();
    newWire.m_ModType = newPars.ModType();
    oldPars.ToOldStyle(oldWire.m_ModType, oldWire.m_ParXtra0, oldWire.m_ParXtra1, oldWire.m_ParXtra2);
    newPars.ToOldStyle(newWire.m_ModType, newWire.m_ParXtra0, newWire.m_ParXtra1, newWire.m_ParXtra2);
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        entry.second->TuneParsHaveChangedEv(pClient, oldFreqHz, oldWire, newFreqHz, newWire);
}

void DemodPortController::FireBsProgressEvent(IDemodPortClient* pClient, const KxBsProgress& progress)
{
    if (pClient == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        entry.second->BlindScanProgressEv(progress);
}

void DemodPortController::FireSpsProgressEvent(IDemodPortClient* pClient, const KxSpsProgress& progress)
{
    if (pClient == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        entry.second->SpectrumScanProgressEv(progress);
}

void DemodPortController::DeleteEventMessengers()
{
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        delete entry.second;
    m_EventMessengers.clear();
    m_NumEventMessengers = 0;
}
