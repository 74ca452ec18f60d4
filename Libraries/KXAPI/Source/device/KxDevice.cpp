#include "KxDevice.h"

#include <algorithm>
#include <memory>

#include "KxDeviceBackend.h"

namespace {

const KxDriverFamily SCAN_ORDER[] = {KX_FAMILY_KXA, KX_FAMILY_KXU, KX_FAMILY_PCIE};

// Oldest driver each family works with (major, minor, micro, build).
const int MIN_DRIVER_VERSION[KX_FAMILY_COUNT][4] = {{4, 0, 0, 0}, {4, 0, 0, 0}, {1, 0, 4, 48}};

bool DriverTooOld(const Kxapi::Device& device)
{
    const int* minimum = MIN_DRIVER_VERSION[device.Family()];
    const int* actual = device.Desc().m_DriverVersion;
    return std::lexicographical_compare(actual, actual + 4, minimum, minimum + 4);
}

} // namespace

KXAPI_RESULT KxapiDeviceScan(int numEntries, int& numFound, KxDeviceDesc* descs, bool /*scanNetwork*/, int sort)
{
    numFound = 0;
    if (numEntries < 0)
        return KXAPI_E_INVALID_ARG;
    if (numEntries > 0 && descs == nullptr)
        return KXAPI_E_INVALID_BUF;
    int filled = 0;
    bool lackedRoom = false;
    for (KxDriverFamily family : SCAN_ORDER) {
        for (int index = 0; index < KX_DRIVER_NODES_PER_FAMILY; index++) {
            std::unique_ptr<Kxapi::Device> device;
            if (KxapiFailed(Kxapi::Device::Open(family, index, device)))
                continue;
            numFound++;
            if (filled < numEntries)
                descs[filled++] = device->Desc();
            else
                lackedRoom = true;
        }
    }
    if (lackedRoom)
        return KXAPI_E_BUF_TOO_SMALL;
    if (sort == 1)
        std::sort(descs, descs + filled,
                  [](const KxDeviceDesc& a, const KxDeviceDesc& b) { return a.m_Serial < b.m_Serial; });
    return KXAPI_OK;
}

namespace Kxapi {

void CancelSubscriptions(void*& subscriptions); // KxDeviceEvents.cpp

KxDevice::~KxDevice()
{
    if (IsAttached())
        Detach();
}

KXAPI_RESULT KxDevice::AttachToSerial(int64_t serial, bool skipDriverCheck)
{
    if (IsAttached())
        return KXAPI_E_ATTACHED;
    for (KxDriverFamily family : SCAN_ORDER) {
        for (int index = 0; index < KX_DRIVER_NODES_PER_FAMILY; index++) {
            std::unique_ptr<Device> device;
            if (KxapiFailed(Device::Open(family, index, device)) || device->Desc().m_Serial != serial)
                continue;
            if (!skipDriverCheck && DriverTooOld(*device))
                return KXAPI_E_DRIVER_INCOMP;
            m_Desc = device->Desc();
            m_FirmwareStatus = static_cast<uint32_t>(m_Desc.m_FirmwareStatus);
            m_pDevice = device.release();
            if (m_FirmwareStatus == 1)
                return KXAPI_OK_TAINTED_FW;
            if (m_FirmwareStatus == 2)
                return KXAPI_OK_OBSOLETE_FW;
            return KXAPI_OK;
        }
    }
    return KXAPI_E_NO_SUCH_DEVICE;
}

KXAPI_RESULT KxDevice::Detach()
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    CancelSubscriptions(m_pSubscriptions);
    delete m_pDevice;
    m_pDevice = nullptr;
    m_Desc = KxDeviceDesc{};
    return KXAPI_OK;
}

KXAPI_RESULT KxDevice::GetDescriptor(KxDeviceDesc& desc) const
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    desc = m_Desc;
    return KXAPI_OK;
}

KXAPI_RESULT KxDevice::GetTable(int port, const char* name, int capacity, _KxTableEntry* entries, int& numEntries)
{
    numEntries = 0;
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    if (capacity > 0 && entries == nullptr)
        return KXAPI_E_INVALID_BUF;
    return m_pDevice->Table(port, name, capacity < 0 ? 0 : capacity, entries, numEntries);
}

KXAPI_RESULT KxDevice::GetTable(int port, const char* name, std::vector<_KxTableEntry>& rows)
{
    if (rows.empty())
        rows.resize(1);
    int count = 0;
    KXAPI_RESULT result = GetTable(port, name, static_cast<int>(rows.size()), rows.data(), count);
    if (result == KXAPI_E_BUF_TOO_SMALL && count > 0) {
        rows.resize(static_cast<size_t>(count));
        count = 0;
        result = GetTable(port, name, static_cast<int>(rows.size()), rows.data(), count);
    }
    rows.resize(KxapiSucceeded(result) ? std::min(rows.size(), static_cast<size_t>(std::max(count, 0))) : 0);
    return result;
}

namespace {

template <typename T>
KXAPI_RESULT GetIntegerProperty(Device* device, const char* name, int port, T& value)
{
    value = T{};
    if (device == nullptr)
        return KXAPI_E_NOT_ATTACHED;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    int64_t raw = 0;
    KXAPI_RESULT result = device->Property(name, port, raw, nullptr);
    if (KxapiSucceeded(result))
        value = static_cast<T>(raw);
    return result;
}

} // namespace

KXAPI_RESULT KxDevice::PropertyGetInt(const char* name, int port, int& value, int, int, int, int, int)
{
    return GetIntegerProperty(m_pDevice, name, port, value);
}

KXAPI_RESULT KxDevice::PropertyGetUInt32(const char* name, int port, uint32_t& value, int, int, int, int, int)
{
    return GetIntegerProperty(m_pDevice, name, port, value);
}

KXAPI_RESULT KxDevice::PropertyGetUInt16(const char* name, int port, uint16_t& value, int, int, int, int, int)
{
    return GetIntegerProperty(m_pDevice, name, port, value);
}

KXAPI_RESULT KxDevice::PropertyGetUInt64(const char* name, int port, uint64_t& value, int, int, int, int, int)
{
    return GetIntegerProperty(m_pDevice, name, port, value);
}

KXAPI_RESULT KxDevice::PropertyGetBool(const char* name, int port, bool& value, int, int, int, int, int)
{
    int64_t raw = 0;
    KXAPI_RESULT result = GetIntegerProperty(m_pDevice, name, port, raw);
    value = KxapiSucceeded(result) && raw != 0;
    return result;
}

KXAPI_RESULT KxDevice::PropertyGetString(const char* name, int port, std::string& value, int, int, int, int, int)
{
    value.clear();
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (name == nullptr)
        return KXAPI_E_INVALID_ARG;
    int64_t unused = 0;
    return m_pDevice->Property(name, port, unused, &value);
}

KXAPI_RESULT KxDevice::VpdRead(int port, const char* keyword, unsigned char* buffer, int& length)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (keyword == nullptr || buffer == nullptr)
        return KXAPI_E_INVALID_BUF;
    return m_pDevice->Vpd(port, keyword, buffer, length);
}

KXAPI_RESULT KxDevice::I2CLock(int timeoutMs)
{
    return I2CLock(-1, timeoutMs);
}

KXAPI_RESULT KxDevice::I2CUnlock()
{
    return I2CUnlock(-1);
}

KXAPI_RESULT KxDevice::I2CLock(int port, int timeoutMs)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    return m_pDevice->I2CLock(port, timeoutMs);
}

KXAPI_RESULT KxDevice::I2CUnlock(int port)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    return m_pDevice->I2CUnlock(port);
}

KXAPI_RESULT KxDevice::I2CRead(int address, unsigned char* buffer, int length, int bus)
{
    return I2CRead(-1, address, buffer, length, bus);
}

KXAPI_RESULT KxDevice::I2CWrite(int address, const unsigned char* buffer, int length, int bus)
{
    return I2CWrite(-1, address, buffer, length, bus);
}

KXAPI_RESULT KxDevice::I2CWriteRead(int writeAddress, const unsigned char* writeBuffer, int writeLength,
                                    int readAddress, unsigned char* readBuffer, int readLength, int bus)
{
    return I2CWriteRead(-1, writeAddress, writeBuffer, writeLength, readAddress, readBuffer, readLength, bus);
}

KXAPI_RESULT KxDevice::I2CRead(int port, int address, unsigned char* buffer, int length, int bus)
{
    return I2CWriteRead(port, 0, nullptr, 0, address, buffer, length, bus);
}

KXAPI_RESULT KxDevice::I2CWrite(int port, int address, const unsigned char* buffer, int length, int bus)
{
    return I2CWriteRead(port, address, buffer, length, 0, nullptr, 0, bus);
}

KXAPI_RESULT KxDevice::I2CWriteRead(int port, int writeAddress, const unsigned char* writeBuffer, int writeLength,
                                    int readAddress, unsigned char* readBuffer, int readLength, int bus)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (writeLength < 0 || readLength < 0)
        return KXAPI_E_INVALID_SIZE;
    if (writeLength == 0 && readLength == 0)
        return KXAPI_OK;
    if ((writeLength > 0 && writeBuffer == nullptr) || (readLength > 0 && readBuffer == nullptr))
        return KXAPI_E_INVALID_BUF;
    return m_pDevice->I2CTransfer(port, bus, writeAddress, writeBuffer, writeLength, readAddress, readBuffer,
                                  readLength);
}

KXAPI_RESULT KxDevice::RegRead(uint32_t address, uint32_t& value)
{
    value = 0;
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    return m_pDevice->RegRead(address, value);
}

KXAPI_RESULT KxDevice::RegWrite(uint32_t address, uint32_t value)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    return m_pDevice->RegWrite(address, value);
}

KXAPI_RESULT KxDevice::RegReadMasked(uint32_t address, uint32_t mask, int shift, uint32_t& value)
{
    uint32_t raw = 0;
    KXAPI_RESULT result = RegRead(address, raw);
    value = KxapiSucceeded(result) ? (raw & mask) >> shift : 0;
    return result;
}

KXAPI_RESULT KxDevice::RegWriteMasked(uint32_t address, uint32_t mask, int shift, uint32_t value)
{
    uint32_t raw = 0;
    KXAPI_RESULT result = RegRead(address, raw);
    if (KxapiFailed(result))
        return result;
    return RegWrite(address, (raw & ~mask) | ((value << shift) & mask));
}

KXAPI_RESULT KxDevice::RegWrite(const KxAddrDataPair* pairs, int count)
{
    if (!IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    if (count < 0 || (count > 0 && pairs == nullptr))
        return KXAPI_E_INVALID_ARG;
    for (int i = 0; i < count; i++) {
        KXAPI_RESULT result = m_pDevice->RegWrite(pairs[i].m_Address, pairs[i].m_Data);
        if (KxapiFailed(result))
            return result;
    }
    return KXAPI_OK;
}

KxProxyCORE* KxDeviceInt::Core() const
{
    return m_pDevice != nullptr ? m_pDevice->Core() : nullptr;
}

} // namespace Kxapi
