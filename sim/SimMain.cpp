// KxapiServiceSim: the same start-up and managers as KxapiService, with virtual cards in place
// of the kernel drivers, for tests and demos.
//
//   KxapiServiceSim [--scenario FILE] [--fifo-dir DIR] [--no-daemon] [PIDFILE]
//
// --scenario FILE  the virtual cards and RF scene (JSON, see sim/README.md); without it the
//                  embedded default scenario with one card of every model.
// --fifo-dir DIR   FIFOs and key files live in DIR instead of /tmp/ and /dev/shm/, so several
//                  instances never collide (the single-instance check is then skipped).
// --no-daemon      stay in the foreground; events go to stderr instead of the system log.
//
// The control FIFO "KxSimCtrlPipe" (beside the service's FIFOs) plugs and unplugs cards,
// raises power events and changes carriers; `kxctl sim ...` speaks it.
#include <cstdio>
#include <cstring>
#include <string>

#include "CrossPlatform.h"
#include "KxapiResult.h"
#include "ServiceMain.h"
#include "SimControlServer.h"
#include "SimEnvironment.h"

namespace {

int Usage()
{
    fprintf(stderr, "usage: KxapiServiceSim [--scenario FILE] [--fifo-dir DIR] [--no-daemon] [PIDFILE]\n");
    return 2;
}

void StartControl(void* arg)
{
    auto* pServer = static_cast<SimControlServer*>(arg);
    if (!pServer->Start())
        fprintf(stderr, "KxapiServiceSim: cannot serve the control FIFO\n");
}

} // namespace

int main(int argc, char** argv)
{
    ServiceStartOptions options;
    options.m_pInstanceLockFile = "/run/KxapiServiceSim.lock";
    // Simulators with their own FIFO directories run side by side (the tests start many); on
    // the default directory the instance lock alone keeps a second one out.
    options.m_CheckProcessNames = false;
    const char* pScenario = nullptr;
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
        } else if (strcmp(argv[i], "--scenario") == 0) {
            if (++i >= argc)
                return Usage();
            pScenario = argv[i];
        } else if (strcmp(argv[i], "--no-daemon") == 0) {
            options.m_Daemonise = false;
            Xp::LogEventsToStandardError(true);
        } else if (strncmp(argv[i], "--", 2) == 0 || options.m_pPidFile != nullptr) {
            return Usage();
        } else {
            options.m_pPidFile = argv[i];
        }
    }

    SimEnvironment environment;
    std::string error;
    KXAPI_RESULT result = environment.Load(pScenario, error);
    if (result != KXAPI_OK) {
        fprintf(stderr, "KxapiServiceSim: scenario %s: %s (%s)\n", pScenario ? pScenario : "(default)",
                KxapiResult2Str(result), error.c_str());
        return 2;
    }
    SimControlServer control(&environment.Rack(), environment.Seed());
    options.m_pOnStarted = StartControl;
    options.m_pOnStartedArg = &control;
    int status = ServiceMain(argv[0], options);
    control.Stop();
    return status;
}
