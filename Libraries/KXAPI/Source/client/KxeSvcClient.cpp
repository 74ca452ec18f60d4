#include "KxeSvcClient.h"

#include <cstring>
#include <unistd.h>

#include "CrossPlatform.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "XpUtil.h"

namespace {
constexpr int MAX_EVENT_MESSAGE_SIZE = 1024;
constexpr int MIN_EVENT_MESSAGE_SIZE = 16;
constexpr int CONNECT_WAIT_MS = 5000;
} // namespace

bool KxeParseEventMessage(const char* body, int size, int64_t& serial, uint32_t& event)
{
    if (body == nullptr || size < MIN_EVENT_MESSAGE_SIZE || size > MAX_EVENT_MESSAGE_SIZE)
        return false;
    if (KxGetU32(body, 0) != 0 || size != KXE_EVENT_MSG_SIZE)
        return false;
    serial = KxGetI64(body, 8);
    event = KxGetU32(body, 16);
    return true;
}

KxeSvcClient::KxeSvcClient()
    : m_Connection(KXE_SERVICE_PIPE_NAME, KxServiceConnection::ReconnectPolicy::ON_NEXT_REQUEST)
{
}

KxeSvcClient::~KxeSvcClient()
{
    UnregisterEvents();
    Close();
}

KXAPI_RESULT KxeSvcClient::TransferRaw(const std::vector<char>& request, std::vector<char>& reply)
{
    reply.clear();
    std::vector<uint8_t> answer;
    KXAPI_RESULT result = m_Connection.Transfer(request.data(), request.size(), answer);
    reply.assign(answer.begin(), answer.end());
    return result;
}

KXAPI_RESULT KxeSvcClient::Transfer(char* request, int requestSize, char* reply, int replySize)
{
    KXAPI_RESULT result = m_Connection.TransferExact(request, static_cast<size_t>(requestSize), reply,
                                                     static_cast<size_t>(replySize));
    if (result != KXAPI_OK)
        return result;
    if (KxGetU32(reply, 0) != KxGetU32(request, 0))
        return KXAPI_E_INTERNAL;
    return KxGetU32(reply, 4);
}

KXAPI_RESULT KxeSvcClient::Open()
{
    KxServiceVersion version;
    return GetServiceVersion(version);
}

KXAPI_RESULT KxeSvcClient::GetServiceVersion(KxServiceVersion& version)
{
    char request[4];
    KxPutU32(request, 0, KXE_CMD_VERSION);
    char reply[KXAPI_SVC_VERSION_REPLY_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    return result == KXAPI_OK ? KxReadServiceVersion(reply, version) : result;
}

KXAPI_RESULT KxeSvcClient::GetListKeys(std::string& shmKey, std::string& mutexKey)
{
    char request[KXE_REQ_LIST_KEYS_SIZE];
    KxPutU32(request, 0, KXE_CMD_LIST_KEYS);
    std::vector<char> reply(KXE_REP_LIST_KEYS_SIZE);
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply.data(), KXE_REP_LIST_KEYS_SIZE);
    if (result != KXAPI_OK)
        return result;
    shmKey.clear();
    mutexKey.clear();
    for (unsigned int i = 0; i < KXE_KEY_CHARS; ++i) {
        uint32_t c = KxGetU32(reply.data(), 8 + 4 * i);
        if (c == 0)
            break;
        shmKey.push_back(static_cast<char>(c));
    }
    for (unsigned int i = 0; i < KXE_KEY_CHARS; ++i) {
        uint32_t c = KxGetU32(reply.data(), 408 + 4 * i);
        if (c == 0)
            break;
        mutexKey.push_back(static_cast<char>(c));
    }
    return KXAPI_OK;
}

KXAPI_RESULT KxeSvcClient::ReadDeviceList(KxeListSnapshot& list)
{
    std::string shmKey;
    std::string mutexKey;
    KXAPI_RESULT result = GetListKeys(shmKey, mutexKey);
    if (result != KXAPI_OK)
        return result;
    XpSharedMemPtr shm = Xp::Instance()->MakeShMem();
    XpNamedMutexPtr mutex = Xp::Instance()->MakeNamedMutex();
    void* memory = nullptr;
    if (shm == nullptr || mutex == nullptr)
        result = KXAPI_E_OUT_OF_MEM;
    else if (shm->OpenExisting(shmKey.c_str(), KXE_LIST_SHMEM_SIZE, memory, true) != KXAPI_OK || memory == nullptr ||
             mutex->OpenExisting(mutexKey.c_str()) != KXAPI_OK)
        result = KXAPI_E_NOT_FOUND;
    else if (mutex->Lock(KXE_LIST_MUTEX_TIMEOUT_MS) != KXAPI_OK)
        result = KXAPI_E_TIMEOUT;
    if (result == KXAPI_OK) {
        const auto* bytes = static_cast<const unsigned char*>(memory);
        list.m_Version = KxGetU32(bytes, KXE_LIST_OFFS_VERSION);
        list.m_Capacity = KxGetU32(bytes, KXE_LIST_OFFS_CAPACITY);
        list.m_Count = KxGetU32(bytes, KXE_LIST_OFFS_COUNT);
        list.m_TimeS = KxGetU32(bytes, KXE_LIST_OFFS_TIME);
        uint32_t count = list.m_Count <= KXE_LIST_CAPACITY ? list.m_Count : KXE_LIST_CAPACITY;
        list.m_Entries.resize(count);
        if (count > 0)
            memcpy(list.m_Entries.data(), bytes + KXE_LIST_HEADER_SIZE, count * sizeof(KxeListEntry));
        mutex->Unlock();
    }
    return result;
}

KXAPI_RESULT KxeSvcClient::PropertyRequest(uint32_t command, const char* name, int typeNumber, int filter1, int port,
                                           char* reply, int replySize)
{
    if (name == nullptr || strlen(name) >= KXE_PROP_NAME_SIZE)
        return KXAPI_E_INVALID_ARG;
    char request[KXE_REQ_PROP_SIZE] = {};
    KxPutU32(request, 0, command);
    memcpy(request + 4, name, strlen(name));
    KxPutI32(request, 56, typeNumber);
    KxPutI32(request, 60, filter1);
    KxPutI32(request, 68, port + 1);
    return Transfer(request, sizeof(request), reply, replySize);
}

KXAPI_RESULT KxeSvcClient::GetProperty(const char* name, int typeNumber, int filter1, int port,
                                       KxePropertyReply& value)
{
    char reply[KXE_REP_PROP_SIZE];
    KXAPI_RESULT result = PropertyRequest(KXE_CMD_PROP_GET, name, typeNumber, filter1, port, reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    value.m_Value = KxGetI64(reply, 8);
    value.m_ValueType = KxGetI32(reply, 16);
    value.m_Scope = KxGetI32(reply, 20);
    return KXAPI_OK;
}

KXAPI_RESULT KxeSvcClient::GetPropertyText(const char* name, int typeNumber, int filter1, int port,
                                           KxePropertyReply& value)
{
    char reply[KXE_REP_PROP_STR_SIZE];
    KXAPI_RESULT result =
        PropertyRequest(KXE_CMD_PROP_GET_STR, name, typeNumber, filter1, port, reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    value.m_Scope = KxGetI32(reply, 8);
    value.m_Text.assign(reply + 12, strnlen(reply + 12, KXE_PROP_STR_SIZE));
    return KXAPI_OK;
}

KXAPI_RESULT KxeSvcClient::Attach(const uint8_t ip[4], int64_t serial, int port, int& channelId, uint32_t& attachId)
{
    char request[KXE_REQ_ATTACH_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_ATTACH);
    memcpy(request + 4, ip, 4);
    KxPutI64(request, 8, serial);
    KxPutI32(request, 16, port);
    char reply[KXE_REP_ATTACH_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    channelId = KxGetI32(reply, 8);
    attachId = KxGetU32(reply, 12);
    return KXAPI_OK;
}

KXAPI_RESULT KxeSvcClient::Detach(int64_t serial, int port, uint32_t attachId)
{
    char request[KXE_REQ_DETACH_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_DETACH);
    KxPutI64(request, 8, serial);
    KxPutI32(request, 16, port);
    KxPutU32(request, 20, attachId);
    char reply[KXE_REP_SHORT_SIZE];
    return Transfer(request, sizeof(request), reply, sizeof(reply));
}

KXAPI_RESULT KxeSvcClient::ExclusiveAccess(int64_t serial, int port, uint32_t owner, uint32_t command)
{
    char request[KXE_REQ_EXCL_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_EXCL_ACCESS);
    KxPutI64(request, 8, serial);
    KxPutI32(request, 16, port);
    KxPutU32(request, 20, owner);
    KxPutU32(request, 24, command);
    char reply[KXE_REP_SHORT_SIZE];
    return Transfer(request, sizeof(request), reply, sizeof(reply));
}

KXAPI_RESULT KxeSvcClient::VpdClear(int64_t serial)
{
    char request[KXE_REQ_VPD_CLEAR_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_VPD_CLEAR);
    KxPutI64(request, 8, serial);
    char reply[KXE_REP_SHORT_SIZE];
    return Transfer(request, sizeof(request), reply, sizeof(reply));
}

KXAPI_RESULT KxeSvcClient::VpdRead(int64_t serial, int section, const char* keyword, std::vector<uint8_t>& data)
{
    if (keyword == nullptr || strlen(keyword) > 16)
        return KXAPI_E_INVALID_ARG;
    char request[KXE_REQ_VPD_READ_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_VPD_READ);
    KxPutI64(request, 8, serial);
    memcpy(request + 16, keyword, strlen(keyword));
    KxPutI32(request, 32, section);
    char reply[KXE_REP_VPD_READ_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    int length = KxGetI32(reply, 8);
    if (length < 0 || length > KXE_VPD_DATA_SIZE)
        return KXAPI_E_INTERNAL;
    data.assign(reply + 12, reply + 12 + length);
    return KXAPI_OK;
}

KXAPI_RESULT KxeSvcClient::VpdUpdate(int64_t serial, int section, const char* keyword, const uint8_t* data,
                                     int length, bool valid)
{
    if (keyword == nullptr || strlen(keyword) > 16 || length < 0 || length > KXE_VPD_DATA_SIZE ||
        (length > 0 && data == nullptr))
        return KXAPI_E_INVALID_ARG;
    char request[KXE_REQ_VPD_UPDATE_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_VPD_UPDATE);
    KxPutI64(request, 8, serial);
    memcpy(request + 16, keyword, strlen(keyword));
    KxPutI32(request, 32, section);
    KxPutI32(request, 36, length);
    if (length > 0)
        memcpy(request + 40, data, static_cast<size_t>(length));
    request[296] = valid ? 1 : 0;
    char reply[KXE_REP_SHORT_SIZE];
    return Transfer(request, sizeof(request), reply, sizeof(reply));
}

KXAPI_RESULT KxeSvcClient::ForceDiscovery()
{
    char request[KXE_REQ_FORCE_SIZE];
    KxPutU32(request, 0, KXE_CMD_FORCE_DISCOVERY);
    char reply[KXE_REP_SHORT_SIZE];
    return Transfer(request, sizeof(request), reply, sizeof(reply));
}

KXAPI_RESULT KxeSvcClient::RegisterEvents(uint32_t mask, EventCallback callback, const char* name)
{
    char pipeName[KXE_EVENT_NAME_CHARS + 1];
    if (name != nullptr)
        XpUtil::Sprintf(pipeName, sizeof(pipeName), "%s", name);
    else
        XpUtil::Sprintf(pipeName, sizeof(pipeName), KXE_EVENT_PIPE_FORMAT, static_cast<int>(getpid()));
    if (mask == 0) {
        UnregisterEvents();
        return KXAPI_OK;
    }
    if (!m_Events.IsStarted()) {
        m_Callback = std::move(callback);
        KXAPI_RESULT result = m_Events.Start(pipeName, [this](const char* body, int size) {
            int64_t serial = 0;
            uint32_t event = 0;
            if (KxeParseEventMessage(body, size, serial, event) && m_Callback)
                m_Callback(serial, event);
        }, MAX_EVENT_MESSAGE_SIZE);
        if (result != KXAPI_OK) {
            m_Callback = nullptr;
            return KXAPI_E_INTERNAL;
        }
    }
    char request[KXE_REQ_EVENT_REGISTER_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_EVENT_REGISTER);
    for (int i = 0; i < KXE_EVENT_NAME_CHARS && pipeName[i] != '\0'; ++i)
        KxPutU32(request, 4 + 4 * i, static_cast<unsigned char>(pipeName[i]));
    KxPutU32(request, 260, mask);
    char reply[KXE_REP_SHORT_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK) {
        StopEvents();
        return result;
    }
    // The service has connected: wait (bounded) until the event thread took the connection.
    m_Events.WaitConnected(CONNECT_WAIT_MS);
    return KXAPI_OK;
}

void KxeSvcClient::UnregisterEvents()
{
    if (!m_Events.IsStarted())
        return;
    char request[KXE_REQ_EVENT_REGISTER_SIZE] = {};
    KxPutU32(request, 0, KXE_CMD_EVENT_REGISTER);
    char reply[KXE_REP_SHORT_SIZE];
    if (m_Connection.IsConnected())
        Transfer(request, sizeof(request), reply, sizeof(reply));
    StopEvents();
}

void KxeSvcClient::StopEvents()
{
    m_Events.Stop();
    m_Callback = nullptr;
}

void KxeSvcClient::Close()
{
    m_Connection.Close();
}
