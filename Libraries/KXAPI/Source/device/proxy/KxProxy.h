// Register proxies: typed objects that pack one block-driver command per call.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "KxapiResult.h"
#include "XpDriver.h"

enum KxProxyType {
    KX_PROXY_CORE = 1,
    KX_PROXY_BURSTFIFO = 11,
    KX_PROXY_CDMAC = 12,
    KX_PROXY_I2CM = 16,
    KX_PROXY_SPIM = 34,
    KX_PROXY_AD5320_3470 = 41,
    KX_PROXY_ADS4246_3470 = 42,
    KX_PROXY_DATASTMUX_3470 = 43,
    KX_PROXY_IQFIR_3470 = 44,
    KX_PROXY_IQCGRAB_3470 = 45,
    KX_PROXY_IQPWR_3470 = 46,
    KX_PROXY_IQSRC3470_3470 = 47,
    KX_PROXY_LNBH25_3470 = 48,
    KX_PROXY_S2STATS_3470 = 49,
    KX_PROXY_S2CRDEMOD_3470 = 50,
};

// Exclusive-access commands of the API (the driver's are one lower).
enum KxExclAccessCmd {
    KX_EXCL_ACQUIRE = 1,
    KX_EXCL_RELEASE = 2,
    KX_EXCL_PROBE = 3,
    KX_EXCL_CHECK = 4,
};

struct KxProxyId {
    KxProxyType m_Type;
    std::string m_Role;
    bool operator<(const KxProxyId& other) const
    {
        return m_Type != other.m_Type ? m_Type < other.m_Type : m_Role < other.m_Role;
    }
};

class KxProxy {
public:
    KxProxy(XpDriver* driver, KxProxyType type, const std::string& role, int port, uint32_t instanceId)
        : m_pDriver(driver), m_Type(type), m_Role(role), m_Port(port), m_InstanceId(instanceId)
    {
    }
    virtual ~KxProxy() = default;

    // Acquire (1), release (2), probe (3) or check (4) exclusive access to the block.
    virtual KXAPI_RESULT ExclusiveAccess(int cmd);

    KxProxyType ProxyType() const { return m_Type; }
    const std::string& Role() const { return m_Role; }
    int Port() const { return m_Port; }
    uint32_t InstanceId() const { return m_InstanceId; }
    XpDriver* Driver() const { return m_pDriver; }

protected:
    // Sends `command` with the payload words and reads `answerWords` words back.
    KXAPI_RESULT Command(uint32_t request, uint32_t command, const uint32_t* words, unsigned int numWords,
                         uint32_t* answer, unsigned int answerWords);

    XpDriver* m_pDriver;
    KxProxyType m_Type;
    std::string m_Role;
    int m_Port;
    uint32_t m_InstanceId;
};

// Gives each concrete proxy its constant type.
template <KxProxyType T>
class KxProxyBase : public KxProxy {
public:
    static constexpr KxProxyType TYPE = T;
    KxProxyBase(XpDriver* driver, const std::string& role, int port, uint32_t instanceId)
        : KxProxy(driver, T, role, port, instanceId)
    {
    }
    static constexpr KxProxyType Type() { return T; }
};

class KxProxyCollection {
public:
    int Count() const { return static_cast<int>(m_Proxies.size()); }
    KxProxy* operator[](int index) const;
    KxProxyType GetType(int index) const;
    std::string GetRole(int index) const;
    KxProxy* Get(const KxProxyId& id) const;
    void Add(const KxProxyId& id, KxProxy* proxy) { m_Proxies[id] = proxy; }
    void Clear() { m_Proxies.clear(); }
    void Destroy();

private:
    std::map<KxProxyId, KxProxy*> m_Proxies;
};
