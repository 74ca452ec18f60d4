// kxctl demod wait SERIAL [PORT] [--timeout MS]
//
// Waits until the demod service has a receiver device up: the service initialises devices
// one at a time on its own thread (after start-up, a hot-plug or a power event) and answers
// attaches to a device that is not up yet with KXAPI_E_NO_SUCH_DEVICE. Attaches every 100 ms
// until the port is accepted, then detaches. Exit 0 when ready, 1 on time-out or refusal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "CmdDemod.h"
#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"
#include "KxServiceDefs.h"
#include "KxWire.h"
#include "KxctlCommand.h"
#include "PipeMessenger.h"
#include "XpUtil.h"

namespace KxctlDemod {

namespace {

void PrintWait(int64_t serial, int portIndex, bool ready, unsigned int waitedMs)
{
    KxctlPrint({{"serial", serial}, {"port", portIndex}, {"ready", ready}, {"waited", waitedMs}, {"unit", "ms"}},
               std::to_string(serial) + " port " + std::to_string(portIndex) + (ready ? ": ready after " : ": not ready after ") +
                   std::to_string(waitedMs) + " ms");
}

constexpr unsigned int DEFAULT_WAIT_MS = 10000;
constexpr unsigned int RETRY_MS = 100;

// One connection command: the result of its 8-byte reply, KXAPI_E_INTERNAL when the reply
// is missing or malformed.
KXAPI_RESULT Exchange(PipeMessenger& messenger, Kxapi::DemodMsg request, uint32_t command)
{
    if (!messenger.WriteMsg(reinterpret_cast<char*>(request.data()), static_cast<int>(request.size())))
        return KXAPI_E_INTERNAL;
    char* reply = nullptr;
    int size = 0;
    if (!messenger.ReadMsg(reply, size, REPLY_TIMEOUT_MS))
        return KXAPI_E_INTERNAL;
    KXAPI_RESULT result = KXAPI_E_INTERNAL;
    if (size == 8 && KxGetU32(reply, 0) == command)
        result = KxGetU32(reply, 4);
    free(reply);
    return result;
}

int RunWait(int argc, char** argv)
{
    int64_t serial = 0;
    int32_t portIndex = 0;
    int64_t timeoutMs = DEFAULT_WAIT_MS;
    int positional = 0;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            if (!ParseI64(argv[++i], timeoutMs) || timeoutMs < 0)
                return Usage("wait", "--timeout wants milliseconds");
        } else if (positional == 0 && ParseI64(argv[i], serial)) {
            positional++;
        } else if (positional == 1 && ParseI32(argv[i], portIndex) && portIndex >= 0) {
            positional++;
        } else {
            return Usage("wait", "bad argument");
        }
    }
    if (positional == 0)
        return Usage("wait", "SERIAL missing");

    KXAPI_RESULT result = KXAPI_OK;
    std::unique_ptr<PipeMessenger> messenger(PipeConnectService(DEMOD_SERVICE_PIPE_NAME, result));
    if (!messenger)
        return KxctlFail("demod wait", result);
    unsigned int start = XpUtil::GetTickCount();
    for (;;) {
        result = Exchange(*messenger, Kxapi::DemodBuildAttach(serial, portIndex + 1, 0), Kxapi::DEMOD_CMD_ATTACH);
        unsigned int waitedMs = XpUtil::GetTickCount() - start;
        if (result == KXAPI_OK) {
            Exchange(*messenger, Kxapi::DemodBuildCodeOnly(Kxapi::DEMOD_CMD_DETACH), Kxapi::DEMOD_CMD_DETACH);
            PrintWait(serial, portIndex, true, waitedMs);
            break;
        }
        // Only a device that is not up (yet) is worth waiting for.
        if (result != KXAPI_E_NO_SUCH_DEVICE || waitedMs >= static_cast<uint64_t>(timeoutMs)) {
            PrintWait(serial, portIndex, false, waitedMs);
            break;
        }
        XpUtil::Sleep(RETRY_MS);
    }
    Kxapi::DemodMsg close = Kxapi::DemodBuildCodeOnly(KXAPI_SVC_CMD_CLOSE);
    messenger->WriteMsg(reinterpret_cast<char*>(close.data()), static_cast<int>(close.size()));
    return result == KXAPI_OK ? 0 : KxctlFail("demod wait", result);
}

DemodSubRegistrar g_Wait({"wait", "SERIAL [PORT] [--timeout MS]",
                          "wait until the service has the device up (after start, plug or power event; "
                          "default 10000 ms)",
                          RunWait});

} // namespace

} // namespace KxctlDemod
