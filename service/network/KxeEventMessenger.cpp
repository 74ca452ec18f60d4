#include "network/KxeEventMessenger.h"

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "KxWire.h"
#include "KxeListDefs.h"

KxeEventMessenger::KxeEventMessenger() = default;

KxeEventMessenger::~KxeEventMessenger()
{
    if (m_pLock != nullptr) {
        CritSecAutoLockSvc lock(m_pLock);
        Disconnect();
    }
}

bool KxeEventMessenger::Init(const char* name, uint32_t mask, unsigned int ownerUid)
{
    if (m_pLock != nullptr || name == nullptr)
        return false;
    if (!PipeMessenger::Init())
        return false;
    m_pLock = Xp::Instance()->MakeCritSec();
    if (m_pLock == nullptr)
        return false;
    m_Mask = mask;
    bool connected;
    {
        CritSecAutoLockSvc lock(m_pLock);
        connected = ConnectToClient(name, ownerUid);
    }
    if (!connected)
        m_pLock.reset();
    return connected;
}

bool KxeEventMessenger::DeviceStateChangedEv(int64_t serial, uint32_t event)
{
    if (m_pLock == nullptr)
        return false;
    if ((m_Mask.load() & event) == 0)
        return true;
    char message[KXE_EVENT_MSG_SIZE] = {};
    KxPutU32(message, 0, 0);
    KxPutI64(message, 8, serial);
    KxPutU32(message, 16, event);
    CritSecAutoLockSvc lock(m_pLock);
    return WriteMsg(message, sizeof(message));
}
