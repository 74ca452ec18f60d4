#include "SimCard.h"

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "XpUtil.h"

SimCard::SimCard() : m_pLock(Xp::Instance()->MakeCritSec()), m_Registers(KXA_REGISTER_WINDOW_SIZE / 4, 0) {}

SimCard::~SimCard() = default;

void SimCard::SetProperty(int port, const std::string& name, int64_t value)
{
    CritSecAutoLock lock(m_pLock);
    Property& property = m_Properties[{port, name}];
    property.m_IsString = false;
    property.m_Value = value;
    property.m_Text.clear();
}

void SimCard::SetStringProperty(int port, const std::string& name, const std::string& text)
{
    CritSecAutoLock lock(m_pLock);
    Property& property = m_Properties[{port, name}];
    property.m_IsString = true;
    property.m_Value = 0;
    property.m_Text = text;
}

void SimCard::SetTable(int port, const std::string& name, const std::vector<std::pair<int64_t, int64_t>>& entries)
{
    CritSecAutoLock lock(m_pLock);
    m_Tables[{port, name}] = entries;
}

void SimCard::SetVpd(int port, const std::string& keyword, const std::vector<unsigned char>& data)
{
    CritSecAutoLock lock(m_pLock);
    m_Vpd[{port, keyword}] = data;
}

void SimCard::AddI2cDevice(int bus, int addr, ISimI2cDevice* pDevice)
{
    CritSecAutoLock lock(m_pLock);
    m_I2cDevices[{bus, addr & 0xFFE}].reset(pDevice);
}

ISimI2cDevice* SimCard::I2cDevice(int bus, int addr)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_I2cDevices.find({bus, addr & 0xFFE});
    return it == m_I2cDevices.end() ? nullptr : it->second.get();
}

void SimCard::AddBlock(const SimBlock& block)
{
    CritSecAutoLock lock(m_pLock);
    m_Blocks.push_back(block);
}

void SimCard::SetBlockModel(int typeCode, bool function, ISimBlockModel* pModel)
{
    CritSecAutoLock lock(m_pLock);
    m_BlockModels[{typeCode, function}].reset(pModel);
}

bool SimCard::GetProperty(int port, const std::string& name, bool& isString, int64_t& value, std::string& text)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_Properties.find({port, name});
    if (it == m_Properties.end() && port != -1)
        it = m_Properties.find({-1, name}); // device-level values hold for every port
    if (it == m_Properties.end())
        return false;
    isString = it->second.m_IsString;
    value = it->second.m_Value;
    text = it->second.m_Text;
    return true;
}

bool SimCard::GetTable(int port, const std::string& name, std::vector<std::pair<int64_t, int64_t>>& entries)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_Tables.find({port, name});
    if (it == m_Tables.end())
        return false;
    entries = it->second;
    return true;
}

bool SimCard::GetVpd(int port, const std::string& keyword, std::vector<unsigned char>& data)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_Vpd.find({port, keyword});
    if (it == m_Vpd.end())
        return false;
    data = it->second;
    return true;
}

bool SimCard::FindBlock(uint32_t uuid, SimBlock& block)
{
    CritSecAutoLock lock(m_pLock);
    for (const SimBlock& candidate : m_Blocks) {
        if (candidate.m_Uuid == uuid) {
            block = candidate;
            return true;
        }
    }
    return false;
}

ISimBlockModel* SimCard::BlockModel(const SimBlock& block)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_BlockModels.find({block.m_TypeCode, block.m_Name.compare(0, 3, "DF_") == 0});
    return it == m_BlockModels.end() ? nullptr : it->second.get();
}

uint32_t SimCard::RegRead(uint32_t address)
{
    CritSecAutoLock lock(m_pLock);
    if (address % 4 == 0 && address < KXA_REGISTER_WINDOW_SIZE)
        return __atomic_load_n(&m_Registers[address / 4], __ATOMIC_RELAXED);
    auto it = m_ExtraRegisters.find(address);
    return it == m_ExtraRegisters.end() ? 0 : it->second;
}

void SimCard::RegWrite(uint32_t address, uint32_t value)
{
    CritSecAutoLock lock(m_pLock);
    if (address % 4 == 0 && address < KXA_REGISTER_WINDOW_SIZE)
        __atomic_store_n(&m_Registers[address / 4], value, __ATOMIC_RELAXED);
    else
        m_ExtraRegisters[address] = value;
}

bool SimCard::I2cLock(int bus, uintptr_t owner, int timeoutMs)
{
    const unsigned int start = XpUtil::GetTickCount();
    for (;;) {
        {
            CritSecAutoLock lock(m_pLock);
            uintptr_t& holder = m_I2cLockOwners[bus];
            if (holder == 0 || holder == owner) {
                holder = owner;
                return true;
            }
            if (m_Removed)
                return false;
        }
        const unsigned int elapsed = XpUtil::GetTickCount() - start;
        if (timeoutMs >= 0 && elapsed >= static_cast<unsigned int>(timeoutMs))
            return false;
        XpUtil::Sleep(1);
    }
}

bool SimCard::I2cUnlock(int bus, uintptr_t owner)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_I2cLockOwners.find(bus);
    if (it == m_I2cLockOwners.end() || it->second != owner)
        return false;
    it->second = 0;
    return true;
}

void SimCard::ReleaseLocks(uintptr_t owner)
{
    CritSecAutoLock lock(m_pLock);
    for (auto& entry : m_I2cLockOwners) {
        if (entry.second == owner)
            entry.second = 0;
    }
    for (auto& entry : m_ExclOwners) {
        if (entry.second == owner)
            entry.second = 0;
    }
}

uintptr_t SimCard::I2cHolder(int bus)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_I2cLockOwners.find(bus);
    return it == m_I2cLockOwners.end() ? 0 : it->second;
}

uintptr_t SimCard::OpenEventQueue()
{
    XpEventPtr pSignal = Xp::Instance()->MakeEvent(true);
    if (pSignal == nullptr)
        return 0; // no queue: the node sees no events
    CritSecAutoLock lock(m_pLock);
    const uintptr_t id = m_NextQueue++;
    m_EventQueues[id].m_pSignal = std::move(pSignal);
    return id;
}

void SimCard::CloseEventQueue(uintptr_t queue)
{
    XpEventPtr pSignal; // closed outside the lock
    {
        CritSecAutoLock lock(m_pLock);
        auto it = m_EventQueues.find(queue);
        if (it == m_EventQueues.end())
            return;
        pSignal = std::move(it->second.m_pSignal);
        m_EventQueues.erase(it);
    }
}

void SimCard::RaiseEvent(const SimEventRecord& record)
{
    CritSecAutoLock lock(m_pLock);
    for (auto& entry : m_EventQueues) {
        if (entry.second.m_Pending.size() < 256)
            entry.second.m_Pending.push_back(record);
        entry.second.m_pSignal->Set();
    }
}

bool SimCard::WaitEvent(uintptr_t queue, unsigned int timeoutMs)
{
    IXpEvent* pSignal = nullptr;
    {
        CritSecAutoLock lock(m_pLock);
        auto it = m_EventQueues.find(queue);
        if (it == m_EventQueues.end() || it->second.m_Woken)
            return false;
        if (!it->second.m_Pending.empty() || m_Removed)
            return true;
        pSignal = it->second.m_pSignal.get();
    }
    // The queue outlives the wait: only the node that owns it closes it.
    const KXAPI_RESULT waited = timeoutMs == XP_INFINITE ? pSignal->Wait() : pSignal->WaitTimeout(timeoutMs);
    CritSecAutoLock lock(m_pLock);
    auto it = m_EventQueues.find(queue);
    return waited == KXAPI_OK && it != m_EventQueues.end() && !it->second.m_Woken;
}

bool SimCard::PopEvent(uintptr_t queue, SimEventRecord& record)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_EventQueues.find(queue);
    if (it == m_EventQueues.end() || it->second.m_Pending.empty())
        return false;
    record = it->second.m_Pending.front();
    it->second.m_Pending.erase(it->second.m_Pending.begin());
    // A removed card and a woken queue keep the signal set: their waits end at once.
    if (it->second.m_Pending.empty() && !m_Removed && !it->second.m_Woken)
        it->second.m_pSignal->Reset();
    return true;
}

void SimCard::WakeQueue(uintptr_t queue)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_EventQueues.find(queue);
    if (it == m_EventQueues.end())
        return;
    it->second.m_Woken = true;
    it->second.m_pSignal->Set();
}

void SimCard::SetRemoved(bool removed)
{
    CritSecAutoLock lock(m_pLock);
    m_Removed = removed;
    if (removed) {
        for (auto& entry : m_EventQueues)
            entry.second.m_pSignal->Set();
    }
}

bool SimCard::Removed()
{
    CritSecAutoLock lock(m_pLock);
    return m_Removed;
}

void SimCard::SetTunedHz(int input, int64_t hz)
{
    if (input < 0)
        return;
    CritSecAutoLock lock(m_pLock);
    m_Tuners[input].m_TunedHz = hz;
}

int64_t SimCard::TunedHz(int input)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_Tuners.find(input);
    return it == m_Tuners.end() ? 0 : it->second.m_TunedHz;
}

void SimCard::SetLowPassHz(int input, int64_t hz)
{
    if (input < 0)
        return;
    CritSecAutoLock lock(m_pLock);
    m_Tuners[input].m_LowPassHz = hz;
}

int64_t SimCard::LowPassHz(int input)
{
    CritSecAutoLock lock(m_pLock);
    auto it = m_Tuners.find(input);
    return it == m_Tuners.end() ? 0 : it->second.m_LowPassHz;
}

uint32_t SimCard::ExclusiveAccess(uint32_t uuid, uintptr_t owner, uint32_t command)
{
    CritSecAutoLock lock(m_pLock);
    uintptr_t& holder = m_ExclOwners[uuid];
    switch (command) {
    case 0:
        if (holder != 0 && holder != owner)
            return 0x1000A;
        holder = owner;
        return 0;
    case 1:
        if (holder == owner)
            holder = 0;
        return 0;
    case 2:
    case 3:
        return holder != 0 && holder != owner ? 0x1000A : 0;
    default:
        return 0x10004;
    }
}

void SimCard::EnableRequestLog(bool enable)
{
    CritSecAutoLock lock(m_pLock);
    m_LogRequests = enable;
    m_RequestLog.clear();
}

void SimCard::LogRequest(uint32_t request, const unsigned char* pBuf, uint32_t size)
{
    CritSecAutoLock lock(m_pLock);
    if (!m_LogRequests || m_RequestLog.size() >= 4096)
        return;
    LoggedRequest entry;
    entry.m_Request = request;
    entry.m_Bytes.assign(pBuf, pBuf + size);
    m_RequestLog.push_back(std::move(entry));
}

std::vector<SimCard::LoggedRequest> SimCard::TakeRequestLog()
{
    CritSecAutoLock lock(m_pLock);
    std::vector<LoggedRequest> log;
    log.swap(m_RequestLog);
    return log;
}
