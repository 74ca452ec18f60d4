#include "network/KxeEnum.h"

#include <cstring>

namespace {
// Discovery until the WS-Discovery probe is built in: finds no device, so the published
// list stays empty and the rest of the manager works unchanged.
class KxeNoDiscovery : public IKxeEnumerator {
public:
    bool EnumerateDevices(KxeListEntry*, int& count) override
    {
        count = 0;
        return true;
    }
};
} // namespace

bool KxeIsEqual(const KxeListEntry& a, const KxeListEntry& b)
{
    return memcmp(a.m_IpAddr, b.m_IpAddr, sizeof(a.m_IpAddr)) == 0 &&
           memcmp(a.m_MacAddr, b.m_MacAddr, sizeof(a.m_MacAddr)) == 0;
}

IKxeEnumerator* NewKxeEnumerator()
{
    return new KxeNoDiscovery();
}
