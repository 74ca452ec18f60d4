// Fuzz target: the requests of the global FIFO ("KxGlobalRecvPipe"). The input is the byte
// stream a client writes on its connection (framed messages); a real KxGlobalClient handler
// reads and answers every message until the stream ends.
#include "FuzzSupport.h"
#include "global/KxGlobalClient.h"
#include "global/KxGlobalManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static KxGlobalManager* manager = new KxGlobalManager();
    kxfuzz::RunHandlerToEnd(new KxGlobalClient(manager, new kxfuzz::InputConnection(data, size)));
    return 0;
}
