// A hardware function of one port: the proxies of its child blocks and the PALs built on them.
//
// Block tree in the driver's property store (read port-filtered through the core's property
// sub-proxy): the root instance "DEVICE" lists the hardware functions as string properties
// "DEVICE.1", "DEVICE.2", ...; a function instance has "<name>_TYPE" (its KxAfType) and
// optionally "<name>_ROLE"; its children "<name>.1", ... are blocks ("BC_...") or driver
// functions ("DF_..."), each with "<child>_TYPE" (driver code), "<child>_UUID" (instance id) and
// optionally "<child>_ROLE". Listing stops at the first index that is not found.
#pragma once

#include <string>

#include "KxPal.h"
#include "KxProxy.h"
#include "KxProxyCore.h"
#include "KxNonCopyable.h"

enum KxAfType {
    AF_IQCAPTURE = 5, // I/Q capture: receive DMA channel behind a burst FIFO
    AF_I2CM = 9,
    AF_SPIM = 10,
    AF_DEMODCHANNEL = 19,
    AF_AD5320 = 20,
    AF_ADS4246 = 21,
    AF_DATASTMUX = 22,
    AF_IQCGRAB = 23,
    AF_IQFIR = 24,
    AF_IQPWR = 25,
    AF_IQSRC3470 = 26,
    AF_LNBH25 = 27,
    AF_S2STATS = 28,
    AF_AFS2CRDEMOD = 29,
};

class KxProxyUtility {
public:
    // KXAPI_E_DRIVER_INCOMP when the core's driver is older than the type's minimum or is not the
    // PCIe block driver (driver type 0).
    static KXAPI_RESULT CheckDriverVersion(const KxProxyCORE& core, KxProxyType type);
    // Proxy type of a tree instance ("BC_" blocks, "DF_" functions); KXAPI_E_NOT_SUPPORTED else.
    static KXAPI_RESULT MapInstance(const std::string& name, int64_t driverCode, KxProxyType& type);
    // Creates the proxy class of `type`; null when the type has no class here.
    static KxProxy* CreateProxy(KxProxyType type, XpDriver* driver, const std::string& role, int port,
                                uint32_t instanceId);
};

class KxAf : private KxNonCopyable {
public:
    KxAf() = default;
    ~KxAf();

    KXAPI_RESULT Init(KxAfType type, const std::string& role, KxProxyCORE* core, int port);
    KXAPI_RESULT Init(KxAfType type, KxProxyCORE* core, int port);

    template <class P>
    KXAPI_RESULT GetProxy(P*& proxy, const std::string& role = "");
    template <class L>
    KXAPI_RESULT GetPal(L*& pal, const std::string& role = "");
    // Applies acquire (1), release (2), probe (3) or check (4) to every proxy of the function.
    KXAPI_RESULT ExclAccess(int cmd);

    KxAfType Type() const { return m_Type; }
    const KxProxyCollection& Proxies() const { return m_Proxies; }

private:
    KXAPI_RESULT InitInstance(KxAfType type, const std::string* role, KxProxyCORE* core, int port);

    KxAfType m_Type = AF_DEMODCHANNEL;
    KxProxyCollection m_Proxies;
    KxPalCollection m_Pals;
    KxProxyCORE* m_pCore = nullptr;
};

template <class P>
KXAPI_RESULT KxAf::GetProxy(P*& proxy, const std::string& role)
{
    proxy = nullptr;
    KxProxyId id{P::TYPE, role};
    if (KxPal* pal = m_Pals.Get(id)) {
        auto* transparent = dynamic_cast<KxPalTransparent<P>*>(pal);
        if (transparent == nullptr)
            return KXAPI_E_INTERNAL;
        proxy = transparent;
        return KXAPI_OK;
    }
    auto* found = dynamic_cast<P*>(m_Proxies.Get(id));
    if (found == nullptr || m_pCore == nullptr)
        return KXAPI_E_NOT_FOUND;
    KXAPI_RESULT result = KxProxyUtility::CheckDriverVersion(*m_pCore, P::TYPE);
    if (KxapiFailed(result))
        return result;
    auto* transparent = new KxPalTransparent<P>(*found);
    m_Pals.Add(id, transparent);
    proxy = transparent;
    return KXAPI_OK;
}

template <class L>
KXAPI_RESULT KxAf::GetPal(L*& pal, const std::string& role)
{
    pal = nullptr;
    KxProxyId id{L::PROXY_TYPE, role};
    if (KxPal* existing = m_Pals.Get(id)) {
        pal = dynamic_cast<L*>(existing);
        return pal == nullptr ? KXAPI_E_INTERNAL : KXAPI_OK;
    }
    auto* found = dynamic_cast<typename L::Proxy*>(m_Proxies.Get(id));
    if (found == nullptr || m_pCore == nullptr)
        return KXAPI_E_NOT_FOUND;
    KXAPI_RESULT result = KxProxyUtility::CheckDriverVersion(*m_pCore, L::PROXY_TYPE);
    if (KxapiFailed(result))
        return result;
    pal = new L(*found);
    m_Pals.Add(id, pal);
    return KXAPI_OK;
}
