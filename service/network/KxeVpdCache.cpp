#include "network/KxeVpdCache.h"

#include <cstring>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"

KxeVpdCache::KxeVpdCache() = default;

KxeVpdCache::~KxeVpdCache()
{
    Close();
}

void KxeVpdCache::Close()
{
    m_Items.clear();
    m_Order.clear();
    m_pLock.reset();
}

bool KxeVpdCache::Init()
{
    if (m_pLock != nullptr)
        return false;
    m_pLock = Xp::Instance()->MakeCritSec();
    return m_pLock != nullptr;
}

void KxeVpdCache::Drop(int64_t serial, uint64_t order)
{
    m_Order.erase(order);
    auto found = m_Items.find(serial);
    if (found == m_Items.end())
        return;
    found->second.erase(order);
    if (found->second.empty())
        m_Items.erase(found);
}

void KxeVpdCache::DropExpired(int64_t now)
{
    // Storing order is also time order (an update re-stores its item), so the expired
    // items are at the front.
    const int64_t oldest = now - KXE_VPD_MAX_AGE_S;
    while (!m_Order.empty()) {
        auto first = m_Order.begin();
        auto serial = m_Items.find(first->second);
        if (serial != m_Items.end()) {
            auto item = serial->second.find(first->first);
            if (item != serial->second.end() && item->second.m_TimeStored >= oldest)
                break;
        }
        Drop(first->second, first->first);
    }
}

KXAPI_RESULT KxeVpdCache::Update(int64_t serial, int section, bool valid, const char* keyword,
                                 const uint8_t* data, int length)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (keyword == nullptr || length < 0 || (length > 0 && data == nullptr))
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pLock);
    const int64_t now = m_Clock();
    DropExpired(now);
    // The item this replaces goes first.
    auto items = m_Items.find(serial);
    if (items != m_Items.end()) {
        for (const auto& candidate : items->second) {
            if (candidate.second.m_Section == section && candidate.second.m_Keyword == keyword) {
                Drop(serial, candidate.first);
                break;
            }
        }
    }
    items = m_Items.find(serial);
    if (items != m_Items.end() && items->second.size() >= KXE_VPD_MAX_ITEMS_PER_SERIAL)
        Drop(serial, items->second.begin()->first);
    if (m_Order.size() >= KXE_VPD_MAX_ITEMS)
        Drop(m_Order.begin()->second, m_Order.begin()->first);

    const uint64_t order = m_NextOrder++;
    KxeVpdItem& item = m_Items[serial][order];
    item.m_Keyword = keyword;
    item.m_Data.assign(data, data + length);
    item.m_Section = section;
    item.m_Valid = valid;
    item.m_TimeStored = now;
    m_Order.emplace(order, serial);
    return KXAPI_OK;
}

KXAPI_RESULT KxeVpdCache::Read(int64_t serial, int section, const char* keyword, uint8_t* buffer, int bufferSize,
                               int& length)
{
    length = 0;
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (keyword == nullptr)
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pLock);
    auto found = m_Items.find(serial);
    if (found == m_Items.end())
        return KXAPI_E_NO_SUCH_DATA;
    const int64_t oldest = m_Clock() - KXE_VPD_MAX_AGE_S;
    for (const auto& entry : found->second) {
        const KxeVpdItem& item = entry.second;
        if (item.m_Section != section || item.m_Keyword != keyword || item.m_TimeStored < oldest)
            continue;
        if (!item.m_Valid)
            return KXAPI_E_NOT_FOUND;
        if (static_cast<int>(item.m_Data.size()) > bufferSize)
            return KXAPI_E_BUF_TOO_SMALL;
        length = static_cast<int>(item.m_Data.size());
        if (length > 0)
            memcpy(buffer, item.m_Data.data(), item.m_Data.size());
        return KXAPI_OK;
    }
    return KXAPI_E_NO_SUCH_DATA;
}

KXAPI_RESULT KxeVpdCache::Clear(int64_t serial)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    CritSecAutoLockSvc lock(m_pLock);
    auto found = m_Items.find(serial);
    if (found != m_Items.end()) {
        for (const auto& entry : found->second)
            m_Order.erase(entry.first);
        m_Items.erase(found);
    }
    return KXAPI_OK;
}

size_t KxeVpdCache::ItemCount()
{
    if (m_pLock == nullptr)
        return 0;
    CritSecAutoLockSvc lock(m_pLock);
    return m_Order.size();
}
