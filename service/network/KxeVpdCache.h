// Cache of the devices' VPD items shared by all clients. An item is served for 30 seconds
// after it was stored; afterwards (or when missing) the client reads the device itself and
// stores the outcome again. The cache is bounded: items older than 30 seconds are dropped
// when anything is stored, and beyond the per-serial and total caps the oldest item (of the
// serial, or of all) makes room for the new one.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "KxapiResult.h"
#include "XpHandles.h"

struct KxeVpdItem {
    std::string m_Keyword;
    std::vector<uint8_t> m_Data;
    int64_t m_TimeStored = 0;
    int m_Section = 0;
    bool m_Valid = false;
};

constexpr int64_t KXE_VPD_MAX_AGE_S = 30;
// Items kept per serial (a device has a few dozen keywords) and in all (at most 512 listed
// devices read at once); about 300 bytes each, so the cache stays below 3 MiB.
constexpr size_t KXE_VPD_MAX_ITEMS_PER_SERIAL = 128;
constexpr size_t KXE_VPD_MAX_ITEMS = 8192;

class KxeVpdCache {
public:
    KxeVpdCache();
    ~KxeVpdCache();
    bool Init();
    // Forgets every item and the lock; Init may follow again.
    void Close();

    KXAPI_RESULT Update(int64_t serial, int section, bool valid, const char* keyword, const uint8_t* data,
                        int length);
    // KXAPI_E_NO_SUCH_DATA: nothing fresh cached; KXAPI_E_NOT_FOUND: cached as absent at the device.
    KXAPI_RESULT Read(int64_t serial, int section, const char* keyword, uint8_t* buffer, int bufferSize,
                      int& length);
    KXAPI_RESULT Clear(int64_t serial);
    // Items held now (all serials).
    size_t ItemCount();

    // Test seam: the clock in seconds since 1970.
    void SetClock(int64_t (*clock)()) { m_Clock = clock; }

private:
    static int64_t SystemClock() { return static_cast<int64_t>(time(nullptr)); }
    // Items of one serial, keyed by the order of storing (oldest first).
    using SerialItems = std::map<uint64_t, KxeVpdItem>;
    void Drop(int64_t serial, uint64_t order);
    void DropExpired(int64_t now);

    XpCritSecPtr m_pLock;
    std::map<int64_t, SerialItems> m_Items;
    // Every item by the order of storing: order -> serial.
    std::map<uint64_t, int64_t> m_Order;
    uint64_t m_NextOrder = 1;
    int64_t (*m_Clock)() = &KxeVpdCache::SystemClock;
};
