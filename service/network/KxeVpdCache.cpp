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
    delete m_pLock;
    m_pLock = nullptr;
}

bool KxeVpdCache::Init()
{
    if (m_pLock != nullptr)
        return false;
    m_pLock = Xp::Instance()->NewCritSec();
    if (m_pLock == nullptr || m_pLock->Init() != KXAPI_OK) {
        delete m_pLock;
        m_pLock = nullptr;
        return false;
    }
    return true;
}

KXAPI_RESULT KxeVpdCache::Update(int64_t serial, int section, bool valid, const char* keyword,
                                 const uint8_t* data, int length)
{
    if (m_pLock == nullptr)
        return KXAPI_E_NOT_INITIALIZED;
    if (keyword == nullptr || length < 0 || (length > 0 && data == nullptr))
        return KXAPI_E_INVALID_ARG;
    CritSecAutoLockSvc lock(m_pLock);
    std::vector<KxeVpdItem>& items = m_Items[serial];
    KxeVpdItem* item = nullptr;
    for (KxeVpdItem& candidate : items) {
        if (candidate.m_Section == section && candidate.m_Keyword == keyword) {
            item = &candidate;
            break;
        }
    }
    if (item == nullptr) {
        items.emplace_back();
        item = &items.back();
    }
    item->m_Keyword = keyword;
    item->m_Data.assign(data, data + length);
    item->m_Section = section;
    item->m_Valid = valid;
    item->m_TimeStored = m_Clock();
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
    for (const KxeVpdItem& item : found->second) {
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
    m_Items.erase(serial);
    return KXAPI_OK;
}
