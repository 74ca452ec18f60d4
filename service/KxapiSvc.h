// The service singleton: owns the three managers, the system log and the stop event.
#pragma once

#include <atomic>
#include <csignal>

#include "XpHandles.h"
#include "demod/DemodManager.h"
#include "global/KxGlobalManager.h"
#include "network/KxeManager.h"
#include "KxNonCopyable.h"

class KxapiSvc : private KxNonCopyable {
public:
    // The instance, created on first use (main thread only).
    static KxapiSvc* Instance();
    // Destroys the instance; does nothing when there is none.
    static void Delete();

    // Initialises the demod, network-device and global managers (in that order) and the
    // stop event, then starts the managers in the same order. False at the first failure.
    bool Init();
    // Logs the start, waits until the service is stopped, logs the stop.
    void MainLoop();
    // Stops the managers in order and sets the stop event. Not for signal handlers.
    void Stop();

    // Async-signal-safe stop request: only sets a flag, which MainLoop acts on (on the
    // main thread) within one 100 ms slice. Valid before the instance exists.
    static void RequestStopFromSignal();
    // Clears a pending stop request (tests that run the service several times in one process).
    static void ClearStopRequest();


private:
    KxapiSvc();
    ~KxapiSvc();

    static KxapiSvc* m_pThis;
    static volatile sig_atomic_t m_StopRequested;

    DemodManager m_DemodManager;
    KxeManager m_KxeManager;
    KxGlobalManager m_GlobalManager;
    XpEventPtr m_pStopEvent;
    std::atomic<bool> m_Stopped{false};
};
