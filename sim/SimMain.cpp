// KxapiServiceSim: the same start-up and managers as KxapiService, for tests and demos.
//
//   KxapiServiceSim [--fifo-dir DIR] [--no-daemon] [PIDFILE]
//
// --fifo-dir DIR  FIFOs and key files live in DIR instead of /tmp/ and /dev/shm/, so several
//                 instances never collide (the single-instance check is then skipped).
// --no-daemon     stay in the foreground; events go to stderr instead of the system log.
#include <cstdio>
#include <cstring>

#include "CrossPlatform.h"
#include "KxapiResult.h"
#include "ServiceMain.h"
#include "XpLogLinux.h"

namespace {

int Usage()
{
    fprintf(stderr, "usage: KxapiServiceSim [--fifo-dir DIR] [--no-daemon] [PIDFILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    ServiceStartOptions options;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--fifo-dir") == 0) {
            if (++i >= argc)
                return Usage();
            KXAPI_RESULT result = Xp::SetIpcDirectory(argv[i]);
            if (result != KXAPI_OK) {
                fprintf(stderr, "KxapiServiceSim: cannot use %s as FIFO directory: %s\n", argv[i],
                        KxapiResult2Str(result));
                return 2;
            }
            options.m_CheckSingleInstance = false;
        } else if (strcmp(argv[i], "--no-daemon") == 0) {
            options.m_Daemonise = false;
            XpLogLinux::m_ToStandardError = true;
        } else if (strncmp(argv[i], "--", 2) == 0 || options.m_pPidFile != nullptr) {
            return Usage();
        } else {
            options.m_pPidFile = argv[i];
        }
    }
    return ServiceMain(argv[0], options);
}
