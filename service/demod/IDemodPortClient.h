// The one way a port controller answers the client that sent a command.
#pragma once

#include "IInterface.h"

class IDemodPortClient : public IInterface {
public:
    // Sends one reply message (at most 65535 bytes) to the client.
    virtual void DemodCmdProcessedCB(const void* msg, unsigned short size) = 0;
    // The user who owns the client's connection FIFOs: an event FIFO the client registers
    // must belong to the same user.
    virtual unsigned int ClientFifoOwner() const = 0;
};
