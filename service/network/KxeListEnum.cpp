// Turning ProbeMatches answers into list entries, and merging the answers of several
// interfaces into one list.
#include <cstdio>
#include <cstring>

#include "KxApiSoapDiscoveryProxy.h"
#include "network/KxeEnum.h"
#include "network/KxeSoapLimits.h"

using namespace KxApiSoap;

bool KxeIsEqual(const KxeListEntry& a, const KxeListEntry& b)
{
    return memcmp(a.m_IpAddr, b.m_IpAddr, sizeof(a.m_IpAddr)) == 0 &&
           memcmp(a.m_MacAddr, b.m_MacAddr, sizeof(a.m_MacAddr)) == 0;
}

void KxeMergeEntries(KxeListEntry* merged, int& mergedCount, int capacity, const KxeListEntry* found,
                     int foundCount)
{
    for (int i = 0; i < foundCount && mergedCount < capacity; ++i) {
        bool known = false;
        for (int k = 0; k < mergedCount && !known; ++k)
            known = KxeIsEqual(merged[k], found[i]);
        if (!known)
            merged[mergedCount++] = found[i];
    }
}

void KxeParseXAddrs(const char* xaddrs, KxeListEntry& entry)
{
    unsigned int a = 0, b = 0, c = 0, d = 0, port = 0;
    if (xaddrs != nullptr)
        sscanf(xaddrs, "http://%u.%u.%u.%u:%u", &a, &b, &c, &d, &port);
    entry.m_IpAddr[0] = static_cast<uint8_t>(a);
    entry.m_IpAddr[1] = static_cast<uint8_t>(b);
    entry.m_IpAddr[2] = static_cast<uint8_t>(c);
    entry.m_IpAddr[3] = static_cast<uint8_t>(d);
    entry.m_Port = static_cast<int32_t>(port);
}

int KxeReceiveProbeMatch(struct soap* soap, KxeListEntry& entry)
{
    struct __wsd__ProbeMatches message;
    soap_default___wsd__ProbeMatches(soap, &message);
    soap_begin(soap);
    if (soap_begin_recv(soap) || soap_envelope_begin_in(soap) || soap_recv_header(soap) ||
        soap_body_begin_in(soap))
        return soap->error;
    soap_get___wsd__ProbeMatches(soap, &message, "-wsd:ProbeMatches", nullptr);
    if (soap->error == SOAP_TAG_MISMATCH && soap->level == 2)
        soap->error = SOAP_OK;
    if (soap->error || soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
        return soap->error;
    const wsd__ProbeMatchesType* matches = message.wsd__ProbeMatches;
    if (matches == nullptr || matches->__sizeProbeMatch < 1 || matches->ProbeMatch == nullptr)
        return SOAP_NO_DATA;
    const wsd__ProbeMatchType& match = matches->ProbeMatch[0];
    memset(&entry, 0, sizeof(entry));
    KxeParseXAddrs(match.XAddrs, entry);
    if (const Kxapi__KxeDeviceInfoShort* info = match.Kxapi__DeviceInfoShort) {
        entry.m_Serial = info->Serial;
        entry.m_TypeNumber = info->TypeNumber;
        entry.m_FirmwareVersion = info->FirmwareVersion;
        entry.m_FirmwareVariant = info->FirmwareVariant;
        const uint64_t mac = static_cast<uint64_t>(info->Mac);
        for (int i = 0; i < 6; ++i)
            entry.m_MacAddr[i] = static_cast<uint8_t>(mac >> (8 * (5 - i)));
        entry.m_OpMode = info->OpMode;
    }
    return SOAP_OK;
}

namespace {
struct MemoryInput {
    const char* m_pData;
    size_t m_Left;
};

size_t ReadMemory(struct soap* soap, char* buffer, size_t size)
{
    auto* input = static_cast<MemoryInput*>(soap->user);
    const size_t n = size < input->m_Left ? size : input->m_Left;
    memcpy(buffer, input->m_pData, n);
    input->m_pData += n;
    input->m_Left -= n;
    return n;
}
} // namespace

int KxeParseProbeMatch(const char* data, size_t size, KxeListEntry& entry)
{
    DiscoveryProxy proxy(SOAP_IO_UDP);
    MemoryInput input{data, size};
    KxeLimitSoapInput(proxy.soap);
    proxy.soap->user = &input;
    proxy.soap->frecv = &ReadMemory;
    const int status = KxeReceiveProbeMatch(proxy.soap, entry);
    proxy.destroy();
    proxy.soap->user = nullptr;
    return status;
}
