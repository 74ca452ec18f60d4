// Base of every per-client handler: one connection and one thread that runs Run().
#pragma once

#include <atomic>

#include "PipeMessenger.h"

class PipeServerImpl : public PipeMessenger {
public:
    // Adopts an accepted connection.
    explicit PipeServerImpl(IXpPipeConnection* connection);
    ~PipeServerImpl() override;

    // Starts the handler thread; false when already running or the thread cannot be made.
    virtual bool Start();
    // Asks the handler to end: clears running and stops the connection's transfers.
    virtual void Stop();
    // Stop, then join the handler thread.
    virtual void WaitStopped();
    virtual bool Running();
    // The handler's message loop; it clears running and disconnects when it leaves.
    virtual void Run() = 0;

protected:
    // For Run() implementations: marks the handler finished.
    void SetFinished() { m_Running = false; }

private:
    static void StaticRun(void* self);

    std::atomic<bool> m_Running{false};
    IXpThread* m_pThread;
};
