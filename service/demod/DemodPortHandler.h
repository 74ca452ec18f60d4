// DemodPortHandler: serves one client connection of the demod FIFO on its own thread. Handles
// the connection commands itself (version, attach, detach, close) and hands every other
// command to the port the connection is attached to; port controllers reply through
// DemodCmdProcessedCB. One connection is attached to at most one port at a time.
#pragma once

#include <atomic>

#include "DemodRequestReuse.h"
#include "IDemodPortClient.h"
#include "PipeServerImpl.h"

class DemodManager;
class DemodDeviceController;

class DemodPortHandler : public PipeServerImpl, public IDemodPortClient {
public:
    // Adopts the accepted connection.
    DemodPortHandler(DemodManager* pManager, IXpPipeConnection* connection);
    // Waits for the handler thread; detaches and releases the device when still attached.
    ~DemodPortHandler() override;

    // PipeServerImpl::Init plus the ready flag.
    bool Init() override;
    // Sends one reply message to the client (from this thread or from the port's worker
    // thread). A reply that cannot be written (the client does not read its FIFO within the
    // write deadline, or went) ends the connection.
    void DemodCmdProcessedCB(const void* msg, unsigned short size) override;
    unsigned int ClientFifoOwner() const override { return PeerOwner(); }

    bool IsReady() const { return m_Ready; }

private:
    // Handles one request of the request loop (connection commands here, the rest by the port).
    bool ServeRequest(const char* body, int size) override;
    // The loop ended (connection failed, close command or Stop): the port must not keep
    // this client.
    void OnServeEnd() override { DetachAndRelease(); }
    void HandleAttach(const char* body, int size);
    void HandleDetach(int size);
    // Leaves the attached port (if any): Detach on the port, release of the device.
    void DetachAndRelease();
    void Reply(uint32_t command, KXAPI_RESULT result);

    DemodManager* m_pManager;
    int m_Port = 0;                                  // 1-based, valid while attached
    long long m_Serial = 0;                          // device of m_pController
    DemodDeviceController* m_pController = nullptr;  // one reference held while attached
    bool m_Counted = false;                          // the port counted this client as a user
    bool m_Ready = false;
    DemodRequestReuse m_Reuse; // the last read request, decoded, and the reply buffer
};
