// An event built from a mutex and a condition variable on the monotonic clock.
#pragma once

#include <pthread.h>

#include "XpInterfaces.h"

class XpEventLinux : public IXpEvent {
public:
    XpEventLinux() = default;
    ~XpEventLinux() override;

    KXAPI_RESULT Init(bool manualReset) override;
    KXAPI_RESULT Set() override;
    KXAPI_RESULT Reset() override;
    KXAPI_RESULT Wait() override;
    KXAPI_RESULT WaitTimeout(unsigned int timeoutMs) override;
    KXAPI_RESULT Close() override;

private:
    bool m_Initialised = false;
    pthread_cond_t m_Cond{};
    pthread_mutex_t m_Mutex{};
    bool m_Signalled = false;
    bool m_ManualReset = false;
};
