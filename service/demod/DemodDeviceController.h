// DemodDeviceController: one receiver device. Attaches to the device by serial, builds the
// HAL of its model and one port controller per receiver port, and forwards the clients'
// attach, detach and port commands to the port they name. Created and initialised by the
// demod manager's enumerator thread; its reference count and removed flag belong to the
// manager and are touched only under the manager's controller lock.
#pragma once

#include <atomic>
#include <vector>

#include "DemodPortController.h"
#include "IDemodPortClient.h"
#include "KxDevice.h"
#include "KxNonCopyable.h"

class DemodHal;

class DemodDeviceController : private KxNonCopyable {
public:
    // Abort states: none, requested by AbortInit, acknowledged once Init has given up.
    enum : int { ABORT_NONE = 0, ABORT_REQUESTED = 1, ABORT_COMPLETED = 2 };

    explicit DemodDeviceController(long long serial);
    // Runs CleanUp.
    virtual ~DemodDeviceController();

    // Attaches to the device, builds its HAL and starts every port; false (with everything
    // released) when the device is gone, is no receiver, its HAL or a port cannot start, or
    // AbortInit asked it to give up.
    bool Init();
    // Unregisters the power callback, stops and destroys the ports, deletes the HAL and
    // detaches from the device; clears the init-busy flag. Safe to call twice.
    void CleanUp();
    // For the device with this serial only: asks a running Init to give up and waits (10 ms
    // steps, at most 10 s) until it has; returns at once when no Init runs.
    void AbortInit(long long serial);
    // True from construction until Init or CleanUp has finished.
    bool IsInitBusy() const { return m_InitBusy.load() != 0; }
    // Registers a power-event callback (device event mask 4) on the device; true on success.
    bool RegisterEventCallBackFunction(KxEventCallback callback, void* context);

    long long Serial() const { return m_Serial; }
    // Number of receiver ports (0 before Init).
    int NumPorts() const { return m_NumPorts; }
    int AbortState() const { return m_AbortState.load(); }

    // Port numbers are 1-based and must lie in 1..NumPorts() (the caller checks).
    // Counts one more user of the port; false when the port refused its first user.
    bool Attach(int port);
    // Drops the client's events, commands and scans on the port and counts one user less;
    // counted is false for a client whose Attach the port refused (no count to give back).
    bool Detach(int port, IDemodPortClient* pClient, bool counted = true);
    // Hands one port command of a client to its port; the reply goes through pClient.
    void ProcessDemodMsg(const void* pMsg, int size, int port, IDemodPortClient* pClient,
                         DemodRequestReuse* pReuse = nullptr);

    // Kept by the demod manager under its controller lock.
    int m_RefCount = 0;
    bool m_Removed = false;
    unsigned int m_Generation = 0; // which initialisation of the device this is (diagnostics)

private:
    bool ValidPort(int port) const { return port >= 1 && port <= static_cast<int>(m_Ports.size()); }
    // CleanUp, then waits (10 ms steps, at most 10 s) for AbortInit to acknowledge.
    void CleanUpOnAbort();
    bool AbortRequested() const { return m_AbortState.load() == ABORT_REQUESTED; }

    long long m_Serial;
    std::atomic<int> m_AbortState{ABORT_NONE};
    std::atomic<int> m_InitBusy{1};
    void* m_pCallbackId = nullptr;
    int m_NumPorts = 0;
    std::vector<DemodPortController*> m_Ports; // index = port - 1
    DemodHal* m_pHal = nullptr;
    Kxapi::KxDeviceInt m_Device;
};
