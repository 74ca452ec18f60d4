#include "KxapiSvc.h"

#include <cerrno>
#include <cstdint>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "CrossPlatform.h"
#include "EventLogController.h"
#include "KxServiceDefs.h"

KxapiSvc* KxapiSvc::m_pThis = nullptr;
std::atomic<bool> KxapiSvc::m_StopRequested{false};
std::atomic<int> KxapiSvc::m_StopWakeFd{-1};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the stop request is made from signal handlers");

namespace {
// Without a wake descriptor (none could be made) the main loop looks at its flags this often.
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

void KxapiSvc::WakeMainLoop()
{
    // Only async-signal-safe calls: a lock-free load and write(); errno is the interrupted
    // code's.
    const int savedErrno = errno;
    const int fd = m_StopWakeFd.load();
    if (fd != -1) {
        const uint64_t one = 1;
        (void)!write(fd, &one, sizeof(one));
    }
    errno = savedErrno;
}

void KxapiSvc::RequestStopFromSignal()
{
    m_StopRequested.store(true);
    WakeMainLoop();
}

void KxapiSvc::ClearStopRequest()
{
    m_StopRequested.store(false);
}

KxapiSvc::KxapiSvc()
{
    Xp::Instance()->EventLogOpen(SERVICE_IDENTITY, &g_EventLogger);
    if (m_StopWakeFd.load() == -1)
        m_StopWakeFd.store(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
}

KxapiSvc::~KxapiSvc()
{
    Xp::Instance()->EventLogClose();
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
    return m_DemodManager.Start() && m_KxeManager.Start() && m_GlobalManager.Start();
}

void KxapiSvc::MainLoop()
{
    Xp::Instance()->EventLog(KXAPI_EVENT_STARTED, 1, KXAPI_SERVICE_VERSION_TEXT);
    const int wakeFd = m_StopWakeFd.load();
    for (;;) {
        // A stop signal only raised the flag; the managers are stopped here, on the main
        // thread, outside the handler, so no lock the interrupted code held is ever taken.
        if (m_StopRequested.load() && !m_Stopped)
            Stop();
        if (m_StopDone.load())
            break;
        // Asleep until a wake-up: the flags are set before it, and read again after it.
        pollfd entry{wakeFd, POLLIN, 0};
        const int ready = poll(&entry, wakeFd != -1 ? 1 : 0, wakeFd != -1 ? -1 : static_cast<int>(STOP_POLL_MS));
        if (ready > 0) {
            uint64_t count = 0;
            (void)!read(wakeFd, &count, sizeof(count)); // the next wake-up makes it readable again
        }
    }
    Xp::Instance()->EventLog(KXAPI_EVENT_STOPPED, 0);
}

void KxapiSvc::Stop()
{
    m_Stopped = true;
    m_DemodManager.Stop();
    m_KxeManager.Stop();
    m_GlobalManager.Stop();
    m_StopDone = true;
    WakeMainLoop();
}
