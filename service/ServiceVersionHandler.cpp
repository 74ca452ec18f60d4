#include "ServiceVersionHandler.h"

#include "KxServiceDefs.h"
#include "KxWire.h"

bool ServiceVersionHandler::ServeRequest(const char* body, int)
{
    uint32_t command = KxGetU32(body, 0);
    if (command == KXAPI_SVC_CMD_VERSION) {
        char reply[KXAPI_SVC_VERSION_REPLY_SIZE];
        KxBuildVersionReply(reply, command);
        WriteMsg(reply, sizeof(reply));
    } else {
        char reply[8];
        KxPutU32(reply, 0, command);
        KxPutU32(reply, 4, KXAPI_E_NOT_IMPLEMENTED);
        WriteMsg(reply, sizeof(reply));
    }
    return true;
}
