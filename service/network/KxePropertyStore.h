// One read-only store of built-in device properties: a table of entries hashed by name
// (DJB2) into 64 buckets. An entry without a name continues the entries of the preceding
// name (other ports or filter minimums).
#pragma once

#include <cstdint>
#include <vector>

struct KxePropertyEntry {
    const char* m_pName;      // null: continues the preceding name
    int64_t m_Value;
    const char* m_pStrValue;  // null when the property has no text
    int m_ValueType;
    int m_Port;               // -1: device level
    int m_MinFilter1;
    int m_MinFilter2;
    int m_Scope;
};

// Value types and scopes of the entries.
constexpr int KXE_PROP_VALUE_INT = 0;
constexpr int KXE_PROP_VALUE_STR = 1;
constexpr int KXE_PROP_SCOPE_DEVICE = 1;
constexpr int KXE_PROP_SCOPE_PORT = 2;
constexpr int KXE_PROP_SCOPE_CAP = 3;

struct KxePropertyTable {
    int m_TypeNumber;
    const KxePropertyEntry* m_pEntries;
    unsigned int m_Count;
};

// The built-in tables (KxePropertyTables.cpp); the 5900 table is the generic store.
extern const KxePropertyTable KXE_PROPERTY_TABLES[];
extern const unsigned int KXE_PROPERTY_TABLE_COUNT;

class KxePropertyStore {
public:
    static constexpr unsigned int BUCKET_COUNT = 64;

    // Hashes the table's named groups into the buckets (the table must outlive the store).
    KxePropertyStore(int typeNumber, const KxePropertyEntry* entries, unsigned int count);

    int TypeNumber() const { return m_TypeNumber; }
    unsigned int EntryCount() const { return m_Count; }
    // The first entry of `name` (or its continuations) with this port whose filter minimums
    // are not above the filters; null when there is none.
    const KxePropertyEntry* Find(const char* name, int filter1, int filter2, int port) const;

    // DJB2: 5381, then hash * 33 + byte, 32-bit wrap-around.
    static uint32_t Djb2(const char* text);

private:
    struct Bucket {
        // Each element: the entries of one named group (name entry plus continuations).
        std::vector<std::pair<const KxePropertyEntry*, unsigned int>> m_Groups;
    };

    int m_TypeNumber;
    unsigned int m_Count;
    Bucket m_Buckets[BUCKET_COUNT];
};
