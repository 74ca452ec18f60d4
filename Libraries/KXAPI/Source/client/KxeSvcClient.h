// Client of the service's network-device FIFO "KxeRecvPipe": commands, the shared device
// list (read under its named mutex) and the event FIFO on which the service reports
// devices that come and go. One request at a time; a failed transfer closes the connection
// and the next request connects again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KxEventListener.h"
#include "KxGlobalSvcClient.h"
#include "KxServiceConnection.h"
#include "KxeListDefs.h"
#include "KxNonCopyable.h"

struct KxeListSnapshot {
    uint32_t m_Version = 0;
    uint32_t m_Capacity = 0;
    uint32_t m_Count = 0;
    uint32_t m_TimeS = 0;
    std::vector<KxeListEntry> m_Entries;
};

struct KxePropertyReply {
    int64_t m_Value = 0;
    int32_t m_ValueType = 0;
    int32_t m_Scope = 0;
    std::string m_Text;
};

class KxeSvcClient : private KxNonCopyable {
public:
    // Called on the event thread for every device event: serial, 1 added or 2 removed.
    using EventCallback = std::function<void(int64_t serial, uint32_t event)>;

    KxeSvcClient();
    // Unregisters events and sends the close command.
    ~KxeSvcClient();

    // Connects and checks the service version (3.2 or later, else KXAPI_E_SERVICE_INCOMP).
    KXAPI_RESULT Open();
    KXAPI_RESULT GetServiceVersion(KxServiceVersion& version);
    // Key texts of the shared list and its named mutex.
    KXAPI_RESULT GetListKeys(std::string& shmKey, std::string& mutexKey);
    // Copies the published list under the named mutex (waiting at most 5 s for it).
    KXAPI_RESULT ReadDeviceList(KxeListSnapshot& list);
    // Properties (port: 0-based index, -1 device level).
    KXAPI_RESULT GetProperty(const char* name, int typeNumber, int filter1, int port, KxePropertyReply& reply);
    KXAPI_RESULT GetPropertyText(const char* name, int typeNumber, int filter1, int port, KxePropertyReply& reply);
    KXAPI_RESULT Attach(const uint8_t ip[4], int64_t serial, int port, int& channelId, uint32_t& attachId);
    KXAPI_RESULT Detach(int64_t serial, int port, uint32_t attachId);
    KXAPI_RESULT ExclusiveAccess(int64_t serial, int port, uint32_t owner, uint32_t command);
    KXAPI_RESULT VpdClear(int64_t serial);
    KXAPI_RESULT VpdRead(int64_t serial, int section, const char* keyword, std::vector<uint8_t>& data);
    KXAPI_RESULT VpdUpdate(int64_t serial, int section, const char* keyword, const uint8_t* data, int length,
                           bool valid);
    KXAPI_RESULT ForceDiscovery();

    // Opens the event FIFO "KxapiKxeSvc_EvPipe_<pid>" (or `name`), has the service connect
    // to it and delivers the events selected by `mask` to `callback`. Calling again changes
    // the mask; mask 0 unregisters.
    KXAPI_RESULT RegisterEvents(uint32_t mask, EventCallback callback, const char* name = nullptr);
    void UnregisterEvents();

    // Sends any request and returns the whole reply (for diagnostics and tests).
    KXAPI_RESULT TransferRaw(const std::vector<char>& request, std::vector<char>& reply);
    void Close();
    void SetReplyTimeout(unsigned int timeoutMs) { m_Connection.SetReplyTimeout(timeoutMs); }

private:
    // Sends `request` and reads a reply of exactly `replySize` bytes that echoes its
    // command; the reply's result word.
    KXAPI_RESULT Transfer(char* request, int requestSize, char* reply, int replySize);
    KXAPI_RESULT PropertyRequest(uint32_t command, const char* name, int typeNumber, int filter1, int port,
                                 char* reply, int replySize);
    void StopEvents();

    KxServiceConnection m_Connection;
    KxEventListener m_Events;
    EventCallback m_Callback;
};

// Decodes one event message body: false when it is not a device event.
bool KxeParseEventMessage(const char* body, int size, int64_t& serial, uint32_t& event);
