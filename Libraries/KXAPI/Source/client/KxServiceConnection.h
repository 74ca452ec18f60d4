// KxServiceConnection: a client's connection to one of the service's FIFOs ("DemodRecvPipe",
// "KxeRecvPipe", "KxGlobalRecvPipe"). One request and its reply at a time, under the
// connection's lock; a transfer that breaks closes the connection, and a new one is made
// either on the next request or at once (the reconnect policy), with the client's own
// set-up (attach, event registration) run on every connection made again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KxapiResult.h"
#include "PipeMessenger.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

class KxServiceConnection : private KxNonCopyable {
public:
    // What a set-up made of a new connection.
    enum class SetUpResult {
        READY, // requests may go out
        RETRY, // the service refused for now: the set-up runs again before the next request
        DROP,  // the connection broke: it is closed
    };
    // Runs under the connection's lock on every connection made again after a failure; it
    // talks to the service through Exchange.
    using SetUpHook = std::function<SetUpResult(KxServiceConnection& connection)>;

    enum class ReconnectPolicy {
        // A request finds no connection: it connects first (and fails when nobody serves).
        ON_NEXT_REQUEST,
        // A failed transfer connects again at once (and runs the set-up); a request that
        // finds no connection fails and tries to connect again.
        AFTER_FAILURE,
    };

    KxServiceConnection(const wchar_t* pipeName, ReconnectPolicy policy);
    // Close().
    ~KxServiceConnection();

    // Set before the first request.
    void SetSetUp(SetUpHook hook) { m_SetUp = std::move(hook); }
    // Bounds the wait for each reply (XP_INFINITE, the default: as long as the service takes).
    void SetReplyTimeout(unsigned int timeoutMs) { m_ReplyTimeoutMs = timeoutMs; }

    // Connects when not connected, without the set-up (the caller sets a first connection
    // up itself). KXAPI_E_CONNECT_TO_SERVICE when nobody serves the FIFO.
    KXAPI_RESULT Connect();
    // One request and its whole reply. KXAPI_E_CONNECT_TO_SERVICE when no connection could
    // be had or the transfer broke (the connection is then closed, see the policy).
    KXAPI_RESULT Transfer(const void* request, size_t size, std::vector<uint8_t>& reply);
    // Transfer with a reply of exactly replySize bytes copied to `reply`; KXAPI_E_INTERNAL
    // for a reply of another size.
    KXAPI_RESULT TransferExact(const void* request, size_t size, void* reply, size_t replySize);
    // For the set-up: one exchange on the current connection, nothing more; false when
    // there is no connection or it broke.
    bool Exchange(const void* request, size_t size, std::vector<uint8_t>& reply);
    // Sends the close command (when connected) and closes the connection.
    void Close();

    bool IsConnected();
    // Connections made again after failed transfers (AFTER_FAILURE policy).
    int ReconnectCount() const { return m_Reconnects.load(); }

private:
    // Under the lock.
    KXAPI_RESULT Open();
    void Drop();
    void RunSetUp();

    std::wstring m_PipeName;
    ReconnectPolicy m_Policy;
    SetUpHook m_SetUp;
    unsigned int m_ReplyTimeoutMs = XP_INFINITE;
    XpCritSecPtr m_pLock;
    std::unique_ptr<PipeMessenger> m_pMessenger;
    bool m_SetUpPending = false;
    bool m_StaleReplyPossible = false; // an exchange gave up waiting for its reply
    std::atomic<int> m_Reconnects{0};
};
