// A virtual receiver card: identity, property store, tables, VPD items, I2C buses with device
// models, registers, the block tree of block-driver cards, pending driver events and the RF
// scene. Every operation is safe from several threads (one lock per card).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KxDriverRequests.h"
#include "SimI2cDevice.h"
#include "SimRandom.h"
#include "SimRfScene.h"
#include "XpDriverNode.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

struct SimEventRecord {
    uint32_t m_Kind = 0;
    uint32_t m_Value = 0;
    uint32_t m_Value2 = 0;
};

// One block or function instance of a block-driver card's tree.
struct SimBlock {
    std::string m_Name;      // "BC_..." block or "DF_..." function
    int m_TypeCode = 0;      // driver type code
    uint32_t m_Uuid = 0;     // instance id
    int m_Port = -1;         // -1: device level
    std::vector<std::string> m_Children;
};

// Answers the commands of one block type. Output goes to pOut (capacity outCapacity).
// Returns 0 or a driver status word.
class ISimBlockModel : public IInterface {
public:
    virtual uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                             unsigned char* pOut, uint32_t outCapacity) = 0;
};

class SimCard : private KxNonCopyable {
public:
    SimCard();
    ~SimCard();

    // Identity.
    int m_Model = 0;
    int m_SubType = 0;
    int64_t m_Serial = 0;
    int m_FirmwareVersion = 0;
    int m_FirmwareStatus = 0; // 0 ok, 1 tainted, 2 obsolete
    int m_DriverVersion[4] = {1, 10, 2, 0};
    KxDriverFamily m_Family = KX_FAMILY_KXA;
    int m_NumPorts = 1;

    // Store (port -1: device level). Replaces any earlier value.
    void SetProperty(int port, const std::string& name, int64_t value);
    void SetStringProperty(int port, const std::string& name, const std::string& text);
    void SetTable(int port, const std::string& name, const std::vector<std::pair<int64_t, int64_t>>& entries);
    void SetVpd(int port, const std::string& keyword, const std::vector<unsigned char>& data);
    // Puts a device model behind 8-bit address addr of bus (port index or bus number; -1 the
    // device-level bus). The card owns it.
    void AddI2cDevice(int bus, int addr, ISimI2cDevice* pDevice);
    ISimI2cDevice* I2cDevice(int bus, int addr);
    void AddBlock(const SimBlock& block);
    // Registers the model answering instances of typeCode: blocks ("BC_...") when function is
    // false, driver functions ("DF_...") when true (the two share codes). The card owns it.
    void SetBlockModel(int typeCode, bool function, ISimBlockModel* pModel);

    // Lookups for the virtual nodes; false when absent. A property missing at a port is looked
    // up at the device level.
    bool GetProperty(int port, const std::string& name, bool& isString, int64_t& value, std::string& text);
    bool GetTable(int port, const std::string& name, std::vector<std::pair<int64_t, int64_t>>& entries);
    bool GetVpd(int port, const std::string& keyword, std::vector<unsigned char>& data);
    bool FindBlock(uint32_t uuid, SimBlock& block);
    ISimBlockModel* BlockModel(const SimBlock& block);

    // Registers (legacy window / USB register space / block debug access).
    uint32_t* RegisterWindow() { return m_Registers.data(); }
    uint32_t RegRead(uint32_t address);
    void RegWrite(uint32_t address, uint32_t value);

    // I2C bus locks, owned by an opened node (owner != 0). Waits up to timeoutMs in 100 ms
    // slices; false on time-out.
    bool I2cLock(int bus, uintptr_t owner, int timeoutMs);
    bool I2cUnlock(int bus, uintptr_t owner);
    // The node holding bus (0: free).
    uintptr_t I2cHolder(int bus);
    void ReleaseLocks(uintptr_t owner);
    // Serialises the transfers of one bus.
    IXpCritSec* Lock() { return m_pLock.get(); }

    // Driver events: queued per opened node; the card fans a raised event out to all of them.
    uintptr_t OpenEventQueue(); // 0 (no queue) when its signal cannot be made
    void CloseEventQueue(uintptr_t queue);
    void RaiseEvent(const SimEventRecord& record);
    // True when the queue holds an event or the card is removed, within `timeoutMs`
    // (XP_INFINITE: without limit); false on time-out and, at once, once the queue is woken.
    bool WaitEvent(uintptr_t queue, unsigned int timeoutMs);
    bool PopEvent(uintptr_t queue, SimEventRecord& record);
    // Ends every wait on the queue, in progress or to come, with false (its node's owner is
    // stopping); the queue's signal stays set from then on.
    void WakeQueue(uintptr_t queue);
    // Removal: every waiter wakes and fails from now on.
    void SetRemoved(bool removed);
    bool Removed();

    // Exclusive access of block uuid by an opened node: driver commands 0 acquire, 1 release,
    // 2 and 3 probe. Returns 0 or a driver status word (0x1000A when another node holds it).
    uint32_t ExclusiveAccess(uint32_t uuid, uintptr_t owner, uint32_t command);

    // Request log for byte-level checks: when enabled every request the nodes receive is kept
    // (request word and the buffer as the driver got it, bounded to 4096 entries).
    struct LoggedRequest {
        uint32_t m_Request = 0;
        std::vector<unsigned char> m_Bytes;
    };
    void EnableRequestLog(bool enable);
    void LogRequest(uint32_t request, const unsigned char* pBuf, uint32_t size);
    std::vector<LoggedRequest> TakeRequestLog();

    SimRfScene& Scene() { return m_Scene; }
    SimRandom& Random() { return m_Random; }

    // Tuner state of each RF input, kept by the card's tuner models and read by the models that
    // derive samples or readings from the carrier under the tuned frequency: the frequency the
    // input is tuned to (Hz) and the tuner's one-sided low-pass corner (Hz). Both read 0 until
    // a tuner model sets them; a negative input is refused (the state stays unchanged).
    void SetTunedHz(int input, int64_t hz);
    int64_t TunedHz(int input);
    void SetLowPassHz(int input, int64_t hz);
    int64_t LowPassHz(int input);

private:
    using Key = std::pair<int, std::string>;
    struct Property {
        bool m_IsString = false;
        int64_t m_Value = 0;
        std::string m_Text;
    };
    struct EventQueue {
        std::vector<SimEventRecord> m_Pending;
        XpEventPtr m_pSignal;
        bool m_Woken = false;
    };

    XpCritSecPtr m_pLock;
    std::map<Key, Property> m_Properties;
    std::map<Key, std::vector<std::pair<int64_t, int64_t>>> m_Tables;
    std::map<Key, std::vector<unsigned char>> m_Vpd;
    std::map<std::pair<int, int>, std::unique_ptr<ISimI2cDevice>> m_I2cDevices;
    std::map<int, uintptr_t> m_I2cLockOwners;
    std::vector<SimBlock> m_Blocks;
    std::map<std::pair<int, bool>, std::unique_ptr<ISimBlockModel>> m_BlockModels;
    std::vector<uint32_t> m_Registers;
    std::map<uint32_t, uint32_t> m_ExtraRegisters;
    std::map<uintptr_t, EventQueue> m_EventQueues;
    uintptr_t m_NextQueue = 1;
    bool m_Removed = false;
    std::map<uint32_t, uintptr_t> m_ExclOwners;
    bool m_LogRequests = false;
    std::vector<LoggedRequest> m_RequestLog;
    SimRfScene m_Scene;
    SimRandom m_Random;
    struct TunerState {
        int64_t m_TunedHz = 0;
        int64_t m_LowPassHz = 0;
    };
    std::map<int, TunerState> m_Tuners; // by RF input
};
