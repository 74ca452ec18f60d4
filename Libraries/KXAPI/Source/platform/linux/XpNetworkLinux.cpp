#include "XpNetworkLinux.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {
constexpr int IFCONF_BUFFER_SIZE = 2048;
}

KXAPI_RESULT XpNetworkLinux::ListMulticastIpv4(std::vector<in_addr>& addresses)
{
    addresses.clear();
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return KXAPI_E_INTERNAL;
    alignas(struct ifreq) char buffer[IFCONF_BUFFER_SIZE];
    struct ifconf conf = {};
    conf.ifc_len = sizeof(buffer);
    conf.ifc_buf = buffer;
    if (ioctl(fd, SIOCGIFCONF, &conf) < 0) {
        close(fd);
        return KXAPI_E_INTERNAL;
    }
    const int count = conf.ifc_len / static_cast<int>(sizeof(struct ifreq));
    for (int i = 0; i < count; ++i) {
        struct ifreq request;
        memcpy(&request, buffer + i * sizeof(struct ifreq), sizeof(request));
        if (request.ifr_addr.sa_family != AF_INET)
            continue;
        struct sockaddr_in address;
        memcpy(&address, &request.ifr_addr, sizeof(address));
        if (ioctl(fd, SIOCGIFFLAGS, &request) < 0 || (request.ifr_flags & IFF_MULTICAST) == 0)
            continue;
        bool seen = false;
        for (const in_addr& known : addresses)
            seen = seen || known.s_addr == address.sin_addr.s_addr;
        if (!seen)
            addresses.push_back(address.sin_addr);
    }
    close(fd);
    return KXAPI_OK;
}
