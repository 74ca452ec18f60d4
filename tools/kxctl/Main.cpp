// kxctl: command-line client of KxapiService.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "CrossPlatform.h"
#include "KxctlCommand.h"

namespace {

void PrintUsage(FILE* out)
{
    fprintf(out, "usage: kxctl [--fifo-dir DIR] [--json] COMMAND [ARGS]\n\n");
    fprintf(out, "  --fifo-dir DIR   talk to a service instance whose FIFOs live in DIR (default /tmp/)\n");
    fprintf(out, "  --json           one JSON object per reading and line, fields with their units\n\n");
    fprintf(out, "commands:\n");
    for (const KxctlCommand& command : KxctlRegistrar::Commands())
        fprintf(out, "  %-10s %-24s %s\n", command.m_pName, command.m_pArgs, command.m_pHelp);
    fprintf(out, "\nexit status: 0 done, 1 refused or failed, 2 wrong command line, 3 no service running,\n"
                 "             4 not locked within the wait of tune --wait-lock\n");
}

bool g_JsonOutput = false;

} // namespace

bool ParseI64(const char* pText, int64_t& value)
{
    char* pEnd = nullptr;
    errno = 0;
    long long parsed = strtoll(pText, &pEnd, 0);
    if (errno != 0 || pEnd == pText || *pEnd != '\0')
        return false;
    value = parsed;
    return true;
}

bool ParseI32(const char* pText, int32_t& value)
{
    int64_t wide = 0;
    if (!ParseI64(pText, wide) || wide < INT32_MIN || wide > INT32_MAX)
        return false;
    value = static_cast<int32_t>(wide);
    return true;
}

bool KxctlJsonOutput()
{
    return g_JsonOutput;
}

void KxctlSetJsonOutput(bool json)
{
    g_JsonOutput = json;
}

void KxctlEmit(const KxctlJson& object)
{
    printf("%s\n", object.dump().c_str());
    fflush(stdout);
}

void KxctlPrint(const KxctlJson& object, const std::string& text)
{
    if (g_JsonOutput)
        KxctlEmit(object);
    else
        printf("%s\n", text.c_str());
}

const char* KxctlHint(KXAPI_RESULT result)
{
    switch (result) {
    case KXAPI_E_CONNECT_TO_SERVICE:
        return "start the service (KxapiService, or KxapiServiceSim for virtual cards), or give its --fifo-dir";
    case KXAPI_E_INITIALIZING:
        return "the device is still initialising: try again in a few seconds";
    case KXAPI_E_INVALID_PORT:
    case KXAPI_E_NO_SUCH_PORT:
        return "ports are counted from 0: 'kxctl demod list' shows each card's ports";
    case KXAPI_E_NO_SUCH_DEVICE:
        return "'kxctl demod list' shows the cards the service drives";
    case KXAPI_E_IN_USE:
    case KXAPI_E_EXCL_MANDATORY:
        return "another client holds the port exclusively: detach it first";
    case KXAPI_E_TIMEOUT:
        return "the service did not answer in time: is it overloaded or stopped?";
    default:
        return "";
    }
}

int KxctlFail(const char* what, KXAPI_RESULT result)
{
    const char* hint = KxctlHint(result);
    fprintf(stderr, "kxctl: %s: %s (%u)%s%s\n", what, KxapiResult2Str(result), result, hint[0] ? "\n  " : "", hint);
    if (g_JsonOutput)
        KxctlEmit({{"error", KxapiResult2Str(result)}, {"code", result}, {"what", what}, {"hint", hint}});
    return result == KXAPI_E_CONNECT_TO_SERVICE ? KXCTL_EXIT_NO_SERVICE : KXCTL_EXIT_FAILED;
}

int KxctlUsage(const char* command, const char* message)
{
    fprintf(stderr, "kxctl: %s\n", message);
    for (const KxctlCommand& entry : KxctlRegistrar::Commands())
        if (strcmp(entry.m_pName, command) == 0)
            fprintf(stderr, "usage: kxctl %s %s\n", entry.m_pName, entry.m_pArgs);
    return 2;
}

int main(int argc, char** argv)
{
    // A service that goes away mid-request is reported as an error, not a fatal signal.
    signal(SIGPIPE, SIG_IGN);
    int next = 1;
    while (next < argc && strncmp(argv[next], "--", 2) == 0) {
        if (strcmp(argv[next], "--fifo-dir") == 0 && next + 1 < argc) {
            KXAPI_RESULT result = Xp::SetIpcDirectory(argv[next + 1]);
            if (result != KXAPI_OK)
                return KxctlFail("--fifo-dir", result);
            next += 2;
        } else if (strcmp(argv[next], "--json") == 0) {
            g_JsonOutput = true;
            next++;
        } else if (strcmp(argv[next], "--help") == 0) {
            PrintUsage(stdout);
            return 0;
        } else {
            fprintf(stderr, "kxctl: unknown option %s\n", argv[next]);
            PrintUsage(stderr);
            return 2;
        }
    }
    if (next >= argc) {
        PrintUsage(stderr);
        return 2;
    }
    for (const KxctlCommand& command : KxctlRegistrar::Commands())
        if (strcmp(command.m_pName, argv[next]) == 0)
            return command.m_pRun(argc - next - 1, argv + next + 1);
    fprintf(stderr, "kxctl: unknown command '%s'\n", argv[next]);
    PrintUsage(stderr);
    return 2;
}
