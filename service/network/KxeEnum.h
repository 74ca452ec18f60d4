// Discovery of the network devices with WS-Discovery: one Probe per multicast-capable IPv4
// interface, every ProbeMatch answer becomes one KxeListEntry.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <vector>

#include "IInterface.h"
#include "KxeListDefs.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

struct soap;

class IKxeEnumerator : public IInterface {
public:
    // `count` is the capacity on entry and the number of entries found on return; false
    // when the interface list could not be read (nothing found).
    virtual bool EnumerateDevices(KxeListEntry* entries, int& count) = 0;
};

// Same device: equal IPv4 and MAC address.
bool KxeIsEqual(const KxeListEntry& a, const KxeListEntry& b);

// Appends the entries of one interface to the merged result, dropping devices already
// listed and everything beyond the capacity.
void KxeMergeEntries(KxeListEntry* merged, int& mergedCount, int capacity, const KxeListEntry* found,
                     int foundCount);

// Fills `entry` from "http://a.b.c.d:port" (fields not matched stay 0).
void KxeParseXAddrs(const char* xaddrs, KxeListEntry& entry);

// Receives one ProbeMatches message on `soap` and fills `entry` from its first ProbeMatch.
// SOAP_OK when an entry was filled, else the engine's error (SOAP_EOF at the time-out);
// a message without a ProbeMatch is SOAP_NO_DATA.
int KxeReceiveProbeMatch(struct soap* soap, KxeListEntry& entry);
// The same for one datagram held in memory (as the receive loop would get it).
int KxeParseProbeMatch(const char* data, size_t size, KxeListEntry& entry);

class KxeEnumerator : public IKxeEnumerator, private KxNonCopyable {
public:
    KxeEnumerator();
    ~KxeEnumerator() override;
    bool EnumerateDevices(KxeListEntry* entries, int& count) override;
    // One probe out of one interface; `count` is the capacity on entry.
    bool EnumerateDevicesIf(KxeListEntry* entries, int& count, in_addr interfaceAddr);
    // "%08x-%04x-%04x%02x": seconds, low and high 16 bits of the tick count, counter.
    void GenerateMessageId(char* buffer, int size);
    // The engine's connection-open hook: its own open, then IP_MULTICAST_IF.
    static int SoapFOpen(struct soap* soap, const char* endpoint, const char* host, int port);

private:
    XpNetworkPtr m_pNetwork; // the interface list
    unsigned int m_MessageCounter = 0;
    std::vector<KxeListEntry> m_IfEntries;
};

// The enumerator of the service.
IKxeEnumerator* NewKxeEnumerator();
