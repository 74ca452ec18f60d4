// Fuzz target: the ProbeMatches parser of network-device discovery, fed one datagram as
// any host on the network may send it to the probe's socket. Whatever it accepts must give
// the same entry again, with the two reserved bytes of the 40-byte entry zero.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KxeListDefs.h"
#include "network/KxeEnum.h"
#include "stdsoap2.h"

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    KxeListEntry first;
    memset(&first, 0xA5, sizeof(first));
    const int status = KxeParseProbeMatch(text, size, first);
    if (status == SOAP_OK) {
        Check(first.m_Reserved[0] == 0 && first.m_Reserved[1] == 0);
        KxeListEntry second;
        memset(&second, 0x5A, sizeof(second));
        Check(KxeParseProbeMatch(text, size, second) == SOAP_OK);
        Check(memcmp(&first, &second, sizeof(first)) == 0);
    }
    // The address text alone, NUL-terminated as the parser hands it over.
    const std::string xaddrs(text, size);
    KxeListEntry fromText;
    memset(&fromText, 0, sizeof(fromText));
    KxeParseXAddrs(xaddrs.c_str(), fromText);
    Check(fromText.m_Serial == 0 && fromText.m_TypeNumber == 0);
    return 0;
}
