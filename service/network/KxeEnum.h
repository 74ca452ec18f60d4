// Discovery of the network devices: one enumeration fills an array of KxeListEntry.
#pragma once

#include "IInterface.h"
#include "KxeListDefs.h"

class IKxeEnumerator : public IInterface {
public:
    // `count` is the capacity on entry and the number of entries found on return; false
    // when the interface list could not be read (nothing found).
    virtual bool EnumerateDevices(KxeListEntry* entries, int& count) = 0;
};

// Same device: equal IPv4 and MAC address.
bool KxeIsEqual(const KxeListEntry& a, const KxeListEntry& b);

// The enumerator of the service.
IKxeEnumerator* NewKxeEnumerator();
