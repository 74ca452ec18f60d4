#include "KxServiceDefs.h"

#include "KxWire.h"
#include "KxapiResult.h"

void KxBuildVersionReply(char* reply, uint32_t command)
{
    KxPutU32(reply, 0, command);
    KxPutU32(reply, 4, KXAPI_OK);
    KxPutU32(reply, 8, KXAPI_SERVICE_VERSION_MAJOR);
    KxPutU32(reply, 12, KXAPI_SERVICE_VERSION_MINOR);
    KxPutU32(reply, 16, KXAPI_SERVICE_VERSION_REVISION);
    KxPutU32(reply, 20, KXAPI_SERVICE_VERSION_BUILD);
}
