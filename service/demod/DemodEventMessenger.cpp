#include "DemodEventMessenger.h"

#include <utility>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "XpUtil.h"

using namespace Kxapi;

DemodEventMessenger::DemodEventMessenger(IDemodPortClient* pOwner) : m_pOwner(pOwner) {}

DemodEventMessenger::~DemodEventMessenger()
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    Disconnect();
}

bool DemodEventMessenger::Init(const std::wstring& name, int64_t serial, int32_t port)
{
    if (!PipeMessenger::Init())
        return false;
    if (m_pPipeLock == nullptr)
        m_pPipeLock = Xp::Instance()->MakeCritSec();
    if (m_pPipeLock == nullptr)
        return false;
    CritSecAutoLockSvc lock(m_pPipeLock);
    m_Serial = serial;
    m_Port = port;
    for (KxapiSvcEvent kind : {DEMOD_EVENT_FREQ_CHANGED, DEMOD_EVENT_PARS_CHANGED, DEMOD_EVENT_BLIND_SCAN,
                               DEMOD_EVENT_SPECTRUM_SCAN})
        m_EventFlags[kind] = false;
    return ConnectPipe(name);
}

bool DemodEventMessenger::ConnectPipe(const std::wstring& name)
{
    // FIFO names are plain ASCII path components; anything else cannot be connected.
    if (name.empty() || name.size() > DEMOD_EVENT_PIPE_NAME_MAX)
        return false;
    std::string narrow;
    for (wchar_t c : name) {
        if (c <= 0 || c > 0x7E)
            return false;
        narrow.push_back(static_cast<char>(c));
    }
    unsigned int owner = m_pOwner != nullptr ? m_pOwner->ClientFifoOwner() : XP_ANY_OWNER;
    return ConnectToClient(narrow.c_str(), owner);
}

void DemodEventMessenger::SetEventFlags(const std::map<KxapiSvcEvent, bool>& flags)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    for (const auto& [kind, on] : flags)
        m_EventFlags[kind] = on;
}

bool DemodEventMessenger::AllFlagsDisabled()
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    for (const auto& entry : m_EventFlags)
        if (entry.second)
            return false;
    return true;
}

bool DemodEventMessenger::IsFlagSet(KxapiSvcEvent kind)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    return FlagLocked(kind);
}

bool DemodEventMessenger::FlagLocked(KxapiSvcEvent kind) const
{
    auto it = m_EventFlags.find(kind);
    return it != m_EventFlags.end() && it->second;
}

bool DemodEventMessenger::QueueLocked(DemodMsg body)
{
    // Events are framed as every message is; the client reads bodies of up to
    // DEMOD_EVENT_MAX_BODY bytes.
    if (body.empty() || body.size() > DEMOD_EVENT_MAX_BODY)
        return false;
    if (m_Failed)
        return false;
    if (m_Pending.size() >= EVENT_QUEUE_MAX || m_PendingBytes + body.size() > EVENT_QUEUE_MAX_BYTES) {
        // The client does not read its events: it is dropped, not waited for.
        m_Failed = true;
        m_Pending.clear();
        m_PendingBytes = 0;
        return false;
    }
    m_PendingBytes += body.size();
    m_Pending.push_back(std::move(body));
    return true;
}

bool DemodEventMessenger::Flush()
{
    for (;;) {
        DemodMsg body;
        {
            CritSecAutoLockSvc lock(m_pPipeLock);
            if (m_Failed)
                return false;
            if (m_Pending.empty())
                return true;
            body = std::move(m_Pending.front());
            m_Pending.pop_front();
            m_PendingBytes -= body.size();
        }
        if (!WriteMsg(reinterpret_cast<char*>(body.data()), static_cast<int>(body.size()))) {
            CritSecAutoLockSvc lock(m_pPipeLock);
            m_Failed = true;
            m_Pending.clear();
            m_PendingBytes = 0;
            return false;
        }
    }
}

bool DemodEventMessenger::HasPending()
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    return !m_Failed && !m_Pending.empty();
}

bool DemodEventMessenger::Failed()
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    return m_Failed;
}

bool DemodEventMessenger::TuneFreqHasChangedEv(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    if (pClient != nullptr && pClient == m_pOwner)
        return !m_Failed;
    if (!FlagLocked(DEMOD_EVENT_FREQ_CHANGED))
        return !m_Failed;
    return QueueLocked(DemodBuildFreqEvent(m_Serial, m_Port, oldFreqHz, newFreqHz));
}

bool DemodEventMessenger::TuneParsHaveChangedEv(IDemodPortClient* pClient, int64_t oldFreqHz,
                                                const OldStyleParsWire& oldPars, int64_t newFreqHz,
                                                const OldStyleParsWire& newPars)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    if (pClient != nullptr && pClient == m_pOwner)
        return !m_Failed;
    if (!FlagLocked(DEMOD_EVENT_PARS_CHANGED))
        return !m_Failed;
    return QueueLocked(DemodBuildParsEvent(m_Serial, m_Port, oldFreqHz, oldPars, newFreqHz, newPars));
}

bool DemodEventMessenger::BlindScanProgressEv(const KxBsProgress& progress)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    if (!FlagLocked(DEMOD_EVENT_BLIND_SCAN))
        return !m_Failed;
    std::wstring xml;
    bool ok = progress.ToXml(xml) == KXAPI_OK;
    if (ok)
        ok = QueueLocked(DemodBuildScanEvent(DEMOD_EVENT_BLIND_SCAN, m_Serial, m_Port, xml));
    // The scan is over for this client even when its last report could not be sent.
    if (progress.IsFinal())
        m_EventFlags[DEMOD_EVENT_BLIND_SCAN] = false;
    return ok;
}

bool DemodEventMessenger::SpectrumScanProgressEv(const KxSpsProgress& progress)
{
    CritSecAutoLockSvc lock(m_pPipeLock);
    if (!FlagLocked(DEMOD_EVENT_SPECTRUM_SCAN))
        return !m_Failed;
    std::wstring xml;
    bool ok = progress.ToXml(xml) == KXAPI_OK;
    if (ok)
        ok = QueueLocked(DemodBuildScanEvent(DEMOD_EVENT_SPECTRUM_SCAN, m_Serial, m_Port, xml));
    // The scan is over for this client even when its last report could not be sent.
    if (progress.IsFinal())
        m_EventFlags[DEMOD_EVENT_SPECTRUM_SCAN] = false;
    return ok;
}
