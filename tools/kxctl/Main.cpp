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
    fprintf(out, "usage: kxctl [--fifo-dir DIR] COMMAND [ARGS]\n\n");
    fprintf(out, "  --fifo-dir DIR   talk to a service instance whose FIFOs live in DIR (default /tmp/)\n\n");
    fprintf(out, "commands:\n");
    for (const KxctlCommand& command : KxctlRegistrar::Commands())
        fprintf(out, "  %-10s %-24s %s\n", command.m_pName, command.m_pArgs, command.m_pHelp);
}

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

int KxctlFail(const char* what, KXAPI_RESULT result)
{
    fprintf(stderr, "kxctl: %s: %s (%u)\n", what, KxapiResult2Str(result), result);
    return 1;
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
