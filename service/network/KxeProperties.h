// The six built-in property stores of the network device types, and the lookups of
// commands 1 and 7.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "KxapiResult.h"
#include "network/KxePropertyStore.h"

constexpr int KXE_GENERIC_TYPE_NUMBER = 5900;

struct KxePropertyValue {
    int64_t m_Value = 0;
    int m_ValueType = 0;
    int m_Scope = 0;
    const char* m_pStrValue = nullptr;
};

class KxeProperties {
public:
    // The stores of the built-in tables.
    KxeProperties();
    static KxeProperties& Instance();

    // 5900 selects the generic store, any other type number its own store (none: not found).
    const KxePropertyEntry* PropertyFind(const char* name, int typeNumber, int filter1, int filter2, int port) const;
    // Command 1: value, value type and scope; a missing "CAP_..." name is a capability
    // that is absent (value 0, type 0, scope 3). KXAPI_E_NOT_FOUND otherwise.
    KXAPI_RESULT GetValue(const char* name, int typeNumber, int filter1, int port, KxePropertyValue& value) const;
    // Command 7: text and scope, without the capability fall-back.
    KXAPI_RESULT GetText(const char* name, int typeNumber, int filter1, int port, KxePropertyValue& value) const;
    unsigned int TotalEntries() const;

private:
    std::vector<std::unique_ptr<KxePropertyStore>> m_Stores;
};
