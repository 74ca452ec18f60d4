// The demod port client of an application: one object per receiver port. It connects to
// the service's demod FIFO "DemodRecvPipe", attaches to the port and carries every request
// of its DemodSvcClient message layer. A failed transfer closes the connection, connects
// again and repeats the attach (and the event registration), and fails that one request; an
// attach the service refuses then (a device it is still initialising) is repeated before
// each later request until it succeeds.
// Each client publishes its own event FIFO ("KxapiDemodSvc_EvPipe_<serial>_<port>_<pid>_<n>"),
// which the service connects to at registration; an event thread reads the events and
// hands them to the registered callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "DemodSvcClient.h"
#include "DemodSvcEvents.h"
#include "KxEventListener.h"
#include "KxServiceConnection.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

namespace Kxapi {

class DemodPortClient : public IDemodSvcTransport, private KxNonCopyable {
public:
    // Called on the client's event thread for each event the service sends and the client
    // dispatches (kinds 0 and 1 of their exact sizes, kinds 2 and 3 with their XML text).
    // The callback may change the registration but must not Close the client.
    using EventCallback = std::function<void(const DemodEvent& event)>;

    // How long Init waits for the service to connect to the event FIFO.
    static constexpr unsigned int EVENT_CONNECT_WAIT_MS = 1000;

    DemodPortClient();
    // Close().
    ~DemodPortClient() override;

    // Connects to the service (KXAPI_E_CONNECT_TO_SERVICE when nobody serves the FIFO),
    // attaches to port `portIndex` (0-based) of the device `serial`, initialises the
    // demodulator, opens the event FIFO and registers it with mask 0. KXAPI_E_TIMEOUT when
    // the service has not connected to the event FIFO within 1000 ms; KXAPI_E_IN_USE when
    // the client is already open. Any failure leaves the client closed.
    KXAPI_RESULT Init(int64_t serial, int32_t portIndex, uint32_t xtra = 0);
    // Registers `callback` for the event kinds of `mask` (bit 0 frequency changed, bit 1
    // parameters changed); scan progress reaches the callback of the client that started
    // the scan. A null callback registers mask 0. KXAPI_E_NOT_INITIALIZED before Init.
    KXAPI_RESULT CallbackRegisterEvents(EventCallback callback, uint64_t mask);
    // Sends the close message (the service detaches the port), stops the event thread and
    // removes the event FIFO. Safe to call twice.
    void Close();
    bool IsOpen() const { return m_Open.load(); }

    // The message layer: every request of the demod protocol (see DemodSvcClient.h).
    DemodSvcClient& Svc() { return m_Svc; }

    // IDemodSvcTransport: one request and its reply; a failure reconnects and re-attaches.
    KXAPI_RESULT Transfer(const DemodMsg& request, DemodMsg& reply) override;

    // Bounds the wait for each reply (XP_INFINITE, the default, waits as long as the
    // service takes; a blind scan of the fixed layout can take minutes).
    void SetReplyTimeout(unsigned int timeoutMs) { m_Connection.SetReplyTimeout(timeoutMs); }
    // Number of reconnects after failed transfers.
    int ReconnectCount() const { return m_Connection.ReconnectCount(); }
    const std::wstring& EventPipeName() const { return m_EventPipeName; }
    int64_t Serial() const { return m_Serial; }
    int32_t PortIndex() const { return m_PortIndex; }

private:
    // The set-up of a connection made again: attach (refused: repeated before the next
    // request) and, for a client with events, the registration with its mask.
    KxServiceConnection::SetUpResult ReAttach(KxServiceConnection& connection);
    KXAPI_RESULT StartEvents();
    void StopEvents();
    void Dispatch(const uint8_t* body, size_t size);

    DemodSvcClient m_Svc;
    KxServiceConnection m_Connection;
    XpCritSecPtr m_pCallbackLock; // the callback and the registered mask
    std::atomic<bool> m_Open{false};
    int64_t m_Serial = 0;
    int32_t m_PortIndex = 0;
    uint32_t m_Xtra = 0;

    // Event side.
    std::wstring m_EventPipeName;
    KxEventListener m_Events;
    std::atomic<bool> m_HasEvents{false};
    EventCallback m_Callback;
    uint64_t m_EventMask = 0;
};

} // namespace Kxapi
