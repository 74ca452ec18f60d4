// DemodPortController: one receiver port. Accepts the port commands of its clients (one at a
// time under the command lock), queues those that change the hardware for its worker thread,
// runs the port's state machine every 100 ms, keeps the statistics cache filled, runs blind
// and spectrum scans and notifies registered event FIFOs.
#pragma once

#include "IDemodPortClient.h"

class DemodHal;

class DemodPortController {
public:
    DemodPortController();
    // Runs CleanUp.
    virtual ~DemodPortController();
    DemodPortController(const DemodPortController&) = delete;
    DemodPortController& operator=(const DemodPortController&) = delete;

    // Port (1-based) and the device's HAL (not owned; serial and type number come from it).
    // Initialises the port through the HAL and starts the worker thread; false on any failure.
    bool Init(int port, DemodHal* pHal);
    // Counts one more user; the first user must be accepted by the HAL (false otherwise).
    bool Attach();
    // Drops the client's events, queued commands and scans, and counts one user less.
    bool Detach(IDemodPortClient* pClient);
    // Accepts one port command of a client (see the command table); every reply goes
    // through pClient.
    void ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient);
    // Stops the worker thread and frees every resource; safe to call twice.
    void CleanUp();
};
