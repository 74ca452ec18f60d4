// The core proxy of a block-driver card and its sub-proxies: properties (with tables and VPD),
// register debug access, events and time of day.
#pragma once

#include <string>

#include "KxDevice.h"
#include "KxProxy.h"

class KxProxyCORE_PROPS : public KxProxyBase<KX_PROXY_CORE> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT GetProperty(const char* name, int port, int64_t& value, std::string* text);
    KXAPI_RESULT GetTable(int port, const char* name, int capacity, _KxTableEntry* entries, int& numEntries);
    KXAPI_RESULT GetVpd(int port, const char* keyword, unsigned char* buffer, int& length);
};

class KxProxyCORE_DEBUG : public KxProxyBase<KX_PROXY_CORE> {
public:
    using KxProxyBase::KxProxyBase;
    KXAPI_RESULT RegRead(uint32_t address, uint32_t& value);
    KXAPI_RESULT RegWrite(uint32_t address, uint32_t value);
};

class KxProxyCORE_TOD : public KxProxyBase<KX_PROXY_CORE> {
public:
    using KxProxyBase::KxProxyBase;
    // Command 3: the first two answer words form the time of day, the third is returned apart.
    KXAPI_RESULT GetTime(uint64_t& timeOfDay, uint32_t& extra);
};

class KxProxyCORE_EVENT : public KxProxyBase<KX_PROXY_CORE> {
public:
    using KxProxyBase::KxProxyBase;
    uint32_t EventRequest() const;
};

class KxProxyCORE : public KxProxyBase<KX_PROXY_CORE> {
public:
    KxProxyCORE(XpDriver* driver, const int driverVersion[4], int driverType = 0);
    KxProxyCORE_PROPS& Props() { return m_Props; }
    KxProxyCORE_DEBUG& Debug() { return m_Debug; }
    KxProxyCORE_TOD& Tod() { return m_Tod; }
    KxProxyCORE_EVENT& Event() { return m_Event; }
    const int* DriverVersion() const { return m_DriverVersion; }
    int DriverType() const { return m_DriverType; }

private:
    KxProxyCORE_PROPS m_Props;
    KxProxyCORE_DEBUG m_Debug;
    KxProxyCORE_TOD m_Tod;
    KxProxyCORE_EVENT m_Event;
    int m_DriverVersion[4];
    int m_DriverType;
};

// The PCIe block driver's core.
class KxPcieProxyCORE : public KxProxyCORE {
public:
    using KxProxyCORE::KxProxyCORE;
};
