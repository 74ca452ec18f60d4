#include "KxGlobalSvcClient.h"

#include <cstring>

#include "KxServiceDefs.h"
#include "KxWire.h"

namespace {
constexpr int SET_STATE_REQUEST_SIZE = 268;
constexpr int DEVICE_NAME_FIELD_SIZE = 260;
constexpr int SHORT_REPLY_SIZE = 8;
constexpr uint32_t CMD_SET_DEVICE_STATE = 1;
} // namespace

KXAPI_RESULT KxReadServiceVersion(const char* reply, KxServiceVersion& version)
{
    version.m_Major = KxGetU32(reply, 8);
    version.m_Minor = KxGetU32(reply, 12);
    version.m_Revision = KxGetU32(reply, 16);
    version.m_Build = KxGetU32(reply, 20);
    return KxServiceVersionAccepted(version.m_Major, version.m_Minor) ? KXAPI_OK : KXAPI_E_SERVICE_INCOMP;
}

KxGlobalSvcClient::KxGlobalSvcClient()
    : m_Connection(KXGLOBAL_SERVICE_PIPE_NAME, KxServiceConnection::ReconnectPolicy::ON_NEXT_REQUEST)
{
}

KxGlobalSvcClient::~KxGlobalSvcClient()
{
    Close();
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
    KXAPI_RESULT result = m_Connection.TransferExact(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    result = KxGetU32(reply, 4);
    return KxapiFailed(result) ? result : KxReadServiceVersion(reply, version);
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
    KXAPI_RESULT result = m_Connection.TransferExact(request, sizeof(request), reply, sizeof(reply));
    if (result != KXAPI_OK)
        return result;
    return KxGetU32(reply, 4);
}

void KxGlobalSvcClient::Close()
{
    m_Connection.Close();
}
