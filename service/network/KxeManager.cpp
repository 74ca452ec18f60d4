#include "network/KxeManager.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "XpUtil.h"
#include "network/KxeClient.h"
#include "network/KxeEventMessenger.h"

namespace {
constexpr int FORCE_POLL_MS = 10;
constexpr int FORCE_POLLS = 1000;
} // namespace

KxeManager::KxeManager() : KxeManager(NewKxeEnumerator(), &NewKxeInputRpc) {}

KxeManager::KxeManager(IKxeEnumerator* enumerator, KxeInputRpcFactory rpcFactory)
    : m_pEnumerator(enumerator),
      m_Ports(std::move(rpcFactory)),
      m_Acceptor([this](IXpPipeConnection* connection) { return NewClient(connection); })
{
    m_Scratch.resize(KXE_LIST_CAPACITY);
}

KxeManager::~KxeManager()
{
    Stop();
    Close();
}

uint64_t KxeManager::DeviceKey(const KxeListEntry& entry)
{
    return static_cast<uint64_t>(entry.m_Serial) * 65536u + (static_cast<uint32_t>(entry.m_Port) & 0xFFFFu);
}

bool KxeManager::Init()
{
    if (m_Initialised)
        return false;
    char shmName[100];
    char mutexName[100];
    if (XpUtil::WsToCs(shmName, KXE_LIST_SHMEM_NAME, sizeof(shmName)) != KXAPI_OK ||
        XpUtil::WsToCs(mutexName, KXE_LIST_MUTEX_NAME, sizeof(mutexName)) != KXAPI_OK)
        return false;
    m_Initialised = true; // lets Close release what is made below
    bool ok = false;
    m_pShMem = Xp::Instance()->MakeShMem();
    if (m_pShMem != nullptr && m_pShMem->CreateNew(shmName, KXE_LIST_SHMEM_SIZE, m_pShMemPtr) == KXAPI_OK &&
        m_pShMemPtr != nullptr) {
        KxPutU32(ListMem(), KXE_LIST_OFFS_VERSION, KXE_LIST_VERSION);
        KxPutU32(ListMem(), KXE_LIST_OFFS_CAPACITY, KXE_LIST_CAPACITY);
        KxPutU32(ListMem(), KXE_LIST_OFFS_COUNT, 0);
        KxPutU32(ListMem(), KXE_LIST_OFFS_TIME, static_cast<uint32_t>(time(nullptr)));
        m_pListMutex = Xp::Instance()->MakeNamedMutex();
        ok = m_pListMutex != nullptr && m_pListMutex->CreateNew(mutexName) == KXAPI_OK;
    }
    m_DeviceMap.clear();
    char pipeName[100];
    ok = ok && XpUtil::WsToCs(pipeName, KXE_SERVICE_PIPE_NAME, sizeof(pipeName)) == KXAPI_OK;
    ok = ok && m_Acceptor.Init(KXE_SERVICE_PIPE_NAME);
    if (ok) {
        m_pClientLock = Xp::Instance()->MakeCritSec();
        m_pEventPipeLock = Xp::Instance()->MakeCritSec();
        m_pUpdateLock = Xp::Instance()->MakeCritSec();
        m_pPublishedLock = Xp::Instance()->MakeCritSec();
        m_pDiscoWake = Xp::Instance()->MakeEvent(false);
        ok = m_pClientLock != nullptr && m_pEventPipeLock != nullptr && m_pUpdateLock != nullptr &&
             m_pPublishedLock != nullptr && m_pDiscoWake != nullptr && m_Ports.Init() && m_Vpd.Init();
    }
    if (!ok) {
        Close();
        return false;
    }
    return true;
}

bool KxeManager::Start()
{
    if (!m_Initialised)
        return false;
    if (!m_DiscoRunFlag.load())
        m_pDiscoThread = Xp::Instance()->MakeThread();
    m_DiscoRunFlag = true;
    if (m_pDiscoThread == nullptr || m_pDiscoThread->Create(&KxeManager::StaticDiscoRun, this) != KXAPI_OK) {
        m_DiscoRunFlag = false;
        return false;
    }
    m_pDiscoThread->SetName("KxeDiscovery");
    return m_Acceptor.Start();
}

void KxeManager::Stop()
{
    if (!m_Initialised)
        return;
    m_DiscoRunFlag = false;
    if (m_pDiscoWake != nullptr)
        m_pDiscoWake->Set();
    if (m_pDiscoThread != nullptr) {
        m_pDiscoThread->WaitFinished();
        m_pDiscoThread->Close();
    }
    m_Acceptor.Stop();
}

void KxeManager::Close()
{
    if (!m_Initialised)
        return;
    m_DiscoRunFlag = false;
    if (m_pDiscoWake != nullptr)
        m_pDiscoWake->Set();
    m_pDiscoThread.reset();
    // Stops and deletes every client first: they use everything below.
    m_Acceptor.Close();
    m_pShMem.reset();
    m_pShMemPtr = nullptr;
    m_pListMutex.reset();
    m_DeviceMap.clear();
    m_Ports.Close();
    m_Vpd.Close();
    m_pClientLock.reset();
    m_pEventPipeLock.reset();
    m_pUpdateLock.reset();
    m_pPublishedLock.reset();
    m_pDiscoWake.reset();
    m_Published.clear();
    m_EventPipes.clear();
    m_Initialised = false;
}

void KxeManager::StaticDiscoRun(void* self)
{
    static_cast<KxeManager*>(self)->DiscoRun();
}

void KxeManager::DiscoRun()
{
    bool first = true;
    unsigned int cycleEnd = 0;
    while (m_DiscoRunFlag.load()) {
        const unsigned int sinceCycle = XpUtil::GetTickCount() - cycleEnd;
        if (!first && !m_ForceFlag.load() && sinceCycle < KXE_DISCOVERY_PERIOD_MS) {
            // Asleep until the next cycle is due, a discovery is forced or the manager stops.
            m_pDiscoWake->WaitTimeout(KXE_DISCOVERY_PERIOD_MS - sinceCycle);
            continue;
        }
        first = false;
        if (m_Initialised) {
            int count = static_cast<int>(KXE_LIST_CAPACITY);
            if (m_pEnumerator == nullptr || !m_pEnumerator->EnumerateDevices(m_Scratch.data(), count))
                count = 0;
            count = std::max(0, std::min(count, static_cast<int>(KXE_LIST_CAPACITY)));
            Update(m_Scratch.data(), count);
        }
        m_ForceFlag = false;
        cycleEnd = XpUtil::GetTickCount();
    }
}

KXAPI_RESULT KxeManager::ForceDiscovery()
{
    m_ForceFlag = true;
    if (m_pDiscoWake != nullptr)
        m_pDiscoWake->Set();
    for (int i = 0; i < FORCE_POLLS; ++i) {
        if (!m_ForceFlag.load())
            return KXAPI_OK;
        XpUtil::Sleep(FORCE_POLL_MS);
    }
    return m_ForceFlag.load() ? KXAPI_E_TIMEOUT : KXAPI_OK;
}

bool KxeManager::GetKxeListKeys(char* shmKey, char* mutexKey)
{
    if (m_pShMem == nullptr || m_pListMutex == nullptr)
        return false;
    return m_pShMem->GetKey(shmKey, KXE_KEY_CHARS) == KXAPI_OK &&
           m_pListMutex->GetKey(mutexKey, KXE_KEY_CHARS) == KXAPI_OK;
}

bool KxeManager::Update(const KxeListEntry* entries, int count)
{
    if (!m_Initialised || m_pShMemPtr == nullptr || m_pUpdateLock == nullptr || count < 0)
        return false;
    CritSecAutoLockSvc updateLock(m_pUpdateLock);
    std::map<uint64_t, int64_t> oldKeys;
    for (const auto& device : m_DeviceMap)
        oldKeys.emplace(device.first, device.second->m_Serial);

    if (static_cast<size_t>(count) == m_DeviceMap.size()) {
        bool same = true;
        for (int i = 0; i < count && same; ++i) {
            auto found = m_DeviceMap.find(DeviceKey(entries[i]));
            if (found == m_DeviceMap.end()) {
                same = false;
                break;
            }
            const KxeListEntry& a = entries[i];
            const KxeListEntry& b = *found->second;
            same = memcmp(a.m_IpAddr, b.m_IpAddr, 4) == 0 && memcmp(a.m_MacAddr, b.m_MacAddr, 6) == 0 &&
                   a.m_Serial == b.m_Serial && a.m_TypeNumber == b.m_TypeNumber &&
                   a.m_FirmwareVersion == b.m_FirmwareVersion && a.m_FirmwareVariant == b.m_FirmwareVariant &&
                   a.m_OpMode == b.m_OpMode && a.m_Port == b.m_Port;
        }
        if (same) {
            // Nothing to write; still take the mutex once, so that one another process left
            // taken is set free for the readers at least once per cycle.
            if (LockList() == KXAPI_OK)
                m_pListMutex->Unlock();
            return true;
        }
    }

    if (LockList() != KXAPI_OK)
        return false;
    m_DeviceMap.clear();
    auto* slots = reinterpret_cast<KxeListEntry*>(ListMem() + KXE_LIST_HEADER_SIZE);
    uint32_t written = 0;
    for (int i = 0; i < count && written < KXE_LIST_CAPACITY; ++i, ++written) {
        memcpy(&slots[written], &entries[i], sizeof(KxeListEntry));
        m_DeviceMap.emplace(DeviceKey(entries[i]), &slots[written]); // a second equal key is not mapped
    }
    KxPutU32(ListMem(), KXE_LIST_OFFS_COUNT, written);
    KxPutU32(ListMem(), KXE_LIST_OFFS_TIME, static_cast<uint32_t>(time(nullptr)));
    {
        CritSecAutoLockSvc published(m_pPublishedLock);
        m_Published.assign(entries, entries + written);
    }
    const auto report = ChangeReport(oldKeys);
    m_pListMutex->Unlock();
    // Subscribers hear of the change after every lock is given back.
    HandleAddRemoveEvents(report);
    return true;
}

KXAPI_RESULT KxeManager::LockList()
{
    KXAPI_RESULT result = m_pListMutex->Lock(KXE_LIST_MUTEX_TIMEOUT_MS);
    if (result != KXAPI_E_TIMEOUT)
        return result;
    // Well-behaved readers hold the mutex for a copy of the list only. One that holds it
    // past the service's longest wait (or a process that set it to taken) is overruled: the
    // service is the list's only writer.
    char key[KXE_KEY_CHARS] = {};
    m_pListMutex->GetKey(key, sizeof(key));
    Xp::Instance()->EventLog(XP_EVENT_NAMED_LOCK_RESET, 1, key);
    if (m_pListMutex->ForceFree() != KXAPI_OK)
        return KXAPI_E_TIMEOUT;
    return m_pListMutex->Lock(KXE_LIST_MUTEX_RETAKE_MS);
}

std::vector<std::pair<int64_t, uint32_t>> KxeManager::ChangeReport(const std::map<uint64_t, int64_t>& oldKeys)
{
    std::vector<std::pair<int64_t, uint32_t>> report;
    for (const auto& old : oldKeys) {
        if (m_DeviceMap.count(old.first) == 0)
            report.emplace_back(old.second, KXE_EVENT_DEVICE_REMOVED);
    }
    for (const auto& device : m_DeviceMap) {
        if (oldKeys.count(device.first) == 0)
            report.emplace_back(device.second->m_Serial, KXE_EVENT_DEVICE_ADDED);
    }
    return report;
}

void KxeManager::HandleAddRemoveEvents(const std::vector<std::pair<int64_t, uint32_t>>& report)
{
    if (report.empty())
        return;
    std::vector<std::shared_ptr<KxeEventMessenger>> subscribers;
    {
        CritSecAutoLockSvc lock(m_pClientLock);
        for (KxeClient* client : m_Clients) {
            if (auto messenger = client->EventMessenger())
                subscribers.push_back(std::move(messenger));
        }
    }
    std::vector<const KxeEventMessenger*> failed;
    for (const auto& subscriber : subscribers) {
        for (const auto& event : report) {
            if (!subscriber->DeviceStateChangedEv(event.first, event.second)) {
                failed.push_back(subscriber.get());
                break;
            }
        }
    }
    if (!failed.empty()) {
        // A subscriber that does not take its events is dropped once and for all; the last
        // reference (held here) closes its FIFO after the lock is given back.
        CritSecAutoLockSvc lock(m_pClientLock);
        for (KxeClient* client : m_Clients) {
            for (const KxeEventMessenger* messenger : failed)
                client->DropEventMessenger(messenger);
        }
    }
}

bool KxeManager::PublishedAddress(int64_t serial, uint8_t ip[4])
{
    if (m_pPublishedLock == nullptr)
        return false;
    CritSecAutoLockSvc lock(m_pPublishedLock);
    for (const KxeListEntry& entry : m_Published) {
        if (entry.m_Serial == serial) {
            memcpy(ip, entry.m_IpAddr, 4);
            return true;
        }
    }
    return false;
}

bool KxeManager::IsPublished(int64_t serial, const uint8_t ip[4])
{
    if (m_pPublishedLock == nullptr)
        return false;
    CritSecAutoLockSvc lock(m_pPublishedLock);
    for (const KxeListEntry& entry : m_Published) {
        if (entry.m_Serial == serial && memcmp(entry.m_IpAddr, ip, 4) == 0)
            return true;
    }
    return false;
}

KXAPI_RESULT KxeManager::AttachKxePort(const uint8_t ip[4], int64_t serial, int port, const void* client,
                                       int& channelId, uint32_t& attachId)
{
    // The service calls only the devices that discovery found, at the address they gave.
    if (!IsPublished(serial, ip))
        return KXAPI_E_NO_SUCH_DEVICE;
    return m_Ports.Attach(ip, serial, port, client, channelId, attachId);
}

KXAPI_RESULT KxeManager::DetachKxePort(int64_t serial, int port, uint32_t attachId, const void* client)
{
    return m_Ports.Detach(serial, port, attachId, client);
}

KXAPI_RESULT KxeManager::ExclusiveAccess(int64_t serial, int port, uint32_t command, uint32_t owner,
                                         const void* client)
{
    auto probe = [this, serial, port]() -> KXAPI_RESULT {
        uint8_t ip[4] = {};
        if (!PublishedAddress(serial, ip))
            return KXAPI_E_NOT_FOUND;
        return m_Ports.ProbeAttach(ip, port);
    };
    return m_Ports.Exclusive(serial, port, command, owner, client, probe);
}

void KxeManager::RegisterEventPipe(const wchar_t* name, unsigned int ownerUid, IXpPipeConnection* connection)
{
    if (name == nullptr || m_pEventPipeLock == nullptr)
        return;
    // A name the clean-up would drop at once is not kept.
    if (CleanEventPipe(name, nullptr))
        return;
    CritSecAutoLockSvc lock(m_pEventPipeLock);
    for (EventPipeName& known : m_EventPipes) {
        if (known.m_Name == name)
            return;
    }
    auto countOfUser = [this, ownerUid]() {
        return static_cast<size_t>(std::count_if(m_EventPipes.begin(), m_EventPipes.end(),
                                                 [ownerUid](const EventPipeName& n) { return n.m_OwnerUid == ownerUid; }));
    };
    if (m_EventPipes.size() >= KXE_MAX_EVENT_PIPE_NAMES || countOfUser() >= KXE_MAX_EVENT_PIPE_NAMES_PER_USER)
        CleanEventPipes(connection);
    if (m_EventPipes.size() >= KXE_MAX_EVENT_PIPE_NAMES || countOfUser() >= KXE_MAX_EVENT_PIPE_NAMES_PER_USER)
        return;
    m_EventPipes.push_back({name, ownerUid});
}

void KxeManager::CleanEventPipes(IXpPipeConnection* connection)
{
    if (m_pEventPipeLock == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pEventPipeLock);
    for (auto it = m_EventPipes.begin(); it != m_EventPipes.end();) {
        if (CleanEventPipe(it->m_Name.c_str(), connection))
            it = m_EventPipes.erase(it);
        else
            ++it;
    }
}

bool KxeManager::CleanEventPipe(const wchar_t* name, IXpPipeConnection* connection)
{
    char narrow[KXE_EVENT_NAME_CHARS * 4 + 1];
    if (XpUtil::WsToCs(narrow, name, sizeof(narrow)) != KXAPI_OK)
        return true;
    const size_t prefixLength = strlen(KXE_EVENT_PIPE_PREFIX);
    if (strncmp(narrow, KXE_EVENT_PIPE_PREFIX, prefixLength) != 0)
        return true;
    // A name that is not one safe path component never reaches the file system.
    if (!XpUtil::IsSafeName(narrow))
        return true;
    // The third "_"-separated part is the process id.
    const char* part = strchr(narrow, '_');
    part = part != nullptr ? strchr(part + 1, '_') : nullptr;
    if (part == nullptr || part[1] == '\0')
        return true;
    char* end = nullptr;
    long pid = strtol(part + 1, &end, 10);
    if (pid <= 0 || pid > 0x7FFFFFFF || end == part + 1)
        return true;
    if (connection == nullptr)
        return false;
    return connection->CleanupOrphanPipe(narrow, static_cast<int>(pid));
}

std::vector<std::wstring> KxeManager::EventPipeNames()
{
    if (m_pEventPipeLock == nullptr)
        return {};
    CritSecAutoLockSvc lock(m_pEventPipeLock);
    std::vector<std::wstring> names;
    for (const EventPipeName& known : m_EventPipes)
        names.push_back(known.m_Name);
    return names;
}

void KxeManager::AddClient(KxeClient* client)
{
    CritSecAutoLockSvc lock(m_pClientLock);
    m_Clients.push_back(client);
}

void KxeManager::RemoveClient(KxeClient* client)
{
    CritSecAutoLockSvc lock(m_pClientLock);
    m_Clients.erase(std::remove(m_Clients.begin(), m_Clients.end(), client), m_Clients.end());
}

PipeServerImpl* KxeManager::NewClient(IXpPipeConnection* connection)
{
    // Finished clients were pruned just before: with none left, undo the attachments of
    // clients that are gone.
    bool none;
    {
        CritSecAutoLockSvc lock(m_pClientLock);
        none = m_Clients.empty();
    }
    if (none)
        m_Ports.ClearAll();
    CleanEventPipes(connection);
    return new (std::nothrow) KxeClient(this, connection);
}
