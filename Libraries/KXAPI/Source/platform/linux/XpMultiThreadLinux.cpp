#include "XpMultiThreadLinux.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct PriorityRow {
    int m_Policy;
    int m_Priority;
};

// ThreadPrioLevel 0..5 -> (policy, priority or nice value).
constexpr PriorityRow PRIORITY_TABLE[] = {
    {SCHED_OTHER, 19}, {SCHED_OTHER, 10}, {SCHED_OTHER, 0},
    {SCHED_OTHER, -10}, {SCHED_OTHER, -20}, {SCHED_FIFO, 50},
};

KXAPI_RESULT LockErrorToResult(int error)
{
    return error == EDEADLK ? KXAPI_E_LOCKED : KXAPI_E_INTERNAL;
}

} // namespace

XpThreadLinux::XpThreadLinux()
{
    pthread_cond_init(&m_StartCond, nullptr);
    pthread_mutex_init(&m_StartMutex, nullptr);
}

XpThreadLinux::~XpThreadLinux()
{
    if (m_Created)
        WaitFinished();
    pthread_cond_destroy(&m_StartCond);
    pthread_mutex_destroy(&m_StartMutex);
}

void* XpThreadLinux::StaticEntry(void* self)
{
    auto* thread = static_cast<XpThreadLinux*>(self);
    pthread_mutex_lock(&thread->m_StartMutex);
    thread->m_KernelId = static_cast<int>(syscall(SYS_gettid));
    thread->m_Started = true;
    pthread_cond_broadcast(&thread->m_StartCond);
    // Copy what the thread needs before releasing the handshake: the creator may reuse
    // the object (Close, Create) once the thread has finished, never before.
    void (*function)(void*) = thread->m_pFunction;
    void* argument = thread->m_pArgument;
    pthread_mutex_unlock(&thread->m_StartMutex);
    function(argument);
    pthread_exit(nullptr);
}

KXAPI_RESULT XpThreadLinux::Create(void (*function)(void*), void* argument)
{
    if (function == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (m_Created)
        return KXAPI_E_IN_USE;
    m_pFunction = function;
    m_pArgument = argument;
    m_Started = false;
    int error = pthread_mutex_lock(&m_StartMutex);
    if (error != 0)
        return LockErrorToResult(error);
    if (pthread_create(&m_Thread, nullptr, StaticEntry, this) == 0) {
        m_Created = true;
        while (!m_Started)
            pthread_cond_wait(&m_StartCond, &m_StartMutex);
    }
    bool started = m_Started; // read under the handshake lock
    pthread_mutex_unlock(&m_StartMutex);
    return started ? KXAPI_OK : KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpThreadLinux::SetAffinity(const std::vector<int>& cpus)
{
    cpu_set_t* set = CPU_ALLOC(1024);
    if (set == nullptr)
        return KXAPI_OK;
    size_t setSize = CPU_ALLOC_SIZE(1024);
    CPU_ZERO_S(setSize, set);
    for (int cpu : cpus)
        if (cpu >= 0 && cpu < 1024)
            CPU_SET_S(static_cast<size_t>(cpu), setSize, set);
    if (m_Created)
        pthread_setaffinity_np(m_Thread, setSize, set);
    CPU_FREE(set);
    return KXAPI_OK;
}

KXAPI_RESULT XpThreadLinux::SetName(const char* name)
{
    using SetNameFunction = int (*)(pthread_t, const char*);
    static auto setName = reinterpret_cast<SetNameFunction>(dlsym(RTLD_DEFAULT, "pthread_setname_np"));
    if (setName == nullptr || name == nullptr || !m_Created)
        return KXAPI_OK;
    char shortName[16];
    strncpy(shortName, name, sizeof(shortName) - 1);
    shortName[sizeof(shortName) - 1] = '\0';
    setName(m_Thread, shortName);
    return KXAPI_OK;
}

KXAPI_RESULT XpThreadLinux::SetPriority(ThreadPrioLevel level)
{
    if (!m_Created)
        return KXAPI_E_NOT_INITIALIZED;
    if (level < THREAD_PRIO_LOWEST || level > THREAD_PRIO_REALTIME)
        return KXAPI_E_INVALID_ARG;
    return SetPriority(PRIORITY_TABLE[level].m_Policy, PRIORITY_TABLE[level].m_Priority);
}

KXAPI_RESULT XpThreadLinux::SetPriority(int policy, int priority)
{
    if (!m_Created)
        return KXAPI_E_NOT_INITIALIZED;
    if (policy < 0 || policy > 2)
        return KXAPI_E_INVALID_ARG;
    sched_param param{};
    param.sched_priority = policy == SCHED_OTHER ? 0 : priority;
    if (sched_setscheduler(m_KernelId, policy, &param) != 0)
        return KXAPI_E_INTERNAL;
    if (policy == SCHED_OTHER && setpriority(PRIO_PROCESS, static_cast<id_t>(m_KernelId), priority) != 0)
        return KXAPI_E_INTERNAL;
    return KXAPI_OK;
}

KXAPI_RESULT XpThreadLinux::WaitFinished()
{
    if (!m_Created)
        return KXAPI_E_NOT_INITIALIZED;
    if (m_Started) {
        pthread_join(m_Thread, nullptr);
        m_Started = false;
    }
    return KXAPI_OK;
}

KXAPI_RESULT XpThreadLinux::Close()
{
    KXAPI_RESULT result = WaitFinished();
    m_Created = false;
    return result;
}

XpRecursiveLockLinux::~XpRecursiveLockLinux()
{
    Close();
}

KXAPI_RESULT XpRecursiveLockLinux::Init()
{
    if (m_Initialised)
        return KXAPI_E_IN_USE;
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return KXAPI_E_OUT_OF_MEM;
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    int error = pthread_mutex_init(&m_Mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (error == ENOMEM)
        return KXAPI_E_OUT_OF_MEM;
    if (error == EPERM)
        return KXAPI_E_NO_PERMISSION;
    if (error != 0)
        return KXAPI_E_INTERNAL;
    m_Initialised = true;
    return KXAPI_OK;
}

KXAPI_RESULT XpRecursiveLockLinux::Lock()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int error = pthread_mutex_lock(&m_Mutex);
    return error == 0 ? KXAPI_OK : LockErrorToResult(error);
}

KXAPI_RESULT XpRecursiveLockLinux::Unlock()
{
    if (!m_Initialised)
        return KXAPI_E_NOT_INITIALIZED;
    int error = pthread_mutex_unlock(&m_Mutex);
    if (error == 0)
        return KXAPI_OK;
    return error == EPERM ? KXAPI_E_NOT_LOCKED : KXAPI_E_INTERNAL;
}

KXAPI_RESULT XpRecursiveLockLinux::Close()
{
    if (m_Initialised) {
        pthread_mutex_destroy(&m_Mutex);
        m_Initialised = false;
    }
    return KXAPI_OK;
}
