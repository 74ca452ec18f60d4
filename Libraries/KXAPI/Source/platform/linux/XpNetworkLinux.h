// Linux interface list: SIOCGIFCONF into a 2048-byte buffer, filtered with SIOCGIFFLAGS.
#pragma once

#include "XpNetwork.h"

class XpNetworkLinux : public IXpNetwork {
public:
    KXAPI_RESULT ListMulticastIpv4(std::vector<in_addr>& addresses) override;
};
