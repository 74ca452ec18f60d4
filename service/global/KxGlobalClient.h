// Handler of one client of "KxGlobalRecvPipe".
#pragma once

#include "PipeServerImpl.h"

class KxGlobalManager;

// Request and reply sizes of the global FIFO.
constexpr int KXGLOBAL_SET_STATE_REQUEST_SIZE = 268; // command, name[260], state
constexpr int KXGLOBAL_DEVICE_NAME_SIZE = 260;
constexpr int KXGLOBAL_SHORT_REPLY_SIZE = 8;         // command, result

// Global FIFO commands.
constexpr unsigned int KXGLOBAL_CMD_SET_DEVICE_STATE = 1;

class KxGlobalClient : public PipeServerImpl {
public:
    KxGlobalClient(KxGlobalManager* manager, IXpPipeConnection* connection);

private:
    bool ServeRequest(const char* body, int size) override;

    KxGlobalManager* m_pManager;
};
