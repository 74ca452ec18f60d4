// The service's scoped lock; same behaviour as the library's CritSecAutoLock.
#pragma once

#include "CritSecAutoLock.h"

class CritSecAutoLockSvc : public CritSecAutoLock {
public:
    explicit CritSecAutoLockSvc(IXpCritSec* critSec) : CritSecAutoLock(critSec) {}
    explicit CritSecAutoLockSvc(const XpCritSecPtr& critSec) : CritSecAutoLock(critSec) {}
};
