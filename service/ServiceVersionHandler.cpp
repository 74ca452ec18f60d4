#include "ServiceVersionHandler.h"

#include <cstdlib>

#include "KxServiceDefs.h"
#include "KxWire.h"

void ServiceVersionHandler::Run()
{
    while (Running()) {
        char* body = nullptr;
        int size = 0;
        if (!ReadMsg(body, size, XP_INFINITE))
            break;
        if (size < 4) {
            free(body);
            continue;
        }
        uint32_t command = KxGetU32(body, 0);
        free(body);
        if (command == KXAPI_SVC_CMD_CLOSE)
            break;
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
    }
    Disconnect();
    SetFinished();
}
