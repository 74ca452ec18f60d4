#include "KxEventRegistry.h"

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "KxDeviceBackend.h"
#include "KxeSvcClient.h"
#include "XpUtil.h"

namespace Kxapi {

namespace {

constexpr uint32_t DEVICE_EVENTS = 0x8000001Cu;
constexpr uint32_t GLOBAL_EVENTS = 3;

// Set while this thread runs subscriber callbacks.
thread_local bool t_InCallback = false;

} // namespace

KxEventWatcher::KxEventWatcher(int64_t serial, KxDriverFamily family, int nodeIndex, bool global)
    : m_Serial(serial), m_Family(family), m_NodeIndex(nodeIndex), m_Global(global),
      m_pWakeLock(Xp::Instance()->MakeCritSec())
{
}

KxEventWatcher::~KxEventWatcher()
{
    Stop();
}

bool KxEventWatcher::Start()
{
    // A global watcher reports the hot-plug events raised from now on, even before its thread runs.
    if (m_pWakeLock == nullptr)
        return false;
    if (m_Global) {
        m_pHotplugSource = XpDriverNodes::Factory();
        m_HotplugCursor = m_pHotplugSource->HotplugCursor();
        StartNetworkEvents();
    }
    m_pThread = Xp::Instance()->MakeThread();
    if (m_pThread == nullptr || m_pThread->Create(m_Global ? StaticRunHotplug : StaticRun, this) != KXAPI_OK) {
        m_pThread.reset();
        return false;
    }
    m_pThread->SetName(m_Global ? "DeviceHotplug" : "DeviceEvents");
    return true;
}

bool KxEventWatcher::StartNetworkEvents()
{
    auto* client = new KxeSvcClient();
    KXAPI_RESULT result = client->Open();
    if (result == KXAPI_OK)
        result = client->RegisterEvents(GLOBAL_EVENTS, [this](int64_t serial, uint32_t event) {
            Dispatch(static_cast<int>(event), 0, 0, serial);
        });
    if (result != KXAPI_OK) {
        delete client;
        return false;
    }
    m_pNetworkEvents = client;
    return true;
}

void KxEventWatcher::Cancel()
{
    m_Cancel.store(true);
    WakeWait();
}

void KxEventWatcher::WakeWait()
{
    if (m_pHotplugSource != nullptr) {
        m_pHotplugSource->WakeHotplugWaiters();
        return;
    }
    CritSecAutoLock lock(m_pWakeLock);
    if (m_pWaitingDriver != nullptr)
        m_pWaitingDriver->WakeWaiters();
}

void KxEventWatcher::SetWaitingDriver(XpDriver* driver)
{
    CritSecAutoLock lock(m_pWakeLock);
    m_pWaitingDriver = driver;
}

void KxEventWatcher::Stop()
{
    m_Cancel.store(true);
    WakeWait();
    if (m_pNetworkEvents != nullptr) {
        m_pNetworkEvents->UnregisterEvents();
        delete m_pNetworkEvents;
        m_pNetworkEvents = nullptr;
    }
    m_pThread.reset(); // joins
}

void KxEventWatcher::StaticRun(void* self)
{
    static_cast<KxEventWatcher*>(self)->Run();
}

void KxEventWatcher::Run()
{
    std::unique_ptr<Device> device;
    if (KxapiFailed(Device::Open(m_Family, m_NodeIndex, device)))
        return; // the device offers no event source
    // Registered before the flag is first read: a stop that came earlier is seen at once, a
    // later one wakes the wait.
    SetWaitingDriver(&device->Driver());
    uint32_t request = device->EventRequest();
    while (!m_Cancel.load()) {
        KxDriverEvent event;
        KXAPI_RESULT result = device->Driver().WaitEvent(request, m_Cancel, event);
        if (result == KXAPI_E_CANCELLED || result == KXAPI_E_NOT_SUPPORTED)
            break;
        if (KxapiFailed(result)) {
            XpUtil::Sleep(100); // a failed wait is retried after one slice
            continue;
        }
        Dispatch(static_cast<int>(event.m_Event), event.m_Value, event.m_Value2, m_Serial);
    }
    SetWaitingDriver(nullptr); // before the device closes
}

void KxEventWatcher::StaticRunHotplug(void* self)
{
    static_cast<KxEventWatcher*>(self)->RunHotplug();
}

void KxEventWatcher::RunHotplug()
{
    while (!m_Cancel.load()) {
        int event = 0;
        int64_t serial = 0;
        if (m_pHotplugSource->WaitHotplug(XP_INFINITE, m_Cancel, m_HotplugCursor, event, serial))
            Dispatch(event, 0, 0, serial);
    }
}

void KxEventWatcher::Dispatch(int event, uint32_t value, uint32_t value2, int64_t serial)
{
    for (const KxSubscription& subscriber : KxEventRegistry::Instance().Subscribers(this, event)) {
        KxEventArgs args{serial, value, value2, subscriber.m_pContext};
        t_InCallback = true;
        subscriber.m_Callback(event, &args);
        t_InCallback = false;
    }
}

KxEventRegistry& KxEventRegistry::Instance()
{
    static KxEventRegistry registry;
    return registry;
}

KxEventRegistry::KxEventRegistry() : m_pLock(Xp::Instance()->MakeCritSec()) {}

KxEventRegistry::~KxEventRegistry()
{
    m_Retired.clear();
}

void KxEventRegistry::ReapRetired()
{
    if (t_InCallback)
        return;
    std::vector<std::unique_ptr<KxEventWatcher>> retired;
    {
        CritSecAutoLock lock(m_pLock);
        retired.swap(m_Retired);
    }
    retired.clear(); // joins, outside the lock
}

std::vector<KxSubscription> KxEventRegistry::Subscribers(KxEventWatcher* watcher, int event)
{
    CritSecAutoLock lock(m_pLock);
    std::vector<KxSubscription> matching;
    for (KxSubscription* subscription : watcher->m_Subscribers)
        if ((subscription->m_Mask & static_cast<uint32_t>(event)) != 0)
            matching.push_back(*subscription);
    return matching;
}

KXAPI_RESULT KxEventRegistry::SubscribeGlobal(KxEventCallback callback, void* context, uint32_t mask, void** id)
{
    ReapRetired();
    CritSecAutoLock lock(m_pLock);
    if (!m_pGlobal) {
        m_pGlobal.reset(new KxEventWatcher(0, KX_FAMILY_KXA, -1, true));
        if (!m_pGlobal->Start()) {
            m_pGlobal.reset();
            return KXAPI_E_OUT_OF_RESOURCES;
        }
    }
    auto* subscription = new KxSubscription{callback, context, mask, 0, true};
    m_pGlobal->m_Subscribers.push_back(subscription);
    *id = subscription;
    return KXAPI_OK;
}

KXAPI_RESULT KxEventRegistry::SubscribeDevice(Device& device, KxEventCallback callback, void* context, uint32_t mask,
                                             void** id)
{
    ReapRetired();
    CritSecAutoLock lock(m_pLock);
    int64_t serial = device.Desc().m_Serial;
    std::unique_ptr<KxEventWatcher>& watcher = m_Devices[serial];
    if (!watcher) {
        watcher.reset(new KxEventWatcher(serial, device.Family(), device.Desc().m_NodeIndex, false));
        if (!watcher->Start()) {
            m_Devices.erase(serial);
            return KXAPI_E_OUT_OF_RESOURCES;
        }
    }
    auto* subscription = new KxSubscription{callback, context, mask, serial, false};
    watcher->m_Subscribers.push_back(subscription);
    *id = subscription;
    return KXAPI_OK;
}

KXAPI_RESULT KxEventRegistry::Unsubscribe(void* id)
{
    std::unique_ptr<KxEventWatcher> finished;
    {
        CritSecAutoLock lock(m_pLock);
        auto* subscription = static_cast<KxSubscription*>(id);
        KxEventWatcher* watcher = nullptr;
        if (m_pGlobal) {
            for (KxSubscription* s : m_pGlobal->m_Subscribers)
                if (s == subscription)
                    watcher = m_pGlobal.get();
        }
        for (auto& entry : m_Devices)
            for (KxSubscription* s : entry.second->m_Subscribers)
                if (s == subscription)
                    watcher = entry.second.get();
        if (watcher == nullptr)
            return KXAPI_E_NOT_FOUND;
        std::erase(watcher->m_Subscribers, subscription);
        if (watcher->m_Subscribers.empty()) {
            if (watcher == m_pGlobal.get()) {
                finished = std::move(m_pGlobal);
            } else {
                auto it = m_Devices.find(subscription->m_Serial);
                finished = std::move(it->second);
                m_Devices.erase(it);
            }
        }
        delete subscription;
        if (finished && t_InCallback) {
            // Called from a watcher's callback: the watcher cannot join its own thread.
            finished->Cancel();
            m_Retired.push_back(std::move(finished));
        }
    }
    // Joined outside the lock: a callback in flight may still ask for subscribers.
    finished.reset();
    ReapRetired();
    return KXAPI_OK;
}

void CancelSubscriptions(void*& subscriptions)
{
    auto* ids = static_cast<std::vector<void*>*>(subscriptions);
    if (ids == nullptr)
        return;
    for (void* id : *ids)
        KxEventRegistry::Instance().Unsubscribe(id);
    delete ids;
    subscriptions = nullptr;
}

} // namespace Kxapi

KXAPI_RESULT KxapiRegisterCallback(KxEventCallback callback, void* context, int eventMask, void** id)
{
    if (id == nullptr || callback == nullptr)
        return KXAPI_E_INVALID_ARG;
    uint32_t mask = eventMask == -1 ? 3u : static_cast<uint32_t>(eventMask);
    if (mask == 0 || (mask & ~3u) != 0)
        return KXAPI_E_INVALID_TYPE;
    return Kxapi::KxEventRegistry::Instance().SubscribeGlobal(callback, context, mask, id);
}

KXAPI_RESULT KxapiUnregisterCallback(void* id)
{
    return Kxapi::KxEventRegistry::Instance().Unsubscribe(id);
}

namespace Kxapi {

KXAPI_RESULT KxDevice::RegisterCallback(KxEventCallback callback, void* context, int eventMask, void** id)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (id == nullptr || callback == nullptr)
        return KXAPI_E_INVALID_ARG;
    uint32_t mask = eventMask == -1 ? DEVICE_EVENTS : static_cast<uint32_t>(eventMask);
    if (mask == 0 || (mask & ~DEVICE_EVENTS) != 0)
        return KXAPI_E_INVALID_TYPE;
    KXAPI_RESULT result = KxEventRegistry::Instance().SubscribeDevice(*m_pDevice, callback, context, mask, id);
    if (KxapiSucceeded(result)) {
        if (m_pSubscriptions == nullptr)
            m_pSubscriptions = new std::vector<void*>();
        static_cast<std::vector<void*>*>(m_pSubscriptions)->push_back(*id);
    }
    return result;
}

KXAPI_RESULT KxDevice::UnregisterCallback(void* id)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    auto* ids = static_cast<std::vector<void*>*>(m_pSubscriptions);
    if (ids == nullptr || std::erase(*ids, id) == 0)
        return KXAPI_E_NOT_FOUND;
    return KxEventRegistry::Instance().Unsubscribe(id);
}

} // namespace Kxapi
