// The virtual driver families: the cards plugged into the 50 nodes of each family, the node
// factory the device access layer opens them through, and the hot-plug source.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <memory>
#include <vector>

#include "SimCard.h"
#include "SimVirtualNode.h"
#include "XpDriverNode.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

constexpr uint32_t SIM_DRIVER_POWER_OFF = 1;
constexpr uint32_t SIM_DRIVER_POWER_ON = 2;

class SimCardRack : public IXpDriverNodeFactory, private KxNonCopyable {
public:
    SimCardRack();
    ~SimCardRack() override;

    // Puts card into the first free node of its family and announces it (hot-plug event 1).
    // KXAPI_E_ATTACHED when a card with that serial is present; KXAPI_E_OUT_OF_RESOURCES when
    // the family's 50 nodes are taken.
    KXAPI_RESULT Plug(std::shared_ptr<SimCard> card);
    // Removes the card with serial: its nodes fail from then on, hot-plug event 2.
    // KXAPI_E_NOT_FOUND when absent.
    KXAPI_RESULT Unplug(int64_t serial);
    // Raises a driver power event (kind 1) on the card with the driver's value
    // (SIM_DRIVER_POWER_ON reaches subscribers as power event value 1, OFF as 2).
    KXAPI_RESULT RaisePowerEvent(int64_t serial, uint32_t driverValue);
    std::shared_ptr<SimCard> Find(int64_t serial);
    std::vector<std::shared_ptr<SimCard>> Cards();
    // Node opens so far, whether a card sat in the node or not: a scan of every driver family
    // opens each of their nodes once (tests count scans with it).
    uint64_t NodeOpenCount() const { return m_NodeOpens.load(std::memory_order_relaxed); }
    // The processor time the nodes' requests took in their callers' threads, counted from the
    // first call on (see SimNodeUsage); the requests counted alongside.
    void NodeUsage(uint64_t& cpuNs, uint64_t& requests);

    // IXpDriverNodeFactory.
    IXpDriverNode* Open(KxDriverFamily family, int index) override;
    bool WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t& cursor, int& event,
                     int64_t& serial) override;
    void WakeHotplugWaiters() override;
    uint64_t HotplugCursor() override;

private:
    struct HotplugEvent {
        int m_Event;
        int64_t m_Serial;
    };
    // Records a plug or unplug and wakes the hot-plug waiters (under m_pLock).
    void AddHotplugEvent(int event, int64_t serial);

    XpCritSecPtr m_pLock;
    std::atomic<uint64_t> m_NodeOpens{0};
    std::shared_ptr<SimNodeUsage> m_pUsage = std::make_shared<SimNodeUsage>();
    std::vector<std::shared_ptr<SimCard>> m_Slots[KX_FAMILY_COUNT];
    // The hot-plug events, guarded by their own lock: a waiter sleeps on the condition until
    // a plug or unplug adds one, as a driver node's hot-plug wait sleeps in the kernel.
    std::mutex m_HotplugLock;
    std::condition_variable m_HotplugAdded;
    std::vector<HotplugEvent> m_Hotplug; // cursor n is the n-th event
};
