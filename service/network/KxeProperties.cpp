#include "network/KxeProperties.h"

#include <cstring>

KxeProperties::KxeProperties()
{
    for (unsigned int i = 0; i < KXE_PROPERTY_TABLE_COUNT; ++i) {
        const KxePropertyTable& table = KXE_PROPERTY_TABLES[i];
        m_Stores.push_back(std::make_unique<KxePropertyStore>(table.m_TypeNumber, table.m_pEntries, table.m_Count));
    }
}

KxeProperties& KxeProperties::Instance()
{
    static KxeProperties s_Properties;
    return s_Properties;
}

const KxePropertyEntry* KxeProperties::PropertyFind(const char* name, int typeNumber, int filter1, int filter2,
                                                    int port) const
{
    for (const auto& store : m_Stores) {
        if (store->TypeNumber() == typeNumber)
            return store->Find(name, filter1, filter2, port);
    }
    return nullptr;
}

KXAPI_RESULT KxeProperties::GetValue(const char* name, int typeNumber, int filter1, int port,
                                     KxePropertyValue& value) const
{
    const KxePropertyEntry* entry = PropertyFind(name, typeNumber, filter1, 0, port);
    if (entry != nullptr) {
        value.m_Value = entry->m_Value;
        value.m_ValueType = entry->m_ValueType;
        value.m_Scope = entry->m_Scope;
        value.m_pStrValue = entry->m_pStrValue;
        return KXAPI_OK;
    }
    if (strncmp(name, "CAP_", 4) == 0) {
        value = KxePropertyValue();
        value.m_Scope = KXE_PROP_SCOPE_CAP;
        return KXAPI_OK;
    }
    return KXAPI_E_NOT_FOUND;
}

KXAPI_RESULT KxeProperties::GetText(const char* name, int typeNumber, int filter1, int port,
                                    KxePropertyValue& value) const
{
    const KxePropertyEntry* entry = PropertyFind(name, typeNumber, filter1, 0, port);
    if (entry == nullptr)
        return KXAPI_E_NOT_FOUND;
    value.m_Value = entry->m_Value;
    value.m_ValueType = entry->m_ValueType;
    value.m_Scope = entry->m_Scope;
    value.m_pStrValue = entry->m_pStrValue;
    return KXAPI_OK;
}

unsigned int KxeProperties::TotalEntries() const
{
    unsigned int total = 0;
    for (const auto& store : m_Stores)
        total += store->EntryCount();
    return total;
}
