// The local network interfaces as discovery needs them.
#pragma once

#include <netinet/in.h>

#include <vector>

#include "IInterface.h"
#include "KxapiResult.h"

class IXpNetwork : public IInterface {
public:
    // Every distinct IPv4 address of an interface that can send multicast, in the order the
    // system lists them; KXAPI_E_INTERNAL when the interface list cannot be read.
    virtual KXAPI_RESULT ListMulticastIpv4(std::vector<in_addr>& addresses) = 0;
};
