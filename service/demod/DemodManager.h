// The DemodManager: serves "DemodRecvPipe".
#pragma once

#include "ClientAcceptor.h"

class DemodManager {
public:
    DemodManager();
    // Ends its own threads when destroyed without Stop.
    virtual ~DemodManager();

    // Creates the listener FIFO and the client-list lock; false when already initialised
    // or when either cannot be had.
    bool Init();
    // Starts the accept thread.
    bool Start();
    // Ends the accept thread; harmless when never initialised or started.
    void Stop();

private:
    ClientAcceptor m_Acceptor;
};
