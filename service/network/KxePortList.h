// The per-port attachment records shared by all clients of the network device manager:
// one device channel per (serial, port), counted attach ids, and the exclusive owner.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "KxapiResult.h"
#include "XpInterfaces.h"
#include "network/KxeInputRpc.h"

struct KxePortRecord {
    int64_t m_Serial = 0;
    int m_Port = 0;
    int m_ChannelId = -1;
    char m_Endpoint[1000] = {};
    std::unique_ptr<IKxeInputRpc> m_pRpc;
    std::vector<uint32_t> m_AttachIds;
    uint32_t m_ExclOwner = 0;
};

class KxePortList {
public:
    explicit KxePortList(KxeInputRpcFactory factory);
    ~KxePortList();
    bool Init();
    // Releases every record (as ClearAll) and the lock; Init may follow again.
    void Close();

    KXAPI_RESULT Attach(const uint8_t ip[4], int64_t serial, int port, int& channelId, uint32_t& attachId);
    KXAPI_RESULT Detach(int64_t serial, int port, uint32_t attachId);
    // Acquire/release/probe without the probe's fall-back (records only); `probeFallback`
    // is called for a probe of a port without a record, with the port-list lock held.
    KXAPI_RESULT Exclusive(int64_t serial, int port, uint32_t command, uint32_t owner,
                           const std::function<KXAPI_RESULT()>& probeFallback);
    // Attaches at the device and detaches again at once; the attach's result.
    KXAPI_RESULT ProbeAttach(const uint8_t ip[4], int64_t serial, int port);
    // Detaches every channel at the device (results ignored) and drops every record.
    void ClearAll();
    size_t RecordCount();

private:
    KxePortRecord* FindRecord(int64_t serial, int port);

    KxeInputRpcFactory m_Factory;
    IXpCritSec* m_pLock = nullptr;
    std::list<KxePortRecord> m_Records;
};
