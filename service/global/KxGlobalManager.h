// The global manager: serves "KxGlobalRecvPipe" (service version, device-state requests).
#pragma once

#include "ClientAcceptor.h"

class KxGlobalManager {
public:
    KxGlobalManager();
    virtual ~KxGlobalManager();

    // Creates the listener FIFO and the client-list lock; false when already initialised
    // or when either cannot be had.
    bool Init();
    // Starts the accept thread.
    bool Start();
    // Ends the accept thread; connected clients keep being served until destruction.
    void Stop();

    // Switches a device on or off by name; not available on this platform.
    KXAPI_RESULT SetDeviceState(char* name, bool state);

    // Prunes handlers that have finished (normally done when the next client connects).
    void CleanKxGlobalClientList() { m_Acceptor.CleanClientList(); }
    size_t ClientCount() { return m_Acceptor.ClientCount(); }

private:
    ClientAcceptor m_Acceptor;
};
