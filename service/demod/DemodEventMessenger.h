// DemodEventMessenger: the service's writer end of one client's event FIFO. Sends the
// tune-frequency, tune-parameter, blind-scan and spectrum-scan events of one receiver port,
// each kind only while its flag is on; tune changes caused by the owner (the client that
// registered the FIFO) are never sent back to it.
//
// The event operations only queue the message (at most EVENT_QUEUE_MAX of them holding at most
// EVENT_QUEUE_MAX_BYTES); the port's
// event writer thread sends the queue with Flush while it holds no lock of the port, so a
// client whose FIFO stays full delays nobody but itself. A messenger whose write fails once,
// or whose queue overflows, is failed for good and the port drops it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "DemodSvcEvents.h"
#include "DemodSvcLayouts.h"
#include "IDemodPortClient.h"
#include "KxScanProgress.h"
#include "PipeMessenger.h"

class DemodEventMessenger : public PipeMessenger {
public:
    // Messages and bytes waiting for one subscriber; one more fails the messenger.
    static constexpr size_t EVENT_QUEUE_MAX = 32;
    static constexpr size_t EVENT_QUEUE_MAX_BYTES = 4 * Kxapi::DEMOD_EVENT_MAX_BODY;

    explicit DemodEventMessenger(IDemodPortClient* pOwner);
    // Disconnects under the pipe lock, then deletes the lock.
    ~DemodEventMessenger() override;

    // Connects once to the client's event FIFO, which must belong to the owner of the client's
    // connection FIFOs, and stores the header's serial and 1-based port; every flag starts
    // off. False when a step fails.
    bool Init(const std::wstring& name, int64_t serial, int32_t port);
    // Sets the flag of every kind in flags (other kinds unchanged).
    void SetEventFlags(const std::map<Kxapi::KxapiSvcEvent, bool>& flags);
    bool AllFlagsDisabled();
    bool IsFlagSet(Kxapi::KxapiSvcEvent kind);
    IDemodPortClient* Owner() const { return m_pOwner; }

    // Tune changes (kinds 0 and 1): nothing is queued for the owner's own changes or while the
    // kind is off. False once the messenger has failed.
    virtual bool TuneFreqHasChangedEv(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz);
    virtual bool TuneParsHaveChangedEv(IDemodPortClient* pClient, int64_t oldFreqHz,
                                       const Kxapi::OldStyleParsWire& oldPars, int64_t newFreqHz,
                                       const Kxapi::OldStyleParsWire& newPars);
    // Scan progress (kinds 2 and 3), while the kind is on; a final report (event 1 or 2)
    // turns the kind off once it is queued.
    virtual bool BlindScanProgressEv(const Kxapi::KxBsProgress& progress);
    virtual bool SpectrumScanProgressEv(const Kxapi::KxSpsProgress& progress);

    // Writes every queued message, in order, from the one thread that writes this FIFO; the
    // pipe lock is not held while a write waits. False when a write failed (the messenger
    // has failed then).
    bool Flush();
    bool HasPending();
    bool Failed();

private:
    bool ConnectPipe(const std::wstring& name);
    // Queues one event body; the pipe lock is held.
    bool QueueLocked(Kxapi::DemodMsg body);
    bool FlagLocked(Kxapi::KxapiSvcEvent kind) const;

    XpCritSecPtr m_pPipeLock;
    std::map<Kxapi::KxapiSvcEvent, bool> m_EventFlags;
    std::deque<Kxapi::DemodMsg> m_Pending;
    size_t m_PendingBytes = 0;
    bool m_Failed = false;
    int64_t m_Serial = -1;
    int32_t m_Port = -1;
    IDemodPortClient* m_pOwner;
};
