#include "KxDeviceBackend.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "KxBlockRequest.h"
#include "KxDriverRequests.h"
#include "KxNameRecord.h"
#include "KxProxyCore.h"
#include "KxWire.h"

namespace Kxapi {

namespace {

struct FamilyRequests {
    uint32_t m_Info;
    uint32_t m_Property;
    uint32_t m_Table;
    uint32_t m_Vpd;
    uint32_t m_I2C;
    uint32_t m_Event;
};

const FamilyRequests FAMILY_REQUESTS[KX_FAMILY_COUNT] = {
    {KXA_REQ_DEVICE_INFO, KXA_REQ_PROPERTY, KXA_REQ_TABLE, KXA_REQ_VPD_READ, KXA_REQ_I2C, KXA_REQ_EVENT_WAIT},
    {KXU_REQ_DEVICE_INFO, KXU_REQ_PROPERTY, KXU_REQ_TABLE, KXU_REQ_VPD_READ, KXU_REQ_I2C, KXU_REQ_EVENT_WAIT},
    {KXP_REQ_DEVICE_INFO, 0, 0, 0, 0, KXP_REQ_EVENT_WAIT},
};

constexpr uint32_t KXA_REGISTER_WINDOW = 0x10000;
constexpr int LOCK_SLICE_MS = 100;

} // namespace

Device::~Device()
{
    m_pCore.reset();
    m_Driver.Close();
}

KXAPI_RESULT Device::Open(KxDriverFamily family, int index, std::unique_ptr<Device>& device)
{
    std::unique_ptr<Device> opened(new Device());
    KXAPI_RESULT result = opened->m_Driver.Open(family, index);
    if (KxapiFailed(result))
        return result;
    unsigned char answer[KX_DEVICE_INFO_SIZE] = {};
    uint32_t size = sizeof(answer);
    if (family == KX_FAMILY_PCIE) {
        KxBlockRequest request(0, -1, 0);
        result = opened->m_Driver.IoCtl(KXP_REQ_DEVICE_INFO, request.Bytes().data(),
                                        static_cast<uint32_t>(request.Bytes().size()), answer, &size);
    } else {
        result = opened->m_Driver.IoCtl(FAMILY_REQUESTS[family].m_Info, nullptr, 0, answer, &size);
    }
    if (KxapiFailed(result))
        return result;
    KxDeviceDesc& desc = opened->m_Desc;
    desc.m_Category = static_cast<uint32_t>(family);
    desc.m_TypeNumber = KxGetI32(answer, 0);
    desc.m_SubType = KxGetI32(answer, 4);
    desc.m_Serial = KxGetI64(answer, 8);
    desc.m_FirmwareVersion = KxGetI32(answer, 16);
    desc.m_FirmwareStatus = KxGetI32(answer, 20);
    for (int i = 0; i < 4; i++)
        desc.m_DriverVersion[i] = KxGetI32(answer, 24 + 4 * i);
    desc.m_NodeIndex = index;
    if (family == KX_FAMILY_PCIE)
        opened->m_pCore.reset(new KxPcieProxyCORE(&opened->m_Driver, desc.m_DriverVersion));
    device = std::move(opened);
    return KXAPI_OK;
}

uint32_t Device::EventRequest() const
{
    return m_pCore ? m_pCore->Event().EventRequest() : FAMILY_REQUESTS[m_Driver.Family()].m_Event;
}

KXAPI_RESULT Device::Property(const char* name, int port, int64_t& value, std::string* text)
{
    if (m_pCore)
        return m_pCore->Props().GetProperty(name, port, value, text);
    std::vector<unsigned char> record;
    if (!KxBuildNameRecord(record, port, name, 0))
        return KXAPI_E_BUF_TOO_SMALL;
    unsigned char answer[KX_PROPERTY_ANSWER_SIZE] = {};
    uint32_t size = sizeof(answer);
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_Property, record.data(),
                                         static_cast<uint32_t>(record.size()), answer, &size);
    if (KxapiFailed(result))
        return result;
    return KxParsePropertyAnswer(answer, size, value, text);
}

KXAPI_RESULT Device::Table(int port, const char* name, int capacity, _KxTableEntry* entries, int& numEntries)
{
    if (m_pCore)
        return m_pCore->Props().GetTable(port, name, capacity, entries, numEntries);
    std::vector<unsigned char> record;
    if (!KxBuildNameRecord(record, port, name, static_cast<uint32_t>(capacity)))
        return KXAPI_E_TOO_LONG;
    std::vector<unsigned char> answer(KxTableAnswerSize(capacity));
    uint32_t size = static_cast<uint32_t>(answer.size());
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_Table, record.data(),
                                         static_cast<uint32_t>(record.size()), answer.data(), &size);
    if (KxapiFailed(result))
        return result;
    return KxParseTableAnswer(answer.data(), size, capacity, entries, numEntries);
}

KXAPI_RESULT Device::Vpd(int port, const char* keyword, unsigned char* buffer, int& length)
{
    if (m_pCore)
        return m_pCore->Props().GetVpd(port, keyword, buffer, length);
    unsigned char record[8] = {};
    KxPutI32(record, 0, port);
    // A 4-byte keyword field, zero-padded and not terminated.
    memcpy(record + 4, keyword, strnlen(keyword, 4));
    std::vector<unsigned char> answer(4 + KX_VPD_MAX);
    uint32_t size = static_cast<uint32_t>(answer.size());
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_Vpd, record, sizeof(record), answer.data(), &size);
    if (KxapiFailed(result))
        return result;
    uint32_t itemSize = KxGetU32(answer.data(), 0);
    if (itemSize > KX_VPD_MAX)
        return KXAPI_E_DEV_DRIVER;
    if (static_cast<int>(itemSize) > length) {
        length = static_cast<int>(itemSize);
        return KXAPI_E_BUF_TOO_SMALL;
    }
    memcpy(buffer, answer.data() + 4, itemSize);
    length = static_cast<int>(itemSize);
    return KXAPI_OK;
}

Device::I2CLockSlot& Device::LocalI2CLock(int port)
{
    int slot = port + 1;
    if (slot < 0 || slot >= I2C_LOCK_SLOTS)
        slot = 0;
    return m_I2CLocks[slot];
}

bool Device::I2CLockSlot::Acquire(int timeoutMs)
{
    std::thread::id self = std::this_thread::get_id();
    auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (m_Depth > 0 && m_Owner != self) {
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeoutMs))
            return false;
        m_Freed.wait_for(lock, std::chrono::milliseconds(LOCK_SLICE_MS));
    }
    m_Owner = self;
    m_Depth++;
    return true;
}

bool Device::I2CLockSlot::Release()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Depth == 0 || m_Owner != std::this_thread::get_id())
        return false;
    if (--m_Depth == 0) {
        m_Owner = std::thread::id();
        m_Freed.notify_one();
    }
    return true;
}

KXAPI_RESULT Device::I2CLock(int port, int timeoutMs)
{
    if (m_pCore)
        return KXAPI_E_NOT_SUPPORTED;
    // Threads of this process are kept apart here; other processes by the driver's lock.
    I2CLockSlot& local = LocalI2CLock(port);
    if (!local.Acquire(timeoutMs))
        return KXAPI_E_I2C_LOCK_TIMEOUT;
    unsigned char bytes[12];
    KxPutU32(bytes, 0, KX_I2C_CMD_LOCK);
    KxPutI32(bytes, 4, port);
    KxPutI32(bytes, 8, timeoutMs);
    unsigned char answer[4] = {};
    uint32_t size = sizeof(answer);
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_I2C, bytes, sizeof(bytes), answer, &size);
    if (KxapiFailed(result))
        local.Release();
    return result;
}

KXAPI_RESULT Device::I2CUnlock(int port)
{
    if (m_pCore)
        return KXAPI_E_NOT_SUPPORTED;
    I2CLockSlot& local = LocalI2CLock(port);
    {
        std::unique_lock<std::mutex> lock(local.m_Mutex);
        if (local.m_Depth == 0 || local.m_Owner != std::this_thread::get_id())
            return KXAPI_E_NOT_LOCKED;
    }
    unsigned char bytes[8];
    KxPutU32(bytes, 0, KX_I2C_CMD_UNLOCK);
    KxPutI32(bytes, 4, port);
    unsigned char answer[4] = {};
    uint32_t size = sizeof(answer);
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_I2C, bytes, sizeof(bytes), answer, &size);
    local.Release();
    return result;
}

KXAPI_RESULT Device::I2CTransfer(int port, int bus, int writeAddress, const unsigned char* writeBuffer,
                                 int writeLength, int readAddress, unsigned char* readBuffer, int readLength)
{
    if (m_pCore)
        return KXAPI_E_NOT_SUPPORTED;
    if (port != -1 && bus != -1)
        return KXAPI_E_INVALID_ARG;
    if (Family() == KX_FAMILY_KXA && bus != -1)
        return KXAPI_E_INVALID_ARG;
    if (writeLength > KX_I2C_MAX_TRANSFER || readLength > KX_I2C_MAX_TRANSFER)
        return KXAPI_E_INVALID_SIZE;
    int target = port != -1 ? port : bus;
    // The record and the answer live on the stack: a receiver's tick makes dozens of these.
    unsigned char record[6 * 4 + KX_I2C_MAX_TRANSFER];
    uint32_t recordSize = 0;
    auto put = [&record, &recordSize](uint32_t word) {
        KxPutU32(record, recordSize, word);
        recordSize += 4;
    };
    bool writes = writeLength > 0, reads = readLength > 0;
    if (writes && reads) {
        put(KX_I2C_CMD_WRITE_READ);
        put(static_cast<uint32_t>(target));
        put(static_cast<uint32_t>(writeAddress) & 0xFFE);
        put((static_cast<uint32_t>(readAddress) & 0xFFE) | 1);
        put(static_cast<uint32_t>(writeLength));
        put(static_cast<uint32_t>(readLength));
    } else if (writes) {
        put(KX_I2C_CMD_WRITE);
        put(static_cast<uint32_t>(target));
        put(static_cast<uint32_t>(writeAddress) & 0xFFE);
        put(static_cast<uint32_t>(writeLength));
    } else {
        put(KX_I2C_CMD_READ);
        put(static_cast<uint32_t>(target));
        put((static_cast<uint32_t>(readAddress) & 0xFFE) | 1);
        put(static_cast<uint32_t>(readLength));
    }
    if (writes) {
        memcpy(record + recordSize, writeBuffer, static_cast<size_t>(writeLength));
        recordSize += static_cast<uint32_t>(writeLength);
    }
    unsigned char answer[KX_I2C_OUTPUT_SIZE] = {};
    uint32_t size = sizeof(answer);
    KXAPI_RESULT result = m_Driver.IoCtl(FAMILY_REQUESTS[Family()].m_I2C, record, recordSize, answer, &size);
    if (KxapiFailed(result))
        return KXAPI_E_I2C;
    if (reads)
        memcpy(readBuffer, answer + 4, static_cast<size_t>(readLength));
    return KXAPI_OK;
}

KXAPI_RESULT Device::RegRead(uint32_t address, uint32_t& value)
{
    if (m_pCore)
        return m_pCore->Debug().RegRead(address, value);
    if (Family() == KX_FAMILY_KXA) {
        if (m_pRegisters == nullptr) {
            void* memory = nullptr;
            KXAPI_RESULT result = m_Driver.MapMemory(KXA_REGISTER_WINDOW, memory);
            if (KxapiFailed(result))
                return result;
            m_pRegisters = static_cast<volatile uint32_t*>(memory);
        }
        if (address >= KXA_REGISTER_WINDOW || (address & 3) != 0)
            return KXAPI_E_INVALID_ARG;
        value = m_pRegisters[address / 4];
        return KXAPI_OK;
    }
    unsigned char bytes[4];
    KxPutU32(bytes, 0, address);
    unsigned char answer[4] = {};
    uint32_t size = sizeof(answer);
    KXAPI_RESULT result = m_Driver.IoCtl(KXU_REQ_REG_READ, bytes, sizeof(bytes), answer, &size);
    if (KxapiSucceeded(result))
        value = KxGetU32(answer, 0);
    return result;
}

KXAPI_RESULT Device::RegWrite(uint32_t address, uint32_t value)
{
    if (m_pCore)
        return m_pCore->Debug().RegWrite(address, value);
    if (Family() == KX_FAMILY_KXA) {
        uint32_t dummy;
        KXAPI_RESULT result = m_pRegisters ? KXAPI_OK : RegRead(0, dummy);
        if (KxapiFailed(result))
            return result;
        if (address >= KXA_REGISTER_WINDOW || (address & 3) != 0)
            return KXAPI_E_INVALID_ARG;
        m_pRegisters[address / 4] = value;
        return KXAPI_OK;
    }
    unsigned char bytes[8];
    KxPutU32(bytes, 0, address);
    KxPutU32(bytes, 4, value);
    return m_Driver.IoCtl(KXU_REQ_REG_WRITE, bytes, sizeof(bytes));
}

} // namespace Kxapi
