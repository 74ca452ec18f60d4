// Port controller life cycle, worker thread, state machine, statistics polling and the
// registry of event messengers.
#include "DemodPortController.h"

#include <iterator>
#include <new>
#include <utility>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "DemodHal.h"
#include "XpUtil.h"

using namespace Kxapi;

namespace {

constexpr unsigned int TICK_MS = 100;
// A stopping port sends what is still queued within this, in all.
constexpr unsigned int FINAL_FLUSH_MS = 500;
constexpr int SCAN_POLL_MS = 10;
// A detach or stop waits at most this long for the scans it cancelled to end.
constexpr unsigned int SCAN_END_WAIT_MS = 10000;
// Room for the supported-statistics table on the first read; a larger table is read again.
constexpr int SUPPORTED_STATS_FIRST_CAPACITY = 256;

bool IsGeneralLock(const SupportedStatisticsType& type)
{
    return type.StatisticId == KX_STAT_LOCK && type.XtraId[0] == -1 && type.XtraId[1] == -1 &&
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
    m_pCmdLock = xp->MakeCritSec();
    m_pEventLock = xp->MakeCritSec();
    m_pParsLock = xp->MakeCritSec();
    m_pDoneEvent = xp->MakeEvent(false);
    m_pQueueEvent = xp->MakeEvent(false);
    m_pEventWake = xp->MakeEvent(false);
    if (!m_pCmdLock || !m_pEventLock || !m_pParsLock || !m_pDoneEvent || !m_pQueueEvent || !m_pEventWake)
        return false;

    if (KxapiFailed(m_pHal->InitPort(port)))
        return false;

    DeleteEventMessengers();
    m_EventStop = false;
    m_pEventThread = xp->NewThread();
    if (m_pEventThread == nullptr)
        return false;
    if (m_pEventThread->Create(&DemodPortController::StaticEventWriterThread, this) != KXAPI_OK) {
        delete m_pEventThread;
        m_pEventThread = nullptr;
        return false;
    }
    m_EventThreadStarted = true;
    m_pEventThread->SetName("DemodPortEvents");

    m_pThread = xp->NewThread();
    if (m_pThread == nullptr)
        return false;
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
    if (m_UserCount.load() == 0 && KxapiFailed(m_pHal->OnFirstUsage(m_Port)))
        return false;
    m_UserCount++;
    // A port without users sleeps until this wakes it.
    if (m_pQueueEvent != nullptr)
        m_pQueueEvent->Set();
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
    // Scans of the port are cancelled (they may belong to another client; any detach ends
    // them), so that a scan of the leaving client has queued its final report; then every
    // messenger of the client goes, whatever its flags say.
    EndScans();
    RemoveEventHandlers(pClient);
    m_CmdQueue.Clear(pClient, &m_PendingCount);
    if (!counted)
        return true;
    // Never below 0: a client whose attach the port refused may detach as well, and the
    // port is released only by the user that was counted last.
    int users = m_UserCount.load();
    while (users > 0 && !m_UserCount.compare_exchange_weak(users, users - 1)) {
    }
    if (users == 1)
        return KxapiSucceeded(m_pHal->OnLastUsageEnds(m_Port));
    return true;
}

void DemodPortController::WaitWhileScanBusy(const std::atomic<bool>& busy, unsigned int startTick)
{
    while (busy.load() && !m_Stop.load() && XpUtil::GetTickCount() - startTick < SCAN_END_WAIT_MS)
        XpUtil::Sleep(SCAN_POLL_MS);
}

void DemodPortController::EndScans()
{
    const unsigned int start = XpUtil::GetTickCount();
    if (m_BlindScanBusy.load()) {
        CancelBlindScan();
        WaitWhileScanBusy(m_BlindScanBusy, start);
    }
    if (m_SpectrumScanBusy.load()) {
        m_SpectrumScanCancel = true;
        WaitWhileScanBusy(m_SpectrumScanBusy, start);
    }
}

namespace {

// Waits for a thread the port started (if it was started) and deletes its object.
void JoinAndDelete(IXpThread*& thread, bool& started)
{
    if (thread == nullptr)
        return;
    if (started)
        thread->WaitFinished();
    thread->Close();
    delete thread;
    thread = nullptr;
    started = false;
}

} // namespace

void DemodPortController::CleanUp()
{
    m_Stop = true;
    // A running scan sees the stop request at its next step.
    if (m_BlindScanBusy.load() && m_pHal != nullptr)
        CancelBlindScan();
    m_SpectrumScanCancel = true;
    if (m_pQueueEvent != nullptr)
        m_pQueueEvent->Set(); // an idle worker sleeps on it
    JoinAndDelete(m_pThread, m_ThreadStarted);
    m_Initialised = false;
    m_CmdQueue.CleanUp();
    StopEventWriter();
    if (m_pEventLock != nullptr)
        DeleteEventMessengers();
    CloseObjects();
}

void DemodPortController::CloseObjects()
{
    m_pCmdLock.reset();
    m_pDoneEvent.reset();
    m_pQueueEvent.reset();
    m_pEventWake.reset();
    m_pEventLock.reset();
    m_pParsLock.reset();
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
        if (m_State.load() == 1 && m_UserCount.load() <= 0) {
            // Idle: no timer ticks. Commands queued meanwhile stay queued; an attach (or the
            // stop) sets the event, and the state machine then runs at once.
            m_pQueueEvent->Wait();
            t0 = XpUtil::GetTickCount() - TICK_MS;
            continue;
        }
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
        // The reply of a waited command is sent by the waiting client's own thread: the
        // worker never writes to a client.
        const bool waitDone = cmd->m_WaitDone;
        DemodMsg reply;
        ProcessDemodCommand(*cmd, true, waitDone ? &reply : nullptr);
        delete cmd;
        if (waitDone) {
            {
                std::lock_guard<std::mutex> done(m_DoneMutex);
                m_DoneReply = std::move(reply);
            }
            m_pDoneEvent->Set();
        }
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
    KxStatistic lock(KX_STAT_LOCK);
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
    stat = KxStatistic(KX_STAT_LOCK);
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
        if (type.LockedOnly && type.StatisticId != KX_STAT_LOCK)
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

size_t DemodPortController::EventMessengerCount(IDemodPortClient* pClient)
{
    if (m_pEventLock == nullptr)
        return 0;
    CritSecAutoLockSvc lock(m_pEventLock);
    size_t count = 0;
    for (const auto& entry : m_EventMessengers)
        if (pClient == nullptr || entry.second->Owner() == pClient)
            count++;
    return count;
}

KXAPI_RESULT DemodPortController::CheckRegistrationLocked(const std::wstring& name, IDemodPortClient* pClient,
                                                          bool& exists) const
{
    exists = false;
    auto it = m_EventMessengers.find(name);
    if (it != m_EventMessengers.end()) {
        // Only the client that registered a name may register it again or change its flags.
        if (it->second->Owner() != pClient)
            return KXAPI_E_IN_USE;
        exists = true;
        return KXAPI_OK;
    }
    size_t own = 0;
    for (const auto& entry : m_EventMessengers)
        if (entry.second->Owner() == pClient)
            own++;
    if (own >= MAX_EVENT_PIPES_PER_CLIENT || m_EventMessengers.size() >= MAX_EVENT_PIPES_PER_PORT)
        return KXAPI_E_OUT_OF_RESOURCES;
    return KXAPI_OK;
}

KXAPI_RESULT DemodPortController::EventPipeRegister(const std::wstring& name, uint64_t mask,
                                                    IDemodPortClient* pClient, bool execute)
{
    if (name.empty())
        return KXAPI_E_INVALID_BUF;
    bool exists = false;
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        KXAPI_RESULT r = CheckRegistrationLocked(name, pClient, exists);
        if (r != KXAPI_OK)
            return r;
    }
    MessengerPtr fresh;
    if (!exists) {
        // The connection takes a whole handshake with the client: no lock of the port is held.
        try {
            fresh = std::make_shared<DemodEventMessenger>(pClient);
        } catch (const std::bad_alloc&) {
            return KXAPI_E_OUT_OF_MEM;
        }
        if (!fresh->Init(name, m_pHal->Serial(), m_Port))
            return KXAPI_E_INTERNAL;
    }
    CritSecAutoLockSvc lock(m_pEventLock);
    KXAPI_RESULT r = CheckRegistrationLocked(name, pClient, exists);
    if (r != KXAPI_OK)
        return r; // fresh (if any) is closed when it goes out of scope
    if (!exists) {
        if (fresh == nullptr)
            return KXAPI_E_INTERNAL; // the name went while this registration checked it
        m_EventMessengers[name] = fresh;
    }
    if (execute)
        m_EventMessengers[name]->SetEventFlags({{DEMOD_EVENT_FREQ_CHANGED, (mask & DEMOD_EVENT_MASK_FREQ) != 0},
                                                {DEMOD_EVENT_PARS_CHANGED, (mask & DEMOD_EVENT_MASK_PARS) != 0}});
    return KXAPI_OK;
}

void DemodPortController::SetEventFlags(const std::map<KxapiSvcEvent, bool>& flags, IDemodPortClient* pClient)
{
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        if (entry.second->Owner() == pClient)
            entry.second->SetEventFlags(flags);
}

void DemodPortController::RemoveEventHandlers(IDemodPortClient* pClient)
{
    std::vector<MessengerPtr> gone; // closed after the lock is released
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto it = m_EventMessengers.begin(); it != m_EventMessengers.end();) {
            if (it->second->Owner() != pClient) {
                ++it;
                continue;
            }
            if (it->second->HasPending() && m_RetiredMessengers.size() < MAX_EVENT_PIPES_PER_PORT)
                m_RetiredMessengers.push_back(it->second);
            else
                gone.push_back(it->second);
            it = m_EventMessengers.erase(it);
        }
    }
    WakeEventWriter();
}

void DemodPortController::WakeEventWriter()
{
    if (m_pEventWake != nullptr)
        m_pEventWake->Set();
}

void DemodPortController::StaticEventWriterThread(void* pArg)
{
    static_cast<DemodPortController*>(pArg)->EventWriterThread();
}

// Sends the queued events of every subscriber while holding no lock of the port. A subscriber
// whose write fails (its FIFO stayed full for the write deadline, or it went) is dropped.
// Asleep until woken: whatever gives it work (an event queued or a queue overflowing, a
// subscriber retired, the stop) sets the wake event after it, and the event stays set until
// this thread takes it, so nothing needs a periodic look.
void DemodPortController::EventWriterThread()
{
    while (!m_EventStop.load()) {
        m_pEventWake->Wait();
        if (m_EventStop.load())
            break;
        std::vector<MessengerPtr> work;
        {
            CritSecAutoLockSvc lock(m_pEventLock);
            for (const auto& entry : m_EventMessengers)
                if (entry.second->HasPending() || entry.second->Failed())
                    work.push_back(entry.second);
            work.insert(work.end(), m_RetiredMessengers.begin(), m_RetiredMessengers.end());
            m_RetiredMessengers.clear();
        }
        std::vector<MessengerPtr> failed;
        for (const MessengerPtr& messenger : work) {
            if (m_EventStop.load())
                break;
            if (!messenger->Flush())
                failed.push_back(messenger);
        }
        if (failed.empty())
            continue;
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto it = m_EventMessengers.begin(); it != m_EventMessengers.end();) {
            bool drop = false;
            for (const MessengerPtr& messenger : failed)
                drop = drop || it->second == messenger;
            it = drop ? m_EventMessengers.erase(it) : std::next(it);
        }
    }
    // The port is stopping: what is still queued (a cancelled scan's final report, say) goes
    // out once, within one write deadline in all, before the messengers are deleted.
    std::vector<MessengerPtr> last;
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (const auto& entry : m_EventMessengers)
            if (entry.second->HasPending())
                last.push_back(entry.second);
        last.insert(last.end(), m_RetiredMessengers.begin(), m_RetiredMessengers.end());
        m_RetiredMessengers.clear();
    }
    const unsigned int start = XpUtil::GetTickCount();
    for (const MessengerPtr& messenger : last) {
        if (XpUtil::GetTickCount() - start >= FINAL_FLUSH_MS)
            break;
        messenger->Flush();
    }
}

void DemodPortController::StopEventWriter()
{
    m_EventStop = true;
    WakeEventWriter();
    JoinAndDelete(m_pEventThread, m_EventThreadStarted);
}

void DemodPortController::FireTuneFreqHasChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz)
{
    if (pClient == nullptr)
        return;
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto& entry : m_EventMessengers)
            entry.second->TuneFreqHasChangedEv(pClient, oldFreqHz, newFreqHz);
    }
    WakeEventWriter();
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
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto& entry : m_EventMessengers)
            entry.second->TuneParsHaveChangedEv(pClient, oldFreqHz, oldWire, newFreqHz, newWire);
    }
    WakeEventWriter();
}

void DemodPortController::FireBsProgressEvent(IDemodPortClient* pClient, const KxBsProgress& progress)
{
    if (pClient == nullptr)
        return;
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto& entry : m_EventMessengers)
            entry.second->BlindScanProgressEv(progress);
    }
    WakeEventWriter();
}

void DemodPortController::FireSpsProgressEvent(IDemodPortClient* pClient, const KxSpsProgress& progress)
{
    if (pClient == nullptr)
        return;
    {
        CritSecAutoLockSvc lock(m_pEventLock);
        for (auto& entry : m_EventMessengers)
            entry.second->SpectrumScanProgressEv(progress);
    }
    WakeEventWriter();
}

void DemodPortController::DeleteEventMessengers()
{
    std::vector<MessengerPtr> gone; // closed after the lock is released
    CritSecAutoLockSvc lock(m_pEventLock);
    for (auto& entry : m_EventMessengers)
        gone.push_back(entry.second);
    m_EventMessengers.clear();
    m_RetiredMessengers.clear();
}
