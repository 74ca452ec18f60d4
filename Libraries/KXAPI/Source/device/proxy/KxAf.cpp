#include "KxAf.h"

#include <algorithm>
#include <cstdio>

#include "KxDriverRequests.h"
#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"

namespace {

struct CodeRow {
    int64_t m_DriverCode;
    KxProxyType m_Type;
};

// Blocks ("BC_") and driver functions ("DF_") the receivers use.
const CodeRow BLOCK_TABLE[] = {
    {KX_BC_I2CM, KX_PROXY_I2CM},
    {KX_BC_SPIM, KX_PROXY_SPIM},
    {KX_BC_BURSTFIFO, KX_PROXY_BURSTFIFO},
    {KX_BC_CDMAC, KX_PROXY_CDMAC},
    {KX_BC_IQPWR_3470, KX_PROXY_IQPWR_3470},
};
const CodeRow FUNCTION_TABLE[] = {
    {KX_DF_AD5320_3470, KX_PROXY_AD5320_3470},   {KX_DF_ADS4246_3470, KX_PROXY_ADS4246_3470},
    {KX_DF_DATASTMUX_3470, KX_PROXY_DATASTMUX_3470}, {KX_DF_IQFIR_3470, KX_PROXY_IQFIR_3470},
    {KX_DF_IQCGRAB_3470, KX_PROXY_IQCGRAB_3470}, {KX_DF_IQSRC3470_3470, KX_PROXY_IQSRC3470_3470},
    {KX_DF_LNBH25_3470, KX_PROXY_LNBH25_3470},   {KX_DF_S2STATS_3470, KX_PROXY_S2STATS_3470},
    {KX_DF_S2CRDEMOD_3470, KX_PROXY_S2CRDEMOD_3470},
};

struct MinimumVersion {
    KxProxyType m_Type;
    int m_Version[4];
};
const int DEFAULT_MINIMUM[4] = {1, 0, 4, 48};
const MinimumVersion MINIMUM_VERSIONS[] = {
    {KX_PROXY_BURSTFIFO, {1, 0, 5, 50}},
};

struct AfMinimum {
    KxAfType m_Type;
    int m_Version[4];
};
const AfMinimum AF_MINIMUM[] = {
    {AF_DEMODCHANNEL, {1, 10, 2, 0}},
};
const int AF_DEFAULT_MINIMUM[4] = {0, 0, 1, 0};

template <class P>
KxProxy* Make(XpDriver* driver, const std::string& role, int port, uint32_t instanceId)
{
    return new P(driver, role, port, instanceId);
}

struct ProxyClassRow {
    KxProxyType m_Type;
    KxProxy* (*m_Create)(XpDriver*, const std::string&, int, uint32_t);
};

const ProxyClassRow PROXY_CLASSES[] = {
    {KX_PROXY_I2CM, Make<KxProxyI2CM>},
    {KX_PROXY_SPIM, Make<KxProxySPIM>},
    {KX_PROXY_BURSTFIFO, Make<KxProxyBURSTFIFO>},
    {KX_PROXY_CDMAC, Make<KxProxyCDMAC>},
    {KX_PROXY_AD5320_3470, Make<KxProxyAD5320_3470>},
    {KX_PROXY_ADS4246_3470, Make<KxProxyADS4246_3470>},
    {KX_PROXY_DATASTMUX_3470, Make<KxProxyDATASTMUX_3470>},
    {KX_PROXY_IQFIR_3470, Make<KxProxyIQFIR_3470>},
    {KX_PROXY_IQCGRAB_3470, Make<KxProxyIQCGRAB_3470>},
    {KX_PROXY_IQPWR_3470, Make<KxProxyIQPWR_3470>},
    {KX_PROXY_IQSRC3470_3470, Make<KxProxyIQSRC3470_3470>},
    {KX_PROXY_LNBH25_3470, Make<KxProxyLNBH25_3470>},
    {KX_PROXY_S2STATS_3470, Make<KxProxyS2STATS_3470>},
    {KX_PROXY_S2CRDEMOD_3470, Make<KxProxyS2CRDEMOD_3470>},
};

bool OlderThan(const int* actual, const int* minimum)
{
    return std::lexicographical_compare(actual, actual + 4, minimum, minimum + 4);
}

std::string Child(const std::string& name, int index)
{
    char suffix[16];
    snprintf(suffix, sizeof(suffix), ".%d", index);
    return name + suffix;
}

constexpr int MAX_CHILDREN = 256;

} // namespace

KXAPI_RESULT KxProxyUtility::CheckDriverVersion(const KxProxyCORE& core, KxProxyType type)
{
    if (core.DriverType() != 0)
        return KXAPI_E_DRIVER_INCOMP;
    const int* minimum = DEFAULT_MINIMUM;
    for (const MinimumVersion& row : MINIMUM_VERSIONS)
        if (row.m_Type == type)
            minimum = row.m_Version;
    return OlderThan(core.DriverVersion(), minimum) ? KXAPI_E_DRIVER_INCOMP : KXAPI_OK;
}

KXAPI_RESULT KxProxyUtility::MapInstance(const std::string& name, int64_t driverCode, KxProxyType& type)
{
    const CodeRow* begin = nullptr;
    const CodeRow* end = nullptr;
    if (name.rfind("BC_", 0) == 0) {
        begin = std::begin(BLOCK_TABLE);
        end = std::end(BLOCK_TABLE);
    } else if (name.rfind("DF_", 0) == 0) {
        begin = std::begin(FUNCTION_TABLE);
        end = std::end(FUNCTION_TABLE);
    } else {
        return KXAPI_E_NOT_SUPPORTED;
    }
    for (const CodeRow* row = begin; row != end; row++) {
        if (row->m_DriverCode == driverCode) {
            type = row->m_Type;
            return KXAPI_OK;
        }
    }
    return KXAPI_E_NOT_SUPPORTED;
}

KxProxy* KxProxyUtility::CreateProxy(KxProxyType type, XpDriver* driver, const std::string& role, int port,
                                     uint32_t instanceId)
{
    for (const ProxyClassRow& row : PROXY_CLASSES)
        if (row.m_Type == type)
            return row.m_Create(driver, role, port, instanceId);
    return nullptr;
}

KxAf::~KxAf()
{
    m_Pals.DeletePals();
    m_Proxies.Destroy();
}

KXAPI_RESULT KxAf::Init(KxAfType type, const std::string& role, KxProxyCORE* core, int port)
{
    return InitInstance(type, &role, core, port);
}

KXAPI_RESULT KxAf::Init(KxAfType type, KxProxyCORE* core, int port)
{
    return InitInstance(type, nullptr, core, port);
}

KXAPI_RESULT KxAf::InitInstance(KxAfType type, const std::string* role, KxProxyCORE* core, int port)
{
    m_Pals.DeletePals();
    m_Proxies.Destroy();
    if (core == nullptr)
        return KXAPI_E_INVALID_ARG;
    m_pCore = core;
    m_Type = type;
    const int* minimum = AF_DEFAULT_MINIMUM;
    for (const AfMinimum& row : AF_MINIMUM)
        if (row.m_Type == type)
            minimum = row.m_Version;
    if (core->DriverType() != 0 || OlderThan(core->DriverVersion(), minimum))
        return KXAPI_E_DRIVER_INCOMP;

    KxProxyCORE_PROPS& props = core->Props();
    std::string function;
    for (int index = 1; index <= MAX_CHILDREN && function.empty(); index++) {
        std::string candidate;
        int64_t unused = 0;
        KXAPI_RESULT result = props.GetProperty(Child("DEVICE", index).c_str(), port, unused, &candidate);
        if (result == KXAPI_E_NOT_FOUND)
            break;
        if (KxapiFailed(result))
            return result;
        int64_t afType = 0;
        if (KxapiFailed(props.GetProperty((candidate + "_TYPE").c_str(), port, afType, nullptr)) || afType != type)
            continue;
        std::string afRole;
        props.GetProperty((candidate + "_ROLE").c_str(), port, unused, &afRole);
        if (role == nullptr || afRole == *role)
            function = candidate;
    }
    if (function.empty())
        return KXAPI_E_NOT_FOUND;

    for (int index = 1; index <= MAX_CHILDREN; index++) {
        std::string child;
        int64_t unused = 0;
        KXAPI_RESULT result = props.GetProperty(Child(function, index).c_str(), port, unused, &child);
        if (result == KXAPI_E_NOT_FOUND)
            break;
        if (KxapiFailed(result))
            return result;
        int64_t code = 0, uuid = 0;
        result = props.GetProperty((child + "_TYPE").c_str(), port, code, nullptr);
        if (KxapiSucceeded(result))
            result = props.GetProperty((child + "_UUID").c_str(), port, uuid, nullptr);
        KxProxyType proxyType = KX_PROXY_CORE;
        if (KxapiFailed(result) || KxapiFailed(KxProxyUtility::MapInstance(child, code, proxyType)))
            continue; // a block this library has no use for
        std::string childRole;
        props.GetProperty((child + "_ROLE").c_str(), port, unused, &childRole);
        KxProxy* proxy = KxProxyUtility::CreateProxy(proxyType, core->Driver(), childRole, port,
                                                     static_cast<uint32_t>(uuid));
        if (proxy != nullptr) {
            KxProxyId id{proxyType, childRole};
            delete m_Proxies.Get(id);
            m_Proxies.Add(id, proxy);
        }
    }
    return KXAPI_OK;
}

KXAPI_RESULT KxAf::ExclAccess(int cmd)
{
    if (cmd < KX_EXCL_ACQUIRE || cmd > KX_EXCL_CHECK)
        return KXAPI_E_INVALID_ARG;
    KXAPI_RESULT firstFailure = KXAPI_OK;
    for (int i = 0; i < m_Proxies.Count(); i++) {
        KXAPI_RESULT result = m_Proxies[i]->ExclusiveAccess(cmd);
        if (result == KXAPI_E_NOT_SUPPORTED || KxapiSucceeded(result))
            continue;
        if (cmd == KX_EXCL_RELEASE) {
            if (firstFailure == KXAPI_OK)
                firstFailure = result;
            continue;
        }
        if (cmd == KX_EXCL_ACQUIRE) {
            for (int j = 0; j < i; j++)
                m_Proxies[j]->ExclusiveAccess(KX_EXCL_RELEASE);
        }
        return result;
    }
    return firstFailure;
}
