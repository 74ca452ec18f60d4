// DemodManager: the demodulator half of the service. Serves "DemodRecvPipe" through a
// ClientAcceptor with one DemodPortHandler per connected client, keeps one
// DemodDeviceController per receiver device (keyed by serial), brings devices up on its
// enumerator thread, follows hot-plug and power events, and reaps finished client handlers
// every 100 ms.
//
// Locks: handler list (the acceptor's), controller map (with the reference counts and removed
// flags), add set (with the initialising controller) and power set. No two of them are ever
// held together.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <set>

#include "ClientAcceptor.h"
#include "KxDevice.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

class DemodDeviceController;

class DemodManager : private KxNonCopyable {
public:
    DemodManager();
    // Stops what still runs, unregisters the hot-plug callback and frees every handler and
    // controller.
    virtual ~DemodManager();

    // Locks, the enumerator event, the listener FIFO; registers for hot-plug events.
    // False (everything released) on any failure or when already initialised.
    bool Init();
    // Starts the enumerator thread, the accept thread and the handler reaper. False when not initialised, already running,
    // stopped before (the listener is released for good) or a thread cannot be made.
    bool Start();
    // Ends the accept thread and the reaper, stops and frees every client handler and controller,
    // aborts a running device initialisation and ends the enumerator thread. Returns while
    // clients are still connected; does nothing when not running.
    void Stop();

    // The controller of a device, with one more reference for the caller; null when the
    // device is removed or not (yet) initialised, in which case the device is requested
    // (DeviceRequested).
    DemodDeviceController* GetDemodDeviceController(long long serial);
    // Gives one reference back; the last one deletes the controller.
    void ReleaseDemodDeviceController(long long serial);
    // Marks the controller as removed (no new attaches) and drops the map's reference, once;
    // false when the serial is unknown.
    bool RemoveDemodDeviceController(long long serial);
    // Schedules the device for initialisation by the enumerator thread (hot-plug, power and
    // start-up scans: the device is known to be there).
    void DeviceAdded(long long serial);
    // A client asked for a device the manager has no controller for. Requests are coalesced:
    // the enumerator rescans the driver nodes at most once per RESCAN_INTERVAL_MS for all of
    // them and schedules the serials it found; a serial that a rescan did not find is not
    // requested again for MISSING_HOLD_MS (a hot-plug of it lifts that at once). At most
    // MAX_REQUESTED serials wait for a rescan; more are dropped until it ran.
    void DeviceRequested(long long serial);
    static constexpr unsigned int RESCAN_INTERVAL_MS = 500;
    static constexpr unsigned int MISSING_HOLD_MS = 2000;
    static constexpr size_t MAX_REQUESTED = 256;
    static constexpr size_t MAX_MISSING = 1024;
    // Unschedules the device, aborts its running initialisation and removes its controller.
    void DeviceRemoved(long long serial);

    // Device API callbacks; the context of the arguments is the manager.
    // Event 1 adds, event 2 removes a device; other events are ignored.
    static void DeviceAddOrRemovedCallback(int event, const KxEventArgs* args);
    // Event 4 with state 1 (power back): the device's controller is retired and the device
    // initialised afresh, unless it is still initialising.
    static void DevicePowerEventCallback(int event, const KxEventArgs* args);

    // Diagnostics: the state of a device's controller; false when the map does not hold it.
    struct ControllerInfo {
        int m_RefCount = 0;
        bool m_Removed = false;
        unsigned int m_Generation = 0; // counts successful initialisations across devices
    };
    bool GetControllerInfo(long long serial, ControllerInfo& info);
    // Diagnostics: whether the enumerator is initialising this device right now.
    bool IsInitialising(long long serial);
    // Diagnostics: whether a rescan did not find this requested serial and its hold runs.
    bool IsHeldMissing(long long serial);
    // Number of client handlers not yet reaped.
    size_t HandlerCount();
    bool IsRunning() const { return m_Running.load(); }

private:
    static void StaticRunEnumerator(void* self);
    void RunEnumerator();

    // One scan of the device API: every serial found goes into the add set.
    void ScanDevices();
    // The serials of every device the device API finds (empty when the scan fails).
    static std::set<long long> EnumerateSerials();
    // The coalesced rescan for the requested serials, when one is due.
    void ProcessRequestSet();
    // Whether requested serials wait for a rescan.
    bool RescanPending();
    // Retires the controllers of the power set and schedules their devices again.
    void ProcessPowerSet();
    // Initialises every device of the add set that has no controller yet, one at a time.
    void ProcessAddSet();
    void InitialiseDevice(long long serial);
    // Waits (100 ms slices) for the enumerator event; false when the thread is to end.
    bool WaitEnumeratorEvent();
    void DeleteControllers();
    void Close();

    bool m_Initialised = false;
    bool m_Stopped = false;
    std::atomic<bool> m_Running{false};
    ClientAcceptor m_Acceptor; // the listener, the accept thread, the handlers and their reaper

    XpCritSecPtr m_pControllerLock;
    std::map<long long, DemodDeviceController*> m_Controllers;
    unsigned int m_NextGeneration = 0;

    XpCritSecPtr m_pAddSetLock;
    std::set<long long> m_AddSet;
    DemodDeviceController* m_pInitController = nullptr;
    // Also under the add-set lock: serials clients asked for, waiting for the next rescan;
    // serials a rescan did not find, with the tick of that rescan; the tick of the last one.
    std::set<long long> m_RequestSet;
    std::map<long long, unsigned int> m_Missing;
    unsigned int m_LastRescanMs = 0;
    bool m_Rescanned = false;

    XpCritSecPtr m_pPowerSetLock;
    std::set<long long> m_PowerSet;

    XpEventPtr m_pEnumEvent;
    XpThreadPtr m_pEnumThread;
    void* m_pCallbackId = nullptr;
};
