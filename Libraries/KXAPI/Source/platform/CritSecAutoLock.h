// Scoped lock over an IXpCritSec: locks on construction, unlocks on every way out.
#pragma once

#include "XpHandles.h"
#include "XpInterfaces.h"
#include "KxNonCopyable.h"

class CritSecAutoLock : private KxNonCopyable {
public:
    explicit CritSecAutoLock(IXpCritSec* critSec) : m_pCritSec(critSec)
    {
        m_Locked = m_pCritSec != nullptr && m_pCritSec->Lock() == KXAPI_OK;
    }
    explicit CritSecAutoLock(const XpCritSecPtr& critSec) : CritSecAutoLock(critSec.get()) {}
    ~CritSecAutoLock()
    {
        if (m_Locked)
            m_pCritSec->Unlock();
    }

    // Releases the lock before the end of the scope.
    void Unlock()
    {
        if (m_Locked) {
            m_pCritSec->Unlock();
            m_Locked = false;
        }
    }
    bool IsLocked() const { return m_Locked; }

private:
    IXpCritSec* m_pCritSec;
    bool m_Locked = false;
};
