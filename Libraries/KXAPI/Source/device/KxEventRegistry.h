// The process-wide event registry: device watchers (one per subscribed device) and the global
// watcher (hot-plug source), each with its own thread; callbacks run on those threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "KxDevice.h"
#include "XpDriver.h"
#include "XpDriverNode.h"
#include "XpHandles.h"

class KxeSvcClient;

namespace Kxapi {

class Device;

struct KxSubscription {
    KxEventCallback m_Callback;
    void* m_pContext;
    uint32_t m_Mask;
    int64_t m_Serial;    // device subscriptions
    bool m_Global;
};

class KxEventWatcher {
public:
    KxEventWatcher(int64_t serial, KxDriverFamily family, int nodeIndex, bool global);
    ~KxEventWatcher();
    bool Start();
    // Ends the thread (its wait is woken) and joins it.
    void Stop();
    // Asks the thread to end, waking its wait, without waiting for it.
    void Cancel();
    std::vector<KxSubscription*> m_Subscribers;

    static void StaticRun(void* self);
    void Run();
    static void StaticRunHotplug(void* self);
    void RunHotplug();

private:
    void Dispatch(int event, uint32_t value, uint32_t value2, int64_t serial);
    // Connects to the network-device manager for its added/removed reports; false when it
    // cannot (the watcher then runs with the hot-plug source only).
    bool StartNetworkEvents();
    // The device watcher's opened driver, whose event wait a stop wakes (null: none open).
    void SetWaitingDriver(XpDriver* driver);
    // Wakes the thread's wait after m_Cancel was raised.
    void WakeWait();

    int64_t m_Serial;
    KxDriverFamily m_Family;
    int m_NodeIndex;
    bool m_Global;
    std::atomic<bool> m_Cancel{false};
    uint64_t m_HotplugCursor = 0;
    IXpDriverNodeFactory* m_pHotplugSource = nullptr; // the global watcher's, chosen at start
    // Guards m_pWaitingDriver: the thread registers its driver under it, then looks at m_Cancel;
    // a stop raises m_Cancel, then wakes the registered driver under it. Either the thread sees
    // the flag or its wait is woken.
    XpCritSecPtr m_pWakeLock;
    XpDriver* m_pWaitingDriver = nullptr;
    KxeSvcClient* m_pNetworkEvents = nullptr; // registered with the network-device manager
    XpThreadPtr m_pThread;
};

class KxEventRegistry {
public:
    static KxEventRegistry& Instance();
    KXAPI_RESULT SubscribeGlobal(KxEventCallback callback, void* context, uint32_t mask, void** id);
    KXAPI_RESULT SubscribeDevice(Device& device, KxEventCallback callback, void* context, uint32_t mask, void** id);
    KXAPI_RESULT Unsubscribe(void* id);
    // Copies the subscribers of `watcher` whose mask holds `event` (under the registry lock).
    std::vector<KxSubscription> Subscribers(KxEventWatcher* watcher, int event);

private:
    KxEventRegistry();
    ~KxEventRegistry();
    // Joins watchers retired from inside a callback (a watcher cannot join its own thread).
    void ReapRetired();

    XpCritSecPtr m_pLock; // first member: outlives the watchers, whose threads take it
    std::vector<std::unique_ptr<KxEventWatcher>> m_Retired;
    std::unique_ptr<KxEventWatcher> m_pGlobal;
    std::map<int64_t, std::unique_ptr<KxEventWatcher>> m_Devices;
};

} // namespace Kxapi
