// The backend of an attached device: one opened driver node with the operations of its family.
// The two older families answer properties, tables, VPD, I2C and registers with their own
// requests; the block-driver family goes through its core proxy.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <string>

#include "KxDevice.h"
#include "XpDriver.h"

class KxProxyCORE;

namespace Kxapi {

class Device {
public:
    ~Device();
    // Opens node `index` of `family` and reads its device information.
    static KXAPI_RESULT Open(KxDriverFamily family, int index, std::unique_ptr<Device>& device);

    const KxDeviceDesc& Desc() const { return m_Desc; }
    KxDriverFamily Family() const { return m_Driver.Family(); }
    XpDriver& Driver() { return m_Driver; }
    KxProxyCORE* Core() const { return m_pCore.get(); }
    uint32_t EventRequest() const;

    KXAPI_RESULT Property(const char* name, int port, int64_t& value, std::string* text);
    KXAPI_RESULT Table(int port, const char* name, int capacity, _KxTableEntry* entries, int& numEntries);
    KXAPI_RESULT Vpd(int port, const char* keyword, unsigned char* buffer, int& length);

    KXAPI_RESULT I2CLock(int port, int timeoutMs);
    KXAPI_RESULT I2CUnlock(int port);
    KXAPI_RESULT I2CTransfer(int port, int bus, int writeAddress, const unsigned char* writeBuffer,
                             int writeLength, int readAddress, unsigned char* readBuffer, int readLength);

    KXAPI_RESULT RegRead(uint32_t address, uint32_t& value);
    KXAPI_RESULT RegWrite(uint32_t address, uint32_t value);

private:
    Device() = default;
    // The in-process half of an I2C lock: which thread holds it and how often (recursive).
    struct I2CLockSlot {
        std::mutex m_Mutex;
        std::condition_variable m_Freed;
        std::thread::id m_Owner;
        int m_Depth = 0;
        // Waits in 100 ms slices; false when `timeoutMs` (negative: no limit) passed first.
        bool Acquire(int timeoutMs);
        // False when the calling thread does not hold the lock.
        bool Release();
    };
    I2CLockSlot& LocalI2CLock(int port);

    XpDriver m_Driver;
    KxDeviceDesc m_Desc{};
    std::unique_ptr<KxProxyCORE> m_pCore;
    volatile uint32_t* m_pRegisters = nullptr;
    static constexpr int I2C_LOCK_SLOTS = 17; // device level and ports 0..15
    I2CLockSlot m_I2CLocks[I2C_LOCK_SLOTS];
};

} // namespace Kxapi
