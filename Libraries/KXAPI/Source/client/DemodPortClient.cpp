// DemodPortClient: the FIFO transport of a demod port client and its event thread.
#include "DemodPortClient.h"

#include <cstdlib>
#include <new>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "DemodSvcProtocol.h"
#include "KxServiceDefs.h"
#include "XpUtil.h"

namespace Kxapi {

namespace {

// Per-process counter that makes the event FIFO name of every client object unique.
std::atomic<int> g_EventPipeCounter{0};

IXpCritSec* NewLock()
{
    IXpCritSec* pLock = Xp::Instance()->NewCritSec();
    if (pLock != nullptr && pLock->Init() != KXAPI_OK) {
        delete pLock;
        pLock = nullptr;
    }
    return pLock;
}

} // namespace

DemodPortClient::DemodPortClient()
    : m_Svc(this), m_pLock(NewLock()), m_pCallbackLock(NewLock()), m_pEventLock(NewLock())
{
}

DemodPortClient::~DemodPortClient()
{
    Close();
    if (m_pEventLock != nullptr)
        m_pEventLock->Close();
    delete m_pEventLock;
    if (m_pCallbackLock != nullptr)
        m_pCallbackLock->Close();
    delete m_pCallbackLock;
    if (m_pLock != nullptr)
        m_pLock->Close();
    delete m_pLock;
}

KXAPI_RESULT DemodPortClient::Init(int64_t serial, int32_t portIndex, uint32_t xtra)
{
    if (m_pLock == nullptr || m_pCallbackLock == nullptr || m_pEventLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    if (m_Open.load())
        return KXAPI_E_IN_USE;
    m_Serial = serial;
    m_PortIndex = portIndex;
    m_Xtra = xtra;
    m_Reconnects = 0;
    m_NeedsAttach = false;
    {
        CritSecAutoLock lock(m_pLock);
        KXAPI_RESULT result = KXAPI_OK;
        m_pMessenger = PipeConnectService(DEMOD_SERVICE_PIPE_NAME, result);
        if (m_pMessenger == nullptr)
            return result;
    }
    KXAPI_RESULT result = m_Svc.Attach(serial, portIndex, xtra);
    if (result == KXAPI_OK)
        result = m_Svc.InitDemodulator();
    if (result == KXAPI_OK)
        result = StartEventThread();
    if (result == KXAPI_OK) {
        {
            CritSecAutoLock lock(m_pCallbackLock);
            m_EventMask = 0;
        }
        result = m_Svc.EventPipeRegister(m_EventPipeName, 0);
        if (result == KXAPI_E_INTERNAL)
            result = KXAPI_E_CONNECT_TO_SERVICE;
    }
    // The service connects to the event FIFO while it handles the registration; the event
    // thread reports the connection.
    if (result == KXAPI_OK && m_pEventConnected->WaitTimeout(EVENT_CONNECT_WAIT_MS) != KXAPI_OK)
        result = KXAPI_E_TIMEOUT;
    m_Open = true;
    if (result != KXAPI_OK)
        Close();
    return result;
}

KXAPI_RESULT DemodPortClient::CallbackRegisterEvents(EventCallback callback, uint64_t mask)
{
    if (!m_Open.load())
        return KXAPI_E_NOT_INITIALIZED;
    if (!callback)
        mask = 0;
    {
        CritSecAutoLock lock(m_pCallbackLock);
        m_Callback = std::move(callback);
        m_EventMask = mask;
    }
    return m_Svc.EventPipeRegister(m_EventPipeName, mask);
}

void DemodPortClient::Close()
{
    if (m_pLock == nullptr)
        return;
    {
        CritSecAutoLock lock(m_pLock);
        if (m_pMessenger != nullptr) {
            DemodMsg close = m_Svc.CloseMessage();
            m_pMessenger->WriteMsg(reinterpret_cast<char*>(close.data()), static_cast<int>(close.size()));
            delete m_pMessenger;
            m_pMessenger = nullptr;
        }
    }
    StopEventThread();
    m_Open = false;
}

bool DemodPortClient::Exchange(const DemodMsg& request, DemodMsg& reply)
{
    if (m_pMessenger == nullptr)
        return false;
    DemodMsg copy(request);
    char* pBody = nullptr;
    int size = 0;
    if (!m_pMessenger->WriteMsg(reinterpret_cast<char*>(copy.data()), static_cast<int>(copy.size())) ||
        !m_pMessenger->ReadMsg(pBody, size, m_ReplyTimeoutMs))
        return false;
    reply.assign(reinterpret_cast<uint8_t*>(pBody), reinterpret_cast<uint8_t*>(pBody) + size);
    free(pBody);
    return true;
}

KXAPI_RESULT DemodPortClient::Transfer(const DemodMsg& request, DemodMsg& reply)
{
    if (m_pLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    CritSecAutoLock lock(m_pLock);
    reply.clear();
    // A reconnect whose attach the service refused (for example while it initialises the
    // device after a restart) is attached before the next request.
    if (m_pMessenger != nullptr && m_NeedsAttach)
        ReAttach();
    if (m_pMessenger != nullptr && Exchange(request, reply))
        return KXAPI_OK;
    // The reply (if any) of this request is lost with the connection: report the failure
    // and leave a fresh, attached connection for the next request.
    reply.clear();
    Reconnect();
    return KXAPI_E_CONNECT_TO_SERVICE;
}

void DemodPortClient::Reconnect()
{
    delete m_pMessenger;
    m_pMessenger = nullptr;
    ++m_Reconnects;
    KXAPI_RESULT result = KXAPI_OK;
    m_pMessenger = PipeConnectService(DEMOD_SERVICE_PIPE_NAME, result);
    if (m_pMessenger == nullptr)
        return;
    m_NeedsAttach = true;
    ReAttach();
}

void DemodPortClient::ReAttach()
{
    DemodMsg reply;
    if (!Exchange(DemodBuildAttach(m_Serial, m_PortIndex + 1, m_Xtra), reply)) {
        delete m_pMessenger;
        m_pMessenger = nullptr;
        return;
    }
    if (DemodCheckReply(reply.data(), reply.size(), DEMOD_CMD_ATTACH, 8) != KXAPI_OK)
        return; // not attached yet: tried again before the next request
    m_NeedsAttach = false;
    // A client that had events keeps them: the service connects to the event FIFO again.
    if (m_pEventListener == nullptr)
        return;
    uint64_t mask = 0;
    {
        CritSecAutoLock lock(m_pCallbackLock);
        mask = m_EventMask;
    }
    DemodMsg request;
    if (DemodBuildEventRegisterReq(m_EventPipeName, mask, request) == KXAPI_OK && !Exchange(request, reply)) {
        delete m_pMessenger;
        m_pMessenger = nullptr;
    }
}

KXAPI_RESULT DemodPortClient::StartEventThread()
{
    KXAPI_RESULT result =
        DemodMakeEventPipeName(m_Serial, m_PortIndex + 1, XpUtil::GetCurrentProcessId(), g_EventPipeCounter++,
                               m_EventPipeName);
    if (result != KXAPI_OK)
        return result;
    char name[DEMOD_EVENT_PIPE_NAME_MAX + 1];
    if (XpUtil::WsToCs(name, m_EventPipeName.c_str(), sizeof(name)) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    m_pEventListener = Xp::Instance()->NewPipeListener();
    m_pEventThread = Xp::Instance()->NewThread();
    m_pEventConnected = Xp::Instance()->NewEvent();
    if (m_pEventListener == nullptr || m_pEventThread == nullptr || m_pEventConnected == nullptr ||
        m_pEventConnected->Init(false) != KXAPI_OK || m_pEventListener->Init(name) != KXAPI_OK ||
        m_pEventListener->SetFirstMessageTimeout(XP_INFINITE) != KXAPI_OK) { // events may never come
        StopEventThread();
        return KXAPI_E_INTERNAL;
    }
    m_EventRun = true;
    if (m_pEventThread->Create(&DemodPortClient::StaticEventRun, this) != KXAPI_OK) {
        m_EventRun = false;
        delete m_pEventThread; // never started: nothing to join
        m_pEventThread = nullptr;
        StopEventThread();
        return KXAPI_E_INTERNAL;
    }
    return KXAPI_OK;
}

void DemodPortClient::StopEventThread()
{
    m_EventRun = false;
    if (m_pEventListener != nullptr)
        m_pEventListener->StopWaiting();
    {
        CritSecAutoLock lock(m_pEventLock);
        if (m_pEventMessenger != nullptr)
            m_pEventMessenger->StopRW();
    }
    if (m_pEventThread != nullptr) {
        m_pEventThread->WaitFinished();
        m_pEventThread->Close();
    }
    delete m_pEventThread;
    m_pEventThread = nullptr;
    delete m_pEventListener; // closes and removes the event FIFO
    m_pEventListener = nullptr;
    if (m_pEventConnected != nullptr)
        m_pEventConnected->Close();
    delete m_pEventConnected;
    m_pEventConnected = nullptr;
    CritSecAutoLock lock(m_pCallbackLock);
    m_Callback = nullptr;
    m_EventMask = 0;
}

void DemodPortClient::StaticEventRun(void* pSelf)
{
    static_cast<DemodPortClient*>(pSelf)->EventRun();
}

// Accepts the service's connection and reads events until the connection ends; then waits
// for the next connection (the service connects again after a reconnect of this client).
void DemodPortClient::EventRun()
{
    while (m_EventRun.load()) {
        IXpPipeConnection* pConnection = nullptr;
        if (m_pEventListener->WaitConnection(pConnection) != KXAPI_OK || pConnection == nullptr)
            continue; // a stop request ends the loop; a dropped request is waited past
        PipeMessenger* pMessenger = nullptr;
        {
            CritSecAutoLock lock(m_pEventLock);
            pMessenger = new (std::nothrow) PipeMessenger(pConnection);
            if (pMessenger == nullptr) {
                delete pConnection;
                continue;
            }
            m_pEventMessenger = pMessenger;
        }
        m_pEventConnected->Set();
        while (m_EventRun.load()) {
            char* pBody = nullptr;
            int size = 0;
            if (!pMessenger->ReadMsg(pBody, size, XP_INFINITE))
                break;
            Dispatch(reinterpret_cast<const uint8_t*>(pBody), static_cast<size_t>(size));
            free(pBody);
        }
        CritSecAutoLock lock(m_pEventLock);
        m_pEventMessenger = nullptr;
        delete pMessenger;
    }
}

void DemodPortClient::Dispatch(const uint8_t* body, size_t size)
{
    DemodEvent event;
    if (DemodParseEvent(body, size, event) != KXAPI_OK)
        return;
    CritSecAutoLock lock(m_pCallbackLock);
    if (m_Callback)
        m_Callback(event);
}

} // namespace Kxapi
