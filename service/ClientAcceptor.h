// The common shape of the service's FIFO servers: one listener on a well-known name, one
// accept thread, and one PipeServerImpl handler per connected client.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <string>

#include "PipeServerImpl.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

class ClientAcceptor : private KxNonCopyable {
public:
    // Makes the handler for an accepted connection (which it adopts); null if it cannot.
    using HandlerFactory = std::function<PipeServerImpl*(IXpPipeConnection* connection)>;

    explicit ClientAcceptor(HandlerFactory factory);
    // Ends the accept thread if still running, then everything Close releases.
    ~ClientAcceptor();

    // Creates the listener FIFO (wide name) and the client-list lock. False, with
    // everything released, when either fails or when already initialised.
    bool Init(const wchar_t* pipeName);
    // Starts the accept thread (and the reaper, when a reap period is set); false when not
    // initialised, already running, or a thread cannot be made.
    bool Start();
    // Ends and joins the accept thread and the reaper; connected handlers keep serving.
    // Harmless when never initialised or started.
    void Stop();
    // Stops and destroys every handler (each is told to stop before any is joined); the
    // listener FIFO stays.
    void CloseClients();
    // Stops the accept thread, removes the listener FIFO, stops and destroys every handler.
    void Close();
    // Destroys every handler whose Running() is false.
    void CleanClientList();
    // Whether finished handlers are pruned when the next client connects (default true).
    void SetPruneOnConnect(bool prune) { m_PruneOnConnect = prune; }
    // Also prunes finished handlers on a thread of its own, from Start to Stop: woken by each
    // handler that finishes, and otherwise every periodMs at most (0, the default: no such
    // thread). Set before Start.
    void SetReapPeriod(unsigned int periodMs) { m_ReapPeriodMs = periodMs; }
    // Number of handlers not yet pruned.
    size_t ClientCount();
    bool IsInitialised() const { return m_Initialised; }

private:
    static void StaticClientConnectRun(void* self);
    void ClientConnectRun();
    static void StaticReaperRun(void* self);
    void ReaperRun();
    void StopReaper();

    HandlerFactory m_Factory;
    // Names of the threads, from the listener's name (A: accept, R: reaper, C: clients).
    std::string m_AcceptName;
    std::string m_ReaperName;
    std::string m_ClientName;
    bool m_Initialised = false;
    bool m_PruneOnConnect = true;
    unsigned int m_ReapPeriodMs = 0;
    XpCritSecPtr m_pClientListLock;
    std::list<PipeServerImpl*> m_Clients;
    XpPipeListenerPtr m_pListener;
    XpThreadPtr m_pAcceptThread;
    std::atomic<bool> m_Running{false};
    XpThreadPtr m_pReaperThread;
    std::atomic<bool> m_ReaperStop{false};
    // Set by every handler that finishes (and by the stop); lives until Close, after the
    // handlers, so that a handler on its way out always finds it.
    XpEventPtr m_pReaperWake;
};
