#include "ServiceMain.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "KxapiSvc.h"

namespace {

void SignalHandler(int signal, siginfo_t* info, void* context)
{
    (void)info;
    (void)context;
    if (signal == SIGINT || signal == SIGTERM)
        KxapiSvc::RequestStopFromSignal();
}

const char* LastPathComponent(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

bool IsProcessEntryName(const char* name)
{
    if (name[0] == '\0')
        return false;
    for (const char* c = name; *c != '\0'; c++)
        if (!isalnum(static_cast<unsigned char>(*c)))
            return false;
    return true;
}

// Forks; the parent exits with status 0, a failure exits with status 1.
void ForkAndLeaveParent()
{
    pid_t pid = fork();
    if (pid < 0)
        exit(1);
    if (pid > 0)
        exit(0);
}

} // namespace

bool GetProcessName(const dirent* entry, char* text, int size)
{
    // Used only before any thread exists, so one static path buffer serves every call.
    static char CommandLinePath[4096];
    snprintf(CommandLinePath, sizeof(CommandLinePath), "/proc/%.*s/cmdline",
             static_cast<int>(sizeof(CommandLinePath) - sizeof("/proc//cmdline")), entry->d_name);
    text[0] = '\0';
    FILE* file = fopen(CommandLinePath, "rt");
    if (file == nullptr)
        return false;
    if (fgets(text, size, file) == nullptr)
        text[0] = '\0';
    fclose(file);
    return text[0] != '\0';
}

bool IsAlreadyRunning(const char* programPath, bool& found)
{
    found = false;
    DIR* directory = opendir("/proc/");
    if (directory == nullptr)
        return false;
    long ownId = getpid();
    long parentId = getppid();
    const char* programName = LastPathComponent(programPath);
    static char commandLine[4096];
    while (dirent* entry = readdir(directory)) {
        if (entry->d_type != DT_DIR || !IsProcessEntryName(entry->d_name))
            continue;
        long id = strtol(entry->d_name, nullptr, 10);
        if (id == ownId)
            continue;
        if (!GetProcessName(entry, commandLine, sizeof(commandLine)))
            continue;
        if (strcmp(LastPathComponent(commandLine), programName) != 0)
            continue;
        if (id == parentId)
            continue;
        found = true;
        break;
    }
    closedir(directory);
    return true;
}

int ServiceMain(const char* programPath, const ServiceStartOptions& options)
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_sigaction = SignalHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    if (options.m_CheckSingleInstance) {
        bool found = false;
        if (!IsAlreadyRunning(programPath, found) || found)
            return 1;
    }

    if (options.m_Daemonise) {
        ForkAndLeaveParent();
        if (setsid() < 0)
            exit(1);
        ForkAndLeaveParent();
        umask(0);
        if (chdir("/") != 0)
            exit(1);
        if (freopen("/dev/null", "r", stdin) == nullptr) {
            // ignored: the daemon never reads standard input
        }
        if (freopen("/dev/null", "w", stdout) == nullptr) {
            // ignored
        }
        if (freopen("/dev/null", "w", stderr) == nullptr) {
            // ignored
        }
    } else {
        umask(0);
    }

    if (options.m_pPidFile != nullptr) {
        FILE* pidFile = fopen(options.m_pPidFile, "w");
        if (pidFile == nullptr)
            return 1;
        fprintf(pidFile, "%d", static_cast<int>(getpid()));
        fclose(pidFile);
    }

    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGPIPE);
    sigset_t oldMask;
    if (sigprocmask(SIG_BLOCK, &blocked, &oldMask) != 0)
        return 1;

    // Every manager thread is created here and inherits the blocked mask, so a stop signal
    // is only ever taken by the main thread.
    bool initialised = KxapiSvc::Instance()->Init();
    if (initialised && options.m_pOnStarted != nullptr)
        options.m_pOnStarted(options.m_pOnStartedArg);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr) != 0)
        return 1;

    if (initialised)
        KxapiSvc::Instance()->MainLoop();
    KxapiSvc::Delete();
    if (options.m_pPidFile != nullptr)
        unlink(options.m_pPidFile);
    return 0;
}
