#include "network/KxePortList.h"

#include <algorithm>
#include <cstdio>
#include <sys/random.h>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "KxeListDefs.h"
#include "XpUtil.h"

namespace {
constexpr unsigned int SETTLE_POLL_MS = 5;
} // namespace

void KxeFormatEndpoint(char* buffer, size_t size, const uint8_t ip[4])
{
    snprintf(buffer, size, "%s//%d.%d.%d.%d:%d", "http:", ip[0], ip[1], ip[2], ip[3], KXE_DEVICE_SOAP_PORT);
}

KxePortList::KxePortList(KxeInputRpcFactory factory) : m_Factory(std::move(factory)) {}

KxePortList::~KxePortList()
{
    Close();
}

void KxePortList::Close()
{
    ClearAll();
    m_pLock.reset();
}

bool KxePortList::Init()
{
    if (m_pLock != nullptr)
        return false;
    m_pLock = Xp::Instance()->MakeCritSec();
    return m_pLock != nullptr;
}

KxePortRecord* KxePortList::FindRecord(int64_t serial, int port)
{
    for (KxePortRecord& record : m_Records) {
        if (record.m_Serial == serial && record.m_Port == port)
            return &record;
    }
    return nullptr;
}

bool KxePortList::IdInUse(uint32_t id) const
{
    for (const KxePortRecord& record : m_Records) {
        for (const KxePortAttach& attach : record.m_Attaches) {
            if (attach.m_Id == id)
                return true;
        }
    }
    return false;
}

uint32_t KxePortList::NewAttachId()
{
    // Ids come from the kernel's random source, so a client cannot guess another's.
    for (int attempt = 0; attempt < 64; ++attempt) {
        uint32_t id = 0;
        if (getrandom(&id, sizeof(id), 0) != static_cast<ssize_t>(sizeof(id)))
            continue;
        if (id != 0 && !IdInUse(id))
            return id;
    }
    return 0;
}

KXAPI_RESULT KxePortList::Attach(const uint8_t ip[4], int64_t serial, int port, const void* owner, int& channelId,
                                 uint32_t& attachId)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    const unsigned int start = XpUtil::GetTickCount();
    for (;;) {
        KxePortRecord* fresh = nullptr;
        {
            CritSecAutoLockSvc lock(m_pLock);
            size_t held = 0;
            for (const KxePortRecord& candidate : m_Records)
                held += static_cast<size_t>(
                    std::count_if(candidate.m_Attaches.begin(), candidate.m_Attaches.end(),
                                  [owner](const KxePortAttach& a) { return a.m_pOwner == owner; }));
            if (held >= KXE_MAX_ATTACHES_PER_CLIENT)
                return KXAPI_E_OUT_OF_RESOURCES;
            KxePortRecord* record = FindRecord(serial, port);
            if (record != nullptr && record->m_State == KxePortState::READY) {
                const uint32_t id = NewAttachId();
                if (id == 0)
                    return KXAPI_E_INTERNAL;
                record->m_Attaches.push_back({id, owner});
                attachId = id;
                channelId = record->m_ChannelId;
                return KXAPI_OK;
            }
            if (record == nullptr) {
                // A new record marks the port as being attached while the device call runs
                // without the lock (records live in a std::list and stay where they are).
                m_Records.emplace_back();
                fresh = &m_Records.back();
                fresh->m_Serial = serial;
                fresh->m_Port = port;
                fresh->m_State = KxePortState::ATTACHING;
                KxeFormatEndpoint(fresh->m_Endpoint, sizeof(fresh->m_Endpoint), ip);
                fresh->m_pRpc.reset(m_Factory ? m_Factory(fresh->m_Endpoint) : nullptr);
            }
        }
        if (fresh == nullptr) {
            // Another request's device call for this port is running: wait until it settles.
            if (XpUtil::GetTickCount() - start >= KXE_PORT_SETTLE_WAIT_MS)
                return KXAPI_E_TIMEOUT;
            XpUtil::Sleep(SETTLE_POLL_MS);
            continue;
        }
        int channel = -1;
        const KXAPI_RESULT result =
            fresh->m_pRpc ? fresh->m_pRpc->Attach(port, false, channel) : KXAPI_E_COMMUNICATION;
        CritSecAutoLockSvc lock(m_pLock);
        if (result != KXAPI_OK) {
            m_Records.remove_if([fresh](const KxePortRecord& r) { return &r == fresh; });
            return result;
        }
        fresh->m_ChannelId = channel;
        fresh->m_State = KxePortState::READY;
        const uint32_t id = NewAttachId();
        if (id == 0) {
            // Cannot happen short of a broken random source; the channel stays for the next.
            return KXAPI_E_INTERNAL;
        }
        fresh->m_Attaches.push_back({id, owner});
        attachId = id;
        channelId = channel;
        return KXAPI_OK;
    }
}

KXAPI_RESULT KxePortList::Detach(int64_t serial, int port, uint32_t attachId, const void* owner)
{
    if (attachId == 0)
        return KXAPI_E_NOT_FOUND;
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    KxePortRecord* record = FindRecord(serial, port);
    if (record == nullptr || record->m_State != KxePortState::READY)
        return KXAPI_E_NOT_ATTACHED;
    auto& attaches = record->m_Attaches;
    auto found = std::find_if(attaches.begin(), attaches.end(), [attachId, owner](const KxePortAttach& a) {
        return a.m_Id == attachId && a.m_pOwner == owner;
    });
    if (found == attaches.end())
        return KXAPI_E_NOT_ATTACHED;
    attaches.erase(found);
    if (!attaches.empty())
        return KXAPI_OK;
    record->m_State = KxePortState::DETACHING;
    lock.Unlock();
    KXAPI_RESULT result = record->m_pRpc ? record->m_pRpc->Detach(record->m_ChannelId) : KXAPI_E_COMMUNICATION;
    CritSecAutoLockSvc relock(m_pLock);
    m_Records.remove_if([record](const KxePortRecord& r) { return &r == record; });
    return result;
}

KXAPI_RESULT KxePortList::Exclusive(int64_t serial, int port, uint32_t command, uint32_t ownerId,
                                    const void* connection, const std::function<KXAPI_RESULT()>& probeFallback)
{
    if (command != KXE_EXCL_RELEASE && ownerId == 0)
        return KXAPI_E_INVALID_ARG;
    if (command > KXE_EXCL_PROBE)
        return KXAPI_E_NOT_SUPPORTED;
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    if (serial == -1 || port == -1) {
        if (command == KXE_EXCL_RELEASE) {
            for (KxePortRecord& record : m_Records) {
                if (record.m_ExclOwner == ownerId && record.m_pExclConnection == connection) {
                    record.m_ExclOwner = 0;
                    record.m_pExclConnection = nullptr;
                }
            }
        }
        return KXAPI_OK;
    }
    KxePortRecord* record = FindRecord(serial, port);
    if (record == nullptr) {
        lock.Unlock();
        if (command == KXE_EXCL_PROBE && probeFallback)
            return probeFallback();
        return KXAPI_E_NOT_FOUND;
    }
    switch (command) {
    case KXE_EXCL_ACQUIRE:
        if (record->m_ExclOwner != 0)
            return KXAPI_E_IN_USE;
        record->m_ExclOwner = ownerId;
        record->m_pExclConnection = connection;
        return KXAPI_OK;
    case KXE_EXCL_RELEASE:
        // Only the connection that took the access can give it back.
        if (record->m_ExclOwner != ownerId || record->m_pExclConnection != connection)
            return KXAPI_E_IN_USE;
        record->m_ExclOwner = 0;
        record->m_pExclConnection = nullptr;
        return KXAPI_OK;
    default:
        return record->m_ExclOwner != 0 ? KXAPI_E_IN_USE : KXAPI_OK;
    }
}

KXAPI_RESULT KxePortList::ProbeAttach(const uint8_t ip[4], int port)
{
    char endpoint[sizeof(KxePortRecord::m_Endpoint)];
    KxeFormatEndpoint(endpoint, sizeof(endpoint), ip);
    std::unique_ptr<IKxeInputRpc> rpc(m_Factory ? m_Factory(endpoint) : nullptr);
    if (!rpc)
        return KXAPI_E_COMMUNICATION;
    int channel = -1;
    KXAPI_RESULT result = rpc->Attach(port, false, channel);
    if (result == KXAPI_OK)
        rpc->Detach(channel);
    return result;
}

void KxePortList::DetachAndDrop(const std::vector<KxePortRecord*>& records)
{
    for (KxePortRecord* record : records) {
        if (record->m_pRpc)
            record->m_pRpc->Detach(record->m_ChannelId);
    }
    CritSecAutoLockSvc lock(m_pLock);
    for (KxePortRecord* record : records)
        m_Records.remove_if([record](const KxePortRecord& r) { return &r == record; });
}

void KxePortList::ReleaseOwner(const void* owner)
{
    if (m_pLock == nullptr)
        return;
    std::vector<KxePortRecord*> emptied;
    {
        CritSecAutoLockSvc lock(m_pLock);
        for (KxePortRecord& record : m_Records) {
            if (record.m_pExclConnection == owner) {
                record.m_ExclOwner = 0;
                record.m_pExclConnection = nullptr;
            }
            if (record.m_State != KxePortState::READY)
                continue;
            auto& attaches = record.m_Attaches;
            const size_t before = attaches.size();
            attaches.erase(std::remove_if(attaches.begin(), attaches.end(),
                                          [owner](const KxePortAttach& a) { return a.m_pOwner == owner; }),
                           attaches.end());
            if (before != 0 && attaches.empty()) {
                record.m_State = KxePortState::DETACHING;
                emptied.push_back(&record);
            }
        }
    }
    DetachAndDrop(emptied);
}

void KxePortList::ClearAll()
{
    if (m_pLock == nullptr)
        return;
    std::vector<KxePortRecord*> settled;
    {
        CritSecAutoLockSvc lock(m_pLock);
        for (KxePortRecord& record : m_Records) {
            if (record.m_State == KxePortState::READY) {
                record.m_State = KxePortState::DETACHING;
                settled.push_back(&record);
            }
        }
    }
    DetachAndDrop(settled);
}

size_t KxePortList::RecordCount()
{
    if (m_pLock == nullptr)
        return 0;
    CritSecAutoLockSvc lock(m_pLock);
    return m_Records.size();
}
