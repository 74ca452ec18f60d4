// The driver-node seam: the one way the device access layer reaches a card's kernel driver.
//
// A node is one numbered character device of a driver family. The real nodes are the
// character devices; the simulator installs a factory of in-process virtual nodes that decode
// the same request words and records. Nothing above this seam knows which kind it talks to.
#pragma once

#include <atomic>
#include <cstdint>

#include "IInterface.h"
#include "KxapiResult.h"
#include "XpInterfaces.h"

enum KxDriverFamily {
    KX_FAMILY_KXA = 0,   // PCIe, legacy driver ("/dev/Kxa")
    KX_FAMILY_KXU = 1,   // USB ("/dev/usb/Korvix/Kxu")
    KX_FAMILY_PCIE = 2,  // PCIe, block driver ("/dev/KxPcie")
};
constexpr int KX_FAMILY_COUNT = 3;
constexpr int KX_DRIVER_NODES_PER_FAMILY = 50;

class IXpDriverNode : public IInterface {
public:
    // Issues `request` on the single buffer `buffer` of `size` bytes (the driver reads its input
    // from it and writes its output over it). Returns 0 on success, -1 with errno set on a
    // system failure, or a negated driver status word.
    virtual int IoCtl(uint32_t request, void* buffer, uint32_t size) = 0;
    // Maps `length` bytes of the node at offset 0, read/write, shared; null on failure.
    virtual void* MapMemory(uint32_t length) = 0;
    virtual void UnmapMemory(void* memory, uint32_t length) = 0;
    // Waits up to `timeoutMs` (XP_INFINITE: without limit) for the node to become readable
    // (an event is pending). False on time-out and once WakeWaiters was called.
    virtual bool WaitReadable(unsigned int timeoutMs) = 0;
    // Ends every WaitReadable on this node, in progress or to come, with false: its owner is
    // stopping. Safe from any thread while another waits.
    virtual void WakeWaiters() = 0;
};

class IXpDriverNodeFactory : public IInterface {
public:
    // Opens node `index` of `family`; null (and KXAPI_E_NOT_FOUND) when it does not exist.
    virtual IXpDriverNode* Open(KxDriverFamily family, int index) = 0;
    // The platform hot-plug source: waits up to `timeoutMs` (XP_INFINITE: without limit) for
    // the next device added (1) or removed (2) after `cursor` (advanced past the event
    // returned), or until `stop` is raised and WakeHotplugWaiters called. False on time-out
    // and on stop. The default is the inert platform source (it only waits for the time-out
    // or the stop).
    virtual bool WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t& cursor, int& event,
                             int64_t& serial);
    // Makes every hot-plug wait in progress look at its stop flag again (raise the flag
    // first). A wait whose flag is not raised sleeps on: the source is shared by every
    // watcher of the process.
    virtual void WakeHotplugWaiters();
    // Cursor of the newest hot-plug event, where a new waiter starts.
    virtual uint64_t HotplugCursor() { return 0; }
};

class XpDriverNodes {
public:
    // Opens a node through the installed factory (the real character devices by default).
    static IXpDriverNode* Open(KxDriverFamily family, int index, KXAPI_RESULT& result);
    // Replaces the factory (not owned); null restores the real nodes. Returns the previous one.
    static IXpDriverNodeFactory* InstallFactory(IXpDriverNodeFactory* factory);
    static const char* NodePrefix(KxDriverFamily family);
    // The installed factory (the real one when none is installed).
    static IXpDriverNodeFactory* Factory();
};
