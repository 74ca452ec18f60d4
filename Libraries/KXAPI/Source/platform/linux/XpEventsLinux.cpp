#include "XpEventsLinux.h"

#include <cerrno>
#include <ctime>

namespace {

KXAPI_RESULT CreateErrorToResult(int error)
{
    if (error == ENOMEM)
        return KXAPI_E_OUT_OF_MEM;
    if (error == EPERM)
        return KXAPI_E_NO_PERMISSION;
    return KXAPI_E_INTERNAL;
}

KXAPI_RESULT LockErrorToResult(int error)
{
    return error == EDEADLK ? KXAPI_E_LOCKED : KXAPI_E_INTERNAL;
}

} // namespace

XpEventLinux::~XpEventLinux()
{
    Close();
}

KXAPI_RESULT XpEventLinux::Init(bool manualReset)
{
    if (m_Initialised)
        return KXAPI_E_IN_USE;
    int error = pthread_mutex_init(&m_Mutex, nullptr);
    if (error != 0)
        return CreateErrorToResult(error);
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) {
        pthread_mutex_destroy(&m_Mutex);
        return KXAPI_E_OUT_OF_MEM;
    }
    if (pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) != 0) {
        pthread_condattr_destroy(&attributes);
        pthread_mutex_destroy(&m_Mutex);
        return KXAPI_E_INTERNAL;
    }
    error = pthread_cond_init(&m_Cond, &attributes);
    pthread_condattr_destroy(&attributes);
    if (error != 0) {
        pthread_mutex_destroy(&m_Mutex);
        return CreateErrorToResult(error);
    }
    m_Signalled = false;
    m_ManualReset = manualReset;
    m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT XpEventLinux::Set()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int error = pthread_mutex_lock(&m_Mutex);
    if (error != 0)
        return LockErrorToResult(error);
    m_Signalled = true;
    pthread_cond_broadcast(&m_Cond);
    return pthread_mutex_unlock(&m_Mutex) == 0 ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpEventLinux::Reset()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int error = pthread_mutex_lock(&m_Mutex);
    if (error != 0)
        return LockErrorToResult(error);
    m_Signalled = false;
    return pthread_mutex_unlock(&m_Mutex) == 0 ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpEventLinux::Wait()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int error = pthread_mutex_lock(&m_Mutex);
    if (error != 0)
        return LockErrorToResult(error);
    while (!m_Signalled)
        pthread_cond_wait(&m_Cond, &m_Mutex);
    if (!m_ManualReset)
        m_Signalled = false;
    return pthread_mutex_unlock(&m_Mutex) == 0 ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpEventLinux::WaitTimeout(unsigned int timeoutMs)
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int error = pthread_mutex_lock(&m_Mutex);
    if (error != 0)
        return LockErrorToResult(error);
    if (!m_Signalled)
        pthread_cond_timedwait(&m_Cond, &m_Mutex, &deadline);
    KXAPI_RESULT result = m_Signalled ? KXAPI_OK : KXAPI_E_TIMEOUT;
    if (!m_ManualReset)
        m_Signalled = false;
    if (pthread_mutex_unlock(&m_Mutex) != 0)
        return KXAPI_E_INTERNAL;
    return result;
}

KXAPI_RESULT XpEventLinux::Close()
{
    if (m_Initialised) {
        pthread_cond_destroy(&m_Cond);
        pthread_mutex_destroy(&m_Mutex);
        m_Initialised = false;
    }
    return KXAPI_OK;
}
