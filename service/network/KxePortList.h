// The per-port attachment records shared by all clients of the network device manager:
// one device channel per (serial, port), the attach ids of the clients that use it (each
// bound to the connection that made it), and the exclusive owner.
//
// Calls to a device are never made under the port-list lock: a record is marked as being
// attached or detached while its device call runs, and other requests for the same port
// wait (bounded) until it settles; requests for other ports go on at once.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include "KxapiResult.h"
#include "XpHandles.h"
#include "network/KxeInputRpc.h"

// Most attachments one connection may hold at a time (well above any real client).
constexpr size_t KXE_MAX_ATTACHES_PER_CLIENT = 256;
// Longest wait for a device call of another request on the same port to finish.
constexpr unsigned int KXE_PORT_SETTLE_WAIT_MS = 2 * KXE_DEVICE_CALL_TOTAL_MS + 1000;

// One client attachment: its id and the connection that made it.
struct KxePortAttach {
    uint32_t m_Id = 0;
    const void* m_pOwner = nullptr;
};

enum class KxePortState { ATTACHING, READY, DETACHING };

struct KxePortRecord {
    int64_t m_Serial = 0;
    int m_Port = 0;
    int m_ChannelId = -1;
    char m_Endpoint[1000] = {};
    std::unique_ptr<IKxeInputRpc> m_pRpc;
    std::vector<KxePortAttach> m_Attaches;
    uint32_t m_ExclOwner = 0;
    const void* m_pExclConnection = nullptr;
    KxePortState m_State = KxePortState::ATTACHING;
};

class KxePortList {
public:
    explicit KxePortList(KxeInputRpcFactory factory);
    ~KxePortList();
    bool Init();
    // Releases every record (as ClearAll) and the lock; Init may follow again.
    void Close();

    // Attaches (serial, port) for the connection `owner`: shares the port's device channel or
    // attaches it at the device. The attach id is random, never 0 and unique among the
    // records. KXAPI_E_OUT_OF_RESOURCES when the connection holds too many attachments.
    KXAPI_RESULT Attach(const uint8_t ip[4], int64_t serial, int port, const void* owner, int& channelId,
                        uint32_t& attachId);
    // Removes the attachment `attachId` of `owner`; an id of another connection is
    // KXAPI_E_NOT_ATTACHED and changes nothing. The last attachment detaches at the device.
    KXAPI_RESULT Detach(int64_t serial, int port, uint32_t attachId, const void* owner);
    // Acquire/release/probe on the records; an exclusive access belongs to the owner id and
    // the connection that took it. `probeFallback` is called, without the lock, for a probe
    // of a port without a record.
    KXAPI_RESULT Exclusive(int64_t serial, int port, uint32_t command, uint32_t ownerId, const void* connection,
                           const std::function<KXAPI_RESULT()>& probeFallback);
    // Attaches at the device and detaches again at once, without a record; the attach's result.
    KXAPI_RESULT ProbeAttach(const uint8_t ip[4], int port);
    // Everything `owner` holds: its exclusive accesses and its attachments (a port left
    // without attachment is detached at the device).
    void ReleaseOwner(const void* owner);
    // Detaches every settled channel at the device (results ignored) and drops its record.
    void ClearAll();
    size_t RecordCount();

private:
    KxePortRecord* FindRecord(int64_t serial, int port);
    bool IdInUse(uint32_t id) const;
    uint32_t NewAttachId();
    // Detaches the records (taken out of the list by the caller's marking) at their devices
    // without the lock, then drops them.
    void DetachAndDrop(const std::vector<KxePortRecord*>& records);

    KxeInputRpcFactory m_Factory;
    XpCritSecPtr m_pLock;
    std::list<KxePortRecord> m_Records;
};

// Endpoint text of a device's input-channel service ("http://a.b.c.d:8000").
void KxeFormatEndpoint(char* buffer, size_t size, const uint8_t ip[4]);
