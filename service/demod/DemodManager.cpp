#include "DemodManager.h"

#include <new>
#include <vector>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "DemodDeviceController.h"
#include "DemodPortHandler.h"
#include "KxServiceDefs.h"
#include "XpUtil.h"

namespace {
// Finished client handlers wake the reaper; this is only its slowest cadence.
constexpr unsigned int REAPER_PERIOD_MS = 1000;
constexpr unsigned int WAIT_SLICE_MS = 100;
constexpr unsigned int ENUM_IDLE_MS = 1000;
constexpr int FIRST_SCAN_CAPACITY = 10;
constexpr int HOTPLUG_EVENT_MASK = KX_GLOBAL_EVENT_ADDED | KX_GLOBAL_EVENT_REMOVED; // 3
constexpr uint32_t POWER_STATE_REINIT = 1; // the state after which a device is initialised again
} // namespace

DemodManager::DemodManager()
    : m_Acceptor([this](IXpPipeConnection* connection) -> PipeServerImpl* {
          return new (std::nothrow) DemodPortHandler(this, connection);
      })
{
    // Finished handlers are reaped every 100 ms, whether or not another client connects.
    m_Acceptor.SetPruneOnConnect(false);
    m_Acceptor.SetReapPeriod(REAPER_PERIOD_MS);
}

DemodManager::~DemodManager()
{
    Stop();
    Close();
}

bool DemodManager::Init()
{
    if (m_Initialised)
        return false;
    Xp* xp = Xp::Instance();
    m_pControllerLock = xp->MakeCritSec();
    m_pAddSetLock = xp->MakeCritSec();
    m_pPowerSetLock = xp->MakeCritSec();
    m_pEnumEvent = xp->MakeEvent(false); // auto-reset
    m_pEnumThread = xp->MakeThread();
    if (m_pControllerLock == nullptr || m_pAddSetLock == nullptr || m_pPowerSetLock == nullptr ||
        m_pEnumEvent == nullptr || m_pEnumThread == nullptr || !m_Acceptor.Init(DEMOD_SERVICE_PIPE_NAME)) {
        Close();
        return false;
    }
    void* id = nullptr;
    if (KxapiRegisterCallback(DeviceAddOrRemovedCallback, this, HOTPLUG_EVENT_MASK, &id) != KXAPI_OK) {
        Close();
        return false;
    }
    m_pCallbackId = id;
    m_Initialised = true;
    return true;
}

bool DemodManager::Start()
{
    if (!m_Initialised || m_Stopped || m_Running.load())
        return false;
    m_Running = true;
    if (m_pEnumThread->Create(StaticRunEnumerator, this) != KXAPI_OK) {
        m_Running = false;
        return false;
    }
    m_pEnumThread->SetName("DemodEnumerator");
    if (!m_Acceptor.Start()) {
        m_Running = false;
        m_pEnumEvent->Set();
        m_pEnumThread->WaitFinished();
        m_pEnumThread->Close();
        return false;
    }
    return true;
}

void DemodManager::Stop()
{
    if (!m_Running.exchange(false))
        return;
    m_Stopped = true;
    m_Acceptor.Stop();
    // Every handler stopped and freed: on its way out a handler detaches and gives its
    // controller reference back under the controller lock.
    m_Acceptor.CloseClients();
    // The enumerator ends before the controllers go: a device it is initialising holds a
    // reference to its controller (and may still add it to the map) until it returns.
    m_pEnumEvent->Set();
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        if (m_pInitController != nullptr)
            m_pInitController->AbortInit(m_pInitController->Serial());
    }
    m_pEnumThread->WaitFinished();
    m_pEnumThread->Close();
    DeleteControllers();
}

void DemodManager::Close()
{
    // First no more hot-plug callbacks: they use the sets and the controller map.
    if (m_pCallbackId != nullptr) {
        KxapiUnregisterCallback(m_pCallbackId);
        m_pCallbackId = nullptr;
    }
    m_Acceptor.Close(); // removes the listener FIFO, frees every handler
    if (m_pControllerLock != nullptr)
        DeleteControllers();
    m_pEnumThread.reset();
    m_pEnumEvent.reset();
    m_pControllerLock.reset();
    m_pAddSetLock.reset();
    m_pPowerSetLock.reset();
    m_AddSet.clear();
    m_PowerSet.clear();
    m_Initialised = false;
}

// ---- Controller map ------------------------------------------------------------------------

DemodDeviceController* DemodManager::GetDemodDeviceController(long long serial)
{
    {
        CritSecAutoLockSvc lock(m_pControllerLock);
        auto it = m_Controllers.find(serial);
        if (it != m_Controllers.end()) {
            if (it->second->m_Removed)
                return nullptr;
            it->second->m_RefCount++;
            return it->second;
        }
    }
    // Unknown (not yet initialised, retired and released, or not there at all): let the
    // enumerator look for it.
    DeviceRequested(serial);
    return nullptr;
}

void DemodManager::ReleaseDemodDeviceController(long long serial)
{
    DemodDeviceController* finished = nullptr;
    {
        CritSecAutoLockSvc lock(m_pControllerLock);
        auto it = m_Controllers.find(serial);
        if (it == m_Controllers.end())
            return;
        if (--it->second->m_RefCount <= 0) {
            finished = it->second;
            m_Controllers.erase(it);
        }
    }
    // Deleted outside the lock: the controller unregisters its power callback, which waits
    // for a callback in flight, and that callback takes the controller lock.
    delete finished;
}

bool DemodManager::RemoveDemodDeviceController(long long serial)
{
    DemodDeviceController* finished = nullptr;
    {
        CritSecAutoLockSvc lock(m_pControllerLock);
        auto it = m_Controllers.find(serial);
        if (it == m_Controllers.end())
            return false;
        // The map's reference is dropped once: a power event followed by an unplug must not
        // take a reference an attached client still holds.
        if (!it->second->m_Removed) {
            it->second->m_Removed = true;
            if (--it->second->m_RefCount <= 0) {
                finished = it->second;
                m_Controllers.erase(it);
            }
        }
    }
    delete finished;
    return true;
}

void DemodManager::DeleteControllers()
{
    std::map<long long, DemodDeviceController*> controllers;
    {
        CritSecAutoLockSvc lock(m_pControllerLock);
        controllers.swap(m_Controllers);
    }
    for (auto& entry : controllers)
        delete entry.second;
}

bool DemodManager::GetControllerInfo(long long serial, ControllerInfo& info)
{
    CritSecAutoLockSvc lock(m_pControllerLock);
    auto it = m_Controllers.find(serial);
    if (it == m_Controllers.end())
        return false;
    info.m_RefCount = it->second->m_RefCount;
    info.m_Removed = it->second->m_Removed;
    info.m_Generation = it->second->m_Generation;
    return true;
}

bool DemodManager::IsInitialising(long long serial)
{
    CritSecAutoLockSvc lock(m_pAddSetLock);
    return m_pInitController != nullptr && m_pInitController->Serial() == serial;
}

bool DemodManager::IsHeldMissing(long long serial)
{
    CritSecAutoLockSvc lock(m_pAddSetLock);
    auto it = m_Missing.find(serial);
    return it != m_Missing.end() && XpUtil::GetTickCount() - it->second < MISSING_HOLD_MS;
}

size_t DemodManager::HandlerCount()
{
    return m_Acceptor.ClientCount();
}

// ---- Device events -------------------------------------------------------------------------

void DemodManager::DeviceAdded(long long serial)
{
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        m_Missing.erase(serial);
        m_AddSet.insert(serial);
    }
    m_pEnumEvent->Set();
}

void DemodManager::DeviceRequested(long long serial)
{
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        if (m_AddSet.count(serial) != 0 || m_RequestSet.count(serial) != 0)
            return;
        auto missing = m_Missing.find(serial);
        if (missing != m_Missing.end()) {
            if (XpUtil::GetTickCount() - missing->second < MISSING_HOLD_MS)
                return;
            m_Missing.erase(missing);
        }
        if (m_RequestSet.size() >= MAX_REQUESTED)
            return;
        m_RequestSet.insert(serial);
    }
    m_pEnumEvent->Set();
}

void DemodManager::DeviceRemoved(long long serial)
{
    {
        // Held while AbortInit waits (at most 10 s) for the initialisation to give up, so the
        // enumerator cannot free the initialising controller under it.
        CritSecAutoLockSvc lock(m_pAddSetLock);
        m_AddSet.erase(serial);
        if (m_pInitController != nullptr && m_pInitController->Serial() == serial)
            m_pInitController->AbortInit(serial);
    }
    RemoveDemodDeviceController(serial);
}

void DemodManager::DeviceAddOrRemovedCallback(int event, const KxEventArgs* args)
{
    if (args == nullptr || args->m_pContext == nullptr)
        return;
    auto* manager = static_cast<DemodManager*>(args->m_pContext);
    long long serial = args->m_Serial;
    if (event == KX_GLOBAL_EVENT_ADDED)
        manager->DeviceAdded(serial);
    else if (event == KX_GLOBAL_EVENT_REMOVED)
        manager->DeviceRemoved(serial);
}

void DemodManager::DevicePowerEventCallback(int event, const KxEventArgs* args)
{
    if (event != KX_DEVICE_EVENT_POWER || args == nullptr || args->m_pContext == nullptr ||
        args->m_Value != POWER_STATE_REINIT)
        return;
    auto* manager = static_cast<DemodManager*>(args->m_pContext);
    long long serial = args->m_Serial;
    {
        CritSecAutoLockSvc lock(manager->m_pControllerLock);
        auto it = manager->m_Controllers.find(serial);
        if (it == manager->m_Controllers.end() || it->second->IsInitBusy())
            return;
    }
    {
        CritSecAutoLockSvc lock(manager->m_pPowerSetLock);
        manager->m_PowerSet.insert(serial);
    }
    manager->m_pEnumEvent->Set();
}

// ---- Enumerator thread ---------------------------------------------------------------------

void DemodManager::StaticRunEnumerator(void* self)
{
    static_cast<DemodManager*>(self)->RunEnumerator();
}

void DemodManager::RunEnumerator()
{
    ScanDevices();
    m_pEnumEvent->Set(); // one pass at once
    while (WaitEnumeratorEvent()) {
        ProcessPowerSet();
        ProcessRequestSet();
        ProcessAddSet();
    }
}

bool DemodManager::WaitEnumeratorEvent()
{
    for (;;) {
        if (!m_Running.load())
            return false;
        // Requests held back by the rescan interval are looked at every slice; with none,
        // the thread sleeps until something is scheduled (every request sets the event).
        KXAPI_RESULT result = m_pEnumEvent->WaitTimeout(RescanPending() ? WAIT_SLICE_MS : ENUM_IDLE_MS);
        if (result == KXAPI_OK)
            return m_Running.load();
        if (result != KXAPI_E_TIMEOUT)
            return false;
        if (RescanPending())
            return m_Running.load();
    }
}

std::set<long long> DemodManager::EnumerateSerials()
{
    std::set<long long> serials;
    std::vector<KxDeviceDesc> descs(FIRST_SCAN_CAPACITY);
    int numFound = 0;
    KXAPI_RESULT result = KxapiDeviceScan(static_cast<int>(descs.size()), numFound, descs.data(), false, 0);
    if (result == KXAPI_E_BUF_TOO_SMALL && numFound > static_cast<int>(descs.size())) {
        descs.resize(static_cast<size_t>(numFound));
        result = KxapiDeviceScan(static_cast<int>(descs.size()), numFound, descs.data(), false, 0);
    }
    if (!KxapiSucceeded(result) && result != KXAPI_E_BUF_TOO_SMALL)
        return serials;
    int filled = numFound < static_cast<int>(descs.size()) ? numFound : static_cast<int>(descs.size());
    for (int i = 0; i < filled; i++)
        serials.insert(descs[static_cast<size_t>(i)].m_Serial);
    return serials;
}

void DemodManager::ScanDevices()
{
    std::set<long long> serials = EnumerateSerials();
    CritSecAutoLockSvc lock(m_pAddSetLock);
    // Every category: devices that are not receivers fail their initialisation and are dropped.
    m_AddSet.insert(serials.begin(), serials.end());
}

bool DemodManager::RescanPending()
{
    CritSecAutoLockSvc lock(m_pAddSetLock);
    return !m_RequestSet.empty();
}

void DemodManager::ProcessRequestSet()
{
    std::set<long long> requested;
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        if (m_RequestSet.empty())
            return;
        const unsigned int now = XpUtil::GetTickCount();
        if (m_Rescanned && now - m_LastRescanMs < RESCAN_INTERVAL_MS)
            return; // a later slice looks again
        requested.swap(m_RequestSet);
        m_Rescanned = true;
        m_LastRescanMs = now;
    }
    const std::set<long long> found = EnumerateSerials(); // no manager lock held meanwhile
    CritSecAutoLockSvc lock(m_pAddSetLock);
    const unsigned int now = XpUtil::GetTickCount();
    for (auto it = m_Missing.begin(); it != m_Missing.end();) {
        if (now - it->second >= MISSING_HOLD_MS)
            it = m_Missing.erase(it);
        else
            ++it;
    }
    for (long long serial : requested) {
        if (found.count(serial) != 0)
            m_AddSet.insert(serial);
        else if (m_Missing.size() < MAX_MISSING)
            m_Missing[serial] = now;
    }
}

void DemodManager::ProcessPowerSet()
{
    std::set<long long> powered;
    {
        CritSecAutoLockSvc lock(m_pPowerSetLock);
        powered = m_PowerSet;
    }
    for (long long serial : powered) {
        // Retire the controller; while clients hold it, the map keeps it (removed) and the
        // add-set pass below skips the device until a later attach schedules it again.
        DeviceRemoved(serial);
        {
            CritSecAutoLockSvc lock(m_pAddSetLock);
            m_AddSet.insert(serial);
        }
        CritSecAutoLockSvc lock(m_pPowerSetLock);
        m_PowerSet.erase(serial);
    }
}

void DemodManager::ProcessAddSet()
{
    std::set<long long> pending;
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        pending = m_AddSet;
    }
    for (long long serial : pending) {
        if (!m_Running.load())
            return;
        InitialiseDevice(serial);
    }
}

void DemodManager::InitialiseDevice(long long serial)
{
    DemodDeviceController* controller = nullptr;
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        if (m_AddSet.erase(serial) == 0)
            return; // removed meanwhile
        controller = new (std::nothrow) DemodDeviceController(serial);
        if (controller == nullptr)
            return;
        // Visible to DeviceRemoved and Stop from now on, so an abort is never missed.
        m_pInitController = controller;
    }
    // Stop clears Running before it looks for the initialising controller under the add-set
    // lock: it has either seen this one or cleared Running before it was published.
    bool skip = !m_Running.load();
    if (!skip) {
        CritSecAutoLockSvc lock(m_pControllerLock);
        skip = m_Controllers.count(serial) != 0;
    }
    bool initialised = !skip && controller->Init(); // no manager lock held meanwhile
    if (initialised) {
        // Before the controller is shared: once in the map another thread may delete it.
        controller->RegisterEventCallBackFunction(DevicePowerEventCallback, this);
        CritSecAutoLockSvc lock(m_pControllerLock);
        // The map's reference plus one of this thread until the abort check below is done,
        // so a removal in between cannot free it here.
        controller->m_RefCount = 2;
        controller->m_Generation = ++m_NextGeneration;
        m_Controllers[serial] = controller;
    }
    bool aborted;
    {
        CritSecAutoLockSvc lock(m_pAddSetLock);
        m_pInitController = nullptr;
        aborted = controller->AbortState() != DemodDeviceController::ABORT_NONE;
    }
    if (!initialised) {
        delete controller;
        return;
    }
    // Removed (or the manager stopped) after Init had passed its last check: the device
    // must not stay available.
    if (aborted)
        RemoveDemodDeviceController(serial);
    ReleaseDemodDeviceController(serial);
}
