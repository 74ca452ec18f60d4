// Base of every per-client handler of a FIFO server: one connection, one thread, and the
// request loop every server shares, so that the rules for reading a client's messages and
// for writing its replies live in one place.
#pragma once

#include <atomic>

#include "PipeMessenger.h"

class PipeServerImpl : public PipeMessenger {
public:
    // Adopts an accepted connection.
    explicit PipeServerImpl(IXpPipeConnection* connection);
    ~PipeServerImpl() override;

    // False when the connection, the thread or the write lock could not be had.
    bool Init() override;
    // Starts the handler thread; false when already running or the thread cannot be made.
    virtual bool Start();
    // Asks the handler to end: clears running and stops the connection's transfers.
    virtual void Stop();
    // Stop, then join the handler thread.
    virtual void WaitStopped();
    virtual bool Running();
    // The request loop. Reads one message at a time (its start may take as long as the
    // client likes, the rest is bounded by the transport) and hands it to ServeRequest;
    // a message shorter than a command word gets no reply. Ends on the close command, when
    // ServeRequest returns false, after a reply that could not be written, when the
    // connection fails, and on Stop; then OnServeEnd runs, the connection closes and the
    // handler counts as finished.
    virtual void Run();

    // Writes one message, from any thread, one writer at a time so frames never interleave.
    // After a write that failed (the client did not read within the write deadline, or
    // went) nothing more goes out on this connection: a frame may be half written.
    bool WriteMsg(const char* buffer, int size) override;
    // An event set once the handler has finished (its owner's reaper waits on it); it must
    // outlive the handler's thread. Set before Start.
    void SetFinishedSignal(IXpEvent* pSignal) { m_pFinishedSignal = pSignal; }
    // The name Start gives the thread (the text must outlive the handler). Set before Start.
    void SetThreadName(const char* pName) { m_pThreadName = pName; }

protected:
    // Smallest request: the command word.
    static constexpr int COMMAND_SIZE = 4;
    // A connection keeps a receive buffer of up to this size between requests.
    static constexpr size_t KEPT_REQUEST_BUFFER_SIZE = 64 * 1024;

    // One request of at least COMMAND_SIZE bytes other than the close command; replies go
    // through WriteMsg. False ends the connection.
    virtual bool ServeRequest(const char* body, int size) = 0;
    // Runs on the handler thread once the loop has ended, before the connection closes.
    virtual void OnServeEnd() {}
    // For Run() implementations: marks the handler finished.
    void SetFinished() { m_Running = false; }
    // Whether a reply could not be written (the connection is done).
    bool WriteFailed() const { return m_WriteFailed.load(); }

private:
    static void StaticRun(void* self);

    std::atomic<bool> m_Running{false};
    std::atomic<bool> m_WriteFailed{false};
    XpThreadPtr m_pThread;
    XpCritSecPtr m_pWriteLock;
    IXpEvent* m_pFinishedSignal = nullptr;
    const char* m_pThreadName = nullptr;
};
