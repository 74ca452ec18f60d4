#include "KxGlobalSvcClient.h"

#include <cstdlib>
#include <cstring>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "KxServiceDefs.h"
#include "KxWire.h"

namespace {
constexpr int SET_STATE_REQUEST_SIZE = 268;
constexpr int DEVICE_NAME_FIELD_SIZE = 260;
constexpr int SHORT_REPLY_SIZE = 8;
constexpr uint32_t CMD_SET_DEVICE_STATE = 1;
} // namespace

KxGlobalSvcClient::KxGlobalSvcClient() : m_pLock(Xp::Instance()->NewCritSec())
{
    if (m_pLock != nullptr && m_pLock->Init() != KXAPI_OK) {
        delete m_pLock;
        m_pLock = nullptr;
    }
}

KxGlobalSvcClient::~KxGlobalSvcClient()
{
    Close();
    delete m_pLock;
}

KXAPI_RESULT KxGlobalSvcClient::EnsureConnected()
{
    if (m_pMessenger != nullptr)
        return KXAPI_OK;
    KXAPI_RESULT result = KXAPI_OK;
    m_pMessenger = PipeConnectService(KXGLOBAL_SERVICE_PIPE_NAME, result);
    return result;
}

KXAPI_RESULT KxGlobalSvcClient::Transfer(char* request, int requestSize, char* reply, int replySize)
{
    if (m_pLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    CritSecAutoLock lock(m_pLock);
    KXAPI_RESULT result = EnsureConnected();
    if (result != KXAPI_OK)
        return result;
    m_pMessenger->ClearRxPipe();
    char* body = nullptr;
    int size = 0;
    if (!m_pMessenger->WriteMsg(request, requestSize) || !m_pMessenger->ReadMsg(body, size, m_ReplyTimeoutMs)) {
        // The connection is unusable now; the next request connects again.
        delete m_pMessenger;
        m_pMessenger = nullptr;
        return KXAPI_E_CONNECT_TO_SERVICE;
    }
    result = KXAPI_OK;
    if (size != replySize)
        result = KXAPI_E_INTERNAL;
    else
        memcpy(reply, body, static_cast<size_t>(size));
    free(body);
    return result;
}

KXAPI_RESULT KxGlobalSvcClient::Open()
{
    KxServiceVersion version;
    return GetServiceVersion(version);
}

KXAPI_RESULT KxGlobalSvcClient::GetServiceVersion(KxServiceVersion& version)
{
    char request[4];
    KxPutU32(request, 0, KXAPI_SVC_CMD_VERSION);
    char reply[KXAPI_SVC_VERSION_REPLY_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    result = KxGetU32(reply, 4);
    if (KxapiFailed(result))
        return result;
    version.m_Major = KxGetU32(reply, 8);
    version.m_Minor = KxGetU32(reply, 12);
    version.m_Revision = KxGetU32(reply, 16);
    version.m_Build = KxGetU32(reply, 20);
    if (!KxServiceVersionAccepted(version.m_Major, version.m_Minor))
        return KXAPI_E_SERVICE_INCOMP;
    return KXAPI_OK;
}

KXAPI_RESULT KxGlobalSvcClient::SetDeviceState(const char* name, bool on)
{
    if (name == nullptr || strlen(name) > DEVICE_NAME_FIELD_SIZE - 1)
        return KXAPI_E_INVALID_ARG;
    char request[SET_STATE_REQUEST_SIZE] = {};
    KxPutU32(request, 0, CMD_SET_DEVICE_STATE);
    memcpy(request + 4, name, strlen(name));
    KxPutU32(request, 264, on ? 1 : 0);
    char reply[SHORT_REPLY_SIZE];
    KXAPI_RESULT result = Transfer(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    return KxGetU32(reply, 4);
}

void KxGlobalSvcClient::Close()
{
    if (m_pLock == nullptr)
        return;
    CritSecAutoLock lock(m_pLock);
    if (m_pMessenger == nullptr)
        return;
    char request[4];
    KxPutU32(request, 0, KXAPI_SVC_CMD_CLOSE);
    m_pMessenger->WriteMsg(request, sizeof(request));
    delete m_pMessenger; // closes the connection
    m_pMessenger = nullptr;
}
