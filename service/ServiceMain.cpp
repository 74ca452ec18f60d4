#include "ServiceMain.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KxapiSvc.h"

namespace {

// Descriptors the service asks for (within the hard limit).
constexpr rlim_t SERVICE_MAX_FILES = 65536;

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

bool AcquireInstanceLock(const char* path, int& fd)
{
    fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        // A service started by an ordinary user (a developer's trial run) may not be able to
        // create the lock; it then relies on the name rule alone. Root always has the lock.
        return geteuid() != 0 && (errno == EACCES || errno == EROFS || errno == ENOENT);
    }
    // The lock file must be the service user's own regular file: one planted by anybody else
    // (a FIFO, a file of another user) is not taken as the instance lock.
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
        flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        fd = -1;
        return false;
    }
    return true;
}

bool WritePidFile(const char* path)
{
    // Created new, never through a link: a stale file (the previous instance died without
    // removing it, or anything else at the path) is removed first, and a link planted between
    // the removal and the creation makes the creation fail instead of being followed.
    for (int attempt = 0; attempt < 3; attempt++) {
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno != EEXIST)
                return false;
            struct stat info {};
            if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode))
                return false;
            unlink(path);
            continue;
        }
        fchmod(fd, 0644);
        char text[24];
        int length = snprintf(text, sizeof(text), "%d", static_cast<int>(getpid()));
        bool written = write(fd, text, static_cast<size_t>(length)) == length;
        close(fd);
        if (!written)
            unlink(path);
        return written;
    }
    return false;
}

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
        // Only a process of the service's own user can be another instance: a program of the
        // same name that any other user runs does not keep the service from starting.
        struct stat owner {};
        if (fstatat(dirfd(directory), entry->d_name, &owner, 0) != 0 || owner.st_uid != geteuid())
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

    // Held (and inherited across the daemon forks) until the process ends.
    int instanceLock = -1;
    if (options.m_CheckSingleInstance) {
        if (!AcquireInstanceLock(options.m_pInstanceLockFile, instanceLock)) {
            fprintf(stderr, "%s: another instance holds %s, or it cannot be locked\n",
                    LastPathComponent(programPath), options.m_pInstanceLockFile);
            return 1;
        }
        bool found = false;
        if (options.m_CheckProcessNames && (!IsAlreadyRunning(programPath, found) || found)) {
            fprintf(stderr, "%s: %s\n", LastPathComponent(programPath),
                    found ? "another instance is running" : "cannot read /proc/");
            return 1;
        }
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

    if (options.m_pPidFile != nullptr && !WritePidFile(options.m_pPidFile))
        return 1;

    // Every accepted client costs two descriptors: allow the connection limits of the
    // transport to be reached before the descriptors run out.
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max < SERVICE_MAX_FILES ? files.rlim_max : SERVICE_MAX_FILES;
        setrlimit(RLIMIT_NOFILE, &files);
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
    if (instanceLock != -1)
        close(instanceLock);
    return 0;
}
