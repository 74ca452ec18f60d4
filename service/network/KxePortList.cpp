#include "network/KxePortList.h"

#include <algorithm>
#include <cstdio>

#include "CrossPlatform.h"
#include "KxeListDefs.h"
#include "XpUtil.h"
#include "CritSecAutoLockSvc.h"

KxePortList::KxePortList(KxeInputRpcFactory factory) : m_Factory(std::move(factory)) {}

KxePortList::~KxePortList()
{
    Close();
}

void KxePortList::Close()
{
    ClearAll();
    delete m_pLock;
    m_pLock = nullptr;
}

bool KxePortList::Init()
{
    if (m_pLock != nullptr)
        return false;
    m_pLock = Xp::Instance()->NewCritSec();
    if (m_pLock == nullptr || m_pLock->Init() != KXAPI_OK) {
        delete m_pLock;
        m_pLock = nullptr;
        return false;
    }
    return true;
}

KxePortRecord* KxePortList::FindRecord(int64_t serial, int port)
{
    for (KxePortRecord& record : m_Records) {
        if (record.m_Serial == serial && record.m_Port == port)
            return &record;
    }
    return nullptr;
}

KXAPI_RESULT KxePortList::Attach(const uint8_t ip[4], int64_t serial, int port, int& channelId, uint32_t& attachId)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    KxePortRecord* record = FindRecord(serial, port);
    if (record == nullptr) {
        KxePortRecord fresh;
        fresh.m_Serial = serial;
        fresh.m_Port = port;
        snprintf(fresh.m_Endpoint, sizeof(fresh.m_Endpoint), "%s//%d.%d.%d.%d:%d", "http:", ip[0], ip[1], ip[2],
                 ip[3], KXE_DEVICE_SOAP_PORT);
        fresh.m_pRpc.reset(m_Factory ? m_Factory(fresh.m_Endpoint) : nullptr);
        if (!fresh.m_pRpc)
            return KXAPI_E_COMMUNICATION;
        int channel = -1;
        KXAPI_RESULT result = fresh.m_pRpc->Attach(port, false, channel);
        if (result != KXAPI_OK)
            return result;
        fresh.m_ChannelId = channel;
        m_Records.push_back(std::move(fresh));
        record = &m_Records.back();
    }
    attachId = XpUtil::GetTickCount();
    record->m_AttachIds.push_back(attachId);
    channelId = record->m_ChannelId;
    return KXAPI_OK;
}

KXAPI_RESULT KxePortList::Detach(int64_t serial, int port, uint32_t attachId)
{
    if (attachId == 0)
        return KXAPI_E_NOT_FOUND;
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    for (auto it = m_Records.begin(); it != m_Records.end(); ++it) {
        if (it->m_Serial != serial || it->m_Port != port)
            continue;
        auto& ids = it->m_AttachIds;
        auto end = std::remove(ids.begin(), ids.end(), attachId);
        if (end == ids.end())
            return KXAPI_E_NOT_ATTACHED;
        ids.erase(end, ids.end());
        if (!ids.empty())
            return KXAPI_OK;
        KXAPI_RESULT result = it->m_pRpc->Detach(it->m_ChannelId);
        m_Records.erase(it);
        return result;
    }
    return KXAPI_E_NOT_ATTACHED;
}

KXAPI_RESULT KxePortList::Exclusive(int64_t serial, int port, uint32_t command, uint32_t owner,
                                    const std::function<KXAPI_RESULT()>& probeFallback)
{
    if (command != KXE_EXCL_RELEASE && owner == 0)
        return KXAPI_E_INVALID_ARG;
    if (command > KXE_EXCL_PROBE)
        return KXAPI_E_NOT_SUPPORTED;
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    if (serial == -1 || port == -1) {
        if (command == KXE_EXCL_RELEASE) {
            for (KxePortRecord& record : m_Records) {
                if (record.m_ExclOwner == owner)
                    record.m_ExclOwner = 0;
            }
        }
        return KXAPI_OK;
    }
    KxePortRecord* record = FindRecord(serial, port);
    if (record == nullptr) {
        if (command == KXE_EXCL_PROBE && probeFallback)
            return probeFallback();
        return KXAPI_E_NOT_FOUND;
    }
    switch (command) {
    case KXE_EXCL_ACQUIRE:
        if (record->m_ExclOwner != 0)
            return KXAPI_E_IN_USE;
        record->m_ExclOwner = owner;
        return KXAPI_OK;
    case KXE_EXCL_RELEASE:
        if (record->m_ExclOwner != owner)
            return KXAPI_E_IN_USE;
        record->m_ExclOwner = 0;
        return KXAPI_OK;
    default:
        return record->m_ExclOwner != 0 ? KXAPI_E_IN_USE : KXAPI_OK;
    }
}

KXAPI_RESULT KxePortList::ProbeAttach(const uint8_t ip[4], int64_t serial, int port)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    int channel = -1;
    uint32_t attachId = 0;
    KXAPI_RESULT result = Attach(ip, serial, port, channel, attachId);
    if (result == KXAPI_OK)
        Detach(serial, port, attachId);
    return result;
}

void KxePortList::ClearAll()
{
    if (m_pLock == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pLock);
    for (KxePortRecord& record : m_Records) {
        if (record.m_pRpc)
            record.m_pRpc->Detach(record.m_ChannelId);
    }
    m_Records.clear();
}

size_t KxePortList::RecordCount()
{
    if (m_pLock == nullptr)
        return 0;
    CritSecAutoLockSvc lock(m_pLock);
    return m_Records.size();
}
