#include "network/KxePropertyStore.h"

#include <cstring>

KxePropertyStore::KxePropertyStore(int typeNumber, const KxePropertyEntry* entries, unsigned int count)
    : m_TypeNumber(typeNumber), m_Count(count)
{
    unsigned int i = 0;
    while (i < count) {
        unsigned int first = i++;
        while (i < count && entries[i].m_pName == nullptr)
            ++i;
        if (entries[first].m_pName == nullptr)
            continue; // continuation without a name before it: unreachable, ignored
        m_Buckets[Djb2(entries[first].m_pName) % BUCKET_COUNT].m_Groups.emplace_back(&entries[first], i - first);
    }
}

uint32_t KxePropertyStore::Djb2(const char* text)
{
    uint32_t hash = 5381;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p)
        hash = hash * 33 + *p;
    return hash;
}

const KxePropertyEntry* KxePropertyStore::Find(const char* name, int filter1, int filter2, int port) const
{
    if (name == nullptr)
        return nullptr;
    const Bucket& bucket = m_Buckets[Djb2(name) % BUCKET_COUNT];
    for (const auto& group : bucket.m_Groups) {
        if (strcmp(group.first->m_pName, name) != 0)
            continue;
        for (unsigned int k = 0; k < group.second; ++k) {
            const KxePropertyEntry& entry = group.first[k];
            if (entry.m_Port == port && entry.m_MinFilter1 <= filter1 && entry.m_MinFilter2 <= filter2)
                return &entry;
        }
        return nullptr; // the next entry has another name: the search ends
    }
    return nullptr;
}
