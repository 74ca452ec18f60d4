// KxEventListener: the event FIFO a client publishes and the thread that owns it. The
// service connects to the FIFO when the client registers for events (and again after the
// client reconnected); the thread accepts each connection in turn, reads its messages and
// hands every one to the client's handler.
#pragma once

#include <atomic>
#include <functional>

#include "KxapiResult.h"
#include "PipeMessenger.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

class KxEventListener : private KxNonCopyable {
public:
    // Called on the listener's thread with each message body (valid for the call only).
    using MessageHandler = std::function<void(const char* body, int size)>;

    KxEventListener();
    // Stop().
    ~KxEventListener();

    // Creates the FIFO `name` in the FIFO directory (the service may stay silent on it for
    // good: no first-message time-out) and starts the thread. Messages longer than
    // maxMessageSize (the protocol's largest event) end the connection they came on before
    // anything is allocated. KXAPI_E_IN_USE when started; KXAPI_E_INTERNAL, with nothing left
    // behind, when the FIFO or the thread cannot be had.
    KXAPI_RESULT Start(const char* name, MessageHandler handler, unsigned int maxMessageSize);
    // True when the service holds a connection to the FIFO within timeoutMs.
    bool WaitConnected(unsigned int timeoutMs);
    // Ends the thread (a wait or read in progress returns within one slice) and removes
    // the FIFO. Safe to call twice; never from the handler.
    void Stop();
    bool IsStarted() const { return m_pThread != nullptr; }

private:
    static void StaticRun(void* self);
    void Run();

    MessageHandler m_Handler;
    XpPipeListenerPtr m_pListener;
    XpThreadPtr m_pThread;
    XpEventPtr m_pConnected;     // set while the thread holds a connection
    XpCritSecPtr m_pReaderLock;  // the connection being read, for Stop
    PipeMessenger* m_pReader = nullptr;
    std::atomic<bool> m_Run{false};
    unsigned int m_MaxMessageSize = 0;
};
