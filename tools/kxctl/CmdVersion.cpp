// kxctl version: the service version, read through the global FIFO.
#include <cstdio>

#include "KxGlobalSvcClient.h"
#include "KxctlCommand.h"

namespace {

constexpr unsigned int REPLY_TIMEOUT_MS = 5000;

int RunVersion(int argc, char** argv)
{
    (void)argv;
    if (argc != 0)
        return KxctlUsage("version", "version takes no arguments");
    KxGlobalSvcClient client;
    client.SetReplyTimeout(REPLY_TIMEOUT_MS);
    KxServiceVersion version;
    KXAPI_RESULT result = client.GetServiceVersion(version);
    if (result != KXAPI_OK)
        return KxctlFail("version", result);
    if (KxctlJsonOutput())
        KxctlEmit({{"service", "KxapiService"},
                   {"major", version.m_Major},
                   {"minor", version.m_Minor},
                   {"revision", version.m_Revision},
                   {"build", version.m_Build}});
    else
        printf("KxapiService %u.%u.%u Build %u\n", version.m_Major, version.m_Minor, version.m_Revision,
               version.m_Build);
    return 0;
}

KxctlRegistrar g_Version({"version", "", "print the service version (global FIFO)", RunVersion});

} // namespace
