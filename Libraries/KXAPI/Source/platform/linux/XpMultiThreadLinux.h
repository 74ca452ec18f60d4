// POSIX implementations of threads and recursive locks.
#pragma once

#include <pthread.h>

#include "XpInterfaces.h"
#include "KxNonCopyable.h"

class XpThreadLinux : public IXpThread {
public:
    XpThreadLinux();
    ~XpThreadLinux() override;

    KXAPI_RESULT Create(void (*function)(void*), void* argument) override;
    KXAPI_RESULT SetAffinity(const std::vector<int>& cpus) override;
    KXAPI_RESULT SetName(const char* name) override;
    KXAPI_RESULT SetPriority(ThreadPrioLevel level) override;
    KXAPI_RESULT SetPriority(int policy, int priority) override;
    KXAPI_RESULT WaitFinished() override;
    KXAPI_RESULT Close() override;

private:
    static void* StaticEntry(void* self);

    pthread_t m_Thread{};
    void (*m_pFunction)(void*) = nullptr;
    void* m_pArgument = nullptr;
    bool m_Created = false;
    bool m_Started = false;
    int m_KernelId = 0;
    pthread_cond_t m_StartCond;
    pthread_mutex_t m_StartMutex;
};

// Shared body of XpCritSecLinux and XpMutexLinux: a recursive pthread mutex.
class XpRecursiveLockLinux : private KxNonCopyable {
public:
    XpRecursiveLockLinux() = default;
    ~XpRecursiveLockLinux();

    KXAPI_RESULT Init();
    KXAPI_RESULT Lock();
    KXAPI_RESULT Unlock();
    KXAPI_RESULT Close();

private:
    bool m_Initialised = false;
    pthread_mutex_t m_Mutex{};
};

class XpCritSecLinux : public IXpCritSec {
public:
    KXAPI_RESULT Init() override { return m_Lock.Init(); }
    KXAPI_RESULT Lock() override { return m_Lock.Lock(); }
    KXAPI_RESULT Unlock() override { return m_Lock.Unlock(); }
    KXAPI_RESULT Close() override { return m_Lock.Close(); }

private:
    XpRecursiveLockLinux m_Lock;
};

class XpMutexLinux : public IXpMutex {
public:
    KXAPI_RESULT Init() override { return m_Lock.Init(); }
    KXAPI_RESULT Lock() override { return m_Lock.Lock(); }
    KXAPI_RESULT Unlock() override { return m_Lock.Unlock(); }
    KXAPI_RESULT Close() override { return m_Lock.Close(); }

private:
    XpRecursiveLockLinux m_Lock;
};
