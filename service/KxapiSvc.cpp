#include "KxapiSvc.h"

#include <new>

#include "CrossPlatform.h"
#include "EventLogController.h"
#include "KxServiceDefs.h"

KxapiSvc* KxapiSvc::m_pThis = nullptr;
volatile sig_atomic_t KxapiSvc::m_StopRequested = 0;

namespace {
constexpr unsigned int STOP_POLL_MS = 100;
constexpr const char* SERVICE_IDENTITY = "KxapiService";
} // namespace

KxapiSvc* KxapiSvc::Instance()
{
    if (m_pThis == nullptr)
        m_pThis = new KxapiSvc();
    return m_pThis;
}

void KxapiSvc::Delete()
{
    delete m_pThis;
    m_pThis = nullptr;
}

void KxapiSvc::RequestStopFromSignal()
{
    m_StopRequested = 1;
}

void KxapiSvc::ClearStopRequest()
{
    m_StopRequested = 0;
}

KxapiSvc::KxapiSvc()
{
    Xp::Instance()->EventLogOpen(SERVICE_IDENTITY, &g_EventLogger);
    m_pStopEvent = Xp::Instance()->MakeEvent(false);
}

KxapiSvc::~KxapiSvc()
{
    Xp::Instance()->EventLogClose();
    m_pStopEvent.reset();
    // Members are destroyed in reverse order: global, network-device, demod manager. Each
    // manager's destructor ends threads that are still running.
}

bool KxapiSvc::Init()
{
    if (!m_DemodManager.Init()) {
        Xp::Instance()->EventLog(KXAPI_EVENT_DEMOD_INIT_FAILED, 0);
        return false;
    }
    if (!m_KxeManager.Init()) {
        Xp::Instance()->EventLog(KXAPI_EVENT_KXE_INIT_FAILED, 0);
        return false;
    }
    if (!m_GlobalManager.Init()) {
        Xp::Instance()->EventLog(KXAPI_EVENT_GLOBAL_INIT_FAILED, 0);
        return false;
    }
    if (m_pStopEvent == nullptr)
        return false;
    return m_DemodManager.Start() && m_KxeManager.Start() && m_GlobalManager.Start();
}

void KxapiSvc::MainLoop()
{
    Xp::Instance()->EventLog(KXAPI_EVENT_STARTED, 1, KXAPI_SERVICE_VERSION_TEXT);
    for (;;) {
        // A stop signal only raised the flag; the managers are stopped here, on the main
        // thread, outside the handler, so no lock the interrupted code held is ever taken.
        if (m_StopRequested != 0 && !m_Stopped)
            Stop();
        KXAPI_RESULT result = m_pStopEvent->WaitTimeout(STOP_POLL_MS);
        if (result == KXAPI_OK)
            break;
        if (result != KXAPI_E_TIMEOUT)
            break; // the event is unusable: nothing could ever set it
    }
    Xp::Instance()->EventLog(KXAPI_EVENT_STOPPED, 0);
}

void KxapiSvc::Stop()
{
    m_Stopped = true;
    m_DemodManager.Stop();
    m_KxeManager.Stop();
    m_GlobalManager.Stop();
    if (m_pStopEvent != nullptr)
        m_pStopEvent->Set();
}
