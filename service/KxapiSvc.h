// The service singleton: owns the three managers, the system log and the stop event.
#pragma once

#include <atomic>

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

    // Initialises the demod, network-device and global managers (in that order), then starts
    // them in the same order. False at the first failure.
    bool Init();
    // Logs the start, sleeps until the service is stopped (Stop) or a stop is requested
    // (RequestStopFromSignal, which it acts on by calling Stop), logs the stop.
    void MainLoop();
    // Stops the managers in order, then ends MainLoop. Not for signal handlers.
    void Stop();

    // Async-signal-safe stop request: sets a flag and wakes MainLoop, which acts on it on the
    // main thread. Valid before the instance exists (MainLoop then finds the flag set).
    static void RequestStopFromSignal();
    // Clears a pending stop request (tests that run the service several times in one process).
    static void ClearStopRequest();


private:
    KxapiSvc();
    ~KxapiSvc();

    static KxapiSvc* m_pThis;
    // Lock-free, so a signal handler may set it, on whichever thread takes the signal.
    static std::atomic<bool> m_StopRequested;

    DemodManager m_DemodManager;
    KxeManager m_KxeManager;
    KxGlobalManager m_GlobalManager;
    // Wakes MainLoop: made with the first instance and kept for the life of the process, so
    // that a signal handler never writes into a descriptor closed (and reused) under it.
    static std::atomic<int> m_StopWakeFd;
    // Wakes MainLoop after a flag it looks at was set.
    static void WakeMainLoop();

    std::atomic<bool> m_Stopped{false};     // Stop has begun
    std::atomic<bool> m_StopDone{false};    // Stop has stopped every manager
};
