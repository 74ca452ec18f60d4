#include "global/KxGlobalClient.h"

#include <cstdlib>
#include <cstring>

#include "EventLogController.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "global/KxGlobalManager.h"

KxGlobalClient::KxGlobalClient(KxGlobalManager* manager, IXpPipeConnection* connection)
    : PipeServerImpl(connection), m_pManager(manager)
{
}

bool KxGlobalClient::ServeRequest(const char* body, int size)
{
    uint32_t command = KxGetU32(body, 0);
    if (command == KXAPI_SVC_CMD_VERSION) {
        char reply[KXAPI_SVC_VERSION_REPLY_SIZE];
        KxBuildVersionReply(reply, command);
        WriteMsg(reply, sizeof(reply));
        return true;
    }
    KXAPI_RESULT result = KXAPI_E_INVALID_PARS;
    if (command == KXGLOBAL_CMD_SET_DEVICE_STATE) {
        if (size == KXGLOBAL_SET_STATE_REQUEST_SIZE) {
            // The name field is used only up to its 260 bytes, terminated or not.
            char name[KXGLOBAL_DEVICE_NAME_SIZE + 1];
            memcpy(name, body + 4, KXGLOBAL_DEVICE_NAME_SIZE);
            name[KXGLOBAL_DEVICE_NAME_SIZE] = '\0';
            result = m_pManager->SetDeviceState(name, KxGetU32(body, 264) != 0);
        }
    } else {
        LogUnknownCommand(command);
    }
    char reply[KXGLOBAL_SHORT_REPLY_SIZE];
    KxPutU32(reply, 0, command);
    KxPutU32(reply, 4, result);
    WriteMsg(reply, sizeof(reply));
    return true;
}
