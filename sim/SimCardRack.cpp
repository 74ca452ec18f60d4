#include "SimCardRack.h"

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "SimVirtualNode.h"
#include "XpUtil.h"

namespace {
constexpr size_t MAX_HOTPLUG_EVENTS = 100000;
} // namespace

SimCardRack::SimCardRack() : m_pLock(Xp::Instance()->MakeCritSec())
{
    for (auto& slots : m_Slots)
        slots.resize(KX_DRIVER_NODES_PER_FAMILY);
}

SimCardRack::~SimCardRack() = default;

KXAPI_RESULT SimCardRack::Plug(std::shared_ptr<SimCard> card)
{
    if (!card || card->m_Family < 0 || card->m_Family >= KX_FAMILY_COUNT)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLock lock(m_pLock);
    for (auto& slots : m_Slots) {
        for (auto& slot : slots) {
            if (slot && slot->m_Serial == card->m_Serial)
                return KXAPI_E_ATTACHED;
        }
    }
    for (auto& slot : m_Slots[card->m_Family]) {
        if (!slot) {
            card->SetRemoved(false);
            slot = card;
            AddHotplugEvent(1, card->m_Serial);
            return KXAPI_OK;
        }
    }
    return KXAPI_E_OUT_OF_RESOURCES;
}

KXAPI_RESULT SimCardRack::Unplug(int64_t serial)
{
    CritSecAutoLock lock(m_pLock);
    for (auto& slots : m_Slots) {
        for (auto& slot : slots) {
            if (slot && slot->m_Serial == serial) {
                slot->SetRemoved(true);
                slot.reset();
                AddHotplugEvent(2, serial);
                return KXAPI_OK;
            }
        }
    }
    return KXAPI_E_NOT_FOUND;
}

KXAPI_RESULT SimCardRack::RaisePowerEvent(int64_t serial, uint32_t driverValue)
{
    std::shared_ptr<SimCard> card = Find(serial);
    if (!card)
        return KXAPI_E_NOT_FOUND;
    SimEventRecord record;
    record.m_Kind = 1;
    record.m_Value = driverValue;
    card->RaiseEvent(record);
    return KXAPI_OK;
}

std::shared_ptr<SimCard> SimCardRack::Find(int64_t serial)
{
    CritSecAutoLock lock(m_pLock);
    for (auto& slots : m_Slots) {
        for (auto& slot : slots) {
            if (slot && slot->m_Serial == serial)
                return slot;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<SimCard>> SimCardRack::Cards()
{
    CritSecAutoLock lock(m_pLock);
    std::vector<std::shared_ptr<SimCard>> cards;
    for (auto& slots : m_Slots) {
        for (auto& slot : slots) {
            if (slot)
                cards.push_back(slot);
        }
    }
    return cards;
}

IXpDriverNode* SimCardRack::Open(KxDriverFamily family, int index)
{
    if (family < 0 || family >= KX_FAMILY_COUNT || index < 0 || index >= KX_DRIVER_NODES_PER_FAMILY)
        return nullptr;
    m_NodeOpens.fetch_add(1, std::memory_order_relaxed);
    std::shared_ptr<SimCard> card;
    {
        CritSecAutoLock lock(m_pLock);
        card = m_Slots[family][static_cast<size_t>(index)];
    }
    if (!card)
        return nullptr;
    return new SimVirtualNode(card, m_pUsage);
}

void SimCardRack::NodeUsage(uint64_t& cpuNs, uint64_t& requests)
{
    m_pUsage->m_Counting.store(true, std::memory_order_relaxed);
    cpuNs = m_pUsage->m_CpuNs.load(std::memory_order_relaxed);
    requests = m_pUsage->m_Requests.load(std::memory_order_relaxed);
}

void SimCardRack::AddHotplugEvent(int event, int64_t serial)
{
    {
        std::lock_guard<std::mutex> lock(m_HotplugLock);
        if (m_Hotplug.size() >= MAX_HOTPLUG_EVENTS)
            return;
        m_Hotplug.push_back({event, serial});
    }
    m_HotplugAdded.notify_all();
}

bool SimCardRack::WaitHotplug(unsigned int timeoutMs, const std::atomic<bool>& stop, uint64_t& cursor, int& event,
                              int64_t& serial)
{
    std::unique_lock<std::mutex> lock(m_HotplugLock);
    auto ready = [&] { return cursor < m_Hotplug.size() || stop.load(); };
    if (timeoutMs == XP_INFINITE)
        m_HotplugAdded.wait(lock, ready);
    else if (!m_HotplugAdded.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return false;
    if (stop.load())
        return false;
    event = m_Hotplug[cursor].m_Event;
    serial = m_Hotplug[cursor].m_Serial;
    cursor++;
    return true;
}

void SimCardRack::WakeHotplugWaiters()
{
    // Under the waiters' lock: a waiter between reading its stop flag and sleeping cannot
    // miss it. Waiters whose flag is not raised go back to sleep.
    std::lock_guard<std::mutex> lock(m_HotplugLock);
    m_HotplugAdded.notify_all();
}

uint64_t SimCardRack::HotplugCursor()
{
    std::lock_guard<std::mutex> lock(m_HotplugLock);
    return m_Hotplug.size();
}
