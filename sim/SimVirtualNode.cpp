#include "SimVirtualNode.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "CritSecAutoLock.h"
#include "KxWire.h"
#include "SimDriverStatus.h"

namespace {

constexpr uint32_t SIZE_HEADER = 8;
constexpr int I2C_TRANSFER_WAIT_MS = 10000;

bool HasSizeHeader(uint32_t request)
{
    const uint32_t type = (request >> 8) & 0xFF;
    return type == 0xAF || type == 0xBC || type == 0xBD || type == 0xCD;
}

// The NUL-terminated name of a name record; false when it is not terminated in its field.
bool RecordName(const unsigned char* pRecord, std::string& name)
{
    const char* p = reinterpret_cast<const char*>(pRecord + KX_NAMEREC_NAME_OFFSET);
    const size_t length = strnlen(p, KX_NAMEREC_NAME_SIZE);
    if (length >= KX_NAMEREC_NAME_SIZE)
        return false;
    name.assign(p, length);
    return true;
}

} // namespace

SimVirtualNode::SimVirtualNode(std::shared_ptr<SimCard> card, std::shared_ptr<SimNodeUsage> usage)
    : m_pCard(std::move(card)), m_pUsage(std::move(usage))
{
    m_EventQueue = m_pCard->OpenEventQueue();
}

SimVirtualNode::~SimVirtualNode()
{
    m_pCard->ReleaseLocks(reinterpret_cast<uintptr_t>(this));
    m_pCard->CloseEventQueue(m_EventQueue);
}

int SimVirtualNode::IoCtl(uint32_t request, void* buffer, uint32_t size)
{
    __atomic_add_fetch(&m_Requests, 1, __ATOMIC_RELAXED);
    if (buffer == nullptr)
        return -static_cast<int>(SIM_STATUS_INVALID_ARG);
    auto* pBuf = static_cast<unsigned char*>(buffer);
    if (m_pUsage == nullptr || !m_pUsage->m_Counting.load(std::memory_order_relaxed))
        return Serve(request, pBuf, size);
    timespec before{}, after{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    const int status = Serve(request, pBuf, size);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const int64_t usedNs = (after.tv_sec - before.tv_sec) * 1000000000LL + (after.tv_nsec - before.tv_nsec);
    m_pUsage->m_CpuNs.fetch_add(usedNs > 0 ? static_cast<uint64_t>(usedNs) : 0, std::memory_order_relaxed);
    m_pUsage->m_Requests.fetch_add(1, std::memory_order_relaxed);
    return status;
}

int SimVirtualNode::Serve(uint32_t request, unsigned char* pBuf, uint32_t size)
{
    m_pCard->LogRequest(request, pBuf, size);
    if (m_pCard->Removed())
        return -static_cast<int>(SIM_STATUS_NO_POWER);
    uint32_t status;
    if (HasSizeHeader(request)) {
        if (size < SIZE_HEADER)
            return -static_cast<int>(SIM_STATUS_INVALID_ARG);
        const uint32_t inSize = KxGetU32(pBuf, 0);
        const uint32_t outCapacity = KxGetU32(pBuf, 4);
        if (inSize > size - SIZE_HEADER || outCapacity > size)
            return -static_cast<int>(SIM_STATUS_INVALID_ARG);
        // The driver takes its input before it writes the output over the same buffer.
        std::vector<unsigned char> input(pBuf + SIZE_HEADER, pBuf + SIZE_HEADER + inSize);
        status = Dispatch(request, input.data(), inSize, pBuf, outCapacity);
    } else if (request == KXA_REQ_I2C || request == KXU_REQ_I2C) {
        status = I2c(request, pBuf, size);
    } else {
        std::vector<unsigned char> input(pBuf, pBuf + size);
        status = Dispatch(request, input.data(), size, pBuf, size);
    }
    return status == 0 ? 0 : -static_cast<int>(status);
}

uint32_t SimVirtualNode::Dispatch(uint32_t request, const unsigned char* pIn, uint32_t inSize, unsigned char* pOut,
                                  uint32_t outCapacity)
{
    const bool block = m_pCard->m_Family == KX_FAMILY_PCIE;
    switch (request) {
    case KXA_REQ_DEVICE_INFO:
    case KXU_REQ_DEVICE_INFO:
        if (block || (request == KXA_REQ_DEVICE_INFO) != (m_pCard->m_Family == KX_FAMILY_KXA))
            return SIM_STATUS_NOT_SUPPORTED;
        return DeviceInfo(pOut, outCapacity);
    case KXA_REQ_TABLE:
    case KXU_REQ_TABLE:
        return block ? SIM_STATUS_NOT_SUPPORTED : NameRequest(KXP_PROPS_CMD_TABLE, 0, pIn, inSize, pOut, outCapacity);
    case KXA_REQ_PROPERTY:
    case KXU_REQ_PROPERTY:
        return block ? SIM_STATUS_NOT_SUPPORTED : NameRequest(KXP_PROPS_CMD_GET, 0, pIn, inSize, pOut, outCapacity);
    case KXA_REQ_VPD_READ:
    case KXU_REQ_VPD_READ:
        return block ? SIM_STATUS_NOT_SUPPORTED : Vpd(pIn, inSize, pOut, outCapacity);
    case KXU_REQ_REG_READ:
        if (m_pCard->m_Family != KX_FAMILY_KXU || inSize < 4 || outCapacity < 4)
            return SIM_STATUS_NOT_SUPPORTED;
        KxPutU32(pOut, 0, m_pCard->RegRead(KxGetU32(pIn, 0)));
        return 0;
    case KXU_REQ_REG_WRITE:
        if (m_pCard->m_Family != KX_FAMILY_KXU || inSize < 8)
            return SIM_STATUS_NOT_SUPPORTED;
        m_pCard->RegWrite(KxGetU32(pIn, 0), KxGetU32(pIn, 4));
        return 0;
    case KXA_REQ_EVENT_WAIT:
    case KXU_REQ_EVENT_WAIT:
    case KXP_REQ_EVENT_WAIT:
        return EventWait(pOut, outCapacity);
    default:
        if (block && ((request >> 8) & 0xFF) == 0xCD)
            return Block(request, pIn, inSize, pOut, outCapacity);
        return SIM_STATUS_NOT_SUPPORTED;
    }
}

uint32_t SimVirtualNode::DeviceInfo(unsigned char* pOut, uint32_t outCapacity)
{
    if (outCapacity < KX_DEVICE_INFO_SIZE)
        return SIM_STATUS_BUF_TOO_SMALL;
    memset(pOut, 0, KX_DEVICE_INFO_SIZE);
    KxPutI32(pOut, 0, m_pCard->m_Model);
    KxPutI32(pOut, 4, m_pCard->m_SubType);
    KxPutI64(pOut, 8, m_pCard->m_Serial);
    KxPutI32(pOut, 16, m_pCard->m_FirmwareVersion);
    KxPutI32(pOut, 20, m_pCard->m_FirmwareStatus);
    for (int i = 0; i < 4; i++)
        KxPutI32(pOut, 24 + 4 * i, m_pCard->m_DriverVersion[i]);
    return 0;
}

uint32_t SimVirtualNode::NameRequest(uint32_t propsCommand, int, const unsigned char* pIn, uint32_t inSize,
                                     unsigned char* pOut, uint32_t outCapacity)
{
    std::string name;
    if (inSize < KX_NAMEREC_SIZE || !RecordName(pIn, name))
        return SIM_STATUS_INVALID_ARG;
    const int port = KxGetI32(pIn, 0);
    if (KxGetU32(pIn, 72) != KX_LIB_VERSION_MAJOR)
        return SIM_STATUS_NOT_SUPPORTED;
    if (propsCommand == KXP_PROPS_CMD_TABLE) {
        std::vector<std::pair<int64_t, int64_t>> entries;
        if (!m_pCard->GetTable(port, name, entries))
            return SIM_STATUS_NOT_FOUND;
        const uint32_t capacity = KxGetU32(pIn, KX_NAMEREC_CAPACITY_OFFSET);
        if (outCapacity < 8)
            return SIM_STATUS_BUF_TOO_SMALL;
        KxPutU32(pOut, 0, static_cast<uint32_t>(entries.size()));
        KxPutU32(pOut, 4, 0);
        if (entries.size() > capacity || 8 + entries.size() * KX_TABLE_ENTRY_SIZE > outCapacity)
            return 0; // only the count: the caller enlarges and asks again
        for (size_t i = 0; i < entries.size(); i++) {
            KxPutI64(pOut, static_cast<unsigned>(8 + i * 16), entries[i].first);
            KxPutI64(pOut, static_cast<unsigned>(16 + i * 16), entries[i].second);
        }
        return 0;
    }
    bool isString = false;
    int64_t value = 0;
    std::string text;
    if (!m_pCard->GetProperty(port, name, isString, value, text))
        return SIM_STATUS_NOT_FOUND;
    if (outCapacity < 16)
        return SIM_STATUS_BUF_TOO_SMALL;
    memset(pOut, 0, outCapacity < KX_PROPERTY_ANSWER_SIZE ? outCapacity : KX_PROPERTY_ANSWER_SIZE);
    if (!isString) {
        KxPutU32(pOut, 0, KX_PROPERTY_TYPE_INT);
        KxPutI64(pOut, 8, value);
        return 0;
    }
    if (text.size() + 1 > outCapacity - 8)
        return SIM_STATUS_BUF_TOO_SMALL;
    KxPutU32(pOut, 0, KX_PROPERTY_TYPE_STRING);
    KxPutU32(pOut, 4, static_cast<uint32_t>(text.size() + 1));
    memcpy(pOut + 8, text.c_str(), text.size() + 1);
    return 0;
}

uint32_t SimVirtualNode::Vpd(const unsigned char* pIn, uint32_t inSize, unsigned char* pOut, uint32_t outCapacity)
{
    if (inSize < 8)
        return SIM_STATUS_INVALID_ARG;
    const int port = KxGetI32(pIn, 0);
    const char* pKey = reinterpret_cast<const char*>(pIn + 4);
    std::string keyword(pKey, strnlen(pKey, 4));
    std::vector<unsigned char> data;
    if (!m_pCard->GetVpd(port, keyword, data))
        return SIM_STATUS_NOT_FOUND;
    if (data.size() > KX_VPD_MAX || outCapacity < 4 + data.size())
        return SIM_STATUS_BUF_TOO_SMALL;
    KxPutU32(pOut, 0, static_cast<uint32_t>(data.size()));
    if (!data.empty())
        memcpy(pOut + 4, data.data(), data.size());
    return 0;
}

uint32_t SimVirtualNode::I2c(uint32_t request, unsigned char* pBuf, uint32_t size)
{
    if (m_pCard->m_Family != (request == KXA_REQ_I2C ? KX_FAMILY_KXA : KX_FAMILY_KXU))
        return SIM_STATUS_NOT_SUPPORTED;
    if (size < 8)
        return SIM_STATUS_INVALID_ARG;
    const uintptr_t owner = reinterpret_cast<uintptr_t>(this);
    const uint32_t command = KxGetU32(pBuf, 0);
    const int bus = KxGetI32(pBuf, 4);
    switch (command) {
    case KX_I2C_CMD_LOCK:
        if (size < 12)
            return SIM_STATUS_INVALID_ARG;
        return m_pCard->I2cLock(bus, owner, KxGetI32(pBuf, 8)) ? 0 : SIM_STATUS_TIMEOUT;
    case KX_I2C_CMD_UNLOCK:
        return m_pCard->I2cUnlock(bus, owner) ? 0 : SIM_STATUS_INVALID_ARG;
    case KX_I2C_CMD_READ:
    case KX_I2C_CMD_WRITE:
    case KX_I2C_CMD_WRITE_READ:
        break;
    default:
        return SIM_STATUS_INVALID_ARG;
    }
    const bool read = command == KX_I2C_CMD_READ;
    const bool writeRead = command == KX_I2C_CMD_WRITE_READ;
    const uint32_t headerSize = writeRead ? 24 : 16;
    if (size < headerSize)
        return SIM_STATUS_INVALID_ARG;
    const int wrAddr = static_cast<int>(KxGetU32(pBuf, 8));
    const int rdAddr = writeRead ? static_cast<int>(KxGetU32(pBuf, 12)) : wrAddr;
    const int wrLength = read ? 0 : KxGetI32(pBuf, writeRead ? 16 : 12);
    const int rdLength = read ? KxGetI32(pBuf, 12) : (writeRead ? KxGetI32(pBuf, 20) : 0);
    if (wrLength < 0 || rdLength < 0 || wrLength > KX_I2C_MAX_TRANSFER || rdLength > KX_I2C_MAX_TRANSFER)
        return SIM_STATUS_INVALID_ARG;
    if (headerSize + static_cast<uint32_t>(wrLength) > size || (rdLength > 0 && 4u + rdLength > size))
        return SIM_STATUS_BUF_TOO_SMALL;
    if ((read || writeRead) && (rdAddr & 1) == 0)
        return SIM_STATUS_INVALID_ARG;

    // A bus locked by another node holds the transfer back until it is free.
    const bool heldBefore = m_pCard->I2cHolder(bus) == owner;
    if (!m_pCard->I2cLock(bus, owner, I2C_TRANSFER_WAIT_MS))
        return SIM_STATUS_TIMEOUT;
    std::vector<unsigned char> written(pBuf + headerSize, pBuf + headerSize + wrLength);
    uint32_t status = 0;
    {
        CritSecAutoLock lock(m_pCard->Lock());
        if (wrLength > 0) {
            ISimI2cDevice* pDevice = m_pCard->I2cDevice(bus, wrAddr);
            if (pDevice == nullptr || !pDevice->Write(written.data(), wrLength))
                status = SIM_STATUS_NOT_FOUND;
        }
        if (status == 0 && (read || writeRead)) {
            ISimI2cDevice* pDevice = m_pCard->I2cDevice(bus, rdAddr);
            std::vector<unsigned char> data(static_cast<size_t>(rdLength));
            if (pDevice == nullptr || !pDevice->Read(data.data(), rdLength)) {
                status = SIM_STATUS_NOT_FOUND;
            } else {
                KxPutU32(pBuf, 0, static_cast<uint32_t>(rdLength));
                if (rdLength > 0)
                    memcpy(pBuf + 4, data.data(), static_cast<size_t>(rdLength));
            }
        }
    }
    // Only a lock this transfer took is given back; an explicit lock stays.
    if (!heldBefore)
        m_pCard->I2cUnlock(bus, owner);
    return status;
}

uint32_t SimVirtualNode::EventWait(unsigned char* pOut, uint32_t outCapacity)
{
    if (outCapacity < KX_EVENT_RECORD_SIZE)
        return SIM_STATUS_BUF_TOO_SMALL;
    SimEventRecord record;
    for (int slice = 0; slice < 10; slice++) {
        if (m_pCard->PopEvent(m_EventQueue, record)) {
            KxPutU32(pOut, 0, record.m_Kind);
            KxPutU32(pOut, 4, record.m_Value);
            KxPutU32(pOut, 8, record.m_Value2);
            return 0;
        }
        if (m_pCard->Removed())
            return SIM_STATUS_NO_POWER;
        m_pCard->WaitEvent(m_EventQueue, 100);
    }
    return SIM_STATUS_TIMEOUT;
}

uint32_t SimVirtualNode::Block(uint32_t request, const unsigned char* pIn, uint32_t inSize, unsigned char* pOut,
                               uint32_t outCapacity)
{
    if (inSize < KX_BLOCK_HEADER_SIZE)
        return SIM_STATUS_INVALID_ARG;
    const uint32_t uuid = KxGetU32(pIn, 0);
    const int port = KxGetI32(pIn, 4);
    const uint32_t command = KxGetU32(pIn, 8);
    const unsigned char* pPayload = pIn + KX_BLOCK_HEADER_SIZE;
    const uint32_t payloadSize = inSize - KX_BLOCK_HEADER_SIZE;
    switch (request) {
    case KXP_REQ_DEVICE_INFO:
        return DeviceInfo(pOut, outCapacity);
    case KXP_REQ_PROPS:
        if (command == KXP_PROPS_CMD_VPD)
            return Vpd(pPayload, payloadSize, pOut, outCapacity);
        if (command != KXP_PROPS_CMD_GET && command != KXP_PROPS_CMD_TABLE)
            return SIM_STATUS_NOT_SUPPORTED;
        return NameRequest(command, port, pPayload, payloadSize, pOut, outCapacity);
    case KXP_REQ_EXCL_ACCESS:
        return m_pCard->ExclusiveAccess(uuid, reinterpret_cast<uintptr_t>(this), command);
    case KXP_REQ_TOD: {
        if (command != 3)
            return SIM_STATUS_NOT_SUPPORTED;
        if (outCapacity < 12)
            return SIM_STATUS_BUF_TOO_SMALL;
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t ns = static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
        KxPutU64(pOut, 0, ns);
        KxPutU32(pOut, 8, 1); // time-of-day source locked
        return 0;
    }
    case KXP_REQ_DEBUG:
        if (command == KXP_DEBUG_CMD_REG_READ && payloadSize >= 4 && outCapacity >= 4) {
            KxPutU32(pOut, 0, m_pCard->RegRead(KxGetU32(pPayload, 0)));
            return 0;
        }
        if (command == KXP_DEBUG_CMD_REG_WRITE && payloadSize >= 8) {
            m_pCard->RegWrite(KxGetU32(pPayload, 0), KxGetU32(pPayload, 4));
            return 0;
        }
        return SIM_STATUS_INVALID_ARG;
    default:
        break;
    }
    SimBlock block;
    if (!m_pCard->FindBlock(uuid, block))
        return SIM_STATUS_NOT_FOUND;
    ISimBlockModel* pModel = m_pCard->BlockModel(block);
    if (pModel == nullptr)
        return SIM_STATUS_NOT_SUPPORTED;
    return pModel->Command(block, command, pPayload, payloadSize, pOut, outCapacity);
}

void* SimVirtualNode::MapMemory(uint32_t length)
{
    if (m_pCard->m_Family != KX_FAMILY_KXA || length > KXA_REGISTER_WINDOW_SIZE)
        return nullptr;
    return m_pCard->RegisterWindow();
}

void SimVirtualNode::UnmapMemory(void*, uint32_t)
{
}

bool SimVirtualNode::WaitReadable(unsigned int timeoutMs)
{
    return m_pCard->WaitEvent(m_EventQueue, timeoutMs);
}

void SimVirtualNode::WakeWaiters()
{
    m_pCard->WakeQueue(m_EventQueue);
}
