// Writes device-added and device-removed messages to one client's event FIFO.
#pragma once

#include <atomic>
#include <cstdint>

#include "PipeMessenger.h"

class KxeEventMessenger : public PipeMessenger {
public:
    KxeEventMessenger();
    // Disconnects under the lock, then deletes it.
    ~KxeEventMessenger() override;

    // Connects once to the client's FIFO `name`, which must belong to `ownerUid` (the owner of
    // the client's connection FIFOs); false when already initialised or when the FIFO cannot
    // be reached or is refused.
    bool Init(const char* name, uint32_t mask, unsigned int ownerUid);
    void SetMask(uint32_t mask) { m_Mask = mask; }
    uint32_t Mask() const { return m_Mask; }
    // Sends {0, 0, serial, event, 0} when the mask selects the event. False when the write
    // failed or timed out (the caller drops this subscriber); true when sent or not selected.
    bool DeviceStateChangedEv(int64_t serial, uint32_t event);

private:
    using PipeMessenger::Init; // only the named form above is offered

    XpCritSecPtr m_pLock;
    std::atomic<uint32_t> m_Mask{0};
};
