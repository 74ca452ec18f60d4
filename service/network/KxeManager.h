// The network device manager: runs discovery, publishes the devices in the shared list
// (named shared memory guarded by a named mutex), reports devices that come and go to the
// registered clients, and serves "KxeRecvPipe" with one KxeClient per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ClientAcceptor.h"
#include "KxeListDefs.h"
#include "XpHandles.h"
#include "network/KxeEnum.h"
#include "network/KxeInputRpc.h"
#include "network/KxePortList.h"
#include "network/KxeVpdCache.h"
#include "KxNonCopyable.h"

class KxeClient;

constexpr unsigned int KXE_DISCOVERY_PERIOD_MS = 60000;
// Event FIFO names kept for the clean-up of orphan FIFOs: in all, and per user.
constexpr size_t KXE_MAX_EVENT_PIPE_NAMES = 256;
constexpr size_t KXE_MAX_EVENT_PIPE_NAMES_PER_USER = 32;
// After the list's named mutex was set free by force, the service waits this long for it.
constexpr int KXE_LIST_MUTEX_RETAKE_MS = 200;

class KxeManager : private KxNonCopyable {
public:
    // The WS-Discovery enumerator and the devices' SOAP clients by default.
    KxeManager();
    // For tests: another enumerator (adopted) and another maker of device clients.
    KxeManager(IKxeEnumerator* enumerator, KxeInputRpcFactory rpcFactory);
    virtual ~KxeManager();

    // Creates the shared list, its named mutex, the listener and the locks; false when
    // already initialised or when any of them cannot be had (everything made is released).
    bool Init();
    // Starts the discovery thread, then the accept thread.
    bool Start();
    // Ends the discovery and accept threads; connected clients keep being served.
    void Stop();
    // Releases everything; stops and deletes every client.
    void Close();

    // Asks the discovery thread for a cycle now and waits (about 10 s at most) until it ran.
    KXAPI_RESULT ForceDiscovery();
    // Key texts of the shared list and its named mutex (100-character buffers).
    bool GetKxeListKeys(char* shmKey, char* mutexKey);
    // Publishes a discovery result; false when the named mutex could not be had in 5 s.
    // Calls are serialised (the discovery thread and, in tests, other callers).
    bool Update(const KxeListEntry* entries, int count);

    // Client connections; `client` is the connection the request came on (attach ids and
    // exclusive accesses belong to it). An attach names a device of the published list at
    // the address published for its serial (else KXAPI_E_NO_SUCH_DEVICE).
    KXAPI_RESULT AttachKxePort(const uint8_t ip[4], int64_t serial, int port, const void* client, int& channelId,
                               uint32_t& attachId);
    KXAPI_RESULT DetachKxePort(int64_t serial, int port, uint32_t attachId, const void* client);
    KXAPI_RESULT ExclusiveAccess(int64_t serial, int port, uint32_t command, uint32_t owner, const void* client);
    // Releases every attachment and exclusive access of a client that goes.
    void ReleaseClient(const void* client) { m_Ports.ReleaseOwner(client); }
    void ClearKxePortRefCountList() { m_Ports.ClearAll(); }
    KxeVpdCache& VpdCache() { return m_Vpd; }

    // Event FIFO registry, bounded in all and per user (`ownerUid`, the owner of the FIFO).
    // When full, the names of processes that are gone are cleaned with `connection` first;
    // a name that still finds no room is not recorded.
    void RegisterEventPipe(const wchar_t* name, unsigned int ownerUid = XP_ANY_OWNER,
                           IXpPipeConnection* connection = nullptr);
    void CleanEventPipes(IXpPipeConnection* connection);
    bool CleanEventPipe(const wchar_t* name, IXpPipeConnection* connection);
    std::vector<std::wstring> EventPipeNames();

    // Client handlers enter and leave the list of clients that hear device events.
    void AddClient(KxeClient* client);
    void RemoveClient(KxeClient* client);
    // Prunes finished clients.
    void CleanKxeClientList() { m_Acceptor.CleanClientList(); }
    size_t ClientCount() { return m_Acceptor.ClientCount(); }
    size_t PortRecordCount() { return m_Ports.RecordCount(); }
    // Serialises a client's messenger changes with the change report.
    IXpCritSec* ClientListLock() { return m_pClientLock.get(); }

private:
    static void StaticDiscoRun(void* self);
    void DiscoRun();
    PipeServerImpl* NewClient(IXpPipeConnection* connection);
    // Device reports (serial, event) of one published change: removed ones first.
    std::vector<std::pair<int64_t, uint32_t>> ChangeReport(const std::map<uint64_t, int64_t>& oldKeys);
    // Writes the reports to every subscriber without holding any lock other clients need;
    // a subscriber whose write fails is dropped.
    void HandleAddRemoveEvents(const std::vector<std::pair<int64_t, uint32_t>>& report);
    // Takes the list's named mutex within 5 s; a mutex that stays taken (or was zeroed) by
    // another process is set free, logged and taken again.
    KXAPI_RESULT LockList();
    bool IsPublished(int64_t serial, const uint8_t ip[4]);
    bool PublishedAddress(int64_t serial, uint8_t ip[4]);
    static uint64_t DeviceKey(const KxeListEntry& entry);
    unsigned char* ListMem() { return static_cast<unsigned char*>(m_pShMemPtr); }

    bool m_Initialised = false;
    std::unique_ptr<IKxeEnumerator> m_pEnumerator;
    XpSharedMemPtr m_pShMem;
    void* m_pShMemPtr = nullptr;
    XpNamedMutexPtr m_pListMutex;
    XpCritSecPtr m_pUpdateLock; // guards the device map across one Update
    std::map<uint64_t, KxeListEntry*> m_DeviceMap;
    std::vector<KxeListEntry> m_Scratch;
    // The service's own copy of what it published (the shared memory is for readers).
    XpCritSecPtr m_pPublishedLock;
    std::vector<KxeListEntry> m_Published;

    XpCritSecPtr m_pClientLock;
    std::vector<KxeClient*> m_Clients;
    KxePortList m_Ports;
    KxeVpdCache m_Vpd;
    XpCritSecPtr m_pEventPipeLock;
    struct EventPipeName {
        std::wstring m_Name;
        unsigned int m_OwnerUid;
    };
    std::vector<EventPipeName> m_EventPipes;

    XpThreadPtr m_pDiscoThread;
    std::atomic<bool> m_DiscoRunFlag{false};
    std::atomic<bool> m_ForceFlag{false};
    XpEventPtr m_pDiscoWake; // wakes the discovery thread: a forced cycle, or the stop
    ClientAcceptor m_Acceptor;
};
