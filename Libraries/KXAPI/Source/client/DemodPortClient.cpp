// DemodPortClient: a demod port client over its service connection and its event FIFO.
#include "DemodPortClient.h"

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "DemodSvcProtocol.h"
#include "KxServiceDefs.h"
#include "XpUtil.h"

namespace Kxapi {

namespace {

// Per-process counter that makes the event FIFO name of every client object unique.
std::atomic<int> g_EventPipeCounter{0};

} // namespace

DemodPortClient::DemodPortClient()
    : m_Svc(this), m_Connection(DEMOD_SERVICE_PIPE_NAME, KxServiceConnection::ReconnectPolicy::AFTER_FAILURE),
      m_pCallbackLock(Xp::Instance()->MakeCritSec())
{
    m_Connection.SetSetUp([this](KxServiceConnection& connection) { return ReAttach(connection); });
}

DemodPortClient::~DemodPortClient()
{
    Close();
}

KXAPI_RESULT DemodPortClient::Init(int64_t serial, int32_t portIndex, uint32_t xtra)
{
    if (m_pCallbackLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    if (m_Open.load())
        return KXAPI_E_IN_USE;
    m_Serial = serial;
    m_PortIndex = portIndex;
    m_Xtra = xtra;
    KXAPI_RESULT result = m_Connection.Connect();
    if (result != KXAPI_OK)
        return result;
    result = m_Svc.Attach(serial, portIndex, xtra);
    if (result == KXAPI_OK)
        result = m_Svc.InitDemodulator();
    if (result == KXAPI_OK)
        result = StartEvents();
    if (result == KXAPI_OK) {
        {
            CritSecAutoLock lock(m_pCallbackLock);
            m_EventMask = 0;
        }
        result = m_Svc.EventPipeRegister(m_EventPipeName, 0);
        if (result == KXAPI_E_INTERNAL)
            result = KXAPI_E_CONNECT_TO_SERVICE;
    }
    // The service connects to the event FIFO while it handles the registration.
    if (result == KXAPI_OK && !m_Events.WaitConnected(EVENT_CONNECT_WAIT_MS))
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
    m_Connection.Close(); // the service detaches the port
    StopEvents();
    m_Open = false;
}

KXAPI_RESULT DemodPortClient::Transfer(const DemodMsg& request, DemodMsg& reply)
{
    return m_Connection.Transfer(request.data(), request.size(), reply);
}

KxServiceConnection::SetUpResult DemodPortClient::ReAttach(KxServiceConnection& connection)
{
    using SetUpResult = KxServiceConnection::SetUpResult;
    DemodMsg request = DemodBuildAttach(m_Serial, m_PortIndex + 1, m_Xtra);
    DemodMsg reply;
    if (!connection.Exchange(request.data(), request.size(), reply))
        return SetUpResult::DROP;
    if (DemodCheckReply(reply.data(), reply.size(), DEMOD_CMD_ATTACH, 8) != KXAPI_OK)
        return SetUpResult::RETRY; // not attached yet
    // A client that had events keeps them: the service connects to the event FIFO again.
    if (!m_HasEvents.load())
        return SetUpResult::READY;
    uint64_t mask = 0;
    {
        CritSecAutoLock lock(m_pCallbackLock);
        mask = m_EventMask;
    }
    if (DemodBuildEventRegisterReq(m_EventPipeName, mask, request) == KXAPI_OK &&
        !connection.Exchange(request.data(), request.size(), reply))
        return SetUpResult::DROP;
    return SetUpResult::READY;
}

KXAPI_RESULT DemodPortClient::StartEvents()
{
    KXAPI_RESULT result =
        DemodMakeEventPipeName(m_Serial, m_PortIndex + 1, XpUtil::GetCurrentProcessId(), g_EventPipeCounter++,
                               m_EventPipeName);
    if (result != KXAPI_OK)
        return result;
    char name[DEMOD_EVENT_PIPE_NAME_MAX + 1];
    if (XpUtil::WsToCs(name, m_EventPipeName.c_str(), sizeof(name)) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    result = m_Events.Start(name, [this](const char* body, int size) {
        Dispatch(reinterpret_cast<const uint8_t*>(body), static_cast<size_t>(size));
    }, static_cast<unsigned int>(DEMOD_EVENT_MAX_BODY));
    m_HasEvents = result == KXAPI_OK;
    return result == KXAPI_OK ? KXAPI_OK : KXAPI_E_INTERNAL;
}

void DemodPortClient::StopEvents()
{
    m_HasEvents = false;
    m_Events.Stop(); // removes the event FIFO
    CritSecAutoLock lock(m_pCallbackLock);
    m_Callback = nullptr;
    m_EventMask = 0;
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
