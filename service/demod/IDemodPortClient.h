// The one way a port controller answers the client that sent a command.
#pragma once

#include "IInterface.h"

class IDemodPortClient : public IInterface {
public:
    // Sends one reply message (at most 65535 bytes) to the client.
    virtual void DemodCmdProcessedCB(const void* msg, unsigned short size) = 0;
};
