// The device access object: scan, attach by serial, properties, tables, VPD, I2C, registers
// and event subscriptions of one receiver card, whatever driver family it sits on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KxapiResult.h"
#include "KxNonCopyable.h"

#pragma pack(push, 4)
// One found device: 188 bytes (47 words) in scan arrays.
struct KxDeviceDesc {
    // Packed: bind no references to m_Serial (copy it) as it is 4-byte aligned in arrays.
    uint32_t m_Category;        // driver family of the device
    int64_t m_Serial;
    int32_t m_TypeNumber;       // model, for example 3470
    int32_t m_SubType;
    int32_t m_FirmwareVersion;
    int32_t m_FirmwareStatus;   // 0 ok, 1 tainted, 2 obsolete
    int32_t m_DriverVersion[4]; // major, minor, micro, build
    int32_t m_NodeIndex;
    uint32_t m_Reserved[35];
};
#pragma pack(pop)
static_assert(sizeof(KxDeviceDesc) == 188, "KxDeviceDesc is 47 words");

struct _KxTableEntry {
    int64_t X;
    int64_t Y;
};

struct KxAddrDataPair {
    uint32_t m_Address;
    uint32_t m_Data;
};

struct KxEventArgs {
    int64_t m_Serial;
    uint32_t m_Value;
    uint32_t m_Value2;
    void* m_pContext;
};

typedef void (*KxEventCallback)(int event, const KxEventArgs* args);

constexpr int KX_GLOBAL_EVENT_ADDED = 1;
constexpr int KX_GLOBAL_EVENT_REMOVED = 2;
constexpr int KX_DEVICE_EVENT_POWER = 4;

// Scans the families (PCIe legacy, USB, PCIe block driver) for cards. `numEntries` descriptors
// fit in `descs`; `numFound` is the total present. KXAPI_E_BUF_TOO_SMALL when any family lacked
// room (the first `numEntries` are filled); `sort` 1 orders the filled entries by serial.
KXAPI_RESULT KxapiDeviceScan(int numEntries, int& numFound, KxDeviceDesc* descs, bool scanNetwork, int sort);
// Subscribes to global events 1 (device added) and 2 (removed); mask -1 means 3. Callbacks run
// on the global watcher's thread. KXAPI_E_INVALID_TYPE for other bits.
KXAPI_RESULT KxapiRegisterCallback(KxEventCallback callback, void* context, int eventMask, void** id);
KXAPI_RESULT KxapiUnregisterCallback(void* id);

class KxProxyCORE;

namespace Kxapi {

class Device;

class KxDevice : private KxNonCopyable {
public:
    KxDevice() = default;
    virtual ~KxDevice();

    // KXAPI_E_ATTACHED when attached, KXAPI_E_NO_SUCH_DEVICE when no card has `serial`,
    // KXAPI_E_DRIVER_INCOMP for an old driver; KXAPI_OK_TAINTED_FW / _OBSOLETE_FW as the card says.
    KXAPI_RESULT AttachToSerial(int64_t serial, bool skipDriverCheck = false);
    // Cancels this object's event subscriptions and releases the backend.
    KXAPI_RESULT Detach();
    bool IsAttached() const { return m_pDevice != nullptr; }
    int TypeNumber() const { return m_Desc.m_TypeNumber; }
    int SubType() const { return m_Desc.m_SubType; }
    int FirmwareVersion() const { return m_Desc.m_FirmwareVersion; }
    int64_t Serial() const { return m_Desc.m_Serial; }
    KXAPI_RESULT GetDescriptor(KxDeviceDesc& desc) const;

    // Read from the driver on every call. `port` is 0-based, -1 for the device level.
    // More entries than `capacity`: KXAPI_E_BUF_TOO_SMALL with the needed count in `numEntries`.
    KXAPI_RESULT GetTable(int port, const char* name, int capacity, _KxTableEntry* entries, int& numEntries);
    // The whole table into rows: asks with rows' size as the capacity (at least one row) and,
    // when the table is longer, once more with room for the count the driver reported. rows
    // holds the rows read (none on failure); the driver's last result is returned.
    KXAPI_RESULT GetTable(int port, const char* name, std::vector<_KxTableEntry>& rows);
    // The value is zeroed first and set only on success; a name above 49 characters is
    // KXAPI_E_BUF_TOO_SMALL. The five filter values are passed as -1, -1, 0, 0, -1.
    KXAPI_RESULT PropertyGetInt(const char* name, int port, int& value, int f1 = -1, int f2 = -1, int f3 = 0,
                                int f4 = 0, int f5 = -1);
    KXAPI_RESULT PropertyGetUInt32(const char* name, int port, uint32_t& value, int f1 = -1, int f2 = -1,
                                   int f3 = 0, int f4 = 0, int f5 = -1);
    KXAPI_RESULT PropertyGetUInt16(const char* name, int port, uint16_t& value, int f1 = -1, int f2 = -1,
                                   int f3 = 0, int f4 = 0, int f5 = -1);
    KXAPI_RESULT PropertyGetUInt64(const char* name, int port, uint64_t& value, int f1 = -1, int f2 = -1,
                                   int f3 = 0, int f4 = 0, int f5 = -1);
    KXAPI_RESULT PropertyGetBool(const char* name, int port, bool& value, int f1 = -1, int f2 = -1, int f3 = 0,
                                 int f4 = 0, int f5 = -1);
    KXAPI_RESULT PropertyGetString(const char* name, int port, std::string& value, int f1 = -1, int f2 = -1,
                                   int f3 = 0, int f4 = 0, int f5 = -1);
    // Reads VPD item `keyword` (for example "EC"); `length` is the capacity in, the size out.
    KXAPI_RESULT VpdRead(int port, const char* keyword, unsigned char* buffer, int& length);

    // I2C of the older families (the block driver answers KXAPI_E_NOT_SUPPORTED). Addresses are
    // 8-bit bus addresses; transfers above 512 bytes are KXAPI_E_INVALID_SIZE, driver failures
    // KXAPI_E_I2C. The locks keep both other threads and other processes off the bus.
    KXAPI_RESULT I2CLock(int timeoutMs);
    KXAPI_RESULT I2CUnlock();
    KXAPI_RESULT I2CLock(int port, int timeoutMs);
    KXAPI_RESULT I2CUnlock(int port);
    KXAPI_RESULT I2CRead(int address, unsigned char* buffer, int length, int bus = -1);
    KXAPI_RESULT I2CWrite(int address, const unsigned char* buffer, int length, int bus = -1);
    KXAPI_RESULT I2CWriteRead(int writeAddress, const unsigned char* writeBuffer, int writeLength, int readAddress,
                              unsigned char* readBuffer, int readLength, int bus = -1);
    KXAPI_RESULT I2CRead(int port, int address, unsigned char* buffer, int length, int bus);
    KXAPI_RESULT I2CWrite(int port, int address, const unsigned char* buffer, int length, int bus);
    KXAPI_RESULT I2CWriteRead(int port, int writeAddress, const unsigned char* writeBuffer, int writeLength,
                              int readAddress, unsigned char* readBuffer, int readLength, int bus);

    KXAPI_RESULT RegRead(uint32_t address, uint32_t& value);
    KXAPI_RESULT RegWrite(uint32_t address, uint32_t value);
    KXAPI_RESULT RegReadMasked(uint32_t address, uint32_t mask, int shift, uint32_t& value);
    KXAPI_RESULT RegWriteMasked(uint32_t address, uint32_t mask, int shift, uint32_t value);
    KXAPI_RESULT RegWrite(const KxAddrDataPair* pairs, int count);

    // Device events 4 (power), 8, 16, 0x80000000; mask -1 means all of them. Callbacks run on
    // the device watcher's thread.
    KXAPI_RESULT RegisterCallback(KxEventCallback callback, void* context, int eventMask, void** id);
    KXAPI_RESULT UnregisterCallback(void* id);

protected:
    Device* m_pDevice = nullptr;
    KxDeviceDesc m_Desc{};
    uint32_t m_FirmwareStatus = 0;
    void* m_pSubscriptions = nullptr; // event registry entries made through this object
};

// Holds the device-level I2C lock (10000 ms time-out) for the scope, so that several transfers
// stay together; Locked() tells whether the lock was obtained.
class I2cAutoLock : private KxNonCopyable {
public:
    explicit I2cAutoLock(KxDevice& device, int timeoutMs = 10000) : m_Device(device)
    {
        m_Result = m_Device.I2CLock(timeoutMs);
        m_Held = KxapiSucceeded(m_Result);
    }
    ~I2cAutoLock()
    {
        if (Locked())
            m_Device.I2CUnlock();
    }
    bool Locked() const { return m_Held; }
    KXAPI_RESULT Result() const { return m_Result; }
    // Releases the lock before the end of the scope.
    void Unlock()
    {
        if (m_Held) {
            m_Device.I2CUnlock();
            m_Held = false;
        }
    }

private:
    KxDevice& m_Device;
    KXAPI_RESULT m_Result;
    bool m_Held = false;
};

// The service's view: the device plus its backend, for the register proxies.
class KxDeviceInt : public KxDevice {
public:
    Device* Backend() const { return m_pDevice; }
    // The core proxy of a block-driver card, through which its functions are opened; null when
    // detached or for a card of another driver family.
    KxProxyCORE* Core() const;
};

} // namespace Kxapi
