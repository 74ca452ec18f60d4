// The common shape of the service's FIFO servers: one listener on a well-known name, one
// accept thread, and one PipeServerImpl handler per connected client.
#pragma once

#include <functional>
#include <list>

#include "PipeServerImpl.h"

class ClientAcceptor {
public:
    // Makes the handler for an accepted connection (which it adopts); null if it cannot.
    using HandlerFactory = std::function<PipeServerImpl*(IXpPipeConnection* connection)>;

    explicit ClientAcceptor(HandlerFactory factory);
    // Ends the accept thread if still running, then everything Close releases.
    ~ClientAcceptor();
    ClientAcceptor(const ClientAcceptor&) = delete;
    ClientAcceptor& operator=(const ClientAcceptor&) = delete;

    // Creates the listener FIFO (wide name) and the client-list lock. False, with
    // everything released, when either fails or when already initialised.
    bool Init(const wchar_t* pipeName);
    // Starts the accept thread; false when not initialised or the thread cannot be made.
    bool Start();
    // Ends and joins the accept thread; connected handlers keep serving. Harmless when
    // never initialised or started.
    void Stop();
    // Stops the accept thread, removes the listener FIFO, stops and destroys every handler.
    void Close();
    // Destroys every handler whose Running() is false.
    void CleanClientList();
    // Whether finished handlers are pruned when the next client connects (default true).
    void SetPruneOnConnect(bool prune) { m_PruneOnConnect = prune; }
    // Number of handlers not yet pruned.
    size_t ClientCount();
    bool IsInitialised() const { return m_Initialised; }

private:
    static void StaticClientConnectRun(void* self);
    void ClientConnectRun();

    HandlerFactory m_Factory;
    bool m_Initialised = false;
    bool m_PruneOnConnect = true;
    IXpCritSec* m_pClientListLock = nullptr;
    std::list<PipeServerImpl*> m_Clients;
    IXpPipeListener* m_pListener = nullptr;
    IXpThread* m_pAcceptThread = nullptr;
    std::atomic<bool> m_Running{false};
};
